#include "Version.h"

namespace mailvane {
QString productName() { return QStringLiteral("Mailvane 1.0"); }
}
