#pragma once

// The program beeps through the control library's beeper. ApplicationBeeper is defined in
// wrenkit_desktop (it needs Qt Widgets); the interface and NullBeeper need nothing.
#include "desktop/Beeper.h"

using wrenkit::ApplicationBeeper;
using wrenkit::Beeper;
using wrenkit::NullBeeper;
