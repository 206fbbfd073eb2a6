#include "core/directories.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/filenames.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr std::size_t kCompareLength = 132;

std::string used(std::string_view s) { return std::string(used_text(s)); }

// Closes the directory stream on every return.
struct DirCloser {
  DIR* dir;
  ~DirCloser() {
    if (dir != nullptr) closedir(dir);
  }
};

// Reports an entry that cannot be examined; these lines go straight to
// standard output. A vanished entry is skipped silently.
void report_stat_error(int error, const char* name) {
  switch (error) {
    case ENOENT:
      return;
    case EACCES:
      std::printf("WARNING: in io_directoryc.c from stat: EACCES\n");
      std::printf("         Problem file/directory = %s\n", name);
      break;
    case EBADF:
      std::printf("WARNING: in io_directoryc.c from stat: EBADF\n");
      break;
    case ENAMETOOLONG:
      std::printf("WARNING: in io_directoryc.c from stat: ENAMETOOLONG\n");
      break;
    case ENOTDIR:
      std::printf("ERROR: in io_directoryc.c from stat: ENOTDIR\n");
      break;
    default:
      std::printf("ERROR: in io_directoryc.c from stat: unknown ??\n");
      break;
  }
  std::fflush(stdout);
}

// Names compare as 132-character blank-padded texts, by character code.
bool name_less(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < kCompareLength; ++i) {
    const auto ca = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
    const auto cb = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
    if (ca != cb) return ca < cb;
  }
  return false;
}

// NUM_NAMES as far as the packed store holds names, never negative, so that
// a count the store does not back cannot run past it.
int stored_names(int num_names, const std::vector<Index>& pointers) {
  const std::size_t held = pointers.empty() ? 0 : pointers.size() - 1;
  const Index limit = static_cast<Index>(std::min<std::size_t>(held, INT_MAX));
  return static_cast<int>(std::clamp<Index>(num_names, 0, limit));
}

// DIRECTORY without its last component; false when it has no parent.
bool parent_of(std::string& directory, char separator) {
  std::string dir = used(directory);
  while (dir.size() > 1 && dir.back() == separator) dir.pop_back();
  if (dir.size() <= 1) return false;
  const std::size_t at = dir.rfind(separator);
  if (at == std::string::npos) return false;
  directory = at == 0 ? std::string(1, separator) : dir.substr(0, at);
  return true;
}

}  // namespace

std::string io_store_name(const std::vector<Index>& pointers, const std::string& store, int i) {
  if (i < 1 || static_cast<std::size_t>(i) >= pointers.size()) return {};
  const Index from = pointers[i - 1] - 1;
  const Index to = pointers[i] - 1;
  if (from < 0 || to < from || static_cast<std::size_t>(to) > store.size()) return {};
  return store.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

namespace {

// The loop of the two selections: each of the names 1 .. NUM_NAMES whose
// selection is WHICH takes the answer of TEST(name, match, status) as its new
// selection, and MATCHED counts the true answers. Returns the names the store
// holds, or -1 when MAX_NAMES is too small or a test failed.
template <class Test>
int reselect(const char* position, int max_names, int num_names,
             const std::vector<Index>& pointers, const std::string& store, bool which,
             std::vector<bool>& selected, int& matched, Test test, Status& status) {
  if (max_names <= 1) {
    st_fail(status, 10033, position);
    return -1;
  }
  num_names = stored_names(num_names, pointers);
  if (selected.size() < static_cast<std::size_t>(num_names)) selected.resize(num_names, false);
  matched = 0;
  for (int i = 1; i <= num_names; ++i) {
    if (selected[i - 1] != which) continue;
    bool match = false;
    test(io_store_name(pointers, store, i), match, status);
    if (status != kStatusGood) return -1;
    selected[i - 1] = match;
    if (match) ++matched;
  }
  return num_names;
}

}  // namespace

void IO_DIRECTORY(bool files, std::string_view directory, int max_names, Index max_chars,
                  int& retstat, int& num_names, std::vector<Index>& pointers, std::string& store,
                  Status& status) {
  if (st_bad(status, "Subroutine IO_DIRECTORY V0.3")) return;
  num_names = 0;
  pointers.assign(1, 1);
  store.clear();
  const std::string path = used(directory);
  DirCloser dir{opendir(path.c_str())};
  if (dir.dir == nullptr) {
    retstat = 1;
    return;
  }
  // Entries are examined relative to the open directory, so the process's
  // working directory is never changed.
  const int fd = dirfd(dir.dir);
  retstat = 0;
  while (const dirent* entry = readdir(dir.dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat info {};
    if (fstatat(fd, name, &info, 0) != 0) {
      report_stat_error(errno, name);
      continue;
    }
    if (files ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode)) continue;
    if (num_names >= max_names) {
      retstat = 2;
      break;
    }
    const std::size_t length = std::strlen(name);
    if (static_cast<Index>(store.size() + length) > max_chars) {
      retstat = 3;
      break;
    }
    store.append(name, length);
    ++num_names;
    pointers.push_back(static_cast<Index>(store.size()) + 1);
  }
}

void IO_LISTFILES(std::string_view directory, int max_names, Index max_chars, int num_types,
                  std::span<const std::string> types, std::string_view mask, int& retstat,
                  int& num_names, std::vector<bool>& selected, int& num_selected,
                  std::vector<int>& order, std::vector<Index>& pointers, std::string& store,
                  Status& status) {
  if (st_bad(status, "Subroutine IO_LISTFILES V0.2")) return;
  IO_DIRECTORY(true, directory, max_names, max_chars, retstat, num_names, pointers, store, status);
  selected.assign(static_cast<std::size_t>(std::max(num_names, 0)), false);
  num_selected = 0;
  order.clear();
  if (retstat != 0 || status != kStatusGood) return;
  if (num_types <= 0) {
    selected.assign(selected.size(), true);
    num_selected = num_names;
  } else {
    const auto count = std::min(static_cast<std::size_t>(num_types), types.size());
    for (std::size_t t = 0; t < count; ++t)
      IO_FILESTYPE(max_names, num_names, pointers, store, types[t], selected, num_selected, status);
  }
  if (SLEN(mask) > 0)
    IO_FILESMATCH(max_names, num_names, pointers, store, mask, selected, num_selected, status);
  IO_FILESORDER(max_names, num_names, pointers, store, num_selected, selected, order, status);
}

void IO_FILETYPE(std::string_view file, std::string_view type, bool& match, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILETYPE V0.1";
  if (st_bad(status, kPosition)) return;
  const std::string name = used(file);
  const std::string wanted = used(type);
  if (name.empty() || wanted.empty()) {
    st_fail(status, 10033, kPosition);
    return;
  }
  const std::size_t dot = name.rfind('.');
  match = dot != std::string::npos && dot != 0 && dot + 1 < name.size() && name.substr(dot + 1) == wanted;
}

void IO_FILESTYPE(int max_names, int num_names, const std::vector<Index>& pointers,
                  const std::string& store, std::string_view type, std::vector<bool>& selected,
                  int& num_selected, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILESTYPE V0.1";
  if (st_bad(status, kPosition)) return;
  int matched = 0;
  num_names = reselect(
      kPosition, max_names, num_names, pointers, store, false, selected, matched,
      [type](std::string_view name, bool& match, Status& s) { IO_FILETYPE(name, type, match, s); },
      status);
  if (num_names < 0) return;
  num_selected = static_cast<int>(std::count(selected.begin(), selected.begin() + num_names, true));
}

void IO_FILESMATCH(int max_names, int num_names, const std::vector<Index>& pointers,
                   const std::string& store, std::string_view mask, std::vector<bool>& selected,
                   int& num_match, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILESMATCH V0.1";
  if (st_bad(status, kPosition)) return;
  reselect(kPosition, max_names, num_names, pointers, store, true, selected, num_match,
           [mask](std::string_view name, bool& match, Status& s) {
             IO_STRINGMATCH(name, mask, match, s);
           },
           status);
}

void IO_FILESORDER(int max_names, int num_names, const std::vector<Index>& pointers,
                   const std::string& store, int num_selected, const std::vector<bool>& selected,
                   std::vector<int>& order, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_FILESORDER V0.1";
  if (st_bad(status, kPosition)) return;
  if (max_names <= 1) {
    st_fail(status, 10033, kPosition);
    return;
  }
  num_names = stored_names(num_names, pointers);
  order.clear();
  const int limit = std::min<int>(num_names, static_cast<int>(selected.size()));
  for (int i = 1; i <= limit && static_cast<int>(order.size()) < std::max(num_selected, 0); ++i)
    if (selected[i - 1]) order.push_back(i);
  std::vector<std::string> names(static_cast<std::size_t>(num_names) + 1);
  for (int i : order) names[i] = io_store_name(pointers, store, i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return name_less(names[a], names[b]); });
}

void IO_GETCWD(int& retstat, std::string& directory, Status& status) {
  if (st_bad(status, "Subroutine IO_GETCWD V0.2")) return;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) {
    retstat = 1;
    return;
  }
  directory = cwd;
  std::free(cwd);
  if (io_separator(status) == '\\') std::replace(directory.begin(), directory.end(), '/', '\\');
  retstat = 0;
}

void IO_UP_DIRECTORY(std::string& directory, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_UP_DIRECTORY V0.2")) return;
  const char separator = io_separator(status);
  const std::size_t shortest = separator == '\\' ? 3 : 1;
  if (static_cast<std::size_t>(SLEN(directory)) <= shortest || !parent_of(directory, separator)) {
    retstat = 1;
    return;
  }
  retstat = 0;
}

void IO_CHANGEDIR(std::string& directory, std::string& entry, int& retstat, bool& is_file,
                  Status& status) {
  if (st_bad(status, "Subroutine IO_CHANGEDIR V0.3")) return;
  retstat = 0;
  const char separator = io_separator(status);
  int translation = 0;
  std::string text;
  IO_TRANS_PATH(entry, translation, text, status);
  if (text.empty()) return;
  const std::string current = used(directory);
  if (text == "." || text == current + separator) {
    entry.clear();
    is_file = false;
    return;
  }

  std::string base = current;
  std::string rest = text;
  if (text[0] != separator && text.rfind("..", 0) == 0) {
    while (rest.rfind("..", 0) == 0) {
      if (rest.size() > 2 && rest[2] != separator) {
        retstat = 2;
        return;
      }
      if (!parent_of(base, separator)) {
        retstat = 1;
        return;
      }
      rest.erase(0, std::min<std::size_t>(rest.size(), 3));
    }
    if (rest.empty()) {
      directory = base;
      entry.clear();
      is_file = false;
      return;
    }
  }

  std::string path;
  if (rest[0] == separator)
    path = rest;
  else
    path = base + (base.empty() || base.back() == separator ? "" : std::string(1, separator)) + rest;

  bool exists = false;
  int kind = 0;
  int found = 0;
  IO_FILEEXIST(path, exists, kind, found, status);
  if (!exists) {
    retstat = 1;
    return;
  }
  if (kind == 2) {
    directory = path;
    entry.clear();
    is_file = false;
    return;
  }
  const std::size_t at = path.rfind(separator);
  directory = at == std::string::npos ? current : at == 0 ? std::string(1, separator) : path.substr(0, at);
  entry = at == std::string::npos ? path : path.substr(at + 1);
  is_file = true;
}

void IO_FILESEQUENCE(std::string_view first, std::string_view last, int& retstat, int& start,
                     int& end, int& step, std::string& prefix, bool& variable, int& digits,
                     std::string& postfix, std::string& extension, Status& status) {
  if (st_bad(status, "Subroutine IO_FILESEQUENCE V0.3")) return;
  const std::string a = used(first);
  const std::string b = used(last);
  const std::size_t l1 = a.size();
  const std::size_t l2 = b.size();
  if (l1 == 0 || l2 == 0) {
    retstat = -1;
    return;
  }
  const std::size_t shorter = std::min(l1, l2);
  std::size_t d = 0;
  while (d < shorter && a[d] == b[d]) ++d;

  if (a == b) {
    // A single file.
    start = end = step = 1;
    variable = false;
    digits = 0;
    postfix.clear();
    const std::size_t dot = a.find('.');
    extension = (dot == std::string::npos || dot + 1 == l1) ? std::string() : a.substr(dot);
    prefix = dot == std::string::npos ? a : a.substr(0, dot);
    retstat = 0;
    return;
  }

  std::size_t s = 0;
  while (s < shorter && a[l1 - 1 - s] == b[l2 - 1 - s]) ++s;
  if (d + s < l1) {
    // The suffix may not reach into the prefix of either name.
    s = std::min({s, l1 - d, l2 - d});
    while (s > 0 && IO_ISDIGIT(a[l1 - s])) --s;
  } else {
    // The number ends where the names stop having digits side by side.
    std::size_t k = d;
    while (k < l1 && k < l2 && IO_ISDIGIT(a[k]) && IO_ISDIGIT(b[k])) ++k;
    s = std::min(l1 - k, l2 > k ? l2 - k : 0);
  }
  while (d >= 2 && IO_ISDIGIT(a[d - 1]) && IO_ISDIGIT(b[d - 1])) --d;

  prefix = a.substr(0, d);
  postfix = a.substr(l1 - s);
  const std::string middle_first = a.substr(d, l1 - s - d);
  const std::string middle_last = b.substr(d, l2 - s - d);
  bool ok = true;
  if (!middle_first.empty()) IO_TOKTI(middle_first, ok, start, status);
  if (ok && !middle_last.empty()) IO_TOKTI(middle_last, ok, end, status);
  if (!ok) {
    retstat = -1;
    return;
  }
  step = end < start ? -1 : 1;
  variable = middle_first.size() != middle_last.size();
  if (!variable) digits = static_cast<int>(middle_first.size());
  const std::size_t dot = postfix.find('.');
  if (dot != std::string::npos) {
    extension = postfix.substr(dot);
    postfix.resize(dot);
  } else {
    extension.clear();
  }
  retstat = 0;
}

}  // namespace kesta
