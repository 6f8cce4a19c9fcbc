#include "static_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr int kMaxDepth = 3;
constexpr size_t kMaxTotalBytes = 8u << 20;

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool ReadFolder(const std::string& folder, const std::string& prefix, int depth, size_t* total,
                std::map<std::string, StaticFile, std::less<>>* files, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = "cannot read " + folder;
    return false;
  }
  bool ok = true;
  for (;;) {
    // readdir returns null both at the end and on an error: only errno tells
    // them apart, and a folder cut short would lose files without a word.
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) {
      if (errno != 0) {
        *error = "cannot read " + folder + ": " + strerror(errno);
        ok = false;
      }
      break;
    }
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden files and editors' leftovers stay private
    const std::string path = folder + "/" + name;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // gone since the listing
      *error = "cannot read " + path + ": " + strerror(errno);
      ok = false;
      break;
    }
    if (S_ISDIR(st.st_mode)) {
      if (depth < kMaxDepth) ok = ReadFolder(path, prefix + name + "/", depth + 1, total, files, error) && ok;
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    *total += static_cast<size_t>(st.st_size);
    if (*total > kMaxTotalBytes) {
      *error = "the page's files are larger than " + std::to_string(kMaxTotalBytes >> 20) + " MiB";
      ok = false;
      break;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    (*files)[prefix + name] = StaticFile{content.str(), ContentTypeFor(name)};
  }
  closedir(dir);
  return ok;
}

}  // namespace

const char* ContentTypeFor(std::string_view name) {
  struct Type {
    const char* end;
    const char* type;
  };
  static constexpr Type kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"}, {".svg", "image/svg+xml"},
      {".png", "image/png"}, {".ico", "image/x-icon"}, {".json", "application/json"},
      {".webmanifest", "application/manifest+json"}, {".txt", "text/plain; charset=utf-8"},
  };
  for (const Type& t : kTypes) {
    if (EndsWith(name, t.end)) return t.type;
  }
  return "application/octet-stream";
}

bool StaticFiles::Load(const std::string& root, std::string* error) {
  files_.clear();
  size_t total = 0;
  if (!ReadFolder(root, "/", 0, &total, &files_, error)) return false;
  if (!files_.count("/index.html")) {
    *error = root + " holds no index.html";
    return false;
  }
  return true;
}

const StaticFile* StaticFiles::Find(std::string_view path) const {
  if (path == "/") path = "/index.html";
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}
