#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace testsupport
{

// A private Xvfb server. It picks a free display number itself (-displayfd), so tests can run in
// parallel, and it listens on no TCP port. It ends with the test process, also when that crashes.
class XvfbServer
{
public:
    XvfbServer() = default;
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;
    ~XvfbServer();

    // Starts the server and waits until it accepts connections; false with errorString() set otherwise.
    bool start();
    QByteArray displayName() const { return m_display; }
    QString errorString() const { return m_error; }

    // For a test's main(): starts the server and points DISPLAY, the Qt platform and the session
    // bus at it. Returns 0 on success, else the exit code for the test (77 "skipped" outside CI).
    int startForTest();

private:
    void stop();

    pid_t m_pid = -1;
    QByteArray m_display;
    QString m_error;
};

} // namespace testsupport

// main() for a QtTest class that needs a real X server: Xvfb starts before the QApplication
// and stops after it.
#define MAILVANE_XVFB_TEST_MAIN(TestObject)                                                                  \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        testsupport::XvfbServer xvfb;                                                                        \
        if (const int rc = xvfb.startForTest())                                                              \
            return rc;                                                                                       \
        QApplication app(argc, argv);                                                                        \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
