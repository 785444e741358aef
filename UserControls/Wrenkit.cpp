#include "Wrenkit.h"

namespace wrenkit {
QString version() { return QStringLiteral("1.0"); }
}
