#include "platform/SoundPlayer.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// A mono 16-bit PCM WAV file of the given length in milliseconds, silent.
QByteArray wav(int milliseconds)
{
    const quint32 rate = 8000;
    const quint32 dataSize = rate * 2 * quint32(milliseconds) / 1000;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataSize);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate * 2 << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataSize;
    bytes.append(QByteArray(int(dataSize), '\0'));
    return bytes;
}

} // namespace

class TestSoundPlayer : public QObject
{
    Q_OBJECT

private slots:
    void playToEnd_returnsWithinBound_data();
    void playToEnd_returnsWithinBound();
    void nullPlayer_returnsAtOnce();
};

void TestSoundPlayer::playToEnd_returnsWithinBound_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("short wav") << "short.wav" << wav(200);
    QTest::newRow("missing file") << "" << QByteArray();
    QTest::newRow("not a wav") << "text.wav" << QByteArray("just some text, no RIFF header\n");
    QTest::newRow("empty file") << "empty.wav" << QByteArray();
}

// Whether or not the machine has a sound output, the wait ends: by the end of the sound, by the failure
// to load or play it, or by the bound.
void TestSoundPlayer::playToEnd_returnsWithinBound()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(fileName.isEmpty() ? QStringLiteral("absent.wav") : fileName);
    if (!fileName.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    SoundEffectPlayer player(10s);
    QElapsedTimer clock;
    clock.start();
    player.playToEnd(path);
    QVERIFY2(clock.elapsed() < 9000, qPrintable(QString::number(clock.elapsed())));
}

void TestSoundPlayer::nullPlayer_returnsAtOnce()
{
    NullSoundPlayer player;
    player.playToEnd(QStringLiteral("/nonexistent.wav"));
}

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "test_soundplayer.moc"
