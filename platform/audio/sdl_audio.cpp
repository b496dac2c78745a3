#include "platform/audio/sdl_audio.h"

#include <SDL.h>

#include <mutex>

namespace lumbrix {

namespace {
std::mutex gSdlAudioMutex;  // guards gSdlAudioUsers and SDL's audio init/quit
int gSdlAudioUsers = 0;
}  // namespace

std::string acquireSdlAudio() {
    std::lock_guard lock(gSdlAudioMutex);
    if (gSdlAudioUsers == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        return std::string("SDL audio init failed: ") + SDL_GetError();
    }
    ++gSdlAudioUsers;
    return {};
}

void releaseSdlAudio() {
    std::lock_guard lock(gSdlAudioMutex);
    if (gSdlAudioUsers > 0 && --gSdlAudioUsers == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

}  // namespace lumbrix
