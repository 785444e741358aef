#include "platform/SoundPlayer.h"

#include <QAudioDevice>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

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
    void initTestCase();
    void cleanupTestCase();
    void playToEnd_returnsWithinBound_data();
    void playToEnd_returnsWithinBound();

private:
    QProcessEnvironment pulseEnvironment() const;

    QTemporaryDir m_pulseDir;
    bool m_pulseStarted = false;
};

QProcessEnvironment TestSoundPlayer::pulseEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_pulseDir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_pulseDir.path());
    return env;
}

// Where PulseAudio is installed, a private server with a null sink gives the player a real output, so
// that the sound is played and waited for; without it the player finds no output and returns at once.
void TestSoundPlayer::initTestCase()
{
    const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (pulseaudio.isEmpty() || !m_pulseDir.isValid())
        return;
    const QString socket = m_pulseDir.filePath(QStringLiteral("native"));
    QProcess server;
    server.setProcessEnvironment(pulseEnvironment());
    // With --daemonize the command returns once the server is ready.
    server.start(pulseaudio,
                 {QStringLiteral("-n"), QStringLiteral("--daemonize=yes"),
                  QStringLiteral("--exit-idle-time=5"), QStringLiteral("--disable-shm=yes"),
                  QStringLiteral("--load=module-null-sink"),
                  QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket});
    m_pulseStarted = server.waitForFinished(10000) && server.exitStatus() == QProcess::NormalExit &&
                     server.exitCode() == 0;
    if (m_pulseStarted)
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
}

void TestSoundPlayer::cleanupTestCase()
{
    if (!m_pulseStarted)
        return;
    QProcess kill;
    kill.setProcessEnvironment(pulseEnvironment());
    kill.start(QStringLiteral("pulseaudio"), {QStringLiteral("--kill")});
    kill.waitForFinished(5000);
}

void TestSoundPlayer::playToEnd_returnsWithinBound_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<int>("playedMs"); // how long it plays when there is an output

    QTest::newRow("short wav") << "short.wav" << wav(400) << 10000 << 400;
    QTest::newRow("longer than the bound") << "long.wav" << wav(30000) << 500 << 500;
    QTest::newRow("missing file") << "" << QByteArray() << 10000 << 0;
    QTest::newRow("not a wav") << "text.wav" << QByteArray("just some text, no RIFF header\n") << 10000 << 0;
    QTest::newRow("empty file") << "empty.wav" << QByteArray() << 10000 << 0;
    QTest::newRow("cut short in the format chunk") << "cut.wav" << wav(400).left(20) << 10000 << 0;
    QTest::newRow("no data chunk") << "nodata.wav" << wav(400).left(36) << 10000 << 0;
    QByteArray adpcm = wav(400);
    adpcm[20] = 2; // format tag: ADPCM
    QTest::newRow("unsupported encoding") << "adpcm.wav" << adpcm << 10000 << 0;
}

// Whether or not the machine has a sound output, the wait ends: by the end of the sound, by the failure
// to load or play it, or by the bound.
void TestSoundPlayer::playToEnd_returnsWithinBound()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(int, boundMs);
    QFETCH(int, playedMs);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(fileName.isEmpty() ? QStringLiteral("absent.wav") : fileName);
    if (!fileName.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    SoundEffectPlayer player{std::chrono::milliseconds(boundMs)};
    QElapsedTimer clock;
    clock.start();
    player.playToEnd(path);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed < 9000, qPrintable(QString::number(elapsed)));
    if (!QMediaDevices::defaultAudioOutput().isNull())
        QVERIFY2(elapsed >= playedMs * 3 / 4, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestSoundPlayer)
#include "test_soundplayer.moc"
