// Priorities reach the journal as "<N>" prefixes only when standard error is
// the stream JOURNAL_STREAM names; anywhere else the lines stay plain.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/log.h"

namespace {

TEST(JournalPriorities, PrefixedOnlyWhenStandardErrorIsTheNamedStream) {
  testing::internal::CaptureStderr();
  struct stat st{};
  ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
  const std::string device = std::to_string(st.st_dev);
  const std::string inode = std::to_string(st.st_ino);
  const struct {
    std::string journal_stream;
    bool unset;
    const char* expected;
  } rows[] = {
      {device + ":" + inode, false, "<3>error 1\n<4>warning 1\n"},
      {device + ":" + std::to_string(st.st_ino + 1), false, "error 1\nwarning 1\n"},  // another stream
      {"0:" + inode, false, "error 1\nwarning 1\n"},
      {device + ":" + inode + "x", false, "error 1\nwarning 1\n"},
      {"", false, "error 1\nwarning 1\n"},
      {"", true, "error 1\nwarning 1\n"},  // not under systemd
  };
  std::string expected;
  for (const auto& row : rows) {
    UseJournalPriorities(StreamIsJournal(STDERR_FILENO, row.unset ? nullptr : row.journal_stream.c_str()));
    LogError("error %d\n", 1);
    LogWarning("warning %d\n", 1);
    expected += row.expected;
  }
  UseJournalPriorities(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
}

}  // namespace
