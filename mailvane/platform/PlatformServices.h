#pragma once

#include "Beeper.h"
#include "Connectivity.h"
#include "Dialer.h"
#include "SoundPlayer.h"

#include <memory>

// The system services a mail check uses, handed over as one bundle.
struct PlatformServices {
    std::unique_ptr<Connectivity> connectivity;
    std::unique_ptr<Dialer> dialer;
    std::unique_ptr<SoundPlayer> soundPlayer;
    std::unique_ptr<Beeper> beeper;

    // The implementations that talk to the system, with the beeper of the program's kind (the
    // desktop program's beeps through the widgets application).
    static PlatformServices system(std::unique_ptr<Beeper> beeper);
    // Implementations that do nothing: always connected, dialling fails, silence.
    static PlatformServices fallback();
};
