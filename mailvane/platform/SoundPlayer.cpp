#include "SoundPlayer.h"

#include <QAudioDevice>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

// Loading a local file takes far less; a file that stops the decoder short (a WAV header without its
// data) never finishes loading and must not hold the wait for the whole bound.
constexpr auto loadBound = 2s;

// QSoundEffect plays RIFF WAVE files only, and an empty or foreign file would keep it loading for ever.
bool looksLikeWave(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    return head.size() == 12 && head.startsWith("RIFF") && head.endsWith("WAVE");
}

} // namespace

SoundEffectPlayer::SoundEffectPlayer(std::chrono::milliseconds bound) : m_bound(bound) {}

void SoundEffectPlayer::playToEnd(const QString &path)
{
    if (path.isEmpty() || !looksLikeWave(path) || QMediaDevices::defaultAudioOutput().isNull())
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
        else if (effect.status() == QSoundEffect::Ready)
            bound.start(m_bound);
    });
    QObject::connect(&effect, &QSoundEffect::playingChanged, &loop, [&] {
        if (effect.isPlaying())
            started = true;
        else if (started)
            end();
    });

    bound.start(loadBound);
    effect.setSource(QUrl::fromLocalFile(path));
    effect.play();
    if (!ended && effect.status() != QSoundEffect::Error)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    effect.stop();
}
