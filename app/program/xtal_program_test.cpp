// End-to-end: the on-line crystallography interface of the program in
// graphical mode on a private X server, driven by a macro of menu choices.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

using testing::TempDir;

constexpr int kWait = 30000;

struct Program {
  testing::PtyChild child;
  Program(const TempDir& dir, std::vector<std::string> args)
      : child([&dir, args] {
          if (chdir(dir.path().c_str()) != 0) return 126;
          setenv("HOME", dir.path().c_str(), 1);
          std::vector<std::string> copies{"kesta"};
          copies.insert(copies.end(), args.begin(), args.end());
          std::vector<char*> argv;
          for (std::string& a : copies) argv.push_back(a.data());
          argv.push_back(nullptr);
          execv(KESTA_PROGRAM, argv.data());
          return 127;
        }) {}
};

// Spots on a noisy background of 100 (the last one saturated), at pixel
// centres.
std::vector<float> spots(Index n, const std::vector<std::pair<float, float>>& centres) {
  std::vector<float> data(static_cast<std::size_t>(n * n));
  std::uint32_t seed = 99;
  for (Index j = 0; j < n; ++j)
    for (Index i = 0; i < n; ++i) {
      seed = seed * 1664525u + 1013904223u;
      float v = 100.0f + static_cast<float>(seed >> 24) / 25.6f - 5.0f;
      for (std::size_t k = 0; k < centres.size(); ++k) {
        const float dx = static_cast<float>(i) + 0.5f - centres[k].first;
        const float dy = static_cast<float>(j) + 0.5f - centres[k].second;
        v += (k + 1 == centres.size() ? 200000.0f : 3000.0f) *
             std::exp(-(dx * dx + dy * dy) / 4.5f);
      }
      data[static_cast<std::size_t>(j * n + i)] = v;
    }
  return data;
}

TEST(XtalProgram, PeakSearchOnAnInputImageWritesThePeakFile) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  TempDir dir;
  ASSERT_TRUE(testing::write_square_image(
      dir.file("spots.kzt"), 128,
      spots(128, {{30.5f, 30.5f}, {90.5f, 40.5f}, {60.5f, 100.5f}, {100.5f, 100.5f}})));
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  // "?" lists the help lines in their stored order; AUTO INPUT without data
  // is refused; then INPUT, PEAK SEARCH with the file saved, STOP of an
  // automatic input started without alarm or peak search.
  testing::write_text_file(dir.file("x.mac"),
                           "ON-LINE CRYSTALLOGRAPHY\n?\nO.K.\nAUTO INPUT\nINPUT\nspots.kzt\n"
                           "PEAK SEARCH\nSAVE PEAKS\nYES\nMIN. SPACING\n20\nSATURATION\n60000\nO.K.\n"
                           "AUTO INPUT\nNO\nNO\nSTOP INPUT\nEXIT\nEXIT KESTA\nYES\n");
  Program run(dir, {"-dim128x128", "-macx.mac"});
  ASSERT_TRUE(run.child.wait_for("MENU CHOICE (GRAPHICAL INPUT)", kWait));
  EXPECT_EQ(run.child.finish(kWait), 0) << run.child.output();
  const std::string out = run.child.output();
  EXPECT_NE(out.find("INFO: Number of peaks found =      4"), std::string::npos) << out;
  EXPECT_NE(out.find("INFO: Number of saturated peaks found =      1"), std::string::npos) << out;
  EXPECT_EQ(out.find("not available yet"), std::string::npos);
  // Three good (unsaturated) peaks after the heading.
  std::istringstream file(testing::file_contents(dir.file("spots.peaks")));
  std::string line;
  int lines = 0;
  while (std::getline(file, line)) ++lines;
  EXPECT_EQ(lines, 4);
}

}  // namespace
}  // namespace kesta
