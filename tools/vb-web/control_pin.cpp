#include "control_pin.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// yescrypt at libcrypt's default cost: a guess costs the guesser real time.
constexpr const char* kHashPrefix = "$y$";
constexpr size_t kLongestFile = 512;

bool ReadStored(const std::string& path, std::string* hash) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char text[kLongestFile];
  const ssize_t n = read(fd, text, sizeof text);
  close(fd);
  if (n <= 0) return false;
  hash->assign(text, static_cast<size_t>(n));
  const size_t end = hash->find_first_of("\r\n");
  if (end != std::string::npos) hash->resize(end);
  return true;
}

// Written beside the file, flushed, then renamed over it: a power cut leaves
// the old PIN or the new one, never half of either.
bool Replace(const std::string& path, const std::string& content, std::string* error) {
  const std::string folder = path.rfind('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  mkdir(folder.c_str(), 0755);  // the package's folder, on a box set up by hand
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  const bool written = fchmod(fd, 0600) == 0 &&
                       write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
                       fsync(fd) == 0;
  const int saved_errno = errno;
  close(fd);
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(written ? errno : saved_errno);
    unlink(temporary.c_str());
    return false;
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

}  // namespace

bool PinTextUsable(std::string_view pin, std::string* reason) {
  if (pin.size() < kShortestPin || pin.size() > kLongestPin) {
    *reason = "a PIN has " + std::to_string(kShortestPin) + " to " + std::to_string(kLongestPin) + " characters";
    return false;
  }
  for (char c : pin) {
    if (c < 0x20 || c > 0x7e) {
      *reason = "a PIN has printable ASCII characters only";
      return false;
    }
  }
  return true;
}

bool ControlPin::IsSet() const {
  struct stat st{};
  return lstat(path_.c_str(), &st) == 0 || errno != ENOENT;
}

bool ControlPin::Matches(std::string_view pin) const {
  std::string stored;
  if (pin.empty() || pin.size() > kLongestPin || !ReadStored(path_, &stored) || stored.rfind("$", 0) != 0) {
    return false;
  }
  auto data = std::make_unique<crypt_data>();
  const std::string text(pin);
  const char* hashed = crypt_r(text.c_str(), stored.c_str(), data.get());
  // crypt_r answers a failure with a text starting "*", which no stored hash is.
  if (hashed == nullptr || hashed[0] == '*') return false;
  const size_t n = std::strlen(hashed);
  if (n != stored.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < n; ++i) differ |= static_cast<unsigned char>(hashed[i] ^ stored[i]);
  return differ == 0;
}

bool ControlPin::Store(std::string_view pin, std::string* error) const {
  if (pin.empty()) {
    if (unlink(path_.c_str()) != 0 && errno != ENOENT) {
      *error = "cannot remove " + path_ + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (!PinTextUsable(pin, error)) return false;
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  // No random bytes given: libcrypt takes them from the kernel (getrandom).
  if (crypt_gensalt_rn(kHashPrefix, 0, nullptr, 0, salt, sizeof salt) == nullptr) {
    *error = "no salt from libcrypt: " + std::string(std::strerror(errno));
    return false;
  }
  auto data = std::make_unique<crypt_data>();
  const std::string text(pin);
  const char* hashed = crypt_r(text.c_str(), salt, data.get());
  if (hashed == nullptr || hashed[0] == '*') {
    *error = "libcrypt could not hash the PIN";
    return false;
  }
  return Replace(path_, std::string(hashed) + "\n", error);
}
