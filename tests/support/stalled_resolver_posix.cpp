// Takes the place of the C library's getaddrinfo in the test program (a definition in the program
// wins over the library's), so that the platform's name lookup can be made to stall.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/stalled_resolver.h"

namespace {

using SystemLookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

bool IsStalledName(const std::string& name) {
  return name.size() > kStalledDomain.size() &&
         name.compare(name.size() - kStalledDomain.size(), kStalledDomain.size(), kStalledDomain) ==
             0;
}

// The pause and the answer for "<milliseconds>.stalled.test": the loopback address, in one block
// with its entry as the C library lays it out, so that its freeaddrinfo releases it.
int StalledLookup(const std::string& name, addrinfo** result) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(name.c_str())));
  auto* entry = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in)));
  if (entry == nullptr) return EAI_MEMORY;
  auto* address = reinterpret_cast<sockaddr_in*>(entry + 1);
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  entry->ai_family = AF_INET;
  entry->ai_socktype = SOCK_STREAM;
  entry->ai_addrlen = sizeof(sockaddr_in);
  entry->ai_addr = reinterpret_cast<sockaddr*>(address);
  *result = entry;
  return 0;
}

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
  if (node != nullptr && IsStalledName(node)) return StalledLookup(node, result);
  static const auto system = reinterpret_cast<SystemLookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
  return system(node, service, hints, result);
}
