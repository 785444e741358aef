#pragma once

#include <QString>

#include <chrono>

// Plays a sound file and returns when it has ended.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Plays the file at path once, without any default sound in its place, and returns when the sound has
    // ended, when it cannot be played, or at the latest after the player's bound.
    virtual void playToEnd(const QString &path) = 0;
};

// Plays WAV files through QSoundEffect. The wait runs a local event loop that leaves out user input, so
// the windows do not react until the sound has ended, but timers and sockets go on.
class SoundEffectPlayer : public SoundPlayer
{
public:
    explicit SoundEffectPlayer(std::chrono::milliseconds bound = std::chrono::seconds(30));
    void playToEnd(const QString &path) override;

private:
    std::chrono::milliseconds m_bound;
};

class NullSoundPlayer : public SoundPlayer
{
public:
    void playToEnd(const QString &) override {}
};
