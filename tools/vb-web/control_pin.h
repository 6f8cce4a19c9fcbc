// The page's control PIN: optional, kept in a file of its own (by default
// /etc/vantagebridge/web-pin, mode 0600) as a salted yescrypt hash from
// libcrypt, never in clear. No file: no PIN, the controls are open. A file
// that cannot be read or holds no hash locks the controls rather than open
// them: a damaged file must not switch the PIN off.
#pragma once

#include <string>
#include <string_view>

constexpr const char* kDefaultPinFile = "/etc/vantagebridge/web-pin";
constexpr size_t kShortestPin = 4;
constexpr size_t kLongestPin = 64;

// Whether pin may be a PIN (4 to 64 printable ASCII characters); the reason when not.
bool PinTextUsable(std::string_view pin, std::string* reason);

class ControlPin {
 public:
  explicit ControlPin(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  bool IsSet() const;
  // True when a PIN is set and pin is it.
  bool Matches(std::string_view pin) const;
  // Stores pin's hash in place of the file's content, or removes the file when
  // pin is empty. False with the reason.
  bool Store(std::string_view pin, std::string* error) const;

 private:
  std::string path_;
};
