#pragma once

#include <QString>

namespace mailvane {
// "Mailvane 1.0": the name shown in titles, the tray tip and the autostart entry.
QString productName();
}
