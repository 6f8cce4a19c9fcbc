// The page's files, read once at start from the root folder into memory:
// only what was there then can be served, so no request path ever reaches
// the file system.
#pragma once

#include <map>
#include <string>
#include <string_view>

struct StaticFile {
  std::string content;
  const char* type;  // Content-Type
};

class StaticFiles {
 public:
  // Reads the regular files of root and its subfolders (a few levels, a few
  // megabytes at most). False with a reason when root holds no index.html.
  bool Load(const std::string& root, std::string* error);
  // The file for a request path ("/" is "/index.html"), or nullptr.
  const StaticFile* Find(std::string_view path) const;
  size_t Count() const { return files_.size(); }

 private:
  std::map<std::string, StaticFile, std::less<>> files_;
};

// Content-Type by file name ending; "application/octet-stream" when unknown.
const char* ContentTypeFor(std::string_view name);
