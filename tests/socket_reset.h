// A connection that ends with a reset, the way a peer that crashes or aborts ends it.
#pragma once

#include <cstdint>

// Makes the next close of the stream socket send a reset instead of an orderly end.
void ResetOnClose(std::intptr_t socket);
