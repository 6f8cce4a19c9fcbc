// The page's WebRTC signalling for the live video, carried to Janus on
// loopback. The page speaks only to vb-web, on its own origin, so every rule
// vb-web applies to a request covers these too; Janus gets only the few fixed
// requests a watching browser needs, for the one mountpoint of the box's video.
//
//   POST /api/stream/watch      {}                           -> {ok, session, handle, offer: {type, sdp}}
//   POST /api/stream/start      {session, handle, answer}    -> {ok}
//   POST /api/stream/keepalive  {session}                    -> {ok}, 404 once the session is gone
//   POST /api/stream/stop       {session}                    -> {ok}
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "records/stream_status.h"

// An SDP answer with its candidates fits with room to spare.
constexpr size_t kMaxStreamRequestBody = 16 * 1024;

struct StreamReply {
  unsigned status;
  std::string json;
};

class StreamSignalling {
 public:
  StreamSignalling(std::string janus_url, std::string status_path);

  StreamReply Handle(std::string_view path, const std::string& body) const;
  // What vb-stream last published (not fresh when it is not running).
  StreamStatus Status() const { return ReadStreamStatus(status_path_); }

 private:
  StreamReply Watch() const;

  const std::string janus_url_;
  const std::string status_path_;
};
