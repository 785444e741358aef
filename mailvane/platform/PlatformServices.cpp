#include "PlatformServices.h"

PlatformServices PlatformServices::system(std::unique_ptr<Beeper> beeper)
{
    return {std::make_unique<NetworkInfoConnectivity>(), std::make_unique<NetworkManagerDialer>(),
            std::make_unique<SoundEffectPlayer>(), std::move(beeper), std::make_unique<FreedesktopNotifier>(),
            std::make_unique<KeychainVault>()};
}

PlatformServices PlatformServices::fallback()
{
    return {std::make_unique<NullConnectivity>(), std::make_unique<NullDialer>(),
            std::make_unique<NullSoundPlayer>(), std::make_unique<NullBeeper>(),
            std::make_unique<NullDesktopNotifier>(), std::make_unique<NoPasswordVault>()};
}
