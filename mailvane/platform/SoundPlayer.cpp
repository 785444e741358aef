#include "SoundPlayer.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

SoundEffectPlayer::SoundEffectPlayer(std::chrono::milliseconds bound) : m_bound(bound) {}

void SoundEffectPlayer::playToEnd(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile() || QMediaDevices::defaultAudioOutput().isNull())
        return;

    QSoundEffect effect;
    QEventLoop loop;
    bool ended = false;
    bool started = false;
    const auto end = [&] {
        ended = true;
        loop.quit();
    };
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
    effect.setSource(QUrl::fromLocalFile(path));
    effect.play();

    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, end);
    bound.start(m_bound);
    if (!ended && effect.status() != QSoundEffect::Error)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    effect.stop();
}
