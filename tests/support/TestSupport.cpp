#include "TestSupport.h"

#include <QtGlobal>

namespace testsupport {
QString sourceDir() { return qEnvironmentVariable("MAILVANE_SOURCE_DIR", QStringLiteral(MAILVANE_DEFAULT_SOURCE_DIR)); }
}
