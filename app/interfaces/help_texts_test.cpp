// The fixed help texts: their sizes, frames and the terminal road.

#include "app/interfaces/help_texts.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

std::size_t widest(std::span<const std::string> lines) {
  std::size_t w = 0;
  for (const std::string& line : lines) w = std::max(w, line.size());
  return w;
}

bool has_line(std::span<const std::string> lines, std::string_view text) {
  return std::any_of(lines.begin(), lines.end(),
                     [text](const std::string& l) { return l.find(text) != std::string::npos; });
}

TEST(HelpTexts, SizesAndFrames) {
  struct Case {
    std::span<const std::string> lines;
    std::size_t count, width;
    bool end_frame;
  };
  const Case cases[] = {{kzt_guihelp_text(), 101, 46, true},
                        {kzt_roihelp_text(), 35, 41, true},
                        {kzt_vechelp_text(), 38, 43, true},
                        {kzt_xtalhelp_text(), 120, 48, true},
                        {kzt_logo_text(), 16, 68, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.lines.size(), c.count);
    EXPECT_EQ(widest(c.lines), c.width);
    for (const std::string& line : c.lines) EXPECT_EQ(line.find_last_not_of(' ') + 1, line.size());
    if (!c.end_frame) continue;
    // The "END OF HELP TEXT" frame, then only blank lines.
    const auto end = std::find_if(c.lines.begin(), c.lines.end(), [](const std::string& l) {
      return l.find("END OF HELP TEXT") != std::string::npos;
    });
    ASSERT_NE(end, c.lines.end());
    EXPECT_EQ(*(end - 1), std::string(c.width, '-'));
    EXPECT_EQ(*(end + 1), std::string(c.width, '-'));
    EXPECT_TRUE(
        std::all_of(end + 2, c.lines.end(), [](const std::string& l) { return l.empty(); }));
  }
  // No help text sends the reader to an outside document or web page.
  for (const Case& c : cases)
    for (std::string_view word : {"http", "www.", "manual"})
      EXPECT_FALSE(has_line(c.lines, word)) << word;

  const std::span<const std::string> help = kzt_help_text();
  EXPECT_EQ(widest(help), 79u);
  EXPECT_FALSE(has_line(help, "http"));
  const std::string dashes(79, '-');
  for (std::string_view section : {"KESTA: THE KEYBOARD COMMAND INTERFACE", "COMMANDS",
                                   "IMPORTANT CONCEPTS"}) {
    const auto at = std::find_if(help.begin(), help.end(), [section](const std::string& l) {
      return l.find_first_not_of(' ') != std::string::npos &&
             l.substr(l.find_first_not_of(' ')) == section;
    });
    ASSERT_NE(at, help.end()) << section;
    EXPECT_EQ(*(at - 1), dashes);
    EXPECT_EQ(*(at + 1), dashes);
  }
  EXPECT_EQ(help.back(), dashes);
}

TEST(HelpTexts, TerminalAndBadStatus) {
  testing::reset_dialogue();
  testing::TerminalCapture terminal;
  Status status = kStatusGood;
  KZT_LOGO(false, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(terminal.text().find(kzt_logo_text()[2]), std::string::npos);
  const std::string before = terminal.text();
  status = kBaseApp + 3;
  KZT_GUIHELP(false, status);
  KZT_HELP(true, status);
  EXPECT_EQ(status, kBaseApp + 3);
  EXPECT_EQ(terminal.text(), before);
}

}  // namespace
}  // namespace kesta
