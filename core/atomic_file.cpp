#include "core/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "core/io_output.hpp"
#include "core/status.hpp"

namespace kesta {

namespace {

// The longest file name the folder of PATH takes (255 on the usual file
// systems).
std::size_t longest_name(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const long longest = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return longest > 0 ? static_cast<std::size_t>(longest) : 255;
}

// True when the last component of PATH is longer than its folder takes:
// open() refuses such a name for its own length.
bool name_too_long(const std::string& path) {
  return std::filesystem::path(path).filename().string().size() > longest_name(path);
}

// PATH with ".tmp" after it, its last component cut short where the ten
// characters added would pass the longest name its folder takes: any name
// open() would take has a temporary beside it.
std::string temporary_stem(const std::string& path) {
  constexpr std::size_t kAdded = 10;  // ".tmp" and six letters
  const std::size_t slash = path.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t longest = longest_name(path);
  std::string stem = path;
  if (longest > kAdded && path.size() - start > longest - kAdded)
    stem.resize(start + longest - kAdded);
  return stem + ".tmp";
}

// Creates a new file named PATH (cut short as temporary_stem says) and six
// characters after it, with MODE as open() takes it: the system applies the
// umask, or the folder's default ACL where it has one, exactly as it would
// to a file opened under the target's name. NAME is the name made; -1 with
// errno when none could be.
int create_temporary(const std::string& path, mode_t mode, std::string& name) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<std::uint64_t> counter{0};
  const std::string stem = temporary_stem(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // A different name each time: the clock, the process and a count,
    // mixed (splitmix64).
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::uint64_t bits = static_cast<std::uint64_t>(now) ^
                         static_cast<std::uint64_t>(::getpid()) << 32 ^
                         ++counter * 0x9e3779b97f4a7c15ULL;
    bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9ULL;
    bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebULL;
    bits ^= bits >> 31;
    name = stem;
    for (int k = 0; k < 6; ++k, bits /= 62) name += kLetters[bits % 62];
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The folder part of PATH ("." for a bare name).
std::string folder_of(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

// PATH with every symbolic link along its last component followed, whether
// or not the final target exists yet. A chain longer than the system follows
// (40 links; a loop is one) leaves LOOP true: the name stands for no file,
// and a new file must not be put in place of its last link.
std::string followed_links(std::string path, bool& loop) {
  loop = false;
  for (int k = 0; k < 40; ++k) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) return path;
    path = target.is_absolute() ? target.string()
                                : (std::filesystem::path(path).parent_path() / target).string();
  }
  struct stat last {};
  loop = ::lstat(path.c_str(), &last) == 0 && S_ISLNK(last.st_mode);
  return path;
}

// True when the access ACL stored as VALUE (the system's binary form: a
// 4-byte version, then 8-byte entries of a 2-byte tag, 2-byte permissions
// and a 4-byte id) names a user or group besides the owner's, the group's
// and the others' entries that the mode bits hold. A form not understood
// counts as such an ACL.
bool acl_beyond_mode(const std::string& value) {
  constexpr std::size_t kHeader = 4, kEntry = 8;
  constexpr unsigned kNamedUser = 0x02, kNamedGroup = 0x08, kMask = 0x10;
  if (value.size() < kHeader || (value.size() - kHeader) % kEntry != 0) return true;
  for (std::size_t at = kHeader; at < value.size(); at += kEntry) {
    const unsigned tag = static_cast<unsigned char>(value[at]) |
                         static_cast<unsigned>(static_cast<unsigned char>(value[at + 1])) << 8;
    if (tag == kNamedUser || tag == kNamedGroup || tag == kMask) return true;
  }
  return false;
}

// The value of the extended attribute NAME of PATH; empty when it has none.
std::string attribute_value(const std::string& path, const char* name) {
  for (;;) {
    const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
    if (size <= 0) return {};
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::getxattr(path.c_str(), name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) return {};
  }
}

// True when the file PATH holds something a new file would not get from its
// owner, group and mode: an ACL beyond the mode bits (whose group bits then
// hold the ACL's mask, not the group's permissions), or an extended
// attribute other than the security ones, which the system gives each new
// file itself. A file system without extended attributes has neither.
bool holds_more_than_mode(const std::string& path) {
  std::string names;
  for (;;) {
    const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
    if (size <= 0) return false;
    names.assign(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return false;
  }
  constexpr std::string_view kAccessAcl = "system.posix_acl_access";
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = std::min(names.find('\0', at), names.size());
    const std::string_view name(names.data() + at, end - at);
    at = end + 1;
    if (name.empty() || name.starts_with("security.")) continue;
    if (name != kAccessAcl) return true;
    if (acl_beyond_mode(attribute_value(path, std::string(kAccessAcl).c_str()))) return true;
  }
  return false;
}

// True for the kernel's own file systems (/proc, /sys and their kin), whose
// files are settings rather than data: they are never written in place.
bool kernel_file_system(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0UL:      // proc
    case 0x62656572UL:  // sysfs
    case 0x27e0ebUL:    // cgroup
    case 0x63677270UL:  // cgroup2
    case 0x64626720UL:  // debugfs
    case 0x74726163UL:  // tracefs
    case 0x73636673UL:  // securityfs
    case 0x62656570UL:  // configfs
    case 0xcafe4a11UL:  // bpf
    case 0x6e736673UL:  // nsfs
      return true;
    default:
      return false;
  }
}

// Gives the file open on FD the owner and group of OLD where they differ;
// false when the system refuses.
bool same_owner(int fd, const struct stat& old) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if (now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
  return ::fchown(fd, now.st_uid == old.st_uid ? static_cast<uid_t>(-1) : old.st_uid,
                  now.st_gid == old.st_gid ? static_cast<gid_t>(-1) : old.st_gid) == 0;
}

// The file open on FD without an access ACL (a new file takes one from its
// folder's default ACL): its mode bits alone then give its access. True
// when it had none, or where the file system has no ACLs.
bool without_access_acl(int fd) {
  return ::fremovexattr(fd, "system.posix_acl_access") == 0 || errno == ENODATA ||
         errno == ENOTSUP;
}

// Writes all of BYTES to FD, going on after interruptions and short writes.
bool write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void AtomicFile::note(std::string text) {
  if (error_.empty()) error_ = std::move(text);
}

// WHAT, the system's reason, and what became of the target.
void AtomicFile::note_errno(std::string_view what, int code) {
  std::string text(what);
  if (code != 0) text += std::string(": ") + std::strerror(code);
  if (error_.empty()) cause_ = text;
  text += target_fd_ >= 0 && !in_place_ ? ", so nothing was written to it"
          : existed_                      ? ", so the file was not changed"
                                          : ", so no file was written";
  note(std::move(text));
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    note("no file name was given");
    return;
  }
  if (io_is_standard_input(path_)) {
    note("it is the program's own standard input");
    return;
  }
  if (io_is_running_macro(path_)) {
    note("it is the running macro");
    return;
  }
  // A symbolic link is kept: the file it points to is the one written. A
  // loop of links names no file, and is left as it is.
  bool loop = false;
  std::string followed = followed_links(path_, loop);
  if (loop) {
    note_errno("cannot open it for writing", ELOOP);
    return;
  }
  path_ = std::move(followed);
  if (name_too_long(path_)) {
    note_errno("cannot open it for writing", ENAMETOOLONG);
    return;
  }
  struct stat old {};
  existed_ = ::stat(path_.c_str(), &old) == 0;
  if (existed_ && S_ISDIR(old.st_mode)) {
    note("it is a directory, not a file");
    return;
  }
  if (existed_ && !S_ISREG(old.st_mode)) {
    // A device or named pipe gets the bytes itself. Not blocking on the open:
    // a pipe that nobody reads would otherwise hold the program for ever.
    target_fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (target_fd_ < 0) {
      const int code = errno;
      note(code == ENXIO && S_ISFIFO(old.st_mode)
               ? std::string("no program is reading from the named pipe")
               : std::string("cannot open it for writing: ") + std::strerror(code));
      return;
    }
    const int flags = ::fcntl(target_fd_, F_GETFL);
    if (flags >= 0) (void)::fcntl(target_fd_, F_SETFL, flags & ~O_NONBLOCK);
    file_ = std::tmpfile();
    if (file_ == nullptr) {
      const int code = errno;
      note(std::string("cannot make a temporary file for it: ") + std::strerror(code));
      ::close(target_fd_);
      target_fd_ = -1;
    }
    return;
  }

  // A file with other names (hard links) is written in place: a new file
  // renamed over this name would leave the other names with the old bytes.
  // So is one with an ACL or extended attributes, which a new file would
  // not have (and its mode's group bits, an ACL's mask, would give the
  // group what the ACL gave a named user).
  if (existed_ && (old.st_nlink > 1 || holds_more_than_mode(path_))) {
    write_in_place();
    return;
  }

  // A new file is made as open() would make it under the target's name. A
  // file that replaces an old one starts private, takes the old one's owner
  // and group, loses the access ACL the folder's default ACL gave it (the
  // old file had none beyond its mode bits, or it would be written in place)
  // and then takes the old one's mode.
  std::string name;
  const int fd = create_temporary(path_, existed_ ? 0600 : 0666, name);
  if (fd < 0) {
    const int code = errno;
    // A folder that takes no new files may still hold a file the user can
    // write: that file is written in place, as any program writing a file
    // would; one that may not be opened for writing says why, as opening it
    // would (a file of /proc answers so, where the folder says "No such
    // file or directory").
    if (existed_ && in_place_instead(code)) return;
    // A folder that is there but takes no new files (/proc, /sys) answers
    // the creation with "No such file or directory": the reason is then the
    // new file's, not the folder's.
    const std::string folder = folder_of(path_);
    struct stat where {};
    const bool folder_there = ::stat(folder.c_str(), &where) == 0 && S_ISDIR(where.st_mode);
    note_errno(code == ENOENT && folder_there
                   ? "cannot create a new file in the folder \"" + folder + "\""
                   : "cannot write in the folder \"" + folder + "\"",
               code);
    return;
  }
  temp_path_ = name;

  // A file is replaced only when its user could have opened it for writing:
  // the rename would otherwise pass over the file's own permission (another
  // user's file, or the user's own made read-only).
  if (existed_ && ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) {
    const int code = errno;
    ::close(fd);
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    note_errno("cannot open it for writing", code);
    return;
  }

  // The new file gets the old one's owner, group, access and permissions.
  // The owner comes first: giving a file away clears its set-user and
  // set-group bits. Where they cannot be given (another user's file,
  // written by one who may not give files away), the old file is written
  // in place, as opening it would.
  if (existed_ && !(same_owner(fd, old) && without_access_acl(fd) &&
                    ::fchmod(fd, old.st_mode & 07777) == 0)) {
    ::close(fd);
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
    write_in_place();
    return;
  }

  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int code = errno;
    note_errno("cannot write in the folder \"" + folder_of(path_) + "\"", code);
    ::close(fd);
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

// The old file opened for writing, without blocking (a named pipe put in
// its place meanwhile is refused): -1 with errno when it may not be, and
// with KERNEL true for a file of the kernel's own file systems, which is
// never written.
int AtomicFile::open_old_file(bool& kernel) const {
  kernel = false;
  const int target = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (target < 0) return -1;
  struct stat now {};
  if (::fstat(target, &now) != 0 || !S_ISREG(now.st_mode) || kernel_file_system(target)) {
    kernel = S_ISREG(now.st_mode);
    ::close(target);
    errno = 0;
    return -1;
  }
  return target;
}

// The folder refused the temporary file with CODE: the old file is written
// in place when the folder took no new file because of its permissions and
// the file itself may be written. A folder that takes no new file for
// another reason (/proc answers "No such file or directory") is no reason
// for an old file: one that may not be opened for writing is refused for
// its own reason, as opening it would be. False, with nothing noted, when
// the folder's refusal is the reason.
bool AtomicFile::in_place_instead(int code) {
  const bool permission = code == EACCES || code == EPERM;
  bool kernel = false;
  const int target = open_old_file(kernel);
  if (target < 0) {
    const int own = errno;
    if (permission && !kernel) return false;
    refuse_old_file(kernel, own);
    return true;
  }
  if (!permission) {
    ::close(target);
    return false;
  }
  open_in_place(target);
  return true;
}

// The note for an old file that could not be opened for writing (errno
// CODE), or that belongs to the kernel's own file systems.
void AtomicFile::refuse_old_file(bool kernel, int code) {
  if (kernel)
    note("it is a file of the kernel's own file system, which holds settings, not data, so "
         "the file was not changed");
  else
    note_errno("cannot open it for writing", code);
}

// The bytes are gathered in a temporary file of the system's temporary folder
// (named, so that its writers may read back what they wrote) and copied over
// the old file's start at the commit, which is then cut to their length: the
// old file, open for writing on TARGET, is untouched until every write to the
// temporary file succeeded.
void AtomicFile::open_in_place(int target) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  std::string pattern = ((ec ? std::filesystem::path("/tmp") : folder) / "kesta-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    const int code = errno;
    ::close(target);
    note_errno("cannot make a temporary file for it in \"" +
                   std::filesystem::path(pattern).parent_path().string() + "\"",
               code);
    return;
  }
  file_ = ::fdopen(fd, "w+b");
  if (file_ == nullptr) {
    const int code = errno;
    ::close(fd);
    ::close(target);
    ::unlink(pattern.c_str());
    note_errno("cannot make a temporary file for it", code);
    return;
  }
  temp_path_ = pattern;
  target_fd_ = target;
  in_place_ = true;
}

// The old file written in place, or refused with the reason it could not
// be opened for writing.
void AtomicFile::write_in_place() {
  bool kernel = false;
  const int target = open_old_file(kernel);
  if (target < 0) {
    refuse_old_file(kernel, errno);
    return;
  }
  open_in_place(target);
}

AtomicFile::~AtomicFile() { abandon(); }

bool AtomicFile::write(const void* data, std::size_t size) {
  if (!ok()) return false;
  if (size == 0) return true;
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) {
    failed_ = true;
    note_errno("writing failed", errno);
  }
  return !failed_;
}

void AtomicFile::fail() {
  const int code = errno;
  if (finished_) return;
  failed_ = true;
  note_errno("writing failed", code);
}

bool AtomicFile::write(std::span<const std::byte> bytes) { return write(bytes.data(), bytes.size()); }

bool AtomicFile::write(std::string_view text) { return write(text.data(), text.size()); }

bool AtomicFile::write_line(std::string_view text) { return write(text) && write("\n", 1); }

// The gathered bytes, from the start, to the device or pipe, or over the
// file written in place, which is then cut to their length.
bool AtomicFile::pass_to_target() {
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
    note(std::string("its temporary copy failed: ") + std::strerror(errno) +
         ", so nothing was written");
    return false;
  }
  off_t old_length = -1;
  if (in_place_ && !reserve_room(old_length)) return false;
  // A failure after the old bytes were touched cuts the file back to its old
  // length where it can; its start is then incomplete.
  const auto fail = [&](std::string text) {
    if (old_length >= 0) (void)!::ftruncate(target_fd_, old_length);
    note(std::move(text));
    return false;
  };
  char buffer[1 << 16];
  bool started = in_place_;  // a failed write may have changed part of the file
  off_t length = 0;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file_);
    if (n == 0) break;
    if (!write_all(target_fd_, buffer, n))
      return fail(std::string("writing to it failed: ") + std::strerror(errno) +
                  (started ? ", so what it received is incomplete" : ""));
    started = true;
    length += static_cast<off_t>(n);
  }
  if (std::ferror(file_) != 0)
    return fail("reading back its temporary copy failed, so what it received is incomplete");
  if (in_place_ && (::ftruncate(target_fd_, length) != 0 || ::fsync(target_fd_) != 0))
    return fail(std::string("writing to it failed: ") + std::strerror(errno) +
                ", so what it received is incomplete");
  return true;
}

// Room on the disk for the new length of a file written in place, asked for
// before its old bytes are touched, so that a disk without room refuses the
// write with the file as it was. The reservation leaves the file's length
// and contents alone. A file system that cannot reserve ahead is written
// without. OLD_LENGTH is the file's length, to cut it back to after a
// later failure.
bool AtomicFile::reserve_room(off_t& old_length) {
  struct stat target {}, gathered {};
  if (::fstat(target_fd_, &target) != 0 || ::fstat(::fileno(file_), &gathered) != 0) {
    note_errno("cannot examine it", errno);
    return false;
  }
  old_length = target.st_size;
  if (gathered.st_size == 0) return true;
  if (::fallocate(target_fd_, FALLOC_FL_KEEP_SIZE, 0, gathered.st_size) == 0) return true;
  const int reason = errno;
  if (reason != ENOSPC && reason != EDQUOT && reason != EFBIG) return true;
  // Blocks a part-way reservation took beyond the end are given back.
  (void)!::ftruncate(target_fd_, old_length);
  note_errno("there is no room for it", reason);
  return false;
}

bool AtomicFile::reserve() {
  if (!ok()) return false;
  if (!in_place_) return true;
  if (std::fflush(file_) != 0) {
    failed_ = true;
    note_errno("writing failed", errno);
    return false;
  }
  off_t old_length = -1;
  if (!reserve_room(old_length)) failed_ = true;
  return !failed_;
}

bool AtomicFile::cut_back(Index length) {
  if (finished_ || file_ == nullptr || length < 0) {
    failed_ = true;
    return false;
  }
  // The stream goes with what it still held (a write that failed may have
  // left part of it in its buffer); the descriptor stays, cut back.
  const int fd = ::dup(::fileno(file_));
  std::fclose(file_);
  file_ = nullptr;
  if (fd >= 0 && ::ftruncate(fd, static_cast<off_t>(length)) == 0 &&
      ::lseek(fd, static_cast<off_t>(length), SEEK_SET) == static_cast<off_t>(length))
    file_ = ::fdopen(fd, "w+b");
  if (file_ == nullptr) {
    const int code = errno;
    if (fd >= 0) ::close(fd);
    failed_ = true;
    error_.clear();
    note_errno("cutting back its temporary copy failed", code);
    return false;
  }
  failed_ = false;
  error_.clear();
  cause_.clear();
  return true;
}

bool AtomicFile::commit() {
  if (finished_) return committed_;
  if (file_ == nullptr) {
    finished_ = true;
    return false;
  }
  bool good = !failed_ && std::ferror(file_) == 0;
  if (!good) note_errno("writing failed", 0);
  if (target_fd_ >= 0) {
    good = good && pass_to_target();
    std::fclose(file_);
    file_ = nullptr;
    const bool closed = ::close(target_fd_) == 0;
    if (good && !closed) note(std::string("closing it failed: ") + std::strerror(errno));
    target_fd_ = -1;
    finished_ = true;
    committed_ = good && closed;
    if (in_place_) {
      ::unlink(temp_path_.c_str());
      temp_path_.clear();
    }
    return committed_;
  }
  errno = 0;
  good = good && std::fflush(file_) == 0;
  good = good && ::fsync(::fileno(file_)) == 0;
  if (!good) note_errno("writing failed", errno);
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  if (good && !closed) note_errno("writing failed", errno);
  file_ = nullptr;
  good = good && closed;
  if (good && ::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    note_errno("cannot put the new file in place", errno);
    good = false;
  }
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
  if (target_fd_ >= 0) {
    ::close(target_fd_);
    target_fd_ = -1;
  }
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
  temp_path_.clear();
  finished_ = true;
}

std::string output_open_failure(std::string_view path, std::string_view reason) {
  return "WARNING: Error in opening file " + std::string(path) + ": " + std::string(reason);
}

std::string output_open_failure(const AtomicFile& out) {
  return output_open_failure(out.path(), out.error());
}

void report_output_open_failure(const AtomicFile& out, Status& status) {
  IO_WRITE(output_open_failure(out), status);
}

std::string output_write_failure(const AtomicFile& out) {
  // A write that went wrong outside the file (a bad status on the way) has
  // no reason of the system's to give.
  if (out.error().empty())
    return "WARNING: Error in writing file " + out.path() + "; an existing file is left unchanged";
  return "WARNING: Error in writing file " + out.path() + ": " + out.error();
}

void report_output_write_failure(const AtomicFile& out, std::string_view position,
                                 Status& status) {
  Status local = ST_GOOD();
  IO_WRITE(output_write_failure(out), local);
  if (status == kStatusGood) st_fail(status, kBaseCore + 1010, position);
}

}  // namespace kesta
