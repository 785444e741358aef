#include "TempStore.h"

#include "platform/RegFile.h"

#include <QProcess>
#include <QTest>

using testsupport::TempStore;

namespace
{
// A store with something of every kind: nested and empty keys, both types, the default value, names
// and texts that need escapes, characters beyond ASCII and line breaks.
void fill(RegistryStore &store)
{
    const RegistryKey settings = store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"))
                                     .addSubKey(QStringLiteral("Corvanta"))
                                     .addSubKey(QStringLiteral("Mailvane 1.0"));
    settings.addValue(QStringLiteral("Interval"), 10, RegType::DWord);
    settings.addValue(QStringLiteral("Check"), -1, RegType::DWord);
    settings.addValue(QStringLiteral("SoundFile"), QStringLiteral("C:\\Sounds\\\"new\" mail.wav"));
    settings.addValue(QStringLiteral("Empty"), QString());
    settings.addValue(QString(), QStringLiteral("default"));
    const RegistryKey account =
        settings.addSubKey(QStringLiteral("Accounts")).addSubKey(QStringLiteral("Zürich \"home\""));
    account.addValue(QStringLiteral("Password"), QString(QChar(3)) + QStringLiteral("\tx\r\ny;[z]"));
    account.addValue(QStringLiteral("Selected"), QStringLiteral("True"));
    settings.addSubKey(QStringLiteral("Blocked Senders"))
        .addValue(QStringLiteral("a\\b \"c\" = d"), QStringLiteral("a\\b \"c\" = d"));
    store.root(RegistryStore::Root::CurrentUser).addSubKey(QStringLiteral("Empty Key"));
}
} // namespace

class TestRegFile : public QObject
{
    Q_OBJECT

private slots:
    void exportThenImportReproducesTheStore();
    void removals();
    void refusedFileChangesNothing_data();
    void refusedFileChangesNothing();
    void keysDownToTheDeepestLevel();
    void commandLineTool();
    void accountSecurityThroughTheTool();
};

void TestRegFile::exportThenImportReproducesTheStore()
{
    TempStore source;
    fill(source.store());
    const QString text = exportRegFile(source.store());
    QVERIFY(text.startsWith(QLatin1String("REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n")));
    QVERIFY(text.contains(QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0]\n"
                                         "\"Interval\"=dword:0000000a\n\"Check\"=dword:ffffffff\n"
                                         "\"SoundFile\"=\"C:\\\\Sounds\\\\\\\"new\\\" mail.wav\"\n"
                                         "\"Empty\"=\"\"\n@=\"default\"\n")));

    TempStore target;
    const RegImportResult result = importRegFile(target.store(), text.toUtf8());
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(exportRegFile(target.store()), text);
    const auto password =
        target.store()
            .open(QStringLiteral(
                "HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts\\Zürich \"home\""))
            .value(QStringLiteral("Password"));
    QCOMPARE(password->data.toString(), QString(QChar(3)) + QStringLiteral("\tx\r\ny;[z]"));
}

void TestRegFile::removals()
{
    TempStore temp;
    fill(temp.store());
    const QByteArray file = "REGEDIT4\n"
                            "[-HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts]\n"
                            "[-HKEY_LOCAL_MACHINE\\Software\\Not There]\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0]\n"
                            "\"interval\"=-\n"
                            "@=-\n"
                            "\"Check\"=\"now text\"\n"
                            "\"Missing\"=-\n";
    const RegImportResult result = importRegFile(temp.store(), file);
    QVERIFY2(result.ok, qPrintable(result.error));
    const RegistryKey settings =
        temp.store().open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0"));
    QVERIFY(!settings.subKey(QStringLiteral("Accounts")).isValid());
    QVERIFY(settings.subKey(QStringLiteral("Blocked Senders")).isValid());
    QVERIFY(!settings.value(QStringLiteral("Interval")));
    QVERIFY(!settings.defaultValue());
    // A replaced value takes the imported type and keeps its place.
    QCOMPARE(settings.values().first(),
             (RegValue{QStringLiteral("Check"), RegType::String, QStringLiteral("now text")}));
}

void TestRegFile::refusedFileChangesNothing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    const QByteArray key = "[HKEY_LOCAL_MACHINE\\Software\\New]\n\"ok\"=\"applied if not refused\"\n";
    QTest::newRow("no header") << QByteArray("[HKEY_LOCAL_MACHINE\\X]\n") << 1;
    QTest::newRow("empty file") << QByteArray() << 1;
    QTest::newRow("unknown root") << "REGEDIT4\n" + key + "[HKEY_USERS\\X]\n" << 4;
    QTest::newRow("value outside a key") << QByteArray("REGEDIT4\n\n\"a\"=\"b\"\n") << 3;
    QTest::newRow("value after a removed key")
        << QByteArray("REGEDIT4\n[-HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n") << 3;
    QTest::newRow("unknown escape") << "REGEDIT4\n" + key + "\"a\"=\"C:\\temp\"\n" << 4;
    QTest::newRow("missing quote") << "REGEDIT4\n" + key + "\"a\"=\"open\n" << 4;
    QTest::newRow("text after the quote") << "REGEDIT4\n" + key + "\"a\"=\"b\" c\n" << 4;
    QTest::newRow("bad dword") << "REGEDIT4\n" + key + "\"a\"=dword:xyz\n" << 4;
    QTest::newRow("dword too long") << "REGEDIT4\n" + key + "\"a\"=dword:123456789\n" << 4;
    QTest::newRow("binary data") << "REGEDIT4\n" + key + "\"a\"=hex:01,02\n" << 4;
    QTest::newRow("empty key name") << "REGEDIT4\n" + key + "[HKEY_CURRENT_USER\\\\X]\n" << 4;
    QTest::newRow("root removed") << "REGEDIT4\n" + key + "[-HKEY_CURRENT_USER]\n" << 4;
    QTest::newRow("not UTF-8") << "REGEDIT4\n" + key + "\"a\"=\"\xff\"\n" << 4;
    QTest::newRow("stray line") << "REGEDIT4\n" + key + "junk\n" << 4;
    QTest::newRow("key deeper than 512 levels")
        << "REGEDIT4\n" + key + "[HKEY_CURRENT_USER" + QByteArray("\\k").repeated(513) + "]\n"
        << 4;
}

void TestRegFile::refusedFileChangesNothing()
{
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    TempStore temp;
    fill(temp.store());
    const QString before = exportRegFile(temp.store());
    const RegImportResult result = importRegFile(temp.store(), file);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(result.line, line);
    QCOMPARE(exportRegFile(temp.store()), before);
}

void TestRegFile::keysDownToTheDeepestLevel()
{
    TempStore temp;
    const QByteArray path = "HKEY_CURRENT_USER" + QByteArray("\\Level").repeated(512);
    const QByteArray file = "REGEDIT4\n[" + path + "]\n\"Depth\"=dword:00000200\n";
    const RegImportResult result = importRegFile(temp.store(), file);
    QVERIFY2(result.ok, qPrintable(result.error));
    const RegistryKey deepest = temp.store().open(QString::fromLatin1(path));
    QCOMPARE(deepest.value(QStringLiteral("Depth"))->data.toUInt(), 512u);
    QCOMPARE(deepest.fullPath(), QLatin1Char('\\') + QString::fromLatin1(path));
}

void TestRegFile::commandLineTool()
{
    TempStore source;
    fill(source.store());
    source.close();
    TempStore target;
    target.store();
    target.close();

    const auto run = [](const QString &store, const QStringList &args, const QByteArray &input = {}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MAILVANE_REGISTRY"), store);
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(SETTINGS_TOOL), args);
        process->write(input);
        process->closeWriteChannel();
        process->waitForFinished();
        return process;
    };

    const auto exported = run(source.path(), {QStringLiteral("export")});
    QCOMPARE(exported->exitCode(), 0);
    const QByteArray text = exported->readAllStandardOutput();
    QCOMPARE(run(target.path(), {QStringLiteral("import"), QStringLiteral("-")}, text)->exitCode(), 0);
    QCOMPARE(run(target.path(), {QStringLiteral("export")})->readAllStandardOutput(), text);

    const auto subtree =
        run(target.path(),
            {QStringLiteral("export"),
             QStringLiteral("hkey_local_machine\\software\\corvanta\\mailvane 1.0\\blocked senders")});
    QCOMPARE(
        subtree->readAllStandardOutput(),
        QByteArray("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Blocked Senders]\n"
                   "\"a\\\\b \\\"c\\\" = d\"=\"a\\\\b \\\"c\\\" = d\"\n\n"));

    const auto refused = run(target.path(), {QStringLiteral("import"), QStringLiteral("-")},
                             "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\Software]\n\"oops\n");
    QCOMPARE(refused->exitCode(), 1);
    QVERIFY(refused->readAllStandardError().contains("-:3:"));
    QCOMPARE(run(target.path(), {QStringLiteral("export")})->readAllStandardOutput(), text);

    // A store that cannot be written refuses the import rather than keep it in memory until exit.
    const auto unwritable = run(target.path() + QStringLiteral("/under-a-file.sqlite3"),
                                {QStringLiteral("import"), QStringLiteral("-")}, text);
    QCOMPARE(unwritable->exitCode(), 1);
    QVERIFY(unwritable->readAllStandardError().contains("nothing was imported"));

    QCOMPARE(run(target.path(), {QStringLiteral("export"), QStringLiteral("HKEY_CURRENT_USER\\Nothing")})
                 ->exitCode(),
             1);
    const auto help = run(target.path(), {QStringLiteral("--help")});
    QCOMPARE(help->exitCode(), 0);
    QVERIFY(help->readAllStandardOutput().contains("MAILVANE_REGISTRY"));

    // Accounts whose passwords live in the desktop keyring are named in a comment; their passwords
    // are not in the store, so none is written out.
    {
        POPConfig config(target.services());
        config.AddAccount(QStringLiteral("Work"), QStringLiteral("pop.example.org"), QStringLiteral("ann"),
                          QStringLiteral("secret"));
        const RegistryKey work = target.store().open(
            QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts\\Work"));
        work.overwriteValue(QStringLiteral("Password"), QString());
        work.addValue(QStringLiteral("PasswordInKeyring"), 1, RegType::DWord);
        target.close();
    }
    const QByteArray withKeyring = run(target.path(), {QStringLiteral("export")})->readAllStandardOutput();
    QVERIFY2(withKeyring.startsWith("REGEDIT4\n; The passwords of these accounts live in the desktop keyring "
                                    "and are not exported: Work\n"),
             withKeyring.constData());
    QVERIFY(withKeyring.contains("\"Password\"=\"\"\n"));
    QCOMPARE(run(target.path(), {QStringLiteral("import"), QStringLiteral("-")}, withKeyring)->exitCode(), 0);
}

// The security mode and the trusted certificate of an account go out and come back in through
// mailvane-settings; an account without them reads as plain POP3 on port 110 on both sides.
void TestRegFile::accountSecurityThroughTheTool()
{
    const QString fingerprint = QStringLiteral("0123456789abcdef").repeated(4);
    TempStore source;
    {
        POPConfig config(source.services());
        config.AddAccount(QStringLiteral("tls"), QStringLiteral("h"), QStringLiteral("u"),
                          QStringLiteral("p"));
        config.AddAccount(QStringLiteral("plain"), QStringLiteral("h"), QStringLiteral("u"),
                          QStringLiteral("p"));
        config.setSecurity(1, 2);
        config.setTrustedCertificate(1, fingerprint.toUpper());
    }
    source.close();
    TempStore target;
    target.store();
    target.close();

    const auto run = [](const QString &store, const QStringList &args, const QByteArray &input = {}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MAILVANE_REGISTRY"), store);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SETTINGS_TOOL), args);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished();
        return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray("failed");
    };
    const QByteArray text = run(source.path(), {QStringLiteral("export")});
    QVERIFY(text.contains("\"Security\"=dword:00000002\n\"TrustedCertificate\"=\"" + fingerprint.toLatin1() +
                          '"'));
    QCOMPARE(run(target.path(), {QStringLiteral("import"), QStringLiteral("-")}, text), QByteArray());

    POPConfig config(target.services());
    QCOMPARE(config.AccountName(1), QStringLiteral("tls"));
    QCOMPARE(config.Security(1), 2);
    QCOMPARE(config.Port(1), 995);
    QCOMPARE(config.TrustedCertificate(1), fingerprint);
    QCOMPARE(config.Security(0), 0);
    QCOMPARE(config.Port(0), 110);
    QCOMPARE(config.TrustedCertificate(0), QString());
}

QTEST_GUILESS_MAIN(TestRegFile)
#include "tst_regfile.moc"
