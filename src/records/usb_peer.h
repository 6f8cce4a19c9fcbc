// The box's end of the USB data link: the socket every frame to the camera
// leaves from, and the camera's address they go to.
//
// Writers: start-up opens the socket before any frame is sent (tests attach
// their own); the camera receive thread learns the camera's address from every
// intact frame. Readers: every frame sender, on any thread; the FTP listing
// thread (the camera's address is also its FTP server's).
#pragma once

#include <netinet/in.h>

void SetUsbSocket(int fd);
int UsbSocket();  // -1 when none is open

// The address is kept whole in one atomic: a reader never sees the port of one
// address with another's host.
void SetCameraAddress(const sockaddr_in& address);
sockaddr_in CameraAddress();  // 0.0.0.0 port 0 until one is set
