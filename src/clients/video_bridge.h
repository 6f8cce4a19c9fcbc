// The video source on UDP 5000, its forwarding to full clients, and every send
// to the viewers (data messages and video datagrams).
#pragma once

#include <atomic>
#include <cstdint>

// Shared by all senders: one number per datagram built, data and video alike.
extern std::atomic<uint32_t> g_datagram_counter;
// 1 while a video datagram goes out to the clients; data messages are dropped then.
extern std::atomic<uint8_t> g_video_send_active;

// Video link state, written by the video receive thread and the watchdog.
extern std::atomic<uint32_t> g_last_video_ms;
extern std::atomic<uint8_t> g_video_flowing;

void StartVideoSource();
// As StartVideoSource on a given IPv4 address and port (host order; port 0
// takes a free one). Returns the bound port, 0 when the bind failed.
uint16_t StartVideoSourceOn(uint32_t address, uint16_t port);
void StartVideoBridge();

// kind 0: data message (dropped while a video datagram is being sent);
// kind 1: video datagram; other kinds send nothing.
void SendClientMessage(const uint8_t* payload, int length, int kind);
void SendShortMessage(int type, int b1, int b2, int b3, int b4, int b5, int b6);
void SendShortMessage16(int type, int a, int b, int c);
void SendDataMessage(const uint8_t* payload, int length);
void SendVideoDatagram(const uint8_t* payload, int length);
void ForwardVideo(const uint8_t* payload, int length);
void CheckVideoTimeout();
// The same check at a given clock value (tests use it to hit the boundary).
void CheckVideoTimeoutAt(uint32_t now);
