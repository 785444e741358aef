#include "TestSupport.h"

#include <QtGlobal>

namespace testsupport {
bool runningInCi()
{
    const QString ci = qEnvironmentVariable("CI").toLower();
    return !ci.isEmpty() && ci != QLatin1String("false") && ci != QLatin1String("0");
}

QString sourceDir() { return qEnvironmentVariable("MAILVANE_SOURCE_DIR", QStringLiteral(MAILVANE_DEFAULT_SOURCE_DIR)); }
}
