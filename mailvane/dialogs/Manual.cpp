#include "Manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace mailvane
{

namespace
{
QStringList manualFolders()
{
    QStringList folders;
    const QString sourceDir = qEnvironmentVariable("MAILVANE_SOURCE_DIR");
    if (!sourceDir.isEmpty())
        folders << sourceDir + QStringLiteral("/docs/manual");
    const QString programDir = QCoreApplication::applicationDirPath();
    folders << programDir + QStringLiteral("/../share/doc/mailvane/manual")
            << programDir + QStringLiteral("/../share/mailvane/manual");
    // Where the package puts it, for a program started through a link from elsewhere.
    folders << QStringLiteral(MAILVANE_INSTALLED_MANUAL_DIR);
#ifdef MAILVANE_BUILD_SOURCE_DIR
    folders << QStringLiteral(MAILVANE_BUILD_SOURCE_DIR "/docs/manual");
#endif
    return folders;
}
} // namespace

QUrl manualUrl(const QString &page)
{
    const QString file = page.section(QLatin1Char('#'), 0, 0);
    const QString anchor = page.section(QLatin1Char('#'), 1);
    for (const QString &folder : manualFolders()) {
        const QFileInfo info(QDir(folder), file);
        if (info.isFile()) {
            QUrl url = QUrl::fromLocalFile(info.canonicalFilePath());
            if (!anchor.isEmpty())
                url.setFragment(anchor);
            return url;
        }
    }
    return {};
}

bool openManual(const QString &page)
{
    const QUrl url = manualUrl(page);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace mailvane
