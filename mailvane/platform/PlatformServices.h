#pragma once

#include "Beeper.h"
#include "Connectivity.h"
#include "DesktopNotifier.h"
#include "Dialer.h"
#include "PasswordVault.h"
#include "SoundPlayer.h"

#include <memory>

// The system services a mail check uses, handed over as one bundle.
struct PlatformServices {
    std::unique_ptr<Connectivity> connectivity;
    std::unique_ptr<Dialer> dialer;
    std::unique_ptr<SoundPlayer> soundPlayer;
    std::unique_ptr<Beeper> beeper;
    std::unique_ptr<DesktopNotifier> notifier;
    // For the settings (SettingsServices::vault): every settings object of the program needs it, or
    // an account whose password lives in the keyring reads an empty one.
    std::unique_ptr<PasswordVault> vault;

    // The implementations that talk to the system, with the beeper of the program's kind (the
    // desktop program's beeps through the widgets application).
    static PlatformServices system(std::unique_ptr<Beeper> beeper);
    // Implementations that do nothing: always connected, dialling fails, silence.
    static PlatformServices fallback();
};
