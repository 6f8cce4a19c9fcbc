// The stand-in camera's video: pictures encoded as H.264 constrained
// baseline (what cameras' low-latency modes send: no B pictures, one slice,
// a key frame every second with its SPS and PPS), as an Annex-B byte stream.
#pragma once

#include <cstdint>
#include <vector>

struct x264_t;

struct VideoFormat {
  int width = 640, height = 360, fps = 30;
  int kbps = 1000;
};

// "WxH@FPS" (sizes even, 16 ... 4096; 1 ... 120 pictures a second).
bool ParseVideoFormat(const char* text, VideoFormat* format);

class VideoEncoder {
 public:
  VideoEncoder() = default;
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  bool Open(const VideoFormat& format);
  // Encodes picture number n (drawn by DrawTestPicture) and appends its
  // bytes to out, followed by the next picture's access unit delimiter, so a
  // receiver knows at once that this picture ended.
  bool Encode(uint32_t n, std::vector<uint8_t>* out);

 private:
  x264_t* encoder_ = nullptr;
  VideoFormat format_;
  std::vector<uint8_t> planes_;
};
