#include "video_encoder.h"

#include <x264.h>

#include <cstdio>
#include <cstring>

#include "test_picture.h"

namespace {

// An access unit delimiter: any picture type may follow.
constexpr uint8_t kAccessUnitDelimiter[] = {0, 0, 0, 1, 0x09, 0xF0};

}  // namespace

bool ParseVideoFormat(const char* text, VideoFormat* format) {
  int w = 0, h = 0, fps = 0;
  char end = 0;
  if (std::sscanf(text, "%dx%d@%d%c", &w, &h, &fps, &end) != 3) return false;
  if (w < 16 || h < 16 || w > 4096 || h > 4096 || (w | h) & 1 || fps < 1 || fps > 120) return false;
  format->width = w;
  format->height = h;
  format->fps = fps;
  return true;
}

VideoEncoder::~VideoEncoder() {
  if (encoder_) x264_encoder_close(encoder_);
}

bool VideoEncoder::Open(const VideoFormat& format) {
  x264_param_t p;
  if (x264_param_default_preset(&p, "ultrafast", "zerolatency") != 0) return false;
  p.i_width = format.width;
  p.i_height = format.height;
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = static_cast<uint32_t>(format.fps);
  p.i_fps_den = 1;
  p.i_threads = 1;  // one slice per picture, nothing held back
  p.i_keyint_max = format.fps;
  p.i_keyint_min = format.fps;
  p.b_repeat_headers = 1;
  p.b_annexb = 1;
  p.i_level_idc = 31;
  p.rc.i_rc_method = X264_RC_ABR;
  p.rc.i_bitrate = format.kbps;
  p.rc.i_vbv_max_bitrate = format.kbps;
  p.rc.i_vbv_buffer_size = format.kbps / 2;
  p.i_log_level = X264_LOG_ERROR;
  if (x264_param_apply_profile(&p, "baseline") != 0) return false;
  encoder_ = x264_encoder_open(&p);
  format_ = format;
  planes_.assign(static_cast<size_t>(format.width * format.height * 3 / 2), 128);
  return encoder_ != nullptr;
}

bool VideoEncoder::Encode(uint32_t n, std::vector<uint8_t>* out) {
  const int w = format_.width, h = format_.height;
  DrawTestPicture(planes_.data(), w, w, h, n);  // chroma stays grey
  x264_picture_t in, encoded;
  x264_picture_init(&in);
  in.img.i_csp = X264_CSP_I420;
  in.img.i_plane = 3;
  in.img.plane[0] = planes_.data();
  in.img.plane[1] = planes_.data() + w * h;
  in.img.plane[2] = planes_.data() + w * h + w * h / 4;
  in.img.i_stride[0] = w;
  in.img.i_stride[1] = in.img.i_stride[2] = w / 2;
  in.i_pts = n;
  x264_nal_t* nals = nullptr;
  int count = 0;
  if (x264_encoder_encode(encoder_, &nals, &count, &in, &encoded) < 0) return false;
  for (int i = 0; i < count; ++i) out->insert(out->end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
  out->insert(out->end(), kAccessUnitDelimiter, kAccessUnitDelimiter + sizeof kAccessUnitDelimiter);
  return count > 0;
}
