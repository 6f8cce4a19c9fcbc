// Listing text -> the media folder and file choice and the published text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/ftp_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  // Field sizes as the listing uses them, plus a tiny one for the edges.
  char folder[100];
  char file[100];
  char tiny[2];
  ChooseMediaFolder(text, size, folder, sizeof(folder));
  ChooseMediaFile(text, size, file, sizeof(file));
  ChooseMediaFile(text, size, tiny, sizeof(tiny));
  if (strnlen(folder, sizeof(folder)) == sizeof(folder) || strnlen(file, sizeof(file)) == sizeof(file) ||
      strnlen(tiny, sizeof(tiny)) == sizeof(tiny)) {
    abort();  // a name without its terminating NUL
  }
  char out[40];
  FormatLastMediaFile(folder, file, out);
  if (out[39] != '\0') abort();
  return 0;
}
