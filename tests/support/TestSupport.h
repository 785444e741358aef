#pragma once

#include <QString>

namespace testsupport {
// Root of the source tree, as the test runner passes it (for fixture files).
QString sourceDir();

// True on a CI runner (CI set to anything but "false" or "0"), where tests that need a tool must
// fail instead of skipping. tests/desktop/CMakeLists.txt reads CI the same way.
bool runningInCi();
}
