#include "core/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

  // The target is a non-empty folder: the rename fails, the temp file goes.
  std::filesystem::create_directory(dir.path() / "taken");
  { std::ofstream(dir.file("taken/inside")) << "x"; }
  AtomicFile blocked(dir.file("taken"));
  ASSERT_TRUE(blocked.ok());
  blocked.write_line("text");
  EXPECT_FALSE(blocked.commit());
  EXPECT_EQ(files_in(dir.path()), 2);
}

}  // namespace
}  // namespace kesta
