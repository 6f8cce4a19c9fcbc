#include "connection_limits.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ConnectionLimits::ConnectionLimits(std::chrono::milliseconds request_deadline) : request_deadline_(request_deadline) {}

ConnectionLimits::~ConnectionLimits() { Stop(); }

void ConnectionLimits::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!watchdog_.joinable()) watchdog_ = std::thread([this] { Run(); });
}

void ConnectionLimits::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}

ConnectionLimits::Connection* ConnectionLimits::Opened(int fd) {
  // Our own descriptor for the socket: shutting it down can never hit a
  // number the server has closed and the kernel handed to a new connection.
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  std::lock_guard<std::mutex> lock(mutex_);
  Connection& c = connections_.emplace_front(this, own);
  c.due_ms = NowMs() + request_deadline_.count();
  c.self = connections_.begin();
  return &c;
}

void ConnectionLimits::RequestArrived(Connection* connection) {
  if (connection) connection->waiting.store(false, std::memory_order_relaxed);
}

void ConnectionLimits::RequestEnded(Connection* connection) {
  if (!connection) return;
  connection->due_ms.store(NowMs() + connection->owner->request_deadline_.count(), std::memory_order_relaxed);
  connection->waiting.store(true, std::memory_order_release);  // with its new deadline
}

void ConnectionLimits::Closed(Connection* connection) {
  if (!connection) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (connection->fd >= 0) close(connection->fd);
  connections_.erase(connection->self);
}

bool ConnectionLimits::TakeStream(in_addr_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_by_address_.try_emplace(address, 0).first;
  if (it->second >= kStreamsPerAddress || streams_ >= kStreamsInAll) {
    if (it->second == 0) streams_by_address_.erase(it);
    return false;
  }
  ++it->second;
  ++streams_;
  return true;
}

void ConnectionLimits::ReturnStream(in_addr_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_by_address_.find(address);
  if (it == streams_by_address_.end()) return;
  if (--it->second == 0) streams_by_address_.erase(it);
  --streams_;
}

void ConnectionLimits::Run() {
  pthread_setname_np(pthread_self(), "web-deadlines");
  // A pass a second at most, so the log line below comes at most once a second.
  const auto period = std::clamp<std::chrono::milliseconds>(request_deadline_ / 4, std::chrono::milliseconds(10),
                                                            std::chrono::seconds(1));
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, period, [&] { return stopping_; })) {
    const int64_t now = NowMs();
    bool cut = false;
    for (Connection& c : connections_) {
      if (c.fd < 0 || !c.waiting.load(std::memory_order_acquire) || now < c.due_ms.load(std::memory_order_relaxed)) {
        continue;
      }
      // The server's thread sees the stream end and closes the connection.
      shutdown(c.fd, SHUT_RDWR);
      c.waiting.store(false, std::memory_order_relaxed);
      cut = true;
    }
    if (cut) std::fprintf(stderr, "vb-web: closed a connection whose request did not arrive in time\n");
  }
}
