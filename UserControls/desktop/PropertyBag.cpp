#include "PropertyBag.h"

namespace wrenkit
{

QVariant PropertyBag::readProperty(const QString &name, const QVariant &defaultValue) const
{
    return m_values.value(name, defaultValue);
}

void PropertyBag::writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    if (value == defaultValue)
        m_values.remove(name);
    else
        m_values.insert(name, value);
}

} // namespace wrenkit
