// Which network interface a datagram arrived on, and whether that is the
// camera's link. The camera sits at the far end of a USB network link; only
// what arrives on that interface comes from the camera, whatever its source
// address says (any host on another network could send intact frames).
#pragma once

#include <sys/socket.h>

// The camera's link unless a file names another: "usb0".
constexpr char kDefaultCameraInterface[] = "usb0";
// In the working directory (the packaged service links it to
// /etc/vantagebridge/camera-interface): one interface name, on its first line.
constexpr char kCameraInterfaceFile[] = "camera-interface";

// Reads the camera's interface from the file at path; a missing file, or one
// that holds no interface name, leaves kDefaultCameraInterface (the latter is
// logged). Called at start-up, before the receive threads run.
void LoadCameraInterface(const char* path);
// Sets it directly (tests: "lo" makes a local peer the camera).
void SetCameraInterface(const char* name);
const char* CameraInterfaceName();

// Asks the kernel to report the arrival interface of each datagram fd receives.
void ReportArrivalInterface(int fd);
// Room for that report in a received message's control data.
constexpr int kArrivalControlSize = 64;
// The interface index the message arrived on (IP_PKTINFO), 0 when not reported.
int ArrivalInterface(const msghdr& message);
// True when index is the camera's interface. The interface may come and go (a
// camera plugged in late, or again): a miss looks its index up anew, at most
// once a second.
bool IsCameraInterface(int index);
