#pragma once

#include <QString>

namespace wrenkit {
// Version of the control library, for the About box and diagnostics.
QString version();
}
