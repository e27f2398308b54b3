// Signalling the completion event named in a request block, as a library outside Quellor does.
#pragma once

namespace standin {

void SignalEvent(void* event);

}  // namespace standin
