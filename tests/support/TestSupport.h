#pragma once

#include <QString>

namespace testsupport {
// Root of the source tree, as the test runner passes it (for fixture files).
QString sourceDir();
}
