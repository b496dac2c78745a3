#pragma once
// SDL's audio subsystem, shared by playback and the microphone. SDL_InitSubSystem and
// SDL_QuitSubSystem are not thread-safe, and the two are opened on different threads
// (the GUI's, the microphone's worker), so every use goes through this one lock.
#include <string>

namespace lumbrix {

// Starts the subsystem for one more user; empty on success, else SDL's reason.
std::string acquireSdlAudio();
// Gives one user's share back; the last one shuts the subsystem down.
void releaseSdlAudio();

}  // namespace lumbrix
