// The USB data link: the socket on UDP port 5001, its receive thread, and the
// data-source start-up that reads the camera settings and resets the link.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t kUsbDataPort = 5001;

// The port StartUsbData binds: kUsbDataPort, except in tests, which set 0 to
// get a free port and read it back from the socket.
void SetUsbDataBindPort(uint16_t port);

// Data-source start-up, once at process start. Does not start the mailbox and
// RC loop threads: start-up starts them right after this call.
void StartDataSource();

// Creates the socket bound to port 5001 and starts the receive thread.
void StartUsbData();

// One whole frame of 13 to 255 bytes: start byte, a length byte equal to the
// datagram's, and both checksums right. Nothing else is a camera frame.
bool IsIntactCameraFrame(const uint8_t* buffer, size_t length);

// Entry of every received datagram: parsed only when it is an intact frame.
void ParseCameraDatagram(const uint8_t* buffer, uint16_t length);
