// The built Debian package, installed with dpkg into a throwaway root: its programs run from the
// installed paths, F1 in the installed program opens the installed manual, and purging it leaves
// no file behind. Needs root (dpkg) and the package that scripts/package.sh builds into dist/.
#include "ChildProcess.h"
#include "PrivateSessionBus.h"
#include "TestSupport.h"
#include "X11Client.h"
#include "XvfbServer.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace testsupport;

namespace
{
const QString Service = QStringLiteral("org.mailvane.Mailvane");

// $MAILVANE_PACKAGE when set (then it must exist), else the package of this version in dist/.
QString packagePath()
{
    const QString given = qEnvironmentVariable("MAILVANE_PACKAGE");
    return given.isEmpty() ? QStringLiteral(MAILVANE_DEFAULT_PACKAGE) : given;
}
} // namespace

class TestPackageInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QTemporaryDir m_home;
    QStringList m_installed; // dpkg -L after the installation

    // Runs dpkg (or dpkg-query) on the throwaway root; the exit status, with the output in *output.
    int dpkg(const QString &program, QStringList args, QString *output = nullptr)
    {
        QProcess process;
        args.prepend(QStringLiteral("--root=") + m_root.path());
        process.start(program, args);
        if (!process.waitForFinished(120000))
            return -1;
        const QString text =
            QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
        if (output)
            *output = text;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString installed(const QString &path) const { return m_root.path() + path; }

    // The environment of an installed program: its own store and folders, nothing of this tree.
    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("MAILVANE_SOURCE_DIR"));
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("MAILVANE_REGISTRY"), m_home.filePath(QStringLiteral("registry.sqlite3")));
        return env;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid() && m_home.isValid());
        for (const char *folder : {"var/lib/dpkg/info", "var/lib/dpkg/updates", "var/log"})
            QVERIFY(QDir(m_root.path()).mkpath(QString::fromLatin1(folder)));
        for (const char *file : {"var/lib/dpkg/status", "var/lib/dpkg/available"}) {
            QFile empty(m_root.filePath(QString::fromLatin1(file)));
            QVERIFY(empty.open(QIODevice::WriteOnly));
        }
        // The root holds no libraries: the programs run on this machine's, so the dependencies are
        // taken as met (scripts/package.sh checks that the archive has them).
        QString output;
        QVERIFY2(dpkg(QStringLiteral("dpkg"),
                      {QStringLiteral("--force-depends"), QStringLiteral("--install"), packagePath()},
                      &output) == 0,
                 qPrintable(output));
        QVERIFY2(dpkg(QStringLiteral("dpkg-query"),
                      {QStringLiteral("--listfiles"), QStringLiteral("mailvane")}, &output) == 0,
                 qPrintable(output));
        m_installed = output.split(u'\n', Qt::SkipEmptyParts);
        m_installed.removeAll(QStringLiteral("/."));
        QVERIFY(!m_installed.isEmpty());
    }

    void cleanupTestCase()
    {
        // A failed test must not leave the package in the root either.
        dpkg(QStringLiteral("dpkg"), {QStringLiteral("--purge"), QStringLiteral("mailvane")});
    }

    void installsEveryPart_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path :
             {"/usr/bin/mailvane", "/usr/bin/mailvane-check", "/usr/bin/mailvane-settings",
              "/usr/share/applications/org.mailvane.Mailvane.desktop",
              "/usr/share/metainfo/org.mailvane.Mailvane.metainfo.xml",
              "/usr/share/icons/hicolor/scalable/apps/mailvane.svg",
              "/usr/share/icons/hicolor/16x16/apps/mailvane.png",
              "/usr/share/icons/hicolor/128x128/apps/mailvane.png", "/usr/share/man/man1/mailvane.1.gz",
              "/usr/share/man/man1/mailvane-check.1.gz", "/usr/share/man/man1/mailvane-settings.1.gz",
              "/usr/share/doc/mailvane/manual/index.html", "/usr/share/doc/mailvane/manual/manual.css",
              "/usr/share/doc/mailvane/manual/images/main-window.png", "/usr/share/doc/mailvane/copyright"})
            QTest::newRow(path) << QString::fromLatin1(path);
    }
    void installsEveryPart()
    {
        QFETCH(QString, path);
        QVERIFY2(m_installed.contains(path), "not in the package");
        QVERIFY2(QFileInfo(installed(path)).isFile(), "not installed");
    }

    void programsRunFromTheInstalledPaths_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // in the output
        QTest::newRow("mailvane --version") << "mailvane" << QStringList{"--version"} << "mailvane 1.0";
        QTest::newRow("mailvane-check --help") << "mailvane-check" << QStringList{"--help"} << "--dry-run";
        QTest::newRow("mailvane-settings export")
            << "mailvane-settings" << QStringList{"export"} << "REGEDIT4";
    }
    void programsRunFromTheInstalledPaths()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        QProcess process;
        process.setProcessEnvironment(programEnvironment());
        process.start(installed("/usr/bin/" + program), args);
        QVERIFY2(process.waitForFinished(30000), qPrintable(process.errorString()));
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, qPrintable(errors));
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(output.contains(expected), qPrintable(output));
    }

    // The installed program's window is of the class its desktop entry names, and F1 in it opens
    // the installed manual through the desktop's browser, here a stand-in xdg-open that writes
    // down what it was given.
    void windowMatchesTheEntryAndHelpOpensTheInstalledManual()
    {
        X11Client x;
        QVERIFY2(x.isUsable(), "no usable X server");
        PrivateSessionBus bus;
        QVERIFY2(bus.isValid(), qPrintable(bus.error()));

        const QString bin = m_home.filePath(QStringLiteral("bin"));
        const QString opened = m_home.filePath(QStringLiteral("opened"));
        QVERIFY(QDir().mkpath(bin));
        QFile browser(bin + QStringLiteral("/xdg-open"));
        QVERIFY(browser.open(QIODevice::WriteOnly));
        browser.write("#!/bin/sh\nprintf '%s\\n' \"$1\" > \"" + opened.toLocal8Bit() + ".part\" && mv \"" +
                      opened.toLocal8Bit() + ".part\" \"" + opened.toLocal8Bit() + "\"\n");
        browser.close();
        QVERIFY(browser.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("PATH"), bin + u':' + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        QProcess mailvane;
        mailvane.setProcessEnvironment(env);
        mailvane.setProcessChannelMode(QProcess::ForwardedChannels);
        mailvane.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
        mailvane.start(installed("/usr/bin/mailvane"), {});
        QVERIFY2(mailvane.waitForStarted(10000), qPrintable(mailvane.errorString()));
        QVERIFY(bus.waitForService(Service, 20000));

        // The desktop ties windows to the entry by their class (the entry's name differs from the
        // program's). Without an account the window shows at start.
        QFile entry(installed("/usr/share/applications/org.mailvane.Mailvane.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QByteArray windowClass;
        for (const QByteArray &line : entry.readAll().split('\n'))
            if (line.startsWith("StartupWMClass="))
                windowClass = line.mid(int(qstrlen("StartupWMClass=")));
        QVERIFY(!windowClass.isEmpty());
        unsigned long window = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (unsigned long candidate : x.windowsOfClass(windowClass.constData()))
                    if (x.isViewable(candidate) &&
                        x.windowName(candidate) == QLatin1String("Mailvane - Messages"))
                        window = candidate;
                return window != 0;
            }(),
            20000);
        // Keys go to the window under the pointer.
        x.movePointer(x.screenGeometry(window).center());
        QVERIFY(x.pressKey("F1"));
        x.releaseAllKeys();

        const QString index =
            QFileInfo(installed("/usr/share/doc/mailvane/manual/index.html")).canonicalFilePath();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(opened), 20000);
        QFile record(opened);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(record.readAll()).trimmed(), QUrl::fromLocalFile(index).toString());

        mailvane.terminate();
        QVERIFY(mailvane.waitForFinished(10000));
    }

    // Last: the purge takes every file the package brought, and the root holds nothing but dpkg's
    // own records.
    void purgeLeavesNothingBehind()
    {
        QString output;
        QVERIFY2(dpkg(QStringLiteral("dpkg"), {QStringLiteral("--purge"), QStringLiteral("mailvane")},
                      &output) == 0,
                 qPrintable(output));
        QVERIFY(dpkg(QStringLiteral("dpkg-query"),
                     {QStringLiteral("--listfiles"), QStringLiteral("mailvane")}) != 0);
        for (const QString &path : std::as_const(m_installed))
            QVERIFY2(!QFileInfo::exists(installed(path)), qPrintable(path + " is still there"));
        QStringList left;
        QDirIterator it(m_root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next().mid(m_root.path().size());
            if (!path.startsWith(QLatin1String("/var")) && !QFileInfo(it.filePath()).isDir())
                left << path;
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    }
};

int main(int argc, char **argv)
{
    const QString package = packagePath();
    const bool required = qEnvironmentVariableIsSet("MAILVANE_PACKAGE");
    const char *outcome = required ? "FAIL" : "SKIP";
    if (!QFileInfo::exists(package)) {
        std::fprintf(stderr, "%s: no package %s (scripts/package.sh builds it)\n", outcome,
                     qPrintable(package));
        return required ? EXIT_FAILURE : 77;
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s: installing the package with dpkg needs root\n", outcome);
        return required ? EXIT_FAILURE : 77;
    }
    XvfbServer xvfb;
    if (const int rc = xvfb.startForTest())
        return rc;
    QCoreApplication app(argc, argv);
    TestPackageInstall test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_package_install.moc"
