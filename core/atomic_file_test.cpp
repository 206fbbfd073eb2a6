#include "core/atomic_file.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/test_support.hpp"

namespace kesta {
namespace {

using testing::file_contents;

int files_in(const std::filesystem::path& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(AtomicFile, CommitReplacesOldFileKeepingPermissionsAndLinks) {
  testing::TempDir dir;
  const std::string path = dir.file("data.txt");
  { std::ofstream(path) << "old contents\n"; }
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::filesystem::create_symlink(path, dir.file("link"));

  AtomicFile out(dir.file("link"));
  ASSERT_TRUE(out.ok());
  EXPECT_TRUE(out.write_line("new"));
  EXPECT_TRUE(out.write(std::string_view("tail")));
  EXPECT_EQ(file_contents(path), "old contents\n");  // untouched until the commit
  EXPECT_TRUE(out.commit());

  EXPECT_EQ(file_contents(path), "new\ntail");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(files_in(dir.path()), 2);
}

// A replaced file keeps what it had besides its bytes: the superuser's write
// over another user's file leaves it that user's, with its permissions; a
// file with a second name is written in place, so both names see the new
// bytes; an ordinary user who may write another user's file but not give a
// new one away writes it in place too, the owner kept.
TEST(AtomicFile, ReplacedFileKeepsItsOwnerModeAndOtherNames) {
  testing::TempDir dir, spare;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(spare.path().c_str(), 0777), 0);
  const auto stat_of = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  };
  const std::string linked = dir.file("linked.kzt"), other_name = dir.file("other.kzt");
  { std::ofstream(linked) << "old bytes of both names"; }
  ASSERT_EQ(::chmod(linked.c_str(), 0640), 0);
  ASSERT_EQ(::link(linked.c_str(), other_name.c_str()), 0);
  const struct stat before = stat_of(linked);
  {
    AtomicFile out(linked);
    ASSERT_TRUE(out.ok()) << out.error();
    out.write_line("new");
    ASSERT_TRUE(out.commit()) << out.error();
  }
  const struct stat after = stat_of(linked);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(file_contents(other_name), "new\n");
  EXPECT_EQ(files_in(dir.path()), 2);
  EXPECT_EQ(files_in(spare.path()), 0);

  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs the superuser";
  const std::string theirs = dir.file("theirs.kzt");
  { std::ofstream(theirs) << "their old bytes"; }
  ASSERT_EQ(::chown(theirs.c_str(), testing::kOrdinaryUser, testing::kOrdinaryUser), 0);
  ASSERT_EQ(::chmod(theirs.c_str(), 0604), 0);
  {
    AtomicFile out(theirs);
    ASSERT_TRUE(out.ok()) << out.error();
    out.write_line("root's new bytes");
    ASSERT_TRUE(out.commit()) << out.error();
  }
  struct stat st = stat_of(theirs);
  EXPECT_EQ(st.st_uid, testing::kOrdinaryUser);
  EXPECT_EQ(st.st_gid, testing::kOrdinaryUser);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(file_contents(theirs), "root's new bytes\n");

  // Root's file that everyone may write, written by an ordinary user.
  const std::string shared = dir.file("shared.kzt");
  { std::ofstream(shared) << "a longer old text of root's"; }
  ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
  const struct stat shared_before = stat_of(shared);
  const std::string result = testing::in_child_process([&]() -> std::string {
    if (!testing::become_ordinary_user()) return "<no ordinary user>";
    ::setenv("TMPDIR", spare.path().c_str(), 1);
    AtomicFile out(shared);
    if (!out.ok()) return out.error();
    out.write_line("user's");
    return out.commit() ? "written" : out.error();
  });
  EXPECT_EQ(result, "written");
  st = stat_of(shared);
  EXPECT_EQ(st.st_ino, shared_before.st_ino);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(file_contents(shared), "user's\n");
  EXPECT_EQ(files_in(dir.path()), 4);
  EXPECT_EQ(files_in(spare.path()), 0);
}

TEST(AtomicFile, AnyFailureLeavesOldFileAndNoTemporary) {
  testing::TempDir dir;
  const std::string path = dir.file("keep.txt");
  { std::ofstream(path) << "precious"; }
  {  // dropped without commit
    AtomicFile out(path);
    out.write_line("half written");
  }
  {  // a failure through the stream makes the commit refuse
    AtomicFile out(path);
    out.write_line("something");
    out.fail();
    EXPECT_FALSE(out.write_line("more"));
    EXPECT_FALSE(out.commit());
  }
  EXPECT_EQ(file_contents(path), "precious");
  EXPECT_EQ(files_in(dir.path()), 1);

  AtomicFile nowhere(dir.file("no/such/folder/file.txt"));
  EXPECT_FALSE(nowhere.ok());
  EXPECT_FALSE(nowhere.commit());

  // The target is a folder: refused at once, nothing made.
  std::filesystem::create_directory(dir.path() / "taken");
  AtomicFile blocked(dir.file("taken"));
  EXPECT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error(), "it is a directory, not a file");
  EXPECT_FALSE(blocked.commit());
  EXPECT_EQ(files_in(dir.path()), 2);
}

// A writer that reports its pieces as it goes keeps those it reported when
// a later one fails: cut back to them (the stream's unwritten bytes with
// the rest), the file takes an ending and is committed.
TEST(AtomicFile, CutBackKeepsWhatWasReportedAfterALaterFailure) {
  testing::TempDir dir;
  const std::string path = dir.file("pages.txt");
  AtomicFile out(path);
  ASSERT_TRUE(out.write_line("page 1"));
  std::fputs("page 2, part", out.stream());
  errno = EFBIG;
  out.fail();
  EXPECT_EQ(out.cause(), "writing failed: File too large");
  EXPECT_NE(out.error(), out.cause());
  ASSERT_TRUE(out.cut_back(7));
  EXPECT_TRUE(out.ok());
  EXPECT_TRUE(out.error().empty());
  EXPECT_TRUE(out.write_line("end"));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(file_contents(path), "page 1\nend\n");
  EXPECT_FALSE(out.cut_back(0));
  EXPECT_EQ(files_in(dir.path()), 1);
}

TEST(AtomicFile, LinkToAFileNotYetThereIsKept) {
  testing::TempDir dir;
  std::filesystem::create_symlink("target.txt", dir.file("link"));
  AtomicFile out(dir.file("link"));
  ASSERT_TRUE(out.ok());
  out.write_line("new");
  ASSERT_TRUE(out.commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  EXPECT_EQ(file_contents(dir.file("target.txt")), "new\n");
}

// Names as long as the folder takes (255 characters here) are written as
// open() writes them, new or replaced, directly or through a link; one
// character more is refused for the name's own length, not the folder's.
TEST(AtomicFile, NamesAsLongAsTheFolderTakesAreWritten) {
  testing::TempDir dir;
  for (const std::size_t length : {246u, 250u, 255u}) {
    const std::string name(length, static_cast<char>('a' + length % 26));
    AtomicFile fresh(dir.file(name));
    ASSERT_TRUE(fresh.ok()) << length << ": " << fresh.error();
    fresh.write_line("new");
    ASSERT_TRUE(fresh.commit()) << fresh.error();
    EXPECT_EQ(file_contents(dir.file(name)), "new\n");

    std::filesystem::create_symlink(name, dir.file("link"));
    AtomicFile linked(dir.file("link"));
    ASSERT_TRUE(linked.ok()) << linked.error();
    linked.write_line("again");
    ASSERT_TRUE(linked.commit()) << linked.error();
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
    EXPECT_EQ(file_contents(dir.file(name)), "again\n");
    std::filesystem::remove(dir.file("link"));
  }
  EXPECT_EQ(files_in(dir.path()), 3);

  AtomicFile too_long(dir.file(std::string(256, 'z')));
  EXPECT_FALSE(too_long.ok());
  EXPECT_EQ(too_long.error(), "cannot open it for writing: File name too long, so no file was written");
  EXPECT_EQ(files_in(dir.path()), 3);
}

// A loop of links names no file: it is refused as the system refuses it,
// and no regular file takes the place of a link.
TEST(AtomicFile, LoopOfLinksIsRefusedAndLeftAsItWas) {
  testing::TempDir dir;
  std::filesystem::create_symlink("b", dir.file("a"));
  std::filesystem::create_symlink("a", dir.file("b"));
  AtomicFile out(dir.file("a"));
  EXPECT_FALSE(out.ok());
  EXPECT_NE(out.error().find("Too many levels of symbolic links"), std::string::npos)
      << out.error();
  EXPECT_FALSE(out.commit());
  EXPECT_EQ(std::filesystem::read_symlink(dir.file("a")), "b");
  EXPECT_EQ(std::filesystem::read_symlink(dir.file("b")), "a");
  EXPECT_EQ(files_in(dir.path()), 2);
}

// A file with an ACL naming another user, or a user's extended attribute,
// keeps them and its permissions: a new file renamed over it would have
// neither, and its mode's group bits (the ACL's mask) would give the group
// write permission.
// One entry of an ACL in the system's binary form (after a 4-byte version 2:
// tag, permissions, id per entry).
std::string acl_entry(std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
  std::string e(8, '\0');
  std::memcpy(e.data(), &tag, 2);
  std::memcpy(e.data() + 2, &perm, 2);
  std::memcpy(e.data() + 4, &id, 4);
  return e;
}

// The value of the extended attribute NAME of PATH ("" when it has none).
std::string attribute(const std::string& path, const char* name) {
  std::string value(256, '\0');
  const ssize_t n = ::getxattr(path.c_str(), name, value.data(), value.size());
  value.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return value;
}

TEST(AtomicFile, ReplacedFileKeepsItsAclAndExtendedAttributes) {
  testing::TempDir dir;
  // user::rw- user:65534:rw- group::r-- mask::rw- other::---, in the
  // system's binary form (version 2; tag, permissions, id per entry).
  const auto entry = acl_entry;
  std::string acl("\x02\0\0\0", 4);
  acl += entry(0x01, 6, ~0u) + entry(0x02, 6, 65534) + entry(0x04, 4, ~0u) +
         entry(0x10, 6, ~0u) + entry(0x20, 0, ~0u);
  const std::string with_acl = dir.file("acl.kzt"), with_note = dir.file("note.kzt");
  for (const std::string& path : {with_acl, with_note}) {
    { std::ofstream(path) << "old bytes"; }
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  }
  if (::setxattr(with_acl.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
      ::setxattr(with_note.c_str(), "user.note", "kept", 4, 0) != 0)
    GTEST_SKIP() << "the file system takes no ACL or extended attribute: " << std::strerror(errno);
  for (const std::string& path : {with_acl, with_note}) {
    struct stat before {}, after {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    AtomicFile out(path);
    ASSERT_TRUE(out.ok()) << out.error();
    out.write_line("new");
    EXPECT_EQ(file_contents(path), "old bytes");
    ASSERT_TRUE(out.commit()) << out.error();
    EXPECT_EQ(file_contents(path), "new\n");
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << path;
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777) << path;
  }
  EXPECT_EQ(attribute(with_acl, "system.posix_acl_access"), acl);
  EXPECT_EQ(attribute(with_note, "user.note"), "kept");
  EXPECT_EQ(files_in(dir.path()), 2);
}

// In a folder with a default ACL (a named user and group with rwx), a
// replaced file keeps its own access: an old private file without an ACL
// gets none of the folder's entries, its mode as it was. A new file gets
// what a file opened under its name gets, the folder's entries masked by
// the open's mode, whatever the umask (which the default ACL replaces); in
// a folder without one, the umask decides, as for open().
TEST(AtomicFile, FolderWithADefaultAclGivesFilesWhatOpeningThemWould) {
  testing::TempDir dir, plain;
  const std::string old_file = dir.file("private.kzt");
  { std::ofstream(old_file) << "old bytes"; }
  ASSERT_EQ(::chmod(old_file.c_str(), 0640), 0);
  std::string folder_acl("\x02\0\0\0", 4);
  folder_acl += acl_entry(0x01, 7, ~0u) + acl_entry(0x02, 7, testing::kOrdinaryUser) +
                acl_entry(0x04, 5, ~0u) + acl_entry(0x08, 5, testing::kOrdinaryUser) +
                acl_entry(0x10, 7, ~0u) + acl_entry(0x20, 5, ~0u);
  if (::setxattr(dir.path().c_str(), "system.posix_acl_default", folder_acl.data(),
                 folder_acl.size(), 0) != 0)
    GTEST_SKIP() << "the file system takes no default ACL: " << std::strerror(errno);
  const auto mode_of = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  const auto write = [](const std::string& path) {
    AtomicFile out(path);
    EXPECT_TRUE(out.ok()) << out.error();
    out.write_line("new");
    EXPECT_TRUE(out.commit()) << out.error();
  };
  const mode_t mask = ::umask(022);
  write(old_file);
  EXPECT_EQ(file_contents(old_file), "new\n");
  EXPECT_EQ(mode_of(old_file), 0640u);
  EXPECT_EQ(attribute(old_file, "system.posix_acl_access"), "");

  for (const mode_t umask : {mode_t{022}, mode_t{077}}) {
    ::umask(umask);
    for (const testing::TempDir* folder : {&dir, &plain}) {
      const std::string made = folder->file("new" + std::to_string(umask) + ".kzt");
      const std::string opened = folder->file("opened" + std::to_string(umask));
      write(made);
      const int fd = ::open(opened.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
      ASSERT_GE(fd, 0);
      ::close(fd);
      SCOPED_TRACE(made);
      EXPECT_EQ(mode_of(made), mode_of(opened));
      EXPECT_EQ(attribute(made, "system.posix_acl_access"),
                attribute(opened, "system.posix_acl_access"));
    }
  }
  ::umask(mask);
  // The folder's entries reached the new files (the test saw a default ACL
  // at work), and no temporary file is left.
  EXPECT_NE(attribute(dir.file("new18.kzt"), "system.posix_acl_access"), "");
  EXPECT_EQ(files_in(dir.path()), 5);
  EXPECT_EQ(files_in(plain.path()), 4);
}

// A character device made in DIR (as root, so the system's own are never at
// risk), or the system's device when the test may not make one.
std::string device(const testing::TempDir& dir, const char* name, unsigned minor) {
  if (::geteuid() != 0) return std::string("/dev/") + name;
  const std::string path = dir.file(name);
  if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0) return {};
  return path;
}

TEST(AtomicFile, DevicesAndPipesAreWrittenInPlaceNeverReplaced) {
  testing::TempDir dir;
  const std::string null = device(dir, "null", 3), full = device(dir, "full", 7);
  ASSERT_FALSE(null.empty() || full.empty());
  std::filesystem::create_symlink(null, dir.file("link"));
  struct Case {
    std::string path;
    bool written;
    std::string error;
  };
  const Case cases[] = {
      {null, true, ""},
      {dir.file("link"), true, ""},
      {full, false, "writing to it failed: No space left on device"},
  };
  for (const Case& c : cases) {
    AtomicFile out(c.path);
    ASSERT_TRUE(out.ok()) << c.path;
    out.write_line("bytes for the device");
    EXPECT_EQ(out.commit(), c.written) << c.path;
    EXPECT_EQ(out.error(), c.error);
    struct stat st {};
    ASSERT_EQ(::stat(c.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << c.path;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));

  // A named pipe receives the bytes, including what a writer went back over.
  const std::string pipe = dir.file("out.kzt");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  {
    AtomicFile out(pipe);
    ASSERT_TRUE(out.ok()) << out.error();
    out.write_line("XYZ");
    ASSERT_EQ(std::fseek(out.stream(), 0, SEEK_SET), 0);
    out.write(std::string_view("A"));
    ASSERT_TRUE(out.commit()) << out.error();
  }
  char received[16] = {};
  EXPECT_EQ(::read(reader, received, sizeof received), 4);
  EXPECT_STREQ(received, "AYZ\n");
  ::close(reader);
  // Nobody reads it: refused at once rather than waiting for a reader.
  AtomicFile unread(pipe);
  EXPECT_FALSE(unread.ok());
  EXPECT_EQ(unread.error(), "no program is reading from the named pipe");
  struct stat st {};
  ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(files_in(dir.path()), 4);
}

TEST(AtomicFile, FolderNotWritableKeepsTheFileAndSaysWhy) {
  testing::TempDir dir;
  const std::string path = dir.file("old.kzt");
  { std::ofstream(path) << "kept"; }
  // The superuser may write anywhere: the attempt runs as an ordinary user.
  const bool as_root = ::geteuid() == 0;
  ASSERT_EQ(::chmod(dir.path().c_str(), as_root ? 0755 : 0555), 0);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (as_root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    AtomicFile out(path);
    const std::string& why = out.error();
    (void)!::write(fds[1], why.data(), why.size());
    ::_exit(out.ok() ? 1 : 0);
  }
  ::close(fds[1]);
  std::string why;
  char buffer[256];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) why.append(buffer, n);
  ::close(fds[0]);
  int wstatus = 0;
  ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  EXPECT_EQ(why, "cannot write in the folder \"" + dir.path().string() +
                     "\": Permission denied, so the file was not changed");
  EXPECT_EQ(file_contents(path), "kept");
  EXPECT_EQ(files_in(dir.path()), 1);

  // A file the user may write in that folder is written in place: the same
  // file (its links and permissions kept), cut to the new length, nothing
  // left behind; a failed write before the commit leaves it as it was.
  const std::string open_file = dir.file("open.kzt");
  { std::ofstream(open_file) << "a longer old text"; }
  ASSERT_EQ(::chmod(open_file.c_str(), 0666), 0);
  struct stat before {};
  ASSERT_EQ(::stat(open_file.c_str(), &before), 0);
  testing::TempDir spare;
  ASSERT_EQ(::chmod(spare.path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), as_root ? 0755 : 0555), 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    if (as_root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::setenv("TMPDIR", spare.path().c_str(), 1);
    {
      AtomicFile failed(open_file);
      if (!failed.ok() || !failed.write_line("lost")) ::_exit(3);
      errno = EIO;
      failed.fail();
      if (failed.commit()) ::_exit(4);
    }
    AtomicFile out(open_file);
    if (!out.ok() || !out.write_line("new")) ::_exit(5);
    if (std::fseek(out.stream(), 0, SEEK_SET) != 0 || std::fputc('N', out.stream()) == EOF)
      ::_exit(6);
    ::_exit(out.commit() ? 0 : 7);
  }
  ASSERT_EQ(::waitpid(writer, &wstatus, 0), writer);
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_TRUE(WIFEXITED(wstatus)) << wstatus;
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(file_contents(open_file), "New\n");
  struct stat after {};
  ASSERT_EQ(::stat(open_file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0666u);
  EXPECT_EQ(files_in(dir.path()), 2);
  EXPECT_EQ(files_in(spare.path()), 0);

  // A folder that is there but takes no new files answers "No such file or
  // directory", which is said of a new file, not of the folder. An old file
  // there is refused for its own reason: one of the kernel's, which the
  // process may write, is never written; one the user may not open for
  // writing says so.
  AtomicFile new_proc("/proc/self/kesta-new.kzt");
  EXPECT_FALSE(new_proc.ok());
  EXPECT_EQ(new_proc.error(),
            "cannot create a new file in the folder \"/proc/self\": No such file or directory, "
            "so no file was written");
  const std::string link = dir.file("proc.kzt");
  std::filesystem::create_symlink("/proc/self/comm", link);
  AtomicFile proc(link);
  EXPECT_FALSE(proc.ok());
  EXPECT_EQ(proc.error(),
            "it is a file of the kernel's own file system, which holds settings, not data, so "
            "the file was not changed");
  const std::string version = testing::in_child_process([&]() -> std::string {
    if (!testing::become_ordinary_user()) return "<no ordinary user>";
    AtomicFile out("/proc/version");
    return out.ok() ? "opened" : out.error();
  });
  if (version != "<no ordinary user>") {
    EXPECT_EQ(version, "cannot open it for writing: Permission denied, so the file was not changed");
  }
}

// A file written in place on a disk without room for its new length: the
// room is asked for before the old bytes are touched, so the write fails
// with the file as it was; a new length that fits is written. The disk is a
// small memory file system of a private mount table, in a child process.
TEST(AtomicFile, InPlaceWriteWithoutRoomLeavesTheOldFile) {
  testing::TempDir dir, spare;
  ASSERT_EQ(::chmod(spare.path().c_str(), 0777), 0);
  const std::string path = dir.file("old.kzt");
  const std::string old(3600, 'o');
  const std::string result = testing::in_child_process([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0) return "<no mount>";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
      return "<no mount>";
    { std::ofstream(path) << old; }
    if (::chmod(path.c_str(), 0666) != 0) return "<no file>";
    // Everything but 8 KB taken by another file.
    struct statvfs fs {};
    if (::statvfs(dir.path().c_str(), &fs) != 0) return "<no statvfs>";
    const auto free = static_cast<std::size_t>(fs.f_bavail * fs.f_bsize);
    { std::ofstream(dir.file("filler")) << std::string(free - 8192, 'f'); }
    if (!testing::become_ordinary_user()) return "<no ordinary user>";
    ::setenv("TMPDIR", spare.path().c_str(), 1);
    std::string text;
    {
      AtomicFile out(path);
      out.write(std::string(25600, 'n'));
      text += out.commit() ? "written" : out.error();
    }
    text += testing::file_contents(path) == old ? "; kept" : "; changed";
    // A writer that gathers pages asks for the room as it goes: the page
    // that does not fit is refused there, not at the commit.
    {
      AtomicFile out(path);
      out.write(std::string(2000, 'n'));
      text += out.reserve() ? "; first page" : "; " + out.error();
      out.write(std::string(25600, 'n'));
      text += out.reserve() ? "; second page" : "; no second page";
      text += out.ok() || out.commit() ? ", written" : ", refused";
    }
    text += testing::file_contents(path) == old ? ", kept" : ", changed";
    {
      AtomicFile out(path);
      out.write(std::string(6000, 'n'));
      text += out.commit() ? "; fits" : "; " + out.error();
    }
    return text + (testing::file_contents(path) == std::string(6000, 'n') ? ", new" : ", not new");
  });
  if (result == "<no mount>") GTEST_SKIP() << "mounting a file system is not permitted";
  EXPECT_EQ(result,
            "there is no room for it: No space left on device, so the file was not changed; "
            "kept; first page; no second page, refused, kept; fits, new");
  EXPECT_EQ(files_in(spare.path()), 0);
}

}  // namespace
}  // namespace kesta
