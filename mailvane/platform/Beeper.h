#pragma once

// The program beeps through the control library's beeper.
#include "desktop/Beeper.h"

using wrenkit::ApplicationBeeper;
using wrenkit::Beeper;
using wrenkit::NullBeeper;
