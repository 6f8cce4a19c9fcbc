// Shell commands with real children: statuses pass through, and a command that
// hangs is killed, with everything it started, at the deadline.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/shell.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

// Real commands run here (harmless ones: sleep, echo), with a short deadline.
class RealShell : public testing::Test {
 protected:
  void SetUp() override {
    ShellRecordOnly(false);
    ShellSetDeadlineForTest(300);
    char pattern[] = "/tmp/vb-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ShellSetDeadlineForTest(0);
    ShellRecordOnly(true);
    ShellTakeLog();
    std::remove((dir_ + "/pid").c_str());
    rmdir(dir_.c_str());
  }

  // The pid a command wrote to the file "pid", once it is there.
  pid_t WrittenPid() {
    for (int i = 0; i < 10000; ++i) {
      std::ifstream in(dir_ + "/pid");
      pid_t pid = 0;
      if (in >> pid && pid > 0) return pid;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
  }

  // Ended: gone, or a zombie waiting for whichever process adopted it.
  static bool EndedWithin(pid_t pid, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string id, name, state;
      if (!(stat >> id >> name >> state) || state == "Z") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  std::string dir_;
};

TEST_F(RealShell, StatusOfAFinishedCommandPassesThrough) {
  EXPECT_EQ(ExecuteShellCommand("true"), 0);
  const int status = ExecuteShellCommand("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

// The group goes, not only the shell: a child it left in the background would
// otherwise keep running (and keep whatever it holds).
TEST_F(RealShell, HungCommandIsKilledWithItsWholeGroup) {
  const std::string line = "sleep 30 & echo $! > " + dir_ + "/pid; sleep 30";
  CaptureStderr();
  const int status = ExecuteShellCommand(line.c_str());
  const std::string log = GetCapturedStderr();
  EXPECT_TRUE(KilledBySigkill(status)) << status;
  EXPECT_NE(log.find("timed out, killed: " + line), std::string::npos) << log;
  const pid_t background = WrittenPid();
  ASSERT_GT(background, 0);
  EXPECT_TRUE(EndedWithin(background, std::chrono::seconds(10)));
}

TEST_F(RealShell, OutputIsReadToItsEnd) {
  FILE* out = OpenShellOutput("printf 'first\\nsecond\\n'");
  ASSERT_NE(out, nullptr);
  char line[64];
  std::string text;
  while (fgets(line, sizeof line, out)) text += line;
  EXPECT_EQ(text, "first\nsecond\n");
  EXPECT_EQ(CloseShellOutput(out), 0);
}

// A command that writes a little and then hangs: the reader sees what came,
// then the end of the output at the deadline, and the close reports the kill.
TEST_F(RealShell, HungOutputCommandEndsAtTheDeadline) {
  CaptureStderr();
  FILE* out = OpenShellOutput("echo partial; sleep 30");
  ASSERT_NE(out, nullptr);
  char line[64];
  std::string text;
  while (fgets(line, sizeof line, out)) text += line;
  const int status = CloseShellOutput(out);
  const std::string log = GetCapturedStderr();
  EXPECT_EQ(text, "partial\n");
  EXPECT_TRUE(KilledBySigkill(status)) << status;
  EXPECT_NE(log.find("timed out, killed: echo partial; sleep 30"), std::string::npos) << log;
}

}  // namespace
