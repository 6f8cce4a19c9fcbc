// Choosing the media folder and file from listing texts, and the published text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/ftp_listing.h"

namespace {

std::string Folder(const std::string& listing) {
  char name[100];
  memset(name, 'x', sizeof(name));
  ChooseMediaFolder(listing.data(), listing.size(), name, sizeof(name));
  return name;
}

std::string File(const std::string& listing) {
  char name[100];
  memset(name, 'x', sizeof(name));
  ChooseMediaFile(listing.data(), listing.size(), name, sizeof(name));
  return name;
}

TEST(MediaFolderChoice, LastNonEmptyLineContainingMedia) {
  struct Case {
    std::string listing;
    const char* folder;
  };
  const Case cases[] = {
      {"100MEDIA\n101MEDIA\nMISC", "101MEDIA"},
      {"100MEDIA\n101MEDIA\nMISC\n", "101MEDIA"},
      {"100MEDIA\r\n101MEDIA\r\nMISC\r\n", "101MEDIA"},
      {"101MEDIA\n100MEDIA\n", "100MEDIA"},  // the last line, not the highest number
      {"MISC\nPANORAMA\n", ""},
      {"", ""},
      {"\n\n\n", ""},
      {"100media\n", ""},  // the word is matched exactly as written
      {"x MEDIA y\n\n", "x MEDIA y"},
      {"MEDIA\r\r\n", "MEDIA"},
      {std::string("100MEDIA\n\0" "999MEDIA\n", 19), "100MEDIA"},  // a NUL ends the text
      {"\xff\xfeMEDIA\x01\x7f\n\x80\n", "\xff\xfeMEDIA\x01\x7f"},  // binary bytes are kept
  };
  for (const Case& c : cases) EXPECT_EQ(Folder(c.listing), c.folder) << c.listing;
}

TEST(MediaFileChoice, LastNonEmptyLine) {
  struct Case {
    std::string listing;
    const char* file;
  };
  const Case cases[] = {
      {"DJI_0001.JPG\nDJI_0002.MOV", "DJI_0002.MOV"},
      {"DJI_0001.JPG\nDJI_0002.MOV\n", "DJI_0002.MOV"},
      {"DJI_0001.JPG\n\n\n", "DJI_0001.JPG"},
      {"DJI_0001.JPG\r\nDJI_0002.MOV\r\n", "DJI_0002.MOV"},
      {"\r\n", ""},
      {"", ""},
      {"\xff\xfeMEDIA\x01\x7f\n\x80\n", "\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(File(c.listing), c.file) << c.listing;
}

TEST(MediaChoice, NamesLongerThanTheirFieldAreCut) {
  const std::string long_name = std::string(150, 'A') + "MEDIA";
  char name[100 + 8];
  memset(name, '#', sizeof(name));
  ChooseMediaFolder(long_name.data(), long_name.size(), name, 100);
  EXPECT_EQ(std::string(name), std::string(99, 'A'));
  for (size_t i = 100; i < sizeof(name); ++i) EXPECT_EQ(name[i], '#') << "byte " << i;

  memset(name, '#', sizeof(name));
  ChooseMediaFile(long_name.data(), long_name.size(), name, 100);
  EXPECT_EQ(strlen(name), 99u);
  for (size_t i = 100; i < sizeof(name); ++i) EXPECT_EQ(name[i], '#') << "byte " << i;
}

TEST(MediaChoice, NeverReadsPastTheGivenLength) {
  // No NUL anywhere: the buffer is exactly as long as the text, so a read past
  // it is caught by the address sanitizer.
  const char text[] = {'1', '0', '0', 'M', 'E', 'D', 'I', 'A', '\n', '1', '0', '1', 'M', 'E', 'D'};
  std::vector<char> exact(text, text + sizeof(text));
  char name[100];
  ChooseMediaFolder(exact.data(), exact.size(), name, sizeof(name));
  EXPECT_STREQ(name, "100MEDIA");
  ChooseMediaFile(exact.data(), exact.size(), name, sizeof(name));
  EXPECT_STREQ(name, "101MED");
}

TEST(MediaChoice, HundredThousandLines) {
  std::string listing;
  for (int i = 0; i < 100000; ++i) listing += "DJI_" + std::to_string(i) + ".JPG\n";
  EXPECT_EQ(File(listing), "DJI_99999.JPG");
  EXPECT_EQ(Folder(listing), "");
}

TEST(LastMediaFileText, FolderSlashFileAndZerosAfter) {
  char out[40];
  memset(out, 'x', sizeof(out));
  FormatLastMediaFile("101MEDIA", "DJI_0002.MOV", out);
  EXPECT_STREQ(out, "101MEDIA/DJI_0002.MOV");
  for (size_t i = strlen(out); i < sizeof(out); ++i) EXPECT_EQ(out[i], 0) << "byte " << i;
  // The cut to 39 is checked through the published text of the listing's test.
}

}  // namespace
