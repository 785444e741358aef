#pragma once

#include "main/TrayStatus.h"

#include <QIcon>

// The notification-area icon for a state: the program's own icon when there is no new mail; the
// icon theme's "mail-unread" for new mail and "dialog-warning" after errors, or where the theme has
// none, the program's icon with the count or a "!" drawn on it. The badges have a dark outline on
// a light fill, so they show on dark and light panels alike.
QIcon trayIconFor(TrayStatus::State state, int count);
