#pragma once

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport
{

// For a helper process the tests start (Xvfb, trayer), called in the child between fork and exec:
// the child gets SIGTERM when the test process ends, also when it crashes, so no helper outlives
// its test. A parent that ended before the request took effect ends the child at once.
inline void terminateWithParent(pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
}

} // namespace testsupport
