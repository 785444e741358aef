#include "TrayHost.h"

#include "ChildProcess.h"

namespace testsupport
{

TrayHost::~TrayHost()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool TrayHost::start()
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
    m_process.start(QStringLiteral("trayer"),
                    {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--widthtype"),
                     QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
    return m_process.waitForStarted(10000);
}

} // namespace testsupport
