#include "stream_sdp.h"

#include <cstdio>

#include "rtp_h264.h"

std::string Base64(const uint8_t* data, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t group = static_cast<uint32_t>(data[i]) << 16 | (i + 1 < size ? data[i + 1] << 8 : 0) |
                           (i + 2 < size ? data[i + 2] : 0);
    out += kDigits[group >> 18];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < size ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[group & 63] : '=';
  }
  return out;
}

std::string StreamSdp(const std::string& address, uint16_t port, const std::vector<uint8_t>& sps,
                      const std::vector<uint8_t>& pps) {
  std::string fmtp = "packetization-mode=1";
  if (sps.size() >= 4) {
    char profile[32];
    // The SPS's profile, constraint flags and level, as the SPS itself says.
    std::snprintf(profile, sizeof profile, ";profile-level-id=%02x%02x%02x", sps[1], sps[2], sps[3]);
    fmtp += profile;
  }
  if (!sps.empty() && !pps.empty()) {
    fmtp += ";sprop-parameter-sets=" + Base64(sps.data(), sps.size()) + "," + Base64(pps.data(), pps.size());
  }
  const std::string pt = std::to_string(kRtpPayloadType);
  return "v=0\r\n"
         "o=- 0 0 IN IP4 " + address + "\r\n"
         "s=Vantagebridge live video\r\n"
         "c=IN IP4 " + address + "\r\n"
         "t=0 0\r\n"
         "m=video " + std::to_string(port) + " RTP/AVP " + pt + "\r\n"
         "a=rtpmap:" + pt + " H264/" + std::to_string(kRtpClockRate) + "\r\n"
         "a=fmtp:" + pt + " " + fmtp + "\r\n";
}
