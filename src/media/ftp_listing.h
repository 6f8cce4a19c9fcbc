// The newest media file on the camera, asked for over FTP after each capture
// (records/media_request.h); requests within a second, or while one runs, merge.
#pragma once

#include <cstddef>
#include <cstdint>

void StartMediaListing();

// One listing: DCIM, then the newest media folder; publishes "folder/file" in
// HudState last_media_file or clears it. The listing thread runs this.
void ListNewestMedia();

// Lists one FTP directory (names only) into dest, NUL-terminated and cut to
// capacity. dest is left untouched when no transfer could be set up.
void FetchDirectory(const char* url, char* dest, size_t capacity);

// Choosing over a listing text of at most length bytes (it ends earlier at a
// NUL). Lines end at line feeds; a carriage return before the line feed is not
// part of the name. The name is cut to fit capacity with its NUL; "" if none.
// The folder is the last non-empty line containing "MEDIA"; the file is the
// last non-empty line.
void ChooseMediaFolder(const char* text, size_t length, char* name, size_t capacity);
void ChooseMediaFile(const char* text, size_t length, char* name, size_t capacity);

// "folder/file" cut to 39 characters, the rest of the 40 bytes zero.
void FormatLastMediaFile(const char* folder, const char* file, char (&out)[40]);

// The FTP server asked: by default the address the camera's control datagrams
// come from, port 21. Tests point it elsewhere; host nullptr restores the default.
void SetMediaListingServer(const char* host, int port);

// How long a fetch may wait: for the connection and greeting, for each answer
// of the server, with no data flowing (below 1 byte/s), and in all.
struct MediaListingLimits {
  long connect_ms;
  long response_ms;
  long stall_s;
  long total_ms;
};
void SetMediaListingLimits(const MediaListingLimits& limits);
MediaListingLimits DefaultMediaListingLimits();
