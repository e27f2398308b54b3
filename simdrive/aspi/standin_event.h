// The stand-in library's platform operations: signalling the completion event named in a
// request block, as a library outside Quellor does, and the library's lifetime.
#pragma once

namespace standin {

void SignalEvent(void* event);

// Where unloading could not stop the server's thread, the library stays until the process ends
// and the server is left to it.
void KeepLoadedWhileServing();
extern const bool stopServerAtUnload;

}  // namespace standin
