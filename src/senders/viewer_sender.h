// Every send to the viewers: data messages to all registered clients, video
// datagrams to the full ones, each framed behind the 12-byte header
// (records/viewer_protocol.h) and numbered from one counter. Any thread may
// send; video goes from the video receive thread, one batch at a time.
#pragma once

#include <cstdint>

// A video datagram framed where it was received: room for the viewer header
// (kClientHeaderSize bytes), then length bytes of payload. The sender writes
// the header into the room, so header and payload leave from one buffer.
struct VideoDatagram {
  uint8_t* framed;
  int length;
};
// The most datagrams the receive thread takes and sends in one go.
constexpr int kVideoBatch = 16;

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

// The number the next datagram takes (all datagrams share one counter, data
// and video alike); tests set it.
uint32_t NextDatagramNumber();
void SetNextDatagramNumber(uint32_t number);
// True while video datagrams go out to the clients; periodic data messages
// are dropped then. Tests set it to stand for a video send.
bool VideoSendActive();
void SetVideoSendActive(bool active);
