#include "core/filenames.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/ask_again.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/system.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

std::string used(std::string_view s) { return std::string(used_text(s)); }

// Position (0-based) of the last separator, npos when none.
std::size_t last_separator(std::string_view file, Status& status) {
  return file.rfind(io_separator(status));
}

// Decimal width of a series number: numbers of a million or more are never padded.
int number_width(int value) {
  if (value < 10) return 1;
  if (value < 100) return 2;
  if (value < 1000) return 3;
  if (value < 10000) return 4;
  if (value < 100000) return 5;
  if (value <= 999999) return 6;
  return 0;
}

// Examines FILE from its first non-blank character; a blank name gives 10033
// and false.
bool examine(std::string_view file, struct stat& info, bool& exists, Status& status,
             const char* position) {
  const std::string name = used(file);
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) {
    st_fail(status, 10033, position);
    return false;
  }
  exists = stat(name.c_str() + first, &info) == 0;
  return true;
}

}  // namespace

char io_separator(Status& status) {
  std::string system;
  std::string processor;
  IO_SYSTEM_NAME(system, processor, status);
  return system == "WINDOWS-NT" ? '\\' : '/';
}

void IO_TRANS_PATH(std::string_view path_in, int& retstat, std::string& path_out,
                   Status& status) {
  if (st_bad(status, "Subroutine IO_TRANS_PATH V0.4")) return;
  retstat = 0;
  const std::string path = used(path_in);
  const std::size_t first = path.find_first_not_of(' ');
  if (first == std::string::npos) return;
  std::string text = path.substr(first);
  if (text[0] != '~') {
    path_out = text;
    return;
  }
  const std::size_t slash = text.find('/');
  const std::string user = text.substr(0, slash);
  std::string home;
  int lookup = 0;
  IO_USERPATH(user, lookup, home, status);
  if (lookup != 0) {
    IO_WRITE("WARNING: Problem obtaining home directory information", status);
    path_out = text;
    retstat = lookup;
    return;
  }
  path_out = home + (slash == std::string::npos ? std::string() : text.substr(slash));
}

void IO_DIRPATH(std::string_view file, std::string& dirpath, Status& status) {
  if (st_bad(status, "Subroutine IO_DIRPATH V0.2")) return;
  const std::string name = used(file);
  const std::size_t at = last_separator(name, status);
  dirpath = at == std::string::npos ? std::string() : name.substr(0, at + 1);
}

void IO_NODIRPATH(std::string_view file, std::string& name, Status& status) {
  if (st_bad(status, "Subroutine IO_NODIRPATH V0.2")) return;
  const std::string full = used(file);
  const std::size_t at = last_separator(full, status);
  name = at == std::string::npos ? full : full.substr(at + 1);
}

void IO_EXTENSION(std::string_view file, std::string& extension, Status& status) {
  if (st_bad(status, "Subroutine IO_EXTENSION V0.2")) return;
  const std::string name = used(file);
  const std::size_t dot = name.rfind('.');
  extension = (dot == std::string::npos || dot + 1 == name.size()) ? std::string() : name.substr(dot + 1);
}

void IO_NOEXTENSION(std::string_view file, std::string& name, Status& status) {
  if (st_bad(status, "Subroutine IO_NOEXTENSION V0.2")) return;
  const std::string full = used(file);
  const std::size_t dot = full.rfind('.');
  name = (dot == std::string::npos || dot == 0) ? std::string() : full.substr(0, dot);
}

void IO_BASENAME(std::string_view file, std::string& base, Status& status) {
  if (st_bad(status, "Subroutine IO_BASENAME V0.1")) return;
  std::string name;
  IO_NODIRPATH(file, name, status);
  IO_NOEXTENSION(name, base, status);
}

void IO_FILEEXTENSION(std::string_view file, std::string_view extension, int& retstat,
                      std::string& newfile, Status& status) {
  if (st_bad(status, "Subroutine IO_FILEEXTENSION V0.2")) return;
  const std::string name = used(file);
  const std::size_t dot = name.rfind('.');
  std::string ext = used(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  newfile = (dot == std::string::npos ? name : name.substr(0, dot)) + "." + ext;
  retstat = 0;
}

void IO_OUTFILE(int mode, std::string_view input_file, std::string_view extension,
                std::string_view default_file, std::string& output_file, Status& status) {
  if (st_bad(status, "Subroutine IO_OUTFILE V0.2")) return;
  std::string stem;
  if (mode == 1)
    IO_NOEXTENSION(input_file, stem, status);
  else
    IO_BASENAME(input_file, stem, status);
  output_file = stem.empty() ? used(default_file) : stem + used(extension);
}

void IO_NEWFILENAME(std::string_view file, int increment, int mode, int& retstat,
                    std::string& newfile, Status& status) {
  if (st_bad(status, "Subroutine IO_NEWFILENAME V0.5")) return;
  std::string directory;
  std::string base;
  std::string extension;
  IO_DIRPATH(file, directory, status);
  IO_BASENAME(file, base, status);
  IO_EXTENSION(file, extension, status);
  if (base.size() < 2) {
    retstat = 2;
    return;
  }
  // The last run of digits that starts at the second character or later.
  std::size_t last = base.size();
  while (last > 1 && !IO_ISDIGIT(base[last - 1])) --last;
  if (last <= 1) {
    retstat = 3;
    return;
  }
  std::size_t first = last;  // one past the run's start, 1-based
  while (first > 1 && IO_ISDIGIT(base[first - 2])) --first;
  if (first == 1) {
    retstat = 3;
    return;
  }
  const std::size_t run_start = first - 1;  // 0-based
  const std::string run = base.substr(run_start, last - run_start);
  bool ok = false;
  int old_value = 0;
  IO_TOKTI(run, ok, old_value, status);
  if (!ok) {
    retstat = 4;
    return;
  }
  const int width = number_width(old_value);
  const bool padded = width != 0 && static_cast<int>(run.size()) > width;
  const std::int64_t new_value = static_cast<std::int64_t>(old_value) + increment;
  std::string number = IO_ITOC(new_value);
  if (padded && number.size() < run.size()) number.insert(0, run.size() - number.size(), '0');

  const char separator = io_separator(status);
  std::string result = directory;
  if (!result.empty() && result.back() != separator) result.push_back(separator);
  result += base.substr(0, run_start) + number + base.substr(last);
  if (!extension.empty()) result += "." + extension;

  // The name is given back even when the existence test fails, so that the
  // caller can report which file is missing or already there.
  newfile = result;
  retstat = 0;
  if (mode == 1 || mode == 2 || mode == 4) {
    struct stat info {};
    const bool exists = stat(newfile.c_str(), &info) == 0;
    if ((mode == 4) == exists) retstat = 7;
  }
}

void IO_FILENAME(std::string_view prefix, int number, bool fixed, int digits,
                 std::string_view extension, int& retstat, std::string& filename,
                 Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILENAME V0.2";
  if (st_bad(status, kPosition)) return;
  if (fixed && digits < 0) {
    st_fail(status, 10017, kPosition);
    return;
  }
  std::string text = IO_ITOC(number);
  if (fixed && digits == 0) {
    text.clear();
  } else if (fixed) {
    if (text.size() > static_cast<std::size_t>(digits)) {
      retstat = -1;
      return;
    }
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  }
  filename = used(prefix) + text + used(extension);
  retstat = 0;
}

void IO_FILEEXIST(std::string_view file, bool& exists, int& kind, int& retstat, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILEEXIST V0.3";
  if (st_bad(status, kPosition)) return;
  struct stat info {};
  if (!examine(file, info, exists, status, kPosition)) return;
  kind = 0;
  if (exists) kind = S_ISREG(info.st_mode) ? 1 : S_ISDIR(info.st_mode) ? 2 : 0;
  retstat = 0;
}

void IO_FILESIZE(std::string_view file, Index& size, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILESIZE V0.1";
  if (st_bad(status, kPosition)) return;
  struct stat info {};
  bool exists = false;
  if (!examine(file, info, exists, status, kPosition)) return;
  size = exists ? static_cast<Index>(info.st_size) : -1;
}

void io_write_open_problem(std::string_view path, std::string_view problem, Status& status) {
  constexpr std::string_view cannot = "cannot be opened: ";
  if (problem.starts_with(cannot))
    IO_WRITE("WARNING: Cannot open " + std::string(path) + ": " +
                 std::string(problem.substr(cannot.size())),
             status);
  else
    IO_WRITE("WARNING: \"" + std::string(path) + "\" " + std::string(problem), status);
}

void IO_OPEN_ASCIIFILE(bool prompt, std::string_view mode, int unit, std::string& file,
                       int& retstat, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_OPEN_ASCIIFILE V0.5";
  if (st_bad(status, kPosition)) return;
  if (unit < 1 || unit > 99) {
    st_fail(status, 10017, kPosition);
    return;
  }
  const std::string how = IO_UPPER(mode);
  // READ and UPDATE need an existing file; anything else creates or rewrites it.
  const char* open_mode = how == "READ" ? "r" : how == "UPDATE" ? "r+" : "w";
  // True when NAME opened or nothing more is to be asked (a path that cannot
  // be translated); a file that did not open is named with the reason.
  const auto opens = [&](const std::string& name) {
    std::string translated;
    int translation = 0;
    IO_TRANS_PATH(name, translation, translated, status);
    if (status != kStatusGood) {
      retstat = 1;
      return true;
    }
    if (translation != 0) {
      IO_WRITE("WARNING: Problem translating: " + used(name), status);
      retstat = 1;
      return true;
    }
    std::string problem;
    if (io_open_stream(unit, translated, open_mode, problem)) {
      retstat = 0;
      return true;
    }
    io_write_open_problem(translated, problem, status);
    retstat = 1;
    return false;
  };
  if (!prompt) {
    opens(file);
    return;
  }
  // A name that did not open is asked for again offering the one offered
  // before it.
  if (!io_ask_until_accepted(
          file,
          [](std::string& name, Status& s) {
            io_input_file_name(true, "FILE NAME", {"Enter Name of file"}, {"Unacceptable input"},
                               1, name, s);
          },
          opens,
          [](Status& s) {
            if (s == kStatusGood) IO_WRITE("WARNING: Error in opening file, Please retype name", s);
          },
          status))
    retstat = 1;
}

}  // namespace kesta
