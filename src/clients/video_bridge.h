// The video source on UDP 5000, its forwarding to full clients, and every send
// to the viewers (data messages and video datagrams).
#pragma once

#include <atomic>
#include <cstdint>

// Shared by all senders: one number per datagram built, data and video alike.
extern std::atomic<uint32_t> g_datagram_counter;
// 1 while video datagrams go out to the clients; periodic data messages are
// dropped then.
extern std::atomic<uint8_t> g_video_send_active;

// Video link state, written by the video receive thread and the watchdog.
extern std::atomic<uint32_t> g_last_video_ms;
extern std::atomic<uint8_t> g_video_flowing;

// A video datagram framed where it was received: room for the viewer header
// (kClientHeaderSize bytes), then length bytes of payload. The sender writes
// the header into the room, so header and payload leave from one buffer.
struct VideoDatagram {
  uint8_t* framed;
  int length;
};
// The most datagrams the receive thread takes and sends in one go.
constexpr int kVideoBatch = 16;

void StartVideoSource();
// As StartVideoSource on a given IPv4 address and port (host order; port 0
// takes a free one). Returns the bound port, 0 when the bind failed.
uint16_t StartVideoSourceOn(uint32_t address, uint16_t port);
void StartVideoBridge();

// kind 0: periodic data message (dropped while video is being sent);
// kind 1: video datagram; other kinds send nothing.
void SendClientMessage(const uint8_t* payload, int length, int kind);
void SendShortMessage(int type, int b1, int b2, int b3, int b4, int b5, int b6);
void SendShortMessage16(int type, int a, int b, int c);
void SendDataMessage(const uint8_t* payload, int length);
// A one-off answer to a viewer's request (configuration report, Wi-Fi scan):
// waits a few milliseconds at most for the video send in progress, then goes
// out; never dropped for video.
void SendReplyMessage(const uint8_t* payload, int length);
// Copies payload behind a header and sends it as one video datagram.
void SendVideoDatagram(const uint8_t* payload, int length);
// Frames up to kVideoBatch datagrams in place and sends each to every full
// client without waiting: a copy the kernel cannot take at once (a viewer's
// queue filled the send buffer) is dropped.
void SendVideoDatagrams(VideoDatagram* datagrams, int count);
// SendVideoDatagrams unless the configuration turned the stream off.
void ForwardVideo(VideoDatagram* datagrams, int count);
void CheckVideoTimeout();
// The same check at a given clock value (tests use it to hit the boundary).
void CheckVideoTimeoutAt(uint32_t now);
