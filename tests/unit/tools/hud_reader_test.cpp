// The tools' reader of "/hud_mem" on real shared memory under a private name:
// how it maps, follows a replaced object, and sorts copies by the counters.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "../../../tools/common/hud_reader.h"

namespace {

class HudReaderTest : public testing::Test {
 protected:
  void TearDown() override { shm_unlink(name_.c_str()); }

  // A new object of size bytes holding record (its first size bytes).
  void Make(const HudState& record, size_t size = sizeof(HudState)) {
    shm_unlink(name_.c_str());
    const int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, &record, size), static_cast<ssize_t>(size));
    close(fd);
  }

  const std::string name_ = "/vb_hud_reader_test_" + std::to_string(getpid());
};

TEST_F(HudReaderTest, CopiesAreWholeOnlyWhenBothPairsOfCountersAgree) {
  const struct {
    uint32_t camera_begun, camera_done, other_begun, other_done;
    HudCopy expected;
  } rows[] = {
      {0, 0, 0, 0, HudCopy::kConsistent},  // a record nobody counted in
      {12, 12, 7, 7, HudCopy::kConsistent},
      {13, 12, 7, 7, HudCopy::kTorn},  // the camera receive thread died in an update
      {12, 12, 9, 7, HudCopy::kTorn},  // two other writers in theirs
  };
  for (const auto& row : rows) {
    HudState record{};
    record.marker = kHudMarker;
    record.camera_updates_begun = row.camera_begun;
    record.camera_updates_done = row.camera_done;
    record.other_updates_begun = row.other_begun;
    record.other_updates_done = row.other_done;
    Make(record);
    HudReader reader(name_);
    ASSERT_TRUE(reader.Refresh());
    HudState copy{};
    EXPECT_EQ(reader.Snapshot(&copy), row.expected) << row.camera_begun << " " << row.other_begun;
    // Torn or not, the copy is the record as it stands.
    EXPECT_EQ(copy.marker, kHudMarker);
  }
}

TEST_F(HudReaderTest, SaysWhyItCannotMapAndFollowsAReplacedObject) {
  HudReader reader(name_);
  std::string error;
  HudState copy;
  EXPECT_FALSE(reader.Refresh(&error));
  EXPECT_NE(error.find(name_ + ": No such file or directory"), std::string::npos) << error;
  EXPECT_EQ(reader.Snapshot(&copy), HudCopy::kNotMapped);

  HudState record{};
  Make(record, 100);
  EXPECT_FALSE(reader.Refresh(&error));
  EXPECT_EQ(error, name_ + ": smaller than the 2728-byte record");

  std::strcpy(record.title, "first");
  Make(record);
  ASSERT_TRUE(reader.Refresh());
  ASSERT_EQ(reader.Snapshot(&copy), HudCopy::kConsistent);
  EXPECT_STREQ(copy.title, "first");

  // A new daemon on a cleaned /dev/shm: the old mapping would show the old record for ever.
  std::strcpy(record.title, "second");
  Make(record);
  ASSERT_TRUE(reader.Refresh());
  ASSERT_EQ(reader.Snapshot(&copy), HudCopy::kConsistent);
  EXPECT_STREQ(copy.title, "second");
}

}  // namespace
