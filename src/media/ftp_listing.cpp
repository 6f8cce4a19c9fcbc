// The media listing thread: on request it lists the camera's DCIM directory over
// anonymous FTP, picks the newest media folder and its last file, and publishes
// "folder/file" in HudState for the display processes and the web page.
#include "media/ftp_listing.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/log.h"
#include "records/hud_state.h"
#include "records/media_request.h"
#include "records/usb_peer.h"

namespace {

constexpr size_t kListingAreaSize = 65000;
constexpr size_t kNameSize = 100;
constexpr int kDefaultFtpPort = 21;

// Owned by the listing thread (tests call ListNewestMedia with it idle).
char g_listing_area[kListingAreaSize];
char g_folder_name[kNameSize];
char g_file_name[kNameSize];

// Test seams; the mutex keeps a host text from being read half-written.
std::mutex g_server_mutex;
char g_server_host[64];
int g_server_port = kDefaultFtpPort;
// libcurl's defaults wait for ever on a server that accepts and then stalls.
constexpr MediaListingLimits kDefaultLimits{10000, 30000, 30, 300000};
MediaListingLimits g_limits = kDefaultLimits;

struct DownloadBuffer {
  char* data;
  size_t length;
  size_t limit;  // bytes kept; the destination holds no more than this
};

// libcurl's write callback: keeps the text NUL-terminated and grows it by each
// piece. Bytes past the limit are received but not stored, so a server that
// sends without end cannot exhaust memory.
size_t AppendPiece(char* data, size_t size, size_t count, void* user) {
  DownloadBuffer* buffer = static_cast<DownloadBuffer*>(user);
  if (count != 0 && size > SIZE_MAX / count) return 0;
  const size_t piece = size * count;
  size_t keep = 0;
  if (buffer->length < buffer->limit) keep = buffer->limit - buffer->length;
  if (keep > piece) keep = piece;
  if (keep == 0 && buffer->data != nullptr) return piece;
  char* grown = static_cast<char*>(realloc(buffer->data, buffer->length + keep + 1));
  if (grown == nullptr) {
    LogError("FTP: realloc() failed\n");
    return 0;
  }
  buffer->data = grown;
  memcpy(buffer->data + buffer->length, data, keep);
  buffer->length += keep;
  buffer->data[buffer->length] = '\0';
  return piece;
}

// Calls take(line_start, line_length) for each line of text, without the line
// feed and without carriage returns before it; stops at a NUL or length.
template <typename Take>
void ForEachLine(const char* text, size_t length, Take take) {
  if (text == nullptr) return;
  size_t start = 0;
  size_t i = 0;
  for (; i < length && text[i] != '\0'; ++i) {
    if (text[i] != '\n') continue;
    size_t end = i;
    while (end > start && text[end - 1] == '\r') --end;
    take(text + start, end - start);
    start = i + 1;
  }
  size_t end = i;
  while (end > start && text[end - 1] == '\r') --end;
  take(text + start, end - start);
}

bool ContainsMedia(const char* line, size_t length) {
  static constexpr char kWord[] = "MEDIA";
  constexpr size_t kWordLength = sizeof(kWord) - 1;
  for (size_t i = 0; i + kWordLength <= length; ++i) {
    if (memcmp(line + i, kWord, kWordLength) == 0) return true;
  }
  return false;
}

void CopyName(const char* line, size_t length, char* name, size_t capacity) {
  if (capacity == 0) return;
  if (length > capacity - 1) length = capacity - 1;
  memcpy(name, line, length);
  name[length] = '\0';
}

void ChooseLastLine(const char* text, size_t length, bool need_media, char* name,
                    size_t capacity) {
  const char* chosen = nullptr;
  size_t chosen_length = 0;
  ForEachLine(text, length, [&](const char* line, size_t line_length) {
    if (line_length == 0) return;
    if (need_media && !ContainsMedia(line, line_length)) return;
    chosen = line;
    chosen_length = line_length;
  });
  if (capacity == 0) return;
  name[0] = '\0';
  if (chosen != nullptr) CopyName(chosen, chosen_length, name, capacity);
}

// "ftp://<camera>/DCIM/", the camera being the sender of the control datagrams.
bool BuildBaseAddress(char* out, size_t capacity) {
  char host[sizeof(g_server_host)];
  int port = kDefaultFtpPort;
  {
    std::lock_guard<std::mutex> lock(g_server_mutex);
    memcpy(host, g_server_host, sizeof(host));
    port = g_server_port;
  }
  if (host[0] == '\0') {
    const in_addr address = CameraAddress().sin_addr;
    if (address.s_addr == 0) return false;  // the camera has not spoken yet
    if (inet_ntop(AF_INET, &address, host, sizeof(host)) == nullptr) return false;
  }
  int n = port == kDefaultFtpPort ? snprintf(out, capacity, "ftp://%s/DCIM/", host)
                                  : snprintf(out, capacity, "ftp://%s:%d/DCIM/", host, port);
  return n > 0 && static_cast<size_t>(n) < capacity;
}

void* RunMediaLister(void*) {
  pthread_setname_np(pthread_self(), "ftp-list");
  for (;;) {
    if (TakeMediaListingRequest()) ListNewestMedia();
    SleepMilliseconds(1000);
  }
  return nullptr;
}

// The transfer's sockets are close-on-exec, so a shell command run meanwhile
// cannot keep the camera's FTP connection open.
curl_socket_t OpenCloseOnExecSocket(void*, curlsocktype, curl_sockaddr* address) {
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Also called for a connection accepted in active mode, which the open
// callback never sees.
int MarkCloseOnExec(void*, curl_socket_t fd, curlsocktype) {
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return CURL_SOCKOPT_OK;
}

}  // namespace

MediaListingLimits DefaultMediaListingLimits() { return kDefaultLimits; }

void SetMediaListingLimits(const MediaListingLimits& limits) {
  std::lock_guard<std::mutex> lock(g_server_mutex);
  g_limits = limits;
}

void SetMediaListingServer(const char* host, int port) {
  std::lock_guard<std::mutex> lock(g_server_mutex);
  g_server_host[0] = '\0';
  g_server_port = kDefaultFtpPort;
  if (host == nullptr) return;
  snprintf(g_server_host, sizeof(g_server_host), "%s", host);
  g_server_port = port;
}

void ChooseMediaFolder(const char* text, size_t length, char* name, size_t capacity) {
  ChooseLastLine(text, length, true, name, capacity);
}

void ChooseMediaFile(const char* text, size_t length, char* name, size_t capacity) {
  ChooseLastLine(text, length, false, name, capacity);
}

void FormatLastMediaFile(const char* folder, const char* file, char (&out)[40]) {
  // The cut is wanted: the display has room for 39 characters.
  memset(out, 0, sizeof(out));
  size_t n = 0;
  for (const char* part : {folder, "/", file}) {
    for (; *part != '\0' && n < sizeof(out) - 1; ++part) out[n++] = *part;
  }
}

void FetchDirectory(const char* url, char* dest, size_t capacity) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return;
  MediaListingLimits limits{};
  {
    std::lock_guard<std::mutex> lock(g_server_mutex);
    limits = g_limits;
  }
  DownloadBuffer buffer{static_cast<char*>(malloc(1)), 0, capacity > 0 ? capacity - 1 : 0};
  if (buffer.data == nullptr) {
    LogError("FTP: malloc() failed\n");
  } else {
    buffer.data[0] = '\0';
  }
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendPiece);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenCloseOnExecSocket);
  curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, MarkCloseOnExec);
  // Threaded process: time-outs must not use signals.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, (limits.response_ms + 999) / 1000);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.stall_s);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.total_ms);
  if (curl_easy_perform(curl) != CURLE_OK) LogWarning("FTP list failed\n");
  if (capacity > 0) {
    memset(dest, 0, capacity);
    if (buffer.data != nullptr) {
      size_t n = buffer.length < capacity - 1 ? buffer.length : capacity - 1;
      memcpy(dest, buffer.data, n);
    }
  }
  free(buffer.data);
  curl_easy_cleanup(curl);
}

void ListNewestMedia() {
  memset(g_listing_area, 0, sizeof(g_listing_area));
  memset(g_folder_name, 0, sizeof(g_folder_name));
  memset(g_file_name, 0, sizeof(g_file_name));

  char base[64] = "";
  const bool have_base = BuildBaseAddress(base, sizeof(base));
  if (have_base) {
    FetchDirectory(base, g_listing_area, sizeof(g_listing_area));
  } else {
    LogWarning("FTP list failed\n");
  }
  ChooseMediaFolder(g_listing_area, sizeof(g_listing_area), g_folder_name, sizeof(g_folder_name));

  char folder_address[sizeof(base) + kNameSize + 1];
  snprintf(folder_address, sizeof(folder_address), "%s%s/", base, g_folder_name);
  memset(g_listing_area, 0, sizeof(g_listing_area));
  memset(g_file_name, 0, sizeof(g_file_name));

  if (have_base && g_folder_name[0] != '\0') {
    FetchDirectory(folder_address, g_listing_area, sizeof(g_listing_area));
    ChooseMediaFile(g_listing_area, sizeof(g_listing_area), g_file_name, sizeof(g_file_name));
  }
  if (g_folder_name[0] != '\0' && g_file_name[0] != '\0') {
    char result[40];
    FormatLastMediaFile(g_folder_name, g_file_name, result);
    StoreHudLastMediaFile(result);
    fprintf(stderr, "%s\n", result);
    return;
  }
  fprintf(stderr, "FTP: empty result\n");
  StoreHudLastMediaFile("");
}

void StartMediaListing() {
  fprintf(stderr, "Init FTP\n");
  // libcurl's global set-up is not thread-safe: do it here, before any fetch.
  curl_global_init(CURL_GLOBAL_DEFAULT);
  TakeMediaListingRequest();  // none before the thread runs
  pthread_t thread;
  pthread_create(&thread, nullptr, RunMediaLister, nullptr);
}
