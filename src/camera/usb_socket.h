// The USB data socket and the camera's address, shared by the receive thread
// (which learns the address from each datagram) and every frame sender.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

struct UsbDataSocket {
  int fd = -1;
  sockaddr_in peer{};
  socklen_t peer_length = sizeof(sockaddr_in);
};

extern UsbDataSocket g_usb_data_socket;
