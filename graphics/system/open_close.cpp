// Opening and closing the graphics system, the command-line graphics
// options, and PostScript copies of the drawing.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

constexpr std::string_view kEndLine = "% End of PostScript file";

// The open PostScript copy. It is written to a temporary file, which can
// step back over its last line when the copy is closed: renamed over a
// plain target file, or passed on into a target that cannot be replaced or
// stepped back on (a device or a pipe), all but its last line at the end of
// each page and the rest at the close, so that the line stepped over never
// reaches it.
struct PsCopy {
  std::unique_ptr<AtomicFile> atomic;  // plain targets
  std::string spool;                   // other targets: the temporary file
  std::string path;
  std::FILE* target = nullptr;  // other targets: opened when named, until the close
  long delivered = 0;           // how much of the spool the target has received
  Index pages = 0;              // pages finished and reported
  Index print_start = 0;        // pages finished before the print under way
  long page_end = 0;            // where the closing line goes after the last of them
  const std::string& work() const { return atomic ? atomic->temp_path() : spool; }
};
PsCopy ps_copy;

// A temporary file for a target that is not a plain file, on the stream.
bool open_spool(PsCopy& copy) {
  // A temporary folder that is not there (TMPDIR naming none) is a spool
  // that cannot be made, said as such, not an exception.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) {
    errno = error.value();
    return false;
  }
  std::string name = (folder / "kesta-ps-XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(name.c_str());
    return false;
  }
  copy.spool = name;
  io_set_stream(kStreamPostScript, file);
  return true;
}

// Passes the spool's bytes up to UPTO (its end when negative) that the
// target has not received yet. The target, opened when it was named, is
// opened here only when it is not open, without blocking: a named pipe that
// nothing reads is refused, not waited on.
bool deliver(PsCopy& copy, long upto, std::string& reason) {
  std::string problem;
  const InputFile in = open_input_file(copy.spool, problem);
  if (!in) {
    reason = "its spool file " + problem;
    return false;
  }
  if (copy.target == nullptr) {
    copy.target = io_open_file(copy.path, "w", problem);
    if (copy.target == nullptr) {
      reason = "it " + problem;
      return false;
    }
  }
  if (std::fseek(in.get(), copy.delivered, SEEK_SET) != 0) {
    reason = "reading its spool file failed";
    return false;
  }
  std::vector<char> buffer(1 << 16);
  errno = 0;
  while (upto < 0 || copy.delivered < upto) {
    const long want = upto < 0 ? static_cast<long>(buffer.size())
                               : std::min<long>(static_cast<long>(buffer.size()),
                                                upto - copy.delivered);
    const std::size_t n = std::fread(buffer.data(), 1, static_cast<std::size_t>(want), in.get());
    if (n == 0) break;
    if (std::fwrite(buffer.data(), 1, n, copy.target) != n || std::fflush(copy.target) != 0) {
      reason = std::string("writing to it failed: ") + std::strerror(errno);
      return false;
    }
    copy.delivered += static_cast<long>(n);
  }
  if (std::ferror(in.get())) {
    reason = "reading its spool file failed";
    return false;
  }
  return true;
}

// Closes the target of a device or pipe copy; false with REASON when that
// failed.
bool close_target(PsCopy& copy, std::string& reason) {
  if (copy.target == nullptr) return true;
  errno = 0;
  const bool closed = std::fclose(copy.target) == 0;
  copy.target = nullptr;
  if (!closed) reason = std::string("writing to it failed: ") + std::strerror(errno);
  return closed;
}

bool has_window() { return qg_find_workstation(1) >= 0; }

// The drawing goes back from an active copy to the window.
void drawing_back_to_window() {
  const int k = qg_find_workstation(2);
  Status local = kStatusGood;
  if (k >= 0 && qg_db_system.state[static_cast<std::size_t>(k)] == 2) {
    QG_DEACTIVATE_WK(2, local);
    if (has_window()) QG_ACTIVATE_WK(1, local);
  }
}

// A name written through a temporary file renamed over it, which also
// refuses a folder when the name is given.
bool plain_file_or_new(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return true;
  return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

// The last lines of a file (at most the last 4 kB of it) and the offset at
// which the last line starts.
std::vector<std::string> tail_lines(const std::string& path, long& last_line_start) {
  std::string problem;
  const InputFile in = open_input_file(path, problem);
  const long size = in ? static_cast<long>(std::max<Index>(io_file_size(in.get()), 0)) : 0;
  const long from = std::max(0L, size - 4096L);
  std::string text(static_cast<std::size_t>(size - from), '\0');
  if (in && std::fseek(in.get(), from, SEEK_SET) == 0)
    text.resize(std::fread(text.data(), 1, text.size(), in.get()));
  else
    text.clear();
  std::vector<std::string> lines;
  std::size_t start = 0;
  last_line_start = from;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    last_line_start = from + static_cast<long>(start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// True when the last lines are the page set-up the driver writes after
// "showpage".
bool page_ended(const std::vector<std::string>& lines) {
  for (std::size_t back = 1; back <= 3 && back < lines.size(); ++back) {
    const std::string& line = lines[lines.size() - 1 - back];
    if (line.substr(0, SLEN(line)) == "showpage") return true;
  }
  return false;
}

// What has been drawn reaches the copy's temporary file, and a device or
// pipe receives what is final (all but the last line, which the close may
// step back over). END is where a closing line would follow what is
// written. False with REASON when the page could not be written.
bool page_written(PsCopy& copy, std::string& reason, long& end) {
  std::FILE* out = io_stream(kStreamPostScript);
  errno = 0;
  if (out == nullptr || std::fflush(out) != 0 || std::ferror(out) != 0) {
    // A line that failed before left the stream failed without a code: the
    // code of that first failure is the cause.
    const int code = errno != 0 ? errno : io_stream_failure(kStreamPostScript);
    if (copy.atomic) {
      errno = code;
      copy.atomic->fail();
      reason = copy.atomic->error();
    } else {
      reason = "its spool file could not be written" +
               (code != 0 ? ": " + std::string(std::strerror(code)) : std::string());
    }
    return false;
  }
  tail_lines(copy.work(), end);
  // A file written in place has the room for its page asked for now: its
  // disk is not the one the page was gathered on.
  if (copy.atomic && !copy.atomic->reserve()) {
    reason = copy.atomic->error();
    return false;
  }
  return copy.atomic || deliver(copy, end, reason);
}

// The copy is given up: nothing more is written to it, an old file stays as
// it was, and the next print asks for a file again.
void give_up_copy() {
  Status local = kStatusGood;
  if (qg_find_workstation(2) >= 0) QG_CLOSE_WK(2, local);
  if (ps_copy.atomic) {
    io_set_stream(kStreamPostScript, nullptr);
  } else {
    io_close_stream(kStreamPostScript);
    ::unlink(ps_copy.spool.c_str());
  }
  std::string ignored;
  close_target(ps_copy, ignored);
  ps_copy = PsCopy{};
  gs_state.ps_file = false;
}

// The one line of a copy that could not be written.
void say_not_written(const std::string& reason) {
  Status local = kStatusGood;
  IO_WRITE("ERROR: The PostScript file \"" + ps_copy.path + "\" could not be written" +
               (reason.empty() ? "" : ": " + reason),
           local);
}

// The spool of a device or pipe copy cut back to LENGTH and closed by the
// closing line, and what the target has not received passed on. False with
// REASON on failure.
bool close_spool_at(PsCopy& copy, long length, std::string& reason) {
  io_close_stream(kStreamPostScript);
  if (copy.delivered > length) {
    reason = "part of the failed page had reached it";
    return false;
  }
  std::string problem;
  std::FILE* spool = nullptr;
  errno = 0;
  if (::truncate(copy.spool.c_str(), length) != 0 ||
      (spool = io_open_file(copy.spool, "a", problem)) == nullptr) {
    reason = "its spool file could not be cut back: " +
             (problem.empty() ? std::string(std::strerror(errno)) : problem);
    return false;
  }
  errno = 0;
  const bool ended = std::fprintf(spool, "%s\n", std::string(kEndLine).c_str()) > 0;
  const int code = errno;
  if (std::fclose(spool) != 0 || !ended) {
    const int cause = code != 0 ? code : errno;
    reason = "its spool file could not be written" +
             (cause != 0 ? ": " + std::string(std::strerror(cause)) : std::string());
    return false;
  }
  return deliver(copy, -1, reason);
}

// A page that could not be written, for REASON, ends the copy. The pages
// finished before it are kept: the copy is cut back to the end of the last
// of them and closed there, a whole document of those pages, and the line
// says which pages the file holds. Without such a page the copy is given
// up (no new file; an old one stays as it was).
void end_copy_at_failed_page(const std::string& reason) {
  if (ps_copy.pages == 0) {
    say_not_written(reason);
    give_up_copy();
    return;
  }
  Status local = kStatusGood;
  if (qg_find_workstation(2) >= 0) QG_CLOSE_WK(2, local);
  const std::string cause = ps_copy.atomic ? ps_copy.atomic->cause() : reason;
  std::string problem;
  bool kept = false;
  if (ps_copy.atomic) {
    io_set_stream(kStreamPostScript, nullptr);
    kept = ps_copy.atomic->cut_back(ps_copy.page_end) && ps_copy.atomic->write_line(kEndLine) &&
           ps_copy.atomic->commit();
    problem = ps_copy.atomic->error();
  } else {
    kept = close_spool_at(ps_copy, ps_copy.page_end, problem);
    kept = close_target(ps_copy, problem) && kept;
    ::unlink(ps_copy.spool.c_str());
  }
  if (kept) {
    const std::string pages =
        ps_copy.pages == 1 ? "page 1" : "pages 1 to " + format_i(ps_copy.pages, 0);
    IO_WRITE("ERROR: The PostScript file \"" + ps_copy.path + "\" could not take page " +
                 format_i(ps_copy.pages + 1, 0) + " (" + cause + "), so it holds " + pages +
                 " only",
             local);
  } else {
    say_not_written(cause + "; keeping the pages before it failed too: " + problem);
  }
  std::string ignored;
  close_target(ps_copy, ignored);
  ps_copy = PsCopy{};
  gs_state.ps_file = false;
}

// The file PATH was not opened, for REASON: the one line every writer
// gives.
void open_failure(const std::string& path, std::string_view reason, Status& status) {
  IO_WRITE(output_open_failure(path, reason), status);
}

}  // namespace

void GS_MSET_OPTIONS(Status& status) {
  if (st_bad(status, "Subroutine GS_MSET_OPTIONS V0.2")) return;
  int num = 0;
  std::vector<std::string> args;
  IO_GETARGS(20, num, args, status);
  if (status != kStatusGood) return;
  bool landscape = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string arg = IO_UPPER(args[i]);
    auto starts = [&arg](std::string_view a, std::string_view b) {
      return arg.rfind(a, 0) == 0 || arg.rfind(b, 0) == 0;
    };
    if (arg == "LANDSCAPE" || arg == "-LANDSCAPE" || arg == "+LANDSCAPE" || arg == "LAND" ||
        arg == "-LAND" || arg == "+LAND") {
      landscape = true;
    } else if (starts("-COLOURS", "+COLOURS") || starts("-COL", "+COL")) {
      const std::size_t skip = starts("-COLOURS", "+COLOURS") ? 8 : 4;
      bool found = false;
      int colours = 0;
      IO_TOKTI(std::string_view(arg).substr(skip), found, colours, status);
      if (found) {
        colours = std::clamp(colours, 16, 256);
        gs_state.colour_cells = gs_state.max_colour_cells = colours;
      } else {
        IO_WRITE("WARNING: Bad command line option", status);
      }
    } else if (starts("-DFORM", "+DFORM")) {
      gs_state.form_document = true;
    } else if (starts("-DMENU", "+DMENU")) {
      gs_state.menu_document = true;
    }
  }
  if (landscape) GS_MSET_LANDSCAPE(status);
}

void GS_OPEN_NOTERM(Status& status) {
  if (st_bad(status, "Subroutine GS_OPEN_NOTERM V0.1")) return;
  gs_state.colour_cells = 108;
  gs_state.max_colour_cells = 210;
  GS_DEF_GRAPHICS(status);
  GS_MSET_OPTIONS(status);
  QG_OPEN(0, status);
}

void GS_OPEN_GRAPHICS(Status& status) {
  if (st_bad(status, "Subroutine GS_OPEN_GRAPHICS V0.3")) return;
  GS_OPEN_NOTERM(status);
  int format = 0;
  GS_INQ_WINDOWFORMAT(format, status);
  QG_SET_COLOURINDICES(gs_state.colour_cells, gs_state.max_colour_cells, status);
  QG_OPEN_WK(1, 0, format == 1 || format == 3 ? 12 : 11, status);
  QG_ACTIVATE_WK(1, status);
  GS_DEF_LUTCHOICE(status);
  GS_DEF_COLOURS(status);
  float width = 0.0f;
  QG_INQ_TEXTWIDTH(10, "iiii..MMWW", width, status);
  if (status == kStatusGood) gs_state.reference_width = width;
}

void GS_UPDATE(Status& status) {
  if (st_bad(status, "Subroutine GS_UPDATE V0.1")) return;
  if (has_window()) QG_UPDATE(1, 0, status);
}

void GS_OPEN_PS(std::string_view file, Status& status) {
  constexpr std::string_view position = "Subroutine GS_OPEN_PS V0.2";
  if (st_bad(status, position)) return;
  if (SLEN(file) == 0) {
    st_fail(status, kBaseGraphicsSystem + 33, position);
    return;
  }
  if (gs_state.ps_file) return;
  const std::string path(file.substr(0, SLEN(file)));
  PsCopy copy;
  copy.path = path;
  if (plain_file_or_new(path)) {
    copy.atomic = std::make_unique<AtomicFile>(path);
    if (!copy.atomic->ok()) {
      report_output_open_failure(*copy.atomic, status);
      st_fail(status, 11000, position);
      return;
    }
    io_set_stream(kStreamPostScript, copy.atomic->stream());
  } else if (std::string problem;
             (copy.target = io_open_file(path, "w", problem)) == nullptr) {
    // A device or pipe is opened when it is named, as the other writers
    // open it: one that refuses (a pipe that nothing reads, a device the
    // user may not write) is said now, not at the first page.
    open_failure(path, "it " + problem, status);
    st_fail(status, 11000, position);
    return;
  } else if (!open_spool(copy)) {
    const int error = errno;
    std::string ignored;
    close_target(copy, ignored);
    open_failure(path, "its spool file could not be made: " + std::string(std::strerror(error)),
                 status);
    st_fail(status, 11000, position);
    return;
  }
  int format = 0;
  GS_INQ_WINDOWFORMAT(format, status);
  const bool landscape = format == 1 || format == 3;
  const int type = !gs_state.ps_colour ? 23 : landscape ? 22 : 21;
  // The PostScript driver needs a text height when it opens; before anything
  // has been written the standard label height serves.
  if (!(qg_db_textatts.height > 0.0f)) {
    float xs = 1, ys = 1;
    QG_INQ_SCALING(xs, ys, status);
    QG_TEXTHEIGHT(0.0166667f / ys, status);
  }
  QG_OPEN_WK(2, kStreamPostScript, type, status);
  if (status != kStatusGood) {
    // Nothing is left behind: the old file stays as it was.
    if (copy.atomic) {
      io_set_stream(kStreamPostScript, nullptr);
    } else {
      io_close_stream(kStreamPostScript);
      ::unlink(copy.spool.c_str());
      std::string ignored;
      close_target(copy, ignored);
    }
    return;
  }
  ps_copy = std::move(copy);
  GS_SET_PSFILE(true, status);
}

void GS_ON_PRINT(bool graphical, bool& opened, Status& status) {
  if (st_bad(status, "Subroutine GS_ON_PRINT V0.3")) return;
  if (!gs_state.ps_file) {
    // Graphical: the window's text box (which replays and records as the
    // terminal prompt does). No name is proposed: Return stores no file, so
    // that it never replaces a file finished before.
    std::string file;
    static const std::string kHelp[] = {"Enter name of PostScript output file or <RETURN>",
                                        "Enter <RETURN> for no file storage"};
    if (graphical)
      GS_INPC(false, "File to store graphics", kHelp, {"Enter a file name or <RETURN>"}, 11, file,
              status);
    else
      io_input_file_name(false, "File to store graphics", kHelp, {"Enter a file name or <RETURN>"},
                         11, file, status);
    if (status != kStatusGood) return;
    if (SLEN(file) > 0) GS_OPEN_PS(file, status);
  }
  opened = gs_state.ps_file;
  if (!opened || status != kStatusGood) return;
  ps_copy.print_start = ps_copy.pages;
  IO_WRITE("INFO: Writing graphics file: Please wait", status);
  if (has_window()) QG_DEACTIVATE_WK(1, status);
  QG_ACTIVATE_WK(2, status);
}

void GS_OFF_PRINT(Status& status) {
  constexpr std::string_view position = "Subroutine GS_OFF_PRINT V0.3";
  // A page ended by a failure (a write to the copy that failed on the way
  // among them) still gives the drawing back to the window, and a copy that
  // could not take its page ends there with the reason, keeping the pages
  // finished before it.
  if (st_bad(status, position)) {
    drawing_back_to_window();
    // A page whose drawing failed is no finished page, written or not.
    std::string reason;
    long end = 0;
    if (gs_state.ps_file && !page_written(ps_copy, reason, end)) end_copy_at_failed_page(reason);
    return;
  }
  if (qg_find_workstation(2) < 0) return;
  QG_UPDATE(2, 0, status);
  QG_DEACTIVATE_WK(2, status);
  if (has_window()) QG_ACTIVATE_WK(1, status);
  std::string reason;
  long end = 0;
  if (status != kStatusGood || !gs_state.ps_file) return;
  if (!page_written(ps_copy, reason, end)) {
    end_copy_at_failed_page(reason);
    st_fail(status, 11010, position);
    return;
  }
  ++ps_copy.pages;
  ps_copy.page_end = end;
}

void gs_print_page_break(Status& status) {
  if (st_bad(status, "Subroutine GS_PRINT_PAGE_BREAK V0.1")) return;
  const int k = qg_find_workstation(2);
  if (!gs_state.ps_file || k < 0 || qg_db_system.state[static_cast<std::size_t>(k)] != 2) return;
  // The page drawn so far is ended as a print ends it (written, checked
  // and counted), and drawing goes on into the copy on a new page.
  GS_OFF_PRINT(status);
  if (status != kStatusGood || !gs_state.ps_file) return;
  if (has_window()) QG_DEACTIVATE_WK(1, status);
  QG_ACTIVATE_WK(2, status);
}

void gs_say_print_written(Status& status) {
  if (!gs_state.ps_file) {
    IO_WRITE("INFO: Finished writing graphics file", status);
    return;
  }
  // The copy is gathered until it is closed: only then is the file there,
  // whole (a session that dies meanwhile leaves none).
  // A print of several pages (a graph a row) names them all.
  const std::string added =
      ps_copy.pages > ps_copy.print_start + 1
          ? "Pages " + format_i(ps_copy.print_start + 1, 0) + " to " + format_i(ps_copy.pages, 0)
          : "Page " + format_i(ps_copy.pages, 0);
  IO_WRITE("INFO: " + added + " added to the graphics file \"" + ps_copy.path +
               "\": the file is written when it is closed (END GRAPHICS FILE, a PRINT in the "
               "graphics window, or the end of the session)",
           status);
}

void gs_off_print_without_page() {
  drawing_back_to_window();
  if (gs_state.ps_file && ps_copy.pages == 0) give_up_copy();
}

void GS_CLOSE_PS(Status& status) {
  constexpr std::string_view position = "Subroutine GS_CLOSE_PS V0.2";
  if (st_bad(status, position)) return;
  if (!gs_state.ps_file) return;
  std::FILE* out = io_stream(kStreamPostScript);
  long last = 0;
  if (out != nullptr) {
    std::fflush(out);
    // A page still being drawn is ended first, so that the closing line
    // replaces the set-up line after its "showpage".
    if (!page_ended(tail_lines(ps_copy.work(), last)) && qg_find_workstation(2) >= 0)
      QG_UPDATE(2, 0, status);
  }
  if (qg_find_workstation(2) >= 0) QG_CLOSE_WK(2, status);
  bool written = status == kStatusGood && out != nullptr;
  if (out != nullptr) {
    std::fflush(out);
    tail_lines(ps_copy.work(), last);
    written =
        written && std::fseek(out, last, SEEK_SET) == 0 && ::ftruncate(::fileno(out), last) == 0;
    io_write_file_owner_says(kStreamPostScript, kEndLine, status);
  }
  // A line the copy could not take (the last page's, or the closing one)
  // left the system's reason with the stream; it is said here.
  const int failure = io_stream_failure(kStreamPostScript);
  std::string reason;
  if (ps_copy.atomic) {
    if (failure != 0) {
      errno = failure;
      ps_copy.atomic->fail();
    }
    io_set_stream(kStreamPostScript, nullptr);
    written = written && status == kStatusGood && ps_copy.atomic->commit();
    reason = ps_copy.atomic->error();
  } else {
    written = io_close_stream(kStreamPostScript) && written && status == kStatusGood &&
              deliver(ps_copy, -1, reason);
    written = close_target(ps_copy, reason) && written;
    if (failure != 0)
      reason = "its spool file could not be written: " + std::string(std::strerror(failure));
    ::unlink(ps_copy.spool.c_str());
  }
  if (!written && (status == kStatusGood || failure != 0)) {
    say_not_written(reason);
    if (status == kStatusGood) st_fail(status, 11010, position);
  }
  ps_copy = PsCopy{};
  gs_state.ps_file = false;
}

void gs_end_graphics_file(Status& status) {
  if (!gs_state.ps_file) return;
  // Whoever closes the file (END GRAPHICS FILE, a window's PRINT, the end of
  // the session), the file closed may hold pages of earlier prints: the line
  // names it and all its pages.
  const std::string path = ps_copy.path;
  const Index pages = ps_copy.pages;
  GS_CLOSE_PS(status);
  IO_WRITE("INFO: Finished writing graphics file \"" + path + "\" (" + format_i(pages, 0) +
               (pages == 1 ? " page)" : " pages)"),
           status);
}

void GS_CLOSE_GRAPHICS(Status& status) {
  if (st_bad(status, "Subroutine GS_CLOSE_GRAPHICS V0.2")) return;
  if (has_window()) QG_CLOSE_WK(1, status);
  gs_end_graphics_file(status);
  QG_CLOSE(status);
}

}  // namespace kesta
