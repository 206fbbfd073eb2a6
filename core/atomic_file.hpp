#pragma once
// The one way the program rewrites a file: everything is written to a
// temporary file in the same folder, which replaces the old file (a rename)
// only when every write, the flush, the fsync and the close succeeded. An
// uncommitted temporary file is removed when the object goes, so a failure at
// any point leaves the old file exactly as it was. An existing file that the
// user may not open for writing (another user's, or the user's own made
// read-only) is refused, as opening it would be, though the folder would take
// the new one.
//
// A target that exists and is not a regular file (a device such as /dev/null,
// a named pipe) is never renamed over: it is opened as it is, the bytes are
// gathered in an unnamed temporary file (so writers may still seek back over
// what they wrote) and passed to it in one pass at the commit.
//
// The new file takes the old one's owner, group and permissions before it
// replaces it. A regular file whose owner or group cannot be given to the new
// file (another user's file the user may write), one with other names (hard
// links), one with an ACL beyond its mode bits or an extended attribute other
// than the system's security ones (which a new file would not carry), and one
// in a folder that takes no new files (no permission to
// write in it) but that the user may write are written in place: the bytes are
// gathered in a temporary file of the system's temporary folder and copied
// over the old file at the commit, which is then cut to their length, so the
// old file is untouched until then. Room for the new length is reserved on
// the disk first, so a disk without room refuses the commit with the old file
// as it was. Files of the kernel's own file systems
// (/proc, /sys) are never written so. An old file that may not be opened for
// writing is refused for its own reason, whatever its folder says.
//
//   AtomicFile out(path);
//   if (!out.ok()) { report out.error(); }
//   out.write(bytes);  out.write_line("text");  ...
//   if (!out.commit()) { report out.error(); }   // old file untouched on failure

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

class AtomicFile {
 public:
  // Creates the temporary file beside PATH ("<path>.tmpXXXXXX", with the
  // access a file opened under PATH would get: 0666 less the umask, or what
  // the folder's default ACL gives; when PATH exists, the old file's owner,
  // group and permission bits and no ACL, as the old file has none), or
  // opens the old file to be written in place. When
  // PATH is a symbolic link, the file it points to (existing or not) is the
  // one written, and the link is kept; a loop of links is refused ("Too many
  // levels of symbolic links"), the links left as they were. ok() is false when the file could not
  // be opened; error() then says why.
  explicit AtomicFile(std::string path);
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // True while the temporary file is open and no write has failed.
  bool ok() const { return file_ != nullptr && !failed_; }

  // Appends bytes / a text / a text and "\n". False (and the object stays
  // failed) when the write failed or was short; no-ops once failed.
  bool write(std::span<const std::byte> bytes);
  bool write(const void* data, std::size_t size);
  bool write(std::string_view text);
  bool write_line(std::string_view text);

  // The open C stream of the temporary file for formatted output; nullptr when
  // not ok(). Writes through it are checked at commit (ferror, fflush).
  std::FILE* stream() { return ok() ? file_ : nullptr; }
  // Marks the file failed (e.g. a write through stream() went wrong); a
  // non-zero errno left by that write is taken as the reason.
  void fail();

  // Asks now for the disk room the bytes written so far will take at the
  // commit, for a writer that reports as it goes (a page at a time): a file
  // written in place on a disk without that room fails here, and the object
  // stays failed. Other files already hold their bytes on the target's disk.
  // False when not ok().
  bool reserve();

  // A writer that reports its pieces as it goes (a page at a time) keeps
  // those it reported when a later one fails: the gathered bytes are cut
  // back to their first LENGTH bytes (what the stream had not written yet is
  // dropped) and the failure is forgotten, so that an ending can be written
  // and the file committed. False when that cannot be done, or after the
  // commit; the object is then failed.
  bool cut_back(Index length);

  // Flushes, fsyncs, closes and renames the temporary file over the target
  // (or passes its bytes to a device or pipe). False when anything failed;
  // the temporary file is then removed and the old file is untouched. A
  // second call returns the first call's result.
  bool commit();

  // Drops the temporary file without touching the target.
  void abandon();

  // The first failure in words, with the system's reason and what became of
  // the old file, e.g. "cannot write in the folder "/data": Permission
  // denied, so the file was not changed". Empty while nothing failed.
  const std::string& error() const { return error_; }
  // The first failure without what became of the old file ("writing failed:
  // File too large"), for a writer that kept part of its work.
  const std::string& cause() const { return cause_.empty() ? error_ : cause_; }

  const std::string& path() const { return path_; }
  const std::string& temp_path() const { return temp_path_; }

 private:
  void note(std::string text);
  void note_errno(std::string_view what, int code);
  bool pass_to_target();
  bool reserve_room(off_t& old_length);
  int open_old_file(bool& kernel) const;
  bool in_place_instead(int code);
  void refuse_old_file(bool kernel, int code);
  void open_in_place(int target);
  void write_in_place();

  std::string path_;
  std::string temp_path_;
  std::string error_;
  std::string cause_;
  std::FILE* file_ = nullptr;
  int target_fd_ = -1;  // a device or pipe, or a file written in place, else -1
  bool existed_ = false;
  bool in_place_ = false;  // target_fd_ is the old regular file, written over
  bool failed_ = false;
  bool finished_ = false;
  bool committed_ = false;
};

// The one message of an output file that could not be opened, written by
// every writer: "WARNING: Error in opening file <path>: <error()>" (the file,
// the system's reason and what became of the old file).
std::string output_open_failure(const AtomicFile& out);
void report_output_open_failure(const AtomicFile& out, Status& status);

// Its twin for a write, flush or commit that failed: "WARNING: Error in
// writing file <path>: <error()>". The report writes the line whatever
// STATUS holds, then fails a good STATUS with 11010 (a write error) at
// POSITION, so the failure is never taken for a written file.
std::string output_write_failure(const AtomicFile& out);
void report_output_write_failure(const AtomicFile& out, std::string_view position,
                                 Status& status);

}  // namespace kesta
