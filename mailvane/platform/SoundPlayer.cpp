#include "SoundPlayer.h"

#include <QAudioDevice>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

namespace
{

// QSoundEffect plays RIFF WAVE files only, and its decoder waits for ever on a file that ends before the
// start of its data chunk (an empty file, say), which would hold the wait for the whole bound. So only a
// file with a format chunk and the start of a data chunk is handed to it.
bool hasWaveHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray riff = file.read(12);
    if (riff.size() != 12 || !riff.startsWith("RIFF") || !riff.endsWith("WAVE"))
        return false;
    bool format = false;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() != 8)
            return false;
        if (chunk.startsWith("data"))
            return format;
        format = format || chunk.startsWith("fmt ");
        const quint32 size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (!file.seek(file.pos() + size + (size & 1)))
            return false;
    }
}

} // namespace

SoundEffectPlayer::SoundEffectPlayer(std::chrono::milliseconds bound) : m_bound(bound) {}

void SoundEffectPlayer::playToEnd(const QString &path)
{
    if (path.isEmpty() || !hasWaveHeader(path) || QMediaDevices::defaultAudioOutput().isNull())
        return;

    QSoundEffect effect;
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    bool ended = false;
    bool started = false;
    const auto end = [&] {
        ended = true;
        loop.quit();
    };
    QObject::connect(&bound, &QTimer::timeout, &loop, end);
    QObject::connect(&effect, &QSoundEffect::statusChanged, &loop, [&] {
        if (effect.status() == QSoundEffect::Error)
            end();
    });
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
        if (effect.isPlaying())
            started = true;
        else if (started)
            end();
    });

    bound.start(m_bound);
    effect.setSource(QUrl::fromLocalFile(path));
    effect.play();
    if (!ended && effect.status() != QSoundEffect::Error)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    effect.stop();
}
