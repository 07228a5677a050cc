#include <winsock2.h>

#include "socket_reset.h"

void ResetOnClose(std::intptr_t socket) {
  linger abort{1, 0};  // on, no time to linger: the close discards and resets
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&abort), sizeof abort);
}
