// The socket every datagram to the viewers leaves from, kept apart from the
// message handling so that the senders depend on nothing above them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "clients/discovery.h"

int g_discovery_socket_fd = -1;

int SendClientDatagram(const uint8_t* buffer, int length, const char* address, uint32_t port) {
  if (buffer == nullptr || length < 0 || address == nullptr) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (inet_aton(address, &to.sin_addr) == 0) return -1;
  to.sin_port = htons(static_cast<uint16_t>(port));
  return static_cast<int>(sendto(g_discovery_socket_fd, buffer, static_cast<size_t>(length), 0,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof to));
}
