#include "core/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>

namespace kesta {

namespace {

// The process's file-creation mask, read without changing it where the
// system tells it (a umask() round trip would race with other threads).
mode_t current_umask() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
      } catch (...) {
        break;
      }
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) return;
  // A symbolic link is kept: the file it points to is the one replaced.
  struct stat link {};
  if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const auto target = std::filesystem::canonical(path_, ec);
    if (!ec) path_ = target.string();
  }
  std::string pattern = path_ + ".tmpXXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return;
  temp_path_ = pattern;

  // The new file gets the old one's permissions, or the usual ones for a new file.
  struct stat old {};
  const mode_t mode =
      ::stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~current_umask());
  (void)::fchmod(fd, mode);

  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    ::close(fd);
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

AtomicFile::~AtomicFile() { abandon(); }

bool AtomicFile::write(const void* data, std::size_t size) {
  if (!ok()) return false;
  if (size == 0) return true;
  if (std::fwrite(data, 1, size, file_) != size) failed_ = true;
  return !failed_;
}

bool AtomicFile::write(std::span<const std::byte> bytes) { return write(bytes.data(), bytes.size()); }

bool AtomicFile::write(std::string_view text) { return write(text.data(), text.size()); }

bool AtomicFile::write_line(std::string_view text) { return write(text) && write("\n", 1); }

bool AtomicFile::commit() {
  if (finished_) return committed_;
  if (file_ == nullptr) {
    finished_ = true;
    return false;
  }
  bool good = !failed_ && std::ferror(file_) == 0;
  good = good && std::fflush(file_) == 0;
  good = good && ::fsync(::fileno(file_)) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  good = good && closed;
  good = good && ::rename(temp_path_.c_str(), path_.c_str()) == 0;
  finished_ = true;
  if (!good) {
    ::unlink(temp_path_.c_str());
    return false;
  }
  committed_ = true;
  temp_path_.clear();
  return true;
}

void AtomicFile::abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  finished_ = true;
}

}  // namespace kesta
