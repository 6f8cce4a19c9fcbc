// What vb-web keeps track of beyond libmicrohttpd's own connection limits, so
// that no client can shut the page out: every request must have arrived
// within a deadline from the connection's start (or from the end of its
// previous request), however slowly its bytes trickle in, and event streams,
// which hold a connection for as long as a page is open, have a few slots per
// address and a few more in all.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <thread>

constexpr unsigned kStreamsPerAddress = 2;  // a page open in two tabs
constexpr unsigned kStreamsInAll = 16;

class ConnectionLimits {
 public:
  struct Connection;

  explicit ConnectionLimits(std::chrono::milliseconds request_deadline);
  ~ConnectionLimits();
  ConnectionLimits(const ConnectionLimits&) = delete;
  ConnectionLimits& operator=(const ConnectionLimits&) = delete;

  void Start();
  void Stop();

  // A connection's life, from libmicrohttpd's notifications: the socket was
  // accepted, a request has arrived in full (or is answered before that), a
  // request ended, the socket closed.
  Connection* Opened(int fd);
  static void RequestArrived(Connection* connection);
  static void RequestEnded(Connection* connection);
  void Closed(Connection* connection);

  // An event stream slot for a client address; false when none is free.
  bool TakeStream(in_addr_t address);
  void ReturnStream(in_addr_t address);

 private:
  void Run();

  const std::chrono::milliseconds request_deadline_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<Connection> connections_;
  std::map<in_addr_t, unsigned> streams_by_address_;
  unsigned streams_ = 0;
  std::thread watchdog_;
};

struct ConnectionLimits::Connection {
  Connection(ConnectionLimits* limits, int socket) : owner(limits), fd(socket) {}
  ConnectionLimits* const owner;
  const int fd;  // a duplicate of the connection's socket, ours to shut down and close
  std::atomic<bool> waiting{true};
  std::atomic<int64_t> due_ms{0};  // on the steady clock
  std::list<Connection>::iterator self{};
};
