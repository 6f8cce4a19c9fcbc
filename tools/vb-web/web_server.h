// vb-web's HTTP side on libmicrohttpd: the page's files, the live state as
// server-sent events, and the commands the page posts, handed to the mailbox
// queue. Only peers inside the box's directly connected networks are served,
// only under the box's own names; state-changing requests must be JSON POSTs
// from the page's own origin.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "connection_limits.h"

struct MHD_Daemon;
struct MHD_Connection;
class BoxViewer;
class CrewRoutes;
class HudMapping;
class MailboxQueue;
class SettingsBackup;
class StaticFiles;
class StreamSignalling;

// What the server reads from and hands to; hud and viewer may be null (the
// page then shows the box as not running).
struct WebParts {
  const StaticFiles* files = nullptr;
  HudMapping* hud = nullptr;
  BoxViewer* viewer = nullptr;
  MailboxQueue* queue = nullptr;
  std::vector<std::string> host_names;  // served under these besides the box's own names
  CrewRoutes* crew = nullptr;  // health, events and the control PIN; none: controls open to all
  const StreamSignalling* stream = nullptr;  // null: no live video
  SettingsBackup* backup = nullptr;     // the settings file's download and upload
};

struct WebTiming {
  std::chrono::milliseconds state_period{200};  // live state events: five a second
  std::chrono::milliseconds report_wait{1500};  // per configuration request
  int report_tries = 3;                         // a data message can be dropped while video is sent
  std::chrono::milliseconds request_deadline{10000};  // from a connection's start to its request's end
};

class WebServer {
 public:
  explicit WebServer(WebParts parts, WebTiming timing = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Listens on address (port 0: any free port).
  bool Start(const sockaddr_in& address, std::string* error);
  uint16_t Port() const { return port_; }
  // Ends the event streams at once; call before stopping the queue.
  void BeginStop();
  // Closes every connection and the listening socket.
  void Stop();

  // Entry points for libmicrohttpd's callbacks.
  int HandleRequest(MHD_Connection* connection, const char* url, const char* method, const char* upload_data,
                    size_t* upload_data_size, void** context);
  bool WaitNextEvent(std::chrono::milliseconds period);
  void AppendEvents(uint64_t* report_sent, std::string* out) const;
  ConnectionLimits& Limits() { return limits_; }

 private:
  // The POST routes: each checked for its origin, type and length before its
  // body is read; a control needs the controls open once a PIN is set.
  using PostHandler = int (WebServer::*)(MHD_Connection* connection, std::string_view path, const std::string& body);
  struct PostRouteEntry {
    std::string_view path;  // a prefix when it ends in "/"
    PostHandler handler;
    size_t max_body;
    bool control;
  };
  static const PostRouteEntry* PostRoute(std::string_view path);
  int HandleRead(MHD_Connection* connection, std::string_view path, std::string_view method);
  int HandleEvents(MHD_Connection* connection);
  int HandleCommand(MHD_Connection* connection, std::string_view path, const std::string& body);
  int HandleRestore(MHD_Connection* connection, std::string_view path, const std::string& body);
  int HandleStream(MHD_Connection* connection, std::string_view path, const std::string& body);
  int HandleCrewPost(MHD_Connection* connection, std::string_view path, const std::string& body);
  int HandleSettingsFile(MHD_Connection* connection);
  // Asks for the configuration report up to tries times; true with it.
  bool FetchReport(int tries, std::string* report);
  std::string StateJson() const;

  const WebParts parts_;
  const WebTiming timing_;
  ConnectionLimits limits_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::mutex stop_mutex_;
  std::condition_variable stop_;
  std::atomic<bool> stopping_{false};
};
