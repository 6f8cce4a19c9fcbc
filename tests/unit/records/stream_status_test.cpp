// vb-stream's status file as its readers take it: fresh or stale by its
// stamp on the shared monotonic clock, and nothing but numbers believed.
#include "records/stream_status.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(StreamStatus, ReadersJudgeTheStampAndTheValues) {
  StreamStatus written;
  written.registered = written.janus = true;
  written.pictures = 30;
  written.browsers = 2;
  struct Row {
    const char* what;
    std::string text;
    uint32_t now_ms;
    bool fresh, running;
    int browsers;
  };
  const Row rows[] = {
      {"just written", FormatStreamStatus(written, 1000), 1500, true, true, 2},
      {"2.9 s old", FormatStreamStatus(written, 1000), 3900, true, true, 2},
      {"3 s old: the writer stopped or hangs", FormatStreamStatus(written, 1000), 4000, false, false, 2},
      {"across the clock's wrap", FormatStreamStatus(written, 0xFFFFFF00u), 0x200, true, true, 2},
      {"no stamp", "registered=1\npictures=30\njanus=1\nbrowsers=2\n", 0, false, false, 2},
      {"no pictures: not running", "updated_ms=10\npictures=0\njanus=1\nbrowsers=1\n", 20, true, false, 1},
      {"no Janus: not running", "updated_ms=10\npictures=30\njanus=0\n", 20, true, false, 0},
      {"values that are no numbers count as missing",
       "updated_ms=10\npictures=30x\njanus=1\nbrowsers=-4\nbrowsers=\n", 20, true, false, 0},
  };
  for (const Row& row : rows) {
    const StreamStatus read = ParseStreamStatus(row.text, row.now_ms);
    EXPECT_EQ(read.fresh, row.fresh) << row.what;
    EXPECT_EQ(StreamRunning(read), row.running) << row.what;
    EXPECT_EQ(read.browsers, row.browsers) << row.what;
  }
}

TEST(StreamStatus, AFileWrittenIsReadBackAndAMissingOneIsNotFresh) {
  const std::string path = "/tmp/vb-stream-status-test-" + std::to_string(getpid());
  StreamStatus written;
  written.registered = written.janus = true;
  written.pictures = 25;
  written.browsers = 3;
  std::string error;
  ASSERT_TRUE(WriteStreamStatus(path, written, &error)) << error;
  const StreamStatus read = ReadStreamStatus(path);
  EXPECT_TRUE(read.fresh && read.registered && read.janus);
  EXPECT_EQ(read.pictures, 25);
  EXPECT_EQ(read.browsers, 3);
  unlink(path.c_str());
  EXPECT_FALSE(ReadStreamStatus(path).fresh);
  EXPECT_FALSE(WriteStreamStatus("/nonexistent-folder/status", written, &error));
  EXPECT_NE(error.find("/nonexistent-folder/status"), std::string::npos);
}

}  // namespace
