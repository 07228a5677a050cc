#include <sys/socket.h>

#include "socket_reset.h"

void ResetOnClose(std::intptr_t socket) {
  linger abort{1, 0};  // on, no time to linger: the close discards and resets
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}
