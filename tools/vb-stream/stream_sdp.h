// The session description of the stream as one RTP receiver gets it: the
// file a standard player (ffmpeg, VLC, a ground-station program) opens to
// receive the box's video on a UDP port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// address (IPv4) and port: where the receiver listens (the --rtp target). With the
// SPS and PPS known they go into the description too, so a player can set up
// its decoder before the first key frame arrives.
std::string StreamSdp(const std::string& address, uint16_t port, const std::vector<uint8_t>& sps,
                      const std::vector<uint8_t>& pps);

std::string Base64(const uint8_t* data, size_t size);
