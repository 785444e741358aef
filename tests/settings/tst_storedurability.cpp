#include "TempStore.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

using testsupport::TempStore;

// A writer killed at random moments leaves a store that opens, passes the integrity check, holds every
// change it reported done, and holds no change in part.
class TestStoreDurability : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesWholeChanges();
};

void TestStoreDurability::killedWriterLeavesWholeChanges()
{
    TempStore temp;
    temp.store();
    temp.close();
    QList<qint64> reported;
    for (int round = 0; round < 12; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(STORE_WRITER), {temp.path(), QString::number(round * 1000000)});
        QVERIFY(writer.waitForStarted());
        const int wanted = QRandomGenerator::global()->bounded(1, 60);
        int lines = 0;
        while (lines < wanted) {
            QVERIFY2(writer.state() == QProcess::Running, writer.readAllStandardError().constData());
            QVERIFY(writer.waitForReadyRead(30000));
            lines = writer.peek(1 << 20).count('\n');
        }
        writer.kill();
        QVERIFY(writer.waitForFinished());
        for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                reported.append(line.toLongLong());
        }
    }

    RegistryStore &store = temp.store();
    QCOMPARE(store.integrityCheck(), QStringLiteral("ok"));
    QVERIFY(temp.prompter.calls.isEmpty());
    const RegistryKey top = store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Durable"));
    for (const qint64 n : std::as_const(reported))
        QVERIFY2(top.subKey(QStringLiteral("K%1").arg(n)).isValid(), qPrintable(QString::number(n)));
    for (const QString &name : top.subKeyNames()) {
        const RegistryKey key = top.subKey(name);
        QCOMPARE(key.valueCount(), 3);
        QCOMPARE(key.value(QStringLiteral("a"))->text(), name.mid(1));
        QCOMPARE(key.value(QStringLiteral("c"))->text(), QStringLiteral("end"));
    }
}

QTEST_GUILESS_MAIN(TestStoreDurability)
#include "tst_storedurability.moc"
