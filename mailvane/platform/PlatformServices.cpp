#include "PlatformServices.h"

PlatformServices PlatformServices::system(std::unique_ptr<Beeper> beeper)
{
    return {std::make_unique<NetworkInfoConnectivity>(), std::make_unique<NetworkManagerDialer>(),
            std::make_unique<SoundEffectPlayer>(), std::move(beeper)};
}

PlatformServices PlatformServices::fallback()
{
    return {std::make_unique<NullConnectivity>(), std::make_unique<NullDialer>(),
            std::make_unique<NullSoundPlayer>(), std::make_unique<NullBeeper>()};
}
