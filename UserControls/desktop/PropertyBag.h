#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace wrenkit
{

// The saved design-time state of a control, by property name. A value equal to the property's
// default is not stored, so reading it back gives the default again.
class PropertyBag
{
public:
    QVariant readProperty(const QString &name, const QVariant &defaultValue = {}) const;
    void writeProperty(const QString &name, const QVariant &value, const QVariant &defaultValue = {});
    bool contains(const QString &name) const { return m_values.contains(name); }

private:
    QVariantMap m_values;
};

} // namespace wrenkit
