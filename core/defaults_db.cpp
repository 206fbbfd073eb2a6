#include "core/defaults_db.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <span>
#include <utility>
#include <cstdio>
#include <cerrno>
#include <memory>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/filenames.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/raw_io.hpp"
#include "core/status.hpp"
#include "core/text.hpp"

namespace kesta {

namespace {

constexpr std::string_view kHeader1 = "DATABASE DEFAULT VALUES FILE";
constexpr std::string_view kHeader2 = "!!! DO NOT ALTER YOURSELF !!!";
constexpr std::size_t kTypedValueLength = 20;
// Characters of a header line of the defaults file kept while reading it.
constexpr std::size_t kLineKept = 1024;

struct Entry {
  std::string key;    // up to its used length, at most 80 characters
  std::string value;  // exactly its length, at most 256 characters
};

// The store: entries in the order of their last setting, and the characters
// they take (key, separator, value each).
struct Store {
  std::vector<Entry> entries;
  // The entries and characters the file will hold (run-only keys left out).
  int saved_entries = 0;
  int characters = 0;
  // Settings the file had no room for: they stay in effect for the session
  // (found before the entries), only saving them is refused. Without them a
  // typed geometry would be replaced at once by the built-in or older values
  // the rest of the session reads back.
  std::vector<Entry> session_only;
  // Keys of the settings that did not fit since the file was read (each
  // once), so that the end of the session can say they were not saved.
  std::vector<std::string> refused;
  // Whether the first refusal of the session has been said.
  bool refusal_told = false;
  // The last whole geometry among the entries: as the file was read or last
  // written, or as a run of geometry settings left it once another setting
  // followed or one of its keys came again; the keys set in the run under
  // way (empty when none is); and whether the session's geometry is held
  // back from the file because part of it found no room.
  std::vector<Entry> geometry_in_file;
  std::vector<std::string> geometry_run;
  bool geometry_held = false;
};
Store& store() {
  static Store s;
  return s;
}

// The caller's key equals the stored key cut to 32 characters (both compared
// without trailing blanks).
bool same_key(std::string_view wanted, std::string_view stored) {
  return used_text(wanted) == used_text(stored.substr(0, kDatabaseKeyCompare));
}

int find_in(const std::vector<Entry>& entries, std::string_view key) {
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (same_key(key, entries[i].key)) return static_cast<int>(i);
  return -1;
}

int find_entry(std::string_view key) { return find_in(store().entries, key); }

// The entry in effect for KEY: a setting held for the session only comes
// before the one the file holds; nullptr when neither holds it.
const Entry* effective_entry(std::string_view key) {
  const Store& s = store();
  if (const int held = find_in(s.session_only, key); held >= 0)
    return &s.session_only[static_cast<std::size_t>(held)];
  if (const int found = find_entry(key); found >= 0)
    return &s.entries[static_cast<std::size_t>(found)];
  return nullptr;
}

// Run-only keys ("#...") are never written to the file, so they take none of
// its room: a setting to be saved must not be refused for their sake.
bool run_only(std::string_view key) { return !key.empty() && key.front() == '#'; }

int saved_size(const Entry& entry) {
  return run_only(entry.key) ? 0 : static_cast<int>(entry.key.size() + 1 + entry.value.size());
}

// The one line said at the first setting of a session that the file has no
// room for; the exit line names every such setting again.
void tell_refusal(const std::string& what) {
  Store& s = store();
  if (s.refusal_told) return;
  s.refusal_told = true;
  Status local = kStatusGood;
  IO_WRITE("WARNING: The defaults database is full " + std::string(kDatabaseLimitsText) + ": " +
               what + " and any later setting that does not fit are used in this session but not "
               "saved",
           local);
}

// The settings that describe one experiment's geometry. A file holding
// some of a new geometry beside the rest of an old one would give the next
// session a geometry nobody measured, so the file holds all of them as the
// session set them or all of them as it had them.
constexpr std::string_view kGeometryKeys[] = {
    "X_PIXEL_SIZE",    "Y_PIXEL_SIZE",  "X_BEAM_CENTRE", "Y_BEAM_CENTRE",    "SAMPLE_DISTANCE",
    "WAVELENGTH",      "TILT_ROTATION", "TILT_ANGLE",    "DETECTOR_ROTATION"};

bool geometry_key(std::string_view key) {
  return std::any_of(std::begin(kGeometryKeys), std::end(kGeometryKeys),
                     [key](std::string_view g) { return same_key(key, g); });
}

// The entries and characters the file would hold with CHANGES put in place
// of the entries of their keys (or added).
std::pair<int, int> room_with(std::span<const Entry> changes) {
  const Store& s = store();
  int entries = s.saved_entries, characters = s.characters;
  for (const Entry& change : changes) {
    entries += run_only(change.key) ? 0 : 1;
    characters += saved_size(change);
    if (const int found = find_entry(change.key); found >= 0) {
      const Entry& old = s.entries[static_cast<std::size_t>(found)];
      entries -= run_only(old.key) ? 0 : 1;
      characters -= saved_size(old);
    }
  }
  return {entries, characters};
}

bool fits(std::pair<int, int> room) {
  // The next free position (1-based) must stay below 8000.
  return room.first <= kDatabaseMaxEntries && 1 + room.second < kDatabaseCharacters;
}

void remove_stored(std::string_view key) {
  Store& s = store();
  const int found = find_entry(key);
  if (found < 0) return;
  const Entry& old = s.entries[static_cast<std::size_t>(found)];
  s.saved_entries -= run_only(old.key) ? 0 : 1;
  s.characters -= saved_size(old);
  s.entries.erase(s.entries.begin() + found);
}

// ENTRY put in the file's entries, at the end.
void put_stored(Entry entry) {
  Store& s = store();
  remove_stored(entry.key);
  s.saved_entries += run_only(entry.key) ? 0 : 1;
  s.characters += saved_size(entry);
  s.entries.push_back(std::move(entry));
}

// ENTRY stored, no longer held for the session nor among the refused: a
// setting refused before and stored now is saved after all.
void store_entry(Entry entry) {
  Store& s = store();
  if (const auto refused = std::find(s.refused.begin(), s.refused.end(), entry.key);
      refused != s.refused.end())
    s.refused.erase(refused);
  if (const int held = find_in(s.session_only, entry.key); held >= 0)
    s.session_only.erase(s.session_only.begin() + held);
  put_stored(std::move(entry));
}

// ENTRY in effect for the session only, its key among those not saved.
void hold_entry(Entry entry) {
  Store& s = store();
  if (std::find(s.refused.begin(), s.refused.end(), entry.key) == s.refused.end())
    s.refused.push_back(entry.key);
  if (const int held = find_in(s.session_only, entry.key); held >= 0)
    s.session_only.erase(s.session_only.begin() + held);
  s.session_only.push_back(std::move(entry));
}

// Part of the geometry found no room: the geometry the session set so far
// is held for the session with it, and the file's entries go back to the
// geometry the file holds; true when some of it had been stored. Should even that no longer fit (the file's other
// settings grew meanwhile), the file keeps no geometry rather than part of one.
bool hold_geometry() {
  Store& s = store();
  s.geometry_held = true;
  std::vector<Entry> set_here;
  for (const Entry& entry : s.entries) {
    if (!geometry_key(entry.key)) continue;
    const int in_file = find_in(s.geometry_in_file, entry.key);
    if (in_file < 0 || s.geometry_in_file[static_cast<std::size_t>(in_file)].value != entry.value)
      set_here.push_back(entry);
  }
  if (set_here.empty()) return false;
  std::vector<Entry> unchanged;
  for (const std::string_view key : kGeometryKeys) {
    if (const int found = find_entry(key); found >= 0) {
      const Entry& entry = s.entries[static_cast<std::size_t>(found)];
      if (find_in(set_here, entry.key) < 0) unchanged.push_back(entry);
      remove_stored(key);
    }
  }
  for (Entry& entry : set_here) hold_entry(std::move(entry));
  if (fits(room_with(s.geometry_in_file))) {
    for (const Entry& entry : s.geometry_in_file) put_stored(entry);
  } else {
    for (Entry& entry : unchanged) hold_entry(std::move(entry));
  }
  return true;
}

// The session's geometry, set whole into the file's entries where it now
// fits: true when it did.
bool release_geometry() {
  Store& s = store();
  std::vector<Entry> held;
  for (const Entry& entry : s.session_only)
    if (geometry_key(entry.key)) held.push_back(entry);
  if (!fits(room_with(held))) return false;
  for (Entry& entry : held) store_entry(std::move(entry));
  s.geometry_held = false;
  return true;
}

// The geometry's entries as they stand now, a whole geometry.
void note_geometry_in_file() {
  Store& s = store();
  s.geometry_in_file.clear();
  for (const Entry& entry : s.entries)
    if (geometry_key(entry.key)) s.geometry_in_file.push_back(entry);
  s.geometry_run.clear();
}

// A command sets a geometry key by key: the run of geometry settings ends
// when any other setting to be saved follows, or when a key of the run is
// set again (the next command's geometry: most commands between two
// geometries save nothing), and the geometry it left stands whole from then
// on. Going back to the geometry of the last read or write instead would
// find no room for it once later settings took the room a shorter geometry
// left, and would undo a geometry the session went on using.
void note_setting(const Entry& entry, bool geometry) {
  Store& s = store();
  if (run_only(entry.key)) return;
  const bool run_ends =
      !geometry || std::ranges::find(s.geometry_run, entry.key) != s.geometry_run.end();
  // A run held back from the file stays open: the geometry it leaves is
  // noted once it is released and the run ends.
  if (run_ends && !s.geometry_run.empty() && !s.geometry_held) note_geometry_in_file();
  if (geometry && std::ranges::find(s.geometry_run, entry.key) == s.geometry_run.end())
    s.geometry_run.push_back(entry.key);
}

// LOADING: an entry of the defaults file itself, whose refusal is the
// loader's result, not a setting of the session.
void set_entry(std::string_view key, int length, std::string_view value, int& retstat,
               bool loading = false) {
  Store& s = store();
  Entry entry;
  entry.key = std::string(used_text(key).substr(0, kDatabaseKeyLength));
  const std::size_t n = static_cast<std::size_t>(std::clamp(length, 0, kDatabaseValueLength));
  entry.value = std::string(value.substr(0, n));
  entry.value.resize(n, ' ');
  const bool geometry = !loading && geometry_key(entry.key);
  if (!loading) note_setting(entry, geometry);
  // A new value that does not fit leaves the old one in place: dropping it
  // first would lose a setting the store held.
  if (!(geometry && s.geometry_held) && fits(room_with({&entry, 1}))) {
    store_entry(std::move(entry));
    return;
  }
  if (loading) {
    retstat = 1;
    return;
  }
  const std::string refused_key = entry.key;
  const bool others_held = geometry && !s.geometry_held && hold_geometry();
  hold_entry(std::move(entry));
  if (geometry && release_geometry()) return;
  retstat = 1;
  tell_refusal(others_held ? "the geometry (" + refused_key + " had no room)" : refused_key);
}

// The first 20 characters of KEY's value; false (RETSTAT 2) when not stored.
bool typed_value(std::string_view key, std::string& text, int& retstat) {
  const Entry* entry = effective_entry(key);
  if (entry == nullptr) {
    retstat = 2;
    return false;
  }
  text = entry->value.substr(0, kTypedValueLength);
  return true;
}

// KEY's typed value read by the token converter CONVERT into VALUE: RETSTAT 0,
// 2 when not stored, 3 when the text is not a value of the type.
template <typename T>
void inq_typed_value(std::string_view key, void (*convert)(std::string_view, bool&, T&, Status&),
                     T& value, int& retstat, Status& status) {
  std::string text;
  if (!typed_value(key, text, retstat)) return;
  bool ok = false;
  T read{};
  convert(text, ok, read, status);
  if (status != kStatusGood) return;
  if (!ok) {
    retstat = 3;
    return;
  }
  value = read;
  retstat = 0;
}

// Expands "~"; false (with the translator's warning) when it cannot.
bool translated(std::string_view file_name, std::string& path, Status& status) {
  int retstat = 0;
  IO_TRANS_PATH(file_name, retstat, path, status);
  return status == kStatusGood && retstat == 0 && !path.empty();
}

// One line of the file as written: line ends inside a text would split it.
std::string one_line(std::string_view text) {
  std::string line(text);
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  return line;
}

}  // namespace

void io_clear_database() { store() = Store{}; }

std::vector<std::string> io_database_refused_keys() { return store().refused; }

void IO_ACCESS_DATABASE(int mode, std::string& key, int& length, std::string& value,
                        int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_ACCESS_DATABASE V0.3")) return;
  if (mode == 0) {
    set_entry(key, length, value, retstat);
  } else if (mode == 1) {
    const Entry* entry = effective_entry(key);
    if (entry == nullptr) {
      retstat = 2;
      return;
    }
    value = entry->value;
    length = static_cast<int>(value.size());
    retstat = 0;
  } else if (mode < 0) {
    // The settings in effect: the file's entries (a value held for the
    // session in place of the stored one), then the session's new keys.
    const Store& s = store();
    std::vector<const Entry*> in_effect;
    for (const Entry& entry : s.entries) {
      const int held = find_in(s.session_only, entry.key);
      in_effect.push_back(held >= 0 ? &s.session_only[static_cast<std::size_t>(held)] : &entry);
    }
    for (const Entry& entry : s.session_only)
      if (find_entry(entry.key) < 0) in_effect.push_back(&entry);
    const long n = -static_cast<long>(mode);
    if (n > static_cast<long>(in_effect.size())) {
      retstat = 2;
      return;
    }
    const Entry& entry = *in_effect[static_cast<std::size_t>(n - 1)];
    key = entry.key;
    value = entry.value;
    length = static_cast<int>(value.size());
    retstat = 0;
  }
}

void IO_SET_KEYVALUE(std::string_view key, int length, std::string_view value, int& retstat,
                     Status& status) {
  if (st_bad(status, "Subroutine IO_SET_KEYVALUE V0.1")) return;
  set_entry(key, length, value, retstat);
}

void IO_INQ_KEYVALUE(std::string_view key, int& length, std::string& value, int& retstat,
                     Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_KEYVALUE V0.1")) return;
  std::string k(key);
  IO_ACCESS_DATABASE(1, k, length, value, retstat, status);
}

void IO_SET_IKEYVALUE(std::string_view key, int ivalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_IKEYVALUE V0.1")) return;
  const std::string text = IO_ITOC(ivalue).substr(0, kTypedValueLength);
  set_entry(key, static_cast<int>(text.size()), text, retstat);
}

void IO_SET_RKEYVALUE(std::string_view key, float rvalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_RKEYVALUE V0.1")) return;
  const std::string text(used_text(IO_RTOC(rvalue).substr(0, kTypedValueLength)));
  set_entry(key, static_cast<int>(text.size()), text, retstat);
}

void IO_SET_LKEYVALUE(std::string_view key, bool lvalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SET_LKEYVALUE V0.1")) return;
  const std::string_view text = lvalue ? "TRUE" : "FALSE";
  set_entry(key, static_cast<int>(text.size()), text, retstat);
}

void IO_INQ_IKEYVALUE(std::string_view key, int& ivalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_IKEYVALUE V0.1")) return;
  inq_typed_value(key, IO_TOKTI, ivalue, retstat, status);
}

void IO_INQ_RKEYVALUE(std::string_view key, float& rvalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_RKEYVALUE V0.1")) return;
  inq_typed_value(key, IO_TOKTR, rvalue, retstat, status);
}

void IO_INQ_LKEYVALUE(std::string_view key, bool& lvalue, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_INQ_LKEYVALUE V0.1")) return;
  std::string text;
  if (!typed_value(key, text, retstat)) return;
  const std::string_view word = used_text(text);
  if (word == "TRUE") {
    lvalue = true;
  } else if (word == "FALSE") {
    lvalue = false;
  } else {
    retstat = 3;
    return;
  }
  retstat = 0;
}

void IO_LOAD_DATABASE(std::string_view file_name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_LOAD_DATABASE V0.3")) return;
  retstat = 0;
  std::string path;
  if (!translated(file_name, path, status)) {
    retstat = -1;
    return;
  }
  // A private stream: the slot of stream 17 may hold another file (a
  // PostScript copy) at the time. Only a regular file is read (once links
  // are followed): a named pipe would hold the start for ever, a device such
  // as /dev/zero would never end.
  std::string refused;
  const InputFile in = open_input_file(path, refused);
  if (!in) {
    // No file at all is the first run, and says nothing.
    if (errno != ENOENT) {
      IO_WRITE("WARNING: Problem inputting internal database", status);
      IO_WRITE("WARNING: " + path + " " + refused + "; it is neither read nor saved over", status);
    }
    retstat = -1;
    return;
  }

  int line_number = 0;
  // The next line, its first KEPT characters kept (the rest read past); false
  // at the end of the file (or a read error).
  const auto next_line = [&](std::size_t kept, std::string& line) {
    bool cut = false;
    if (!io_read_bounded_line(in.get(), kept, line, cut)) return false;
    ++line_number;
    return true;
  };

  // The first problem found is the one reported.
  std::string problem;
  const auto note = [&problem](std::string text) {
    if (problem.empty()) problem = std::move(text);
  };
  std::string line1, line2;
  if (!next_line(kLineKept, line1) || !next_line(kLineKept, line2)) {
    problem = "not a defaults file (no header lines)";
  } else {
    // Altered header lines are reported, but the entries are still read: the
    // file is rewritten at exit, and refusing them would lose every setting.
    if (used_text(line1) != kHeader1 || used_text(line2) != kHeader2)
      note("unexpected header lines");
    // A key is read as its first 80 characters and a value as its first 256,
    // the value's length its used length: a longer line (a file edited by
    // hand) loses its end, never its entry.
    std::string key, value;
    constexpr auto kKeyKept = static_cast<std::size_t>(kDatabaseKeyLength);
    constexpr auto kValueKept = static_cast<std::size_t>(kDatabaseValueLength);
    while (next_line(kKeyKept, key)) {
      if (!next_line(kValueKept, value)) {
        note("line " + IO_ITOC(line_number) + ": key without a value line");
        break;
      }
      int set_status = 0;
      set_entry(key, SLEN(value), value, set_status, true);
      if (set_status == 1) retstat = 1;
    }
    if (std::ferror(in.get())) note("read error after line " + IO_ITOC(line_number));
  }

  note_geometry_in_file();
  if (!problem.empty()) {
    IO_WRITE("WARNING: Problem inputting internal database", status);
    IO_WRITE("WARNING: " + path + ": " + problem, status);
    retstat = 4;
  }
}

void IO_SAVE_DATABASE(std::string_view file_name, int& retstat, Status& status) {
  if (st_bad(status, "Subroutine IO_SAVE_DATABASE V0.3")) return;
  retstat = 0;
  std::string path;
  const bool named = translated(file_name, path, status);
  if (status != kStatusGood) {
    retstat = -1;
    return;
  }
  // Reported straight to the terminal, as the opener's result code.
  const auto refuse = [&](const std::string& reason) {
    if (std::FILE* terminal = io_stream(kStreamTerminal)) {
      std::fputs(("IO_OPEN_ASCIIFILE retstat = " + format_i(1, 6) + "\n").c_str(), terminal);
      if (named)
        std::fputs(("WARNING: Cannot open " + path + ": " + reason + "\n").c_str(), terminal);
      std::fflush(terminal);
    }
    retstat = -1;
  };
  // A defaults file that is something else than a regular file (a named
  // pipe, a device, a directory, once links are followed) was not read and is
  // not written either.
  struct stat info {};
  if (named && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    refuse(S_ISDIR(info.st_mode) ? "is a directory, so no file was written"
                                 : "is not a regular file, so no file was written");
    return;
  }
  AtomicFile out(named ? path : std::string());
  if (!out.ok()) {
    refuse(out.error());
    return;
  }
  out.write_line(kHeader1);
  out.write_line(kHeader2);
  for (const Entry& entry : store().entries) {
    if (run_only(entry.key)) continue;
    out.write_line(one_line(entry.key));
    out.write_line(one_line(entry.value));
  }
  if (!out.commit()) {
    IO_WRITE("WARNING: Error in writing file " + path + ": " + out.error(), status);
    retstat = -2;
    return;
  }
  note_geometry_in_file();
}

}  // namespace kesta
