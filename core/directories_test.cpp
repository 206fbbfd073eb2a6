#include "core/directories.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <tuple>
#include <filesystem>
#include <fstream>

#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

std::string cwd() { return std::filesystem::current_path().string(); }

std::vector<std::string> names_of(const std::vector<Index>& pointers, const std::string& store, int num) {
  std::vector<std::string> names;
  for (int i = 1; i <= num; ++i) names.push_back(io_store_name(pointers, store, i));
  return names;
}

class Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"b.tif", "a.tif", "c.dat", "A.TIF"}) std::ofstream(dir_.file(name)) << "x";
    std::filesystem::create_directory(dir_.path() / "d1");
    std::filesystem::create_directory(dir_.path() / "d2");
    std::ofstream(dir_.file("d1/f.txt")) << "x";
  }
  testing::TempDir dir_;
};

TEST_F(Listing, PackedStoreLimitsAndTheWorkingDirectory) {
  const std::string before = cwd();
  const std::string top = dir_.path().string();
  Status status = ST_GOOD();
  int retstat = -1;
  int num = 0;
  std::vector<Index> pointers;
  std::string store;
  IO_DIRECTORY(false, top, 100, 1000, retstat, num, pointers, store, status);
  auto names = names_of(pointers, store, num);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"d1", "d2"}));
  EXPECT_EQ(pointers.back(), static_cast<Index>(store.size()) + 1);

  IO_DIRECTORY(true, top, 2, 1000, retstat, num, pointers, store, status);
  EXPECT_EQ(retstat, 2);
  EXPECT_EQ(pointers.size(), 3u);
  IO_DIRECTORY(true, top, 100, 11, retstat, num, pointers, store, status);
  EXPECT_EQ(retstat, 3);
  EXPECT_EQ(num, 2);  // two 5-character names fit, the third does not
  EXPECT_EQ(cwd(), before);
  IO_DIRECTORY(true, dir_.file("none"), 100, 1000, retstat, num, pointers, store, status);
  EXPECT_EQ(retstat, 1);
  EXPECT_EQ(status, ST_GOOD());
}

TEST_F(Listing, SelectionByTypeAndMaskSortedByName) {
  Status status = ST_GOOD();
  int retstat = -1;
  int num = 0;
  int num_selected = 0;
  std::vector<bool> selected;
  std::vector<int> order;
  std::vector<Index> pointers;
  std::string store;
  auto ordered = [&] {
    std::vector<std::string> out;
    for (int i : order) out.push_back(io_store_name(pointers, store, i));
    return out;
  };
  const std::vector<std::string> types = {"tif", "dat"};
  IO_LISTFILES(dir_.path().string(), 100, 1000, 0, types, "", retstat, num, selected, num_selected, order,
               pointers, store, status);
  EXPECT_EQ(ordered(), (std::vector<std::string>{"A.TIF", "a.tif", "b.tif", "c.dat"}));
  IO_LISTFILES(dir_.path().string(), 100, 1000, 1, types, "", retstat, num, selected, num_selected, order,
               pointers, store, status);
  EXPECT_EQ(num_selected, 2);
  EXPECT_EQ(ordered(), (std::vector<std::string>{"a.tif", "b.tif"}));
  IO_LISTFILES(dir_.path().string(), 100, 1000, 2, types, "*b*", retstat, num, selected, num_selected, order,
               pointers, store, status);
  EXPECT_EQ(ordered(), (std::vector<std::string>{"b.tif"}));
  EXPECT_EQ(status, ST_GOOD());

  IO_LISTFILES(dir_.path().string(), 2, 1000, 0, types, "", retstat, num, selected, num_selected, order,
               pointers, store, status);
  EXPECT_EQ(retstat, 2);
  EXPECT_TRUE(order.empty());

  // Counts the store does not back are held to the names it has.
  IO_LISTFILES(dir_.path().string(), 100, 1000, 0, types, "", retstat, num, selected, num_selected,
               order, pointers, store, status);
  ASSERT_EQ(num, 4);
  for (const int count : {-3, 9}) {
    std::vector<bool> picked;
    int num_picked = -1;
    IO_FILESTYPE(100, count, pointers, store, "tif", picked, num_picked, status);
    EXPECT_EQ(num_picked, count < 0 ? 0 : 2) << count;
    IO_FILESORDER(100, count, pointers, store, num_picked, picked, order, status);
    EXPECT_EQ(order.size(), static_cast<std::size_t>(num_picked)) << count;
  }
  EXPECT_EQ(status, ST_GOOD());
}

TEST(FileType, TypesAndParentDirectories) {
  const std::pair<const char*, bool> types[] = {
      {"a.tif", true}, {"a.TIF", false}, {".tif", false}, {"a.b.tif", true}, {"tif", false}};
  for (const auto& [file, expected] : types) {
    Status status = ST_GOOD();
    bool match = !expected;
    IO_FILETYPE(file, "tif", match, status);
    EXPECT_EQ(match, expected) << file;
  }
  const std::pair<const char*, const char*> parents[] = {{"/home/user/", "/home"}, {"/home", "/"}, {"/", nullptr}};
  for (const auto& [in, out] : parents) {
    Status status = ST_GOOD();
    std::string dir = in;
    int retstat = -1;
    IO_UP_DIRECTORY(dir, retstat, status);
    EXPECT_EQ(retstat, out == nullptr ? 1 : 0) << in;
    EXPECT_EQ(dir, out == nullptr ? in : out) << in;
  }
}

TEST_F(Listing, ChangeDirectoryFromTypedEntries) {
  const std::string top = dir_.path().string();
  struct Case {
    std::string start;
    std::string entry;
    int retstat;
    std::string directory;
    std::string entry_out;
    bool is_file;
  };
  const std::vector<Case> cases = {
      {top, "d1", 0, top + "/d1", "", false},
      {top + "/", "d1", 0, top + "/d1", "", false},
      {top + "/d1", "f.txt", 0, top + "/d1", "f.txt", true},
      {top + "/d1", "..", 0, top, "", false},
      {top + "/d1", "../", 0, top, "", false},
      {top + "/d1", "../d2", 0, top + "/d2", "", false},
      {top, "../" + dir_.path().filename().string() + "/d1/f.txt", 0, top + "/d1", "f.txt", true},
      {top, top + "/d1/f.txt", 0, top + "/d1", "f.txt", true},
      {top, ".", 0, top, "", false},
      {top, "..x", 2, top, "..x", false},
      {top, "missing", 1, top, "missing", false},
      {"/", "..", 1, "/", "..", false},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    std::string directory = c.start;
    std::string entry = c.entry;
    int retstat = -1;
    bool is_file = false;
    IO_CHANGEDIR(directory, entry, retstat, is_file, status);
    EXPECT_EQ(retstat, c.retstat) << c.start << " + " << c.entry;
    EXPECT_EQ(directory, c.directory) << c.start << " + " << c.entry;
    EXPECT_EQ(entry, c.entry_out) << c.start << " + " << c.entry;
    EXPECT_EQ(is_file, c.is_file) << c.start << " + " << c.entry;
  }
}

TEST(FileSequence, NumberedSeries) {
  struct Case {
    const char *first, *last;
    int retstat, start = 0, end = 0, step = 0;
    const char* prefix = "";
    bool variable = false;
    int digits = 0;
    const char *postfix = "", *extension = "";
  };
  const Case cases[] = {
      {"img_0001.tif", "img_0120.tif", 0, 1, 120, 1, "img_", false, 4, "", ".tif"},
      {"scan9.dat", "scan11.dat", 0, 9, 11, 1, "scan", true, -5, "", ".dat"},
      {"run20_a.img", "run10_a.img", 0, 20, 10, -1, "run", false, 2, "_a", ".img"},
      {"data.bin", "data.bin", 0, 1, 1, 1, "data", false, 0, "", ".bin"},
      {"img1.tif", "img10.tif", 0, 1, 10, 1, "img", true, -5, "", ".tif"},
      {"a10b.x", "a100b.x", 0, 10, 100, 1, "a", true, -5, "b", ".x"},
      {"/d/f_001", "/d/f_009", 0, 1, 9, 1, "/d/f_", false, 3, "", ""},
      {"a_x.tif", "a_y.tif", -1},
      {"", "a1.tif", -1},
  };
  for (const Case& c : cases) {
    Status status = ST_GOOD();
    int retstat = -9, start = -5, end = -5, step = 0, digits = -5;
    bool variable = !c.variable;
    std::string prefix, postfix, extension;
    IO_FILESEQUENCE(c.first, c.last, retstat, start, end, step, prefix, variable, digits, postfix,
                    extension, status);
    EXPECT_EQ(retstat, c.retstat) << c.first;
    if (c.retstat != 0) continue;
    EXPECT_EQ(std::tie(start, end, step, variable, digits), std::tie(c.start, c.end, c.step, c.variable, c.digits))
        << c.first;
    EXPECT_EQ(prefix + "|" + postfix + "|" + extension, std::string(c.prefix) + "|" + c.postfix + "|" + c.extension)
        << c.first;
  }
}

}  // namespace
}  // namespace kesta
