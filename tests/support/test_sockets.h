// What the test helpers need of sockets beyond the program's own calls (platform/sockets.h).
#pragma once

#include <cstdint>

// Makes the next close of the stream socket send a reset instead of an orderly end.
void ResetOnClose(std::intptr_t socket);

// A stream socket listening on the address and an ephemeral port with a queue of length 0, the
// shortest the system keeps; -1 with the error number.
std::intptr_t ListenWithoutQueue(std::uint32_t address, int& errorCode);

// Binds a datagram socket to the address and port (host byte order); false with the error
// number (10048 while another socket holds the port).
bool BindDatagram(std::intptr_t socket, std::uint32_t address, std::uint16_t port, int& errorCode);

// Whether this process may bind ports below 1024.
bool MayBindPrivilegedPorts();
