#include "platform/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/log.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// After the kill, how long to wait for the group to go. A process stuck in the
// kernel (a dying card under mount) outlives SIGKILL; it is reaped later.
constexpr std::chrono::milliseconds kKillGrace{2000};
constexpr int kKilledStatus = SIGKILL;  // the wait status of death by SIGKILL
constexpr int kFailedStatus = 1 << 8;   // the wait status of exit code 1
constexpr int kMaxAbandoned = 16;

std::atomic<int> g_deadline_ms{kShellDeadlineMs};

// Test seam state, guarded by g_mutex.
std::mutex g_mutex;
bool g_record_only = false;
bool g_echo = false;
std::vector<std::string> g_log;
std::vector<std::pair<std::string, std::string>> g_canned;
std::vector<std::pair<std::string, ShellFault>> g_faults;
std::vector<std::pair<FILE*, int>> g_open_canned;  // streams over canned text, with their close status

struct Child {
  pid_t pid = -1;
  int pidfd = -1;  // -1 where the kernel has no pidfd_open: then polled
  Clock::time_point deadline;
  std::string line;
};

struct OutputStream {
  Child child;
  int fd = -1;
  bool ended = false;
};
std::vector<std::pair<FILE*, OutputStream*>> g_open_outputs;  // guarded by g_mutex

pid_t g_abandoned[kMaxAbandoned] = {};  // guarded by g_mutex

// Records the line; returns true when it must not run, with the fault to play.
bool Record(const char* line, ShellFault* fault) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log.emplace_back(line);
  if (g_log.size() > 10000) g_log.erase(g_log.begin());
  if (g_echo) fprintf(stderr, "%s\n", line);
  *fault = ShellFault::kNone;
  for (const auto& [prefix, f] : g_faults) {
    if (std::strncmp(line, prefix.c_str(), prefix.size()) == 0) *fault = f;
  }
  return g_record_only;
}

void LogKilled(const char* line) { LogError("shell command timed out, killed: %s\n", line); }

// A recorded command that hangs: it holds its caller until the deadline.
int PlayHang(const char* line) {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_deadline_ms.load()));
  LogKilled(line);
  return kKilledStatus;
}

int PlayFault(const char* line, ShellFault fault) {
  if (fault == ShellFault::kFail) return kFailedStatus;
  if (fault == ShellFault::kHang) return PlayHang(line);
  return 0;
}

int RemainingMs(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void ReapAbandonedLocked() {
  for (pid_t& pid : g_abandoned) {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = 0;
  }
}

void Abandon(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ReapAbandonedLocked();
  for (pid_t& slot : g_abandoned) {
    if (slot == 0) {
      slot = pid;
      return;
    }
  }
  // All slots taken: the process stays a zombie once it ends; nothing else is lost.
}

// Through syscall(): glibc 2.36's own declaration lacks C linkage in C++.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Starts "sh -c line" as the leader of a new process group, its standard output
// on stdout_fd when that is not -1.
bool Spawn(const char* line, int stdout_fd, Child* child) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ReapAbandonedLocked();
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);

  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(line), nullptr};
  child->deadline = Clock::now() + std::chrono::milliseconds(g_deadline_ms.load());
  child->line = line;
  const int result = posix_spawn(&child->pid, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) return false;
  child->pidfd = OpenPidFd(child->pid);
  return true;
}

// True once the child has ended and been reaped (its wait status in *status);
// false when it still runs at until.
bool ReapBy(const Child& child, Clock::time_point until, int* status) {
  for (;;) {
    const pid_t reaped = waitpid(child.pid, status, WNOHANG);
    if (reaped == child.pid) return true;
    if (reaped < 0 && errno != EINTR) {
      *status = -1;
      return true;
    }
    const int left = RemainingMs(until);
    if (left == 0) return false;
    if (child.pidfd >= 0) {
      pollfd ready{child.pidfd, POLLIN, 0};
      poll(&ready, 1, left);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 10 ? left : 10));
    }
  }
}

// Waits for the child until its deadline; past it, kills its whole group.
int Finish(Child& child) {
  int status = 0;
  if (!ReapBy(child, child.deadline, &status)) {
    kill(-child.pid, SIGKILL);
    LogKilled(child.line.c_str());
    if (!ReapBy(child, Clock::now() + kKillGrace, &status)) {
      Abandon(child.pid);
      status = kKilledStatus;
    }
  }
  if (child.pidfd >= 0) close(child.pidfd);
  child.pidfd = -1;
  return status;
}

// Reads of a command's output: the end of the output shows at the deadline at
// the latest, however much or little the command writes.
ssize_t ReadOutput(void* cookie, char* buffer, size_t size) {
  auto* stream = static_cast<OutputStream*>(cookie);
  while (!stream->ended) {
    const int left = RemainingMs(stream->child.deadline);
    if (left == 0) break;
    pollfd ready{stream->fd, POLLIN, 0};
    const int polled = poll(&ready, 1, left);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    const ssize_t n = read(stream->fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) return n;
    break;
  }
  stream->ended = true;
  return 0;
}

int CloseOutput(void* cookie) {
  auto* stream = static_cast<OutputStream*>(cookie);
  if (stream->fd >= 0) close(stream->fd);
  stream->fd = -1;
  return 0;
}

FILE* OpenCannedOutput(const char* command_line, ShellFault fault) {
  if (fault == ShellFault::kHang) PlayHang(command_line);
  std::lock_guard<std::mutex> lock(g_mutex);
  FILE* stream = tmpfile();
  if (!stream) return nullptr;
  for (const auto& [prefix, output] : g_canned) {
    if (fault == ShellFault::kNone && std::strncmp(command_line, prefix.c_str(), prefix.size()) == 0) {
      fwrite(output.data(), 1, output.size(), stream);
      break;
    }
  }
  rewind(stream);
  const int status = fault == ShellFault::kHang ? kKilledStatus : fault == ShellFault::kFail ? kFailedStatus : 0;
  g_open_canned.emplace_back(stream, status);
  return stream;
}

}  // namespace

int ExecuteShellCommand(const char* command_line) {
  if (command_line == nullptr) return 0;
  ShellFault fault;
  if (Record(command_line, &fault)) return PlayFault(command_line, fault);
  Child child;
  if (!Spawn(command_line, -1, &child)) return -1;
  return Finish(child);
}

FILE* OpenShellOutput(const char* command_line) {
  if (command_line == nullptr) return nullptr;
  ShellFault fault;
  if (Record(command_line, &fault)) return OpenCannedOutput(command_line, fault);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
  auto* stream = new OutputStream;
  const bool started = Spawn(command_line, ends[1], &stream->child);
  close(ends[1]);
  stream->fd = ends[0];
  if (!started) {
    close(ends[0]);
    delete stream;
    return nullptr;
  }
  FILE* file = fopencookie(stream, "r", cookie_io_functions_t{ReadOutput, nullptr, nullptr, CloseOutput});
  if (file == nullptr) {
    CloseOutput(stream);
    Finish(stream->child);
    delete stream;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open_outputs.emplace_back(file, stream);
  return file;
}

int CloseShellOutput(FILE* stream) {
  OutputStream* output = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_open_canned.begin(); it != g_open_canned.end(); ++it) {
      if (it->first == stream) {
        const int status = it->second;
        g_open_canned.erase(it);
        fclose(stream);
        return status;
      }
    }
    for (auto it = g_open_outputs.begin(); it != g_open_outputs.end(); ++it) {
      if (it->first == stream) {
        output = it->second;
        g_open_outputs.erase(it);
        break;
      }
    }
  }
  if (output == nullptr) return -1;
  fclose(stream);
  const int status = Finish(output->child);
  delete output;
  return status;
}

void ShellRecordOnly(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_record_only = on;
}

void ShellSetCannedOutput(const std::string& line_prefix, const std::string& output) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& entry : g_canned) {
    if (entry.first == line_prefix) {
      entry.second = output;
      return;
    }
  }
  g_canned.emplace_back(line_prefix, output);
}

std::vector<std::string> ShellTakeLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> out;
  out.swap(g_log);
  return out;
}

void ShellSetFault(const std::string& line_prefix, ShellFault fault) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& entry : g_faults) {
    if (entry.first == line_prefix) {
      entry.second = fault;
      return;
    }
  }
  g_faults.emplace_back(line_prefix, fault);
}

void ShellClearFaults() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.clear();
}

void ShellSetDeadlineForTest(int milliseconds) {
  g_deadline_ms = milliseconds > 0 ? milliseconds : kShellDeadlineMs;
}

void ShellEchoRecorded(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_echo = on;
}
