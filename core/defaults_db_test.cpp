#include "core/defaults_db.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/test_support.hpp"

namespace kesta {
namespace {

const std::string kHead = "DATABASE DEFAULT VALUES FILE\n!!! DO NOT ALTER YOURSELF !!!\n";

// A private HOME and an empty store for every test.
class DefaultsDb : public ::testing::Test {
 protected:
  void SetUp() override { io_clear_database(); }
  void TearDown() override { io_clear_database(); }
  std::string file() const { return home_.file(".kesta.def"); }
  void write_file(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }

  void set(std::string_view key, std::string_view value) {
    IO_SET_KEYVALUE(key, static_cast<int>(value.size()), value, retstat_, status_);
  }
  // The value of KEY, or "<missing>".
  std::string get(std::string_view key) {
    int length = -1, retstat = -1;
    std::string value;
    IO_INQ_KEYVALUE(key, length, value, retstat, status_);
    return retstat == 2 ? "<missing>" : value.substr(0, static_cast<std::size_t>(length));
  }
  int count() {
    std::string key, value;
    int n = 0, length = 0, retstat = 0;
    while (IO_ACCESS_DATABASE(-(n + 1), key, length, value, retstat, status_), retstat != 2) ++n;
    return n;
  }

  testing::TempDir home_;
  testing::ScopedHome scoped_home_{home_.path().c_str()};
  int retstat_ = 0;
  Status status_ = kStatusGood;
};

TEST_F(DefaultsDb, SaveLoadRoundTripSkipsRunOnlyKeys) {
  IO_SET_IKEYVALUE("DIM1_DATA", 1024, retstat_, status_);
  IO_SET_RKEYVALUE("WAVELENGTH", 0.5f, retstat_, status_);
  IO_SET_KEYVALUE("#OVERLOAD_VALUE", 5, "65535", retstat_, status_);
  IO_SET_LKEYVALUE("X_PIXEL_FLAG", true, retstat_, status_);
  IO_SET_KEYVALUE("EMPTY", 0, "", retstat_, status_);
  IO_SET_KEYVALUE("TITLE", 6, "a b", retstat_, status_);  // padded to its length
  IO_SET_IKEYVALUE("DIM1_DATA", 2048, retstat_, status_);  // replaced: moves to the end
  EXPECT_EQ(count(), 6);
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  ASSERT_EQ(retstat_, 0);
  EXPECT_EQ(testing::file_contents(file()),
            kHead + "WAVELENGTH\n0.500000\nX_PIXEL_FLAG\nTRUE\nEMPTY\n\nTITLE\na b   \n"
                    "DIM1_DATA\n2048\n");

  io_clear_database();
  IO_LOAD_DATABASE("~/.kesta.def", retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(count(), 5);
  int dim = 0;
  bool flag = false;
  IO_INQ_IKEYVALUE("DIM1_DATA", dim, retstat_, status_);
  IO_INQ_LKEYVALUE("X_PIXEL_FLAG", flag, retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(dim, 2048);
  EXPECT_TRUE(flag);
  EXPECT_EQ(get("EMPTY"), "");
  EXPECT_EQ(get("TITLE"), "a b");  // the file keeps no trailing blanks
  EXPECT_EQ(get("#OVERLOAD_VALUE"), "<missing>");
  EXPECT_EQ(status_, kStatusGood);
}

TEST_F(DefaultsDb, KeysCompareOn32CharactersAndTypedValuesConvert) {
  const std::string long_key(40, 'K');
  set(long_key, "stored");
  EXPECT_EQ(get(long_key), "<missing>");
  EXPECT_EQ(get(long_key.substr(0, 32)), "stored");  // the stored key cut to 32
  set("KEY", "v");
  EXPECT_EQ(get("KEY   "), "v");
  EXPECT_EQ(get("key"), "<missing>");

  set("YESNO", "YES");
  set("REAL", "1.0");
  bool flag = true;
  IO_INQ_LKEYVALUE("YESNO", flag, retstat_, status_);
  EXPECT_EQ(retstat_, 3);
  EXPECT_TRUE(flag);
  int i = 7;
  IO_INQ_IKEYVALUE("REAL", i, retstat_, status_);
  EXPECT_EQ(retstat_, 3);
  EXPECT_EQ(i, 7);
  IO_INQ_IKEYVALUE("ABSENT", i, retstat_, status_);
  EXPECT_EQ(retstat_, 2);
}

TEST_F(DefaultsDb, EntryAndCharacterLimits) {
  for (int i = 0; i < kDatabaseMaxEntries; ++i) set("K" + std::to_string(i), "v");
  EXPECT_EQ(retstat_, 0);
  set("ONE_TOO_MANY", "v");
  EXPECT_EQ(retstat_, 1);
  retstat_ = 0;
  set("K5", "replaced");  // replacing needs no extra entry
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(count(), 201);  // the file's 200 and the session's ONE_TOO_MANY
  // Run-only keys are not written, so they take none of the file's room.
  set("#RUN_ONLY", "v");
  EXPECT_EQ(retstat_, 0);
  io_clear_database();
  set("#RUN_ONLY", "v");
  for (int i = 0; i < kDatabaseMaxEntries; ++i) set("K" + std::to_string(i), "v");
  EXPECT_EQ(retstat_, 0);

  // Key + separator + value per entry; the next free position must stay
  // below 8000, so the store holds at most 7998 characters.
  io_clear_database();
  for (int i = 0; i < 31; ++i) set("K" + std::to_string(100 + i), std::string(250, 'x'));
  set("FILL", std::string(80, 'y'));  // 31 * 255 + 85 = 7990
  ASSERT_EQ(retstat_, 0);
  set("LAST", "1234");  // 9 more
  EXPECT_EQ(retstat_, 1);
  retstat_ = 0;
  set("LAST", "123");  // 8 more
  EXPECT_EQ(retstat_, 0);
  set("FILL", std::string(81, 'y'));  // does not fit the file
  EXPECT_EQ(retstat_, 1);
  // The session goes on with the new value; the file keeps the old one.
  EXPECT_EQ(get("FILL"), std::string(81, 'y'));
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  ASSERT_EQ(retstat_, 0);
  EXPECT_NE(testing::file_contents(file()).find("FILL\n" + std::string(80, 'y') + "\n"),
            std::string::npos);
  set("#RUN_ONLY", "v");
  set("LAST", "1234");
  EXPECT_EQ(retstat_, 1);
  // Each key refused and not stored since, once, in order; run-only keys are
  // never saved anyway.
  EXPECT_EQ(io_database_refused_keys(), (std::vector<std::string>{"FILL", "LAST"}));
  set("FILL", "y");  // fits now: no longer among the settings lost
  EXPECT_EQ(io_database_refused_keys(), (std::vector<std::string>{"LAST"}));

  // Loading a file of 201 entries keeps 200.
  io_clear_database();
  std::string text = kHead;
  for (int i = 1; i <= 201; ++i) text += "KEY" + std::to_string(i) + "\n" + std::to_string(i) + "\n";
  write_file(text);
  IO_LOAD_DATABASE(file(), retstat_, status_);
  EXPECT_EQ(retstat_, 1);
  EXPECT_EQ(get("KEY200"), "200");
  EXPECT_EQ(get("KEY201"), "<missing>");
  // What the file could not bring is the load's result, not the session's.
  EXPECT_TRUE(io_database_refused_keys().empty());
}

// A setting the file has no room for is still the one the session reads
// back: a typed geometry must not fall back to older values at once.
TEST_F(DefaultsDb, FullStoreKeepsTheSessionsSettingsInEffect) {
  testing::TerminalCapture terminal;
  for (int i = 0; i < kDatabaseMaxEntries; ++i) set("K" + std::to_string(i), "v");
  set("X_PIXEL_SIZE", "7.5E-05");  // no room: held for the session
  EXPECT_EQ(retstat_, 1);
  retstat_ = 0;
  float size = 0.0f;
  IO_INQ_RKEYVALUE("X_PIXEL_SIZE", size, retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_FLOAT_EQ(size, 7.5e-5f);
  IO_SET_RKEYVALUE("X_PIXEL_SIZE", 5.0e-5f, retstat_, status_);
  set("Y_PIXEL_SIZE", "6.0E-05");
  IO_INQ_RKEYVALUE("X_PIXEL_SIZE", size, retstat_, status_);
  EXPECT_FLOAT_EQ(size, 5.0e-5f);
  EXPECT_EQ(get("Y_PIXEL_SIZE"), "6.0E-05");
  EXPECT_EQ(count(), 202);  // the settings in effect
  // Said once, at the first refusal.
  EXPECT_EQ(terminal.text(),
            "WARNING: The defaults database is full (200 entries, 8,000 characters): "
            "X_PIXEL_SIZE and any later setting that does not fit are used in this session "
            "but not saved\n");
  EXPECT_EQ(io_database_refused_keys(),
            (std::vector<std::string>{"X_PIXEL_SIZE", "Y_PIXEL_SIZE"}));

  // The file keeps its limits and the values it could hold.
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  ASSERT_EQ(retstat_, 0);
  io_clear_database();
  IO_LOAD_DATABASE(file(), retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(count(), 200);
  EXPECT_EQ(get("X_PIXEL_SIZE"), "<missing>");
}

// A geometry is saved whole or not at all: a store with room for the first
// pixel size of a new geometry but not the second keeps the old geometry in
// the file (the session goes on with the new one), until there is room for
// all of it.
TEST_F(DefaultsDb, AGeometryIsSavedWholeOrNotAtAll) {
  const std::vector<std::pair<std::string, std::string>> old_geometry = {
      {"X_PIXEL_SIZE", "5.0E-05"},   {"Y_PIXEL_SIZE", "7.5E-05"},  {"X_BEAM_CENTRE", "512.0"},
      {"Y_BEAM_CENTRE", "500.0"},    {"SAMPLE_DISTANCE", "0.15"}, {"WAVELENGTH", "1.0E-10"},
      {"TILT_ROTATION", "0.0"},      {"TILT_ANGLE", "0.0"}};
  int characters = 0;
  const auto put = [&](const std::string& key, const std::string& value) {
    set(key, value);
    characters += static_cast<int>(key.size() + 1 + value.size());
  };
  for (const auto& [key, value] : old_geometry) put(key, value);
  for (int i = 0; i < 186; ++i) put("K" + std::to_string(100 + i), std::string(37, 'v'));
  put("FILL", "");
  ASSERT_LT(7990 - characters, kDatabaseValueLength);
  set("FILL", std::string(static_cast<std::size_t>(7990 - characters), 'f'));
  ASSERT_EQ(retstat_, 0);
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  io_clear_database();
  IO_LOAD_DATABASE(file(), retstat_, status_);
  ASSERT_EQ(retstat_, 0);
  ASSERT_EQ(count(), 195);

  const std::vector<std::pair<std::string, std::string>> new_geometry = {
      {"X_PIXEL_SIZE", "1.0000000E-04"},   {"Y_PIXEL_SIZE", "1.1000000E-04"},
      {"X_BEAM_CENTRE", "1024.5000"},      {"Y_BEAM_CENTRE", "1000.2500"},
      {"SAMPLE_DISTANCE", "0.2500000"},    {"WAVELENGTH", "7.0000000E-11"},
      {"TILT_ROTATION", "0.5000000"},      {"TILT_ANGLE", "0.0200000"},
      {"DETECTOR_ROTATION", "0.0100000"}};
  const auto set_geometry = [&] {
    for (const auto& [key, value] : new_geometry) set(key, value);
  };
  const auto saved_and_read_back = [&] {
    IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
    ASSERT_EQ(retstat_, 0);
    io_clear_database();
    IO_LOAD_DATABASE(file(), retstat_, status_);
    ASSERT_EQ(retstat_, 0);
  };

  {
    testing::TerminalCapture terminal;
    set_geometry();
    EXPECT_EQ(terminal.text(),
              "WARNING: The defaults database is full (200 entries, 8,000 characters): the "
              "geometry (Y_PIXEL_SIZE had no room) and any later setting that does not fit are "
              "used in this session but not saved\n");
  }
  EXPECT_EQ(retstat_, 1);
  for (const auto& [key, value] : new_geometry) EXPECT_EQ(get(key), value) << key;
  EXPECT_EQ(io_database_refused_keys().size(), new_geometry.size());
  saved_and_read_back();
  for (const auto& [key, value] : old_geometry) EXPECT_EQ(get(key), value) << key;
  EXPECT_EQ(get("DETECTOR_ROTATION"), "<missing>");

  // With room made, the next geometry setting brings all of it to the file.
  set_geometry();
  for (int i = 0; i < 4; ++i) set("K" + std::to_string(100 + i), "");
  retstat_ = 0;
  set("WAVELENGTH", "7.0000000E-11");
  EXPECT_EQ(retstat_, 0);
  EXPECT_TRUE(io_database_refused_keys().empty());
  saved_and_read_back();
  for (const auto& [key, value] : new_geometry) EXPECT_EQ(get(key), value) << key;
}

// A geometry that found room, and the settings that took the room a shorter
// geometry left: a later geometry without room goes back to that geometry,
// the last whole one, for the file; the one read no longer fits, and no
// geometry at all would leave the next session the built-in values.
// Geometries of eight keys, each value DIGITS, in a store filled so that
// the file has room for one such geometry and 5 characters more.
class DefaultsDbFullGeometry : public DefaultsDb {
 protected:
  static std::vector<std::pair<std::string, std::string>> geometry(const std::string& digits) {
    std::vector<std::pair<std::string, std::string>> g;
    for (const char* key : {"X_PIXEL_SIZE", "Y_PIXEL_SIZE", "X_BEAM_CENTRE", "Y_BEAM_CENTRE",
                            "SAMPLE_DISTANCE", "WAVELENGTH", "TILT_ROTATION", "TILT_ANGLE"})
      g.emplace_back(key, digits);
    return g;
  }
  void fill_around(const std::vector<std::pair<std::string, std::string>>& read) {
    int characters = 0;
    for (const auto& [key, value] : read) {
      set(key, value);
      characters += static_cast<int>(key.size() + 1 + value.size());
    }
    for (int i = 0; i < 30; ++i) {
      set("K" + std::to_string(100 + i), std::string(250, 'v'));
      characters += 255;
    }
    ASSERT_LT(7990 - characters - 5, kDatabaseValueLength);
    set("FILL", std::string(static_cast<std::size_t>(7990 - characters - 5), 'f'));
    ASSERT_EQ(retstat_, 0);
    IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
    io_clear_database();
    IO_LOAD_DATABASE(file(), retstat_, status_);
    ASSERT_EQ(retstat_, 0);
  }
  void save_and_reload() {
    IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
    io_clear_database();
    IO_LOAD_DATABASE(file(), retstat_, status_);
  }
};

TEST_F(DefaultsDbFullGeometry, AGeometryWithoutRoomGoesBackToTheLastWholeOne) {
  const auto long_read = geometry("1.23456789"), short_set = geometry("2"),
             long_set = geometry("3.45678901");
  fill_around(long_read);

  for (const auto& [key, value] : short_set) set(key, value);
  set("MORE", std::string(70, 'm'));  // takes the room the short values left
  ASSERT_EQ(retstat_, 0);
  testing::TerminalCapture terminal;
  for (const auto& [key, value] : long_set) set(key, value);
  EXPECT_EQ(retstat_, 1);
  for (const auto& [key, value] : long_set) EXPECT_EQ(get(key), value) << key;
  save_and_reload();
  for (const auto& [key, value] : short_set) EXPECT_EQ(get(key), value) << key;
  EXPECT_EQ(get("MORE"), std::string(70, 'm'));
}

// Most commands between two geometries save nothing: the first geometry,
// used since it was set, is the one the file keeps when the second has no
// room, not the one the file was read with.
TEST_F(DefaultsDbFullGeometry, TwoGeometriesInARowKeepTheFirstWhenTheSecondHasNoRoom) {
  const auto read = geometry("1.23456789"), first = geometry("2.5"),
             second = geometry("3.45678901234567");
  fill_around(read);
  for (const auto& [key, value] : first) set(key, value);
  ASSERT_EQ(retstat_, 0);
  testing::TerminalCapture terminal;
  for (const auto& [key, value] : second) set(key, value);
  EXPECT_EQ(retstat_, 1);
  for (const auto& [key, value] : second) EXPECT_EQ(get(key), value) << key;
  save_and_reload();
  for (const auto& [key, value] : first) EXPECT_EQ(get(key), value) << key;
}

TEST_F(DefaultsDb, DamagedFilesKeepWhatWasReadWhole) {
  const std::tuple<std::string, int, std::string> cases[] = {
      {"", 0, "not a defaults file (no header lines)"},
      {"one line only\n", 0, "not a defaults file (no header lines)"},
      // Altered header lines lose no setting; the later problem is not reported.
      {"some other text\nx\nA\n1\nB\n", 1, "unexpected header lines"},
      {kHead + "A\n1\nB\n2\nC\n", 2, "line 7: key without a value line"},
  };
  for (const auto& [text, entries, problem] : cases) {
    io_clear_database();
    write_file(text);
    testing::TerminalCapture terminal;
    IO_LOAD_DATABASE(file(), retstat_, status_);
    EXPECT_EQ(retstat_, 4) << problem;
    EXPECT_EQ(count(), entries) << problem;
    EXPECT_EQ(terminal.text(), "WARNING: Problem inputting internal database\nWARNING: " + file() +
                                   ": " + problem + "\n");
  }
  EXPECT_EQ(get("B"), "2");
  EXPECT_EQ(status_, kStatusGood);

  // A missing file is the first run: no warning.
  testing::TerminalCapture terminal;
  IO_LOAD_DATABASE("~/no-such-file", retstat_, status_);
  EXPECT_EQ(retstat_, -1);
  EXPECT_EQ(terminal.text(), "");
}

// A key line is read as its first 80 characters and a value line as its
// first 256, the length its used length: a longer line loses its end, never
// its entry, and the file saved holds the entry as read.
TEST_F(DefaultsDb, LongKeyAndValueLinesAreCutNotDropped) {
  const std::string key(80, 'k'), value(256, 'v'), blanks = std::string(250, 'c') + "      ";
  write_file(kHead + "A\n1\n" + key + "X\n2\nB\n" + value + "w\nC\n" + blanks + "zz\nD\n4\n");
  testing::TerminalCapture terminal;
  IO_LOAD_DATABASE(file(), retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(terminal.text(), "");
  EXPECT_EQ(count(), 5);
  std::string stored_key, stored_value;
  int length = 0;
  IO_ACCESS_DATABASE(-2, stored_key, length, stored_value, retstat_, status_);
  EXPECT_EQ(stored_key, key);
  EXPECT_EQ(stored_value, "2");
  EXPECT_EQ(get("B"), value);
  EXPECT_EQ(get("C"), std::string(250, 'c'));
  EXPECT_EQ(get("D"), "4");
  IO_SAVE_DATABASE(file(), retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(testing::file_contents(file()), kHead + "A\n1\n" + key + "\n2\nB\n" + value + "\nC\n" +
                                                std::string(250, 'c') + "\nD\n4\n");
  EXPECT_EQ(status_, kStatusGood);
}

// A defaults file that is no regular file once links are followed is named
// and neither read nor written: a named pipe held the start for ever, a link
// to /dev/zero read without end. A link to a regular file is read and saved
// through.
TEST_F(DefaultsDb, OnlyRegularFilesAreReadAndSaved) {
  alarm(60);  // a read that blocks ends the test program
  const std::string fifo = home_.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(home_.file("folder").c_str(), 0700), 0);
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "is not a regular file"},
      {"/dev/zero", "is not a regular file"},
      {home_.file("folder"), "is a directory"},
  };
  for (const auto& [target, reason] : cases) {
    std::filesystem::remove(file());
    std::filesystem::create_symlink(target, file());
    set("KEPT", "1");
    testing::TerminalCapture terminal;
    IO_LOAD_DATABASE("~/.kesta.def", retstat_, status_);
    EXPECT_EQ(retstat_, -1) << target;
    EXPECT_EQ(terminal.text(), "WARNING: Problem inputting internal database\nWARNING: " +
                                   file() + " " + reason +
                                   "; it is neither read nor saved over\n");
    IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
    EXPECT_EQ(retstat_, -1) << target;
    EXPECT_NE(terminal.text().find("WARNING: Cannot open " + file() + ": " + reason), std::string::npos)
        << terminal.text();
    EXPECT_TRUE(std::filesystem::is_symlink(file())) << target;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home_.file("folder")), {}), 0);

  // A system file that says it is empty (and reads without end) reads as an
  // empty defaults file.
  std::filesystem::remove(file());
  std::filesystem::create_symlink("/proc/self/pagemap", file());
  {
    testing::TerminalCapture terminal;
    IO_LOAD_DATABASE("~/.kesta.def", retstat_, status_);
    EXPECT_EQ(retstat_, 4);
    EXPECT_EQ(terminal.text(), "WARNING: Problem inputting internal database\nWARNING: " + file() +
                                   ": not a defaults file (no header lines)\n");
  }

  std::filesystem::remove(file());
  std::ofstream(home_.file("real.def"), std::ios::binary) << kHead + "A\n1\n";
  std::filesystem::create_symlink(home_.file("real.def"), file());
  io_clear_database();
  IO_LOAD_DATABASE("~/.kesta.def", retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_EQ(get("A"), "1");
  set("B", "2");
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  EXPECT_EQ(retstat_, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(testing::file_contents(home_.file("real.def")), kHead + "A\n1\nB\n2\n");
  EXPECT_EQ(status_, kStatusGood);
  alarm(0);
}

// A defaults file the user may not open for writing (another user's, or the
// user's own made read-only) is not saved over, though the home folder is
// the user's: the reason is said and the file kept. The save runs as an
// ordinary user, since the superuser may write any file.
TEST_F(DefaultsDb, AFileTheUserMayNotWriteIsNotSavedOver) {
  const bool as_root = ::geteuid() == 0;
  const uid_t user = as_root ? testing::kOrdinaryUser : ::geteuid();
  ASSERT_EQ(::chown(home_.path().c_str(), user, user), 0);
  for (const uid_t owner : {uid_t{0}, user}) {
    write_file(kHead + "A\n1\n");
    ASSERT_EQ(::chmod(file().c_str(), 0444), 0);
    if (as_root) {
      ASSERT_EQ(::chown(file().c_str(), owner, owner), 0);
    }
    set("B", "2");
    const std::string out = testing::in_child_process([&] {
      if (!testing::become_ordinary_user()) return std::string("<no ordinary user>");
      testing::TerminalCapture terminal;
      IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
      return terminal.text() + "retstat " + std::to_string(retstat_);
    });
    EXPECT_EQ(out, "IO_OPEN_ASCIIFILE retstat =      1\nWARNING: Cannot open " + file() +
                       ": cannot open it for writing: Permission denied, so the file was not "
                       "changed\nretstat -1")
        << owner;
    EXPECT_EQ(testing::file_contents(file()), kHead + "A\n1\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home_.path()), {}), 1);
    std::filesystem::remove(file());
  }
}

TEST_F(DefaultsDb, FailedSaveKeepsTheOldFile) {
  write_file(kHead + "A\n1\n");
  for (int i = 0; i < 50; ++i) set("KEY" + std::to_string(i), std::string(100, 'v'));

  // The file system takes at most 1000 bytes per file.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  IO_SAVE_DATABASE("~/.kesta.def", retstat_, status_);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  // Said in the writers' one line: the caller need not say it again.
  EXPECT_EQ(retstat_, -2);
  EXPECT_EQ(status_, kStatusGood);
  EXPECT_EQ(testing::file_contents(file()), kHead + "A\n1\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home_.path()), {}), 1);

  testing::TerminalCapture terminal;
  IO_SAVE_DATABASE(home_.file("missing/.kesta.def"), retstat_, status_);
  EXPECT_EQ(retstat_, -1);
  EXPECT_EQ(terminal.text(), "IO_OPEN_ASCIIFILE retstat =      1\nWARNING: Cannot open " +
                                 home_.file("missing/.kesta.def") + ": cannot write in the folder \"" +
                                 home_.file("missing") +
                                 "\": No such file or directory, so no file was written\n");
}

}  // namespace
}  // namespace kesta
