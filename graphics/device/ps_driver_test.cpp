#include "graphics/device/ps_driver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/device/device_test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/ps_internal.hpp"

namespace kesta {
namespace {

using ps_detail::block_row_sums;
using ps_detail::cell_blocks;
using ps_detail::CellBlocks;

using Lines = std::vector<std::string>;

// Writes one file of TYPE with DRAW between the prologue and the page end;
// returns the lines DRAW produced.
class PsOutput : public ::testing::Test {
 protected:
  void SetUp() override { ST_DEF_SYSTEM(status); }
  Lines drawn(int type, const std::function<void(Status&)>& draw) {
    const std::string path = dir.file("out" + std::to_string(++files) + ".ps");
    std::size_t before = 0;
    {
      testing::PsFile file(path, type, status);
      std::fflush(io_stream(kStreamDefaults));
      before = testing::read_lines(path).size();
      draw(status);
      file.finish(status);
    }
    all = testing::read_lines(path);
    last_path = path;
    EXPECT_TRUE(testing::gs_syntax_ok(path)) << path;
    Lines out(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    // Drop the page end.
    while (!out.empty() && out.back() != "showpage") out.pop_back();
    if (!out.empty()) out.pop_back();
    return out;
  }
  Status status = ST_GOOD();
  testing::TempDir dir;
  testing::TerminalCapture terminal;
  Lines all;
  std::string last_path;
  int files = 0;
};

const Lines kColourPortraitPrologue = {
    "%!PS-Adobe-2.0",
    "%%BoundingBox: 18 23 575 811",
    "%%Creator: Produced by the \"Qivo Graphics\" system",
    "%%Title: \"Qivo Graphics\" V1.5 PostScript Output",
    "% Coordinates are in tenths of a point; each primitive calls one",
    "% of the short procedures defined below.",
    "",
    "% Definition of variables",
    "/pl_r 0 def /pl_g 0 def /pl_b 0 def /pl_w    5 def /pl_t 0 def",
    "/pm_r 0 def /pm_g 0 def /pm_b 0 def /pm_t 5 def /pm_s   52 def/pm_w    5 def",
    "/setlinejoin 1 def /dash  78 def /dot   10 def /gap   31 def",
    "/fa_r 1 def /fa_g 1 def /fa_b 1 def",
    "/tx_r 0 def /tx_g 0 def /tx_b 0 def /tx_h 0 def /tx_v 0 def",
    "/tx_a 0 def /c_a 1 def /s_a 0 def",
    "",
    "% Definition of functions",
    "/pc {  /pl_b exch def /pl_g exch def /pl_r exch def} def",
    "/mc {  /pm_b exch def /pm_g exch def /pm_r exch def} def",
    "/fc {  /fa_b exch def /fa_g exch def /fa_r exch def} def",
    "/tc {  /tx_b exch def /tx_g exch def /tx_r exch def} def",
    "/pw { /pl_w exch def } def",
    "/pt { /pl_t exch def } def",
    "/mt { /pm_t exch def } def",
    "/ms { /pm_s exch def } def",
    "/mw { /pm_w exch def } def",
    "/ta {/tx_v exch def /tx_h exch def} def",
    "/td { /tx_a exch def /c_a tx_a cos def /s_a tx_a sin def} def",
    "/tf { /fi exch def /size exch def",
    "fi 1 eq {/Times-Roman findfont size scalefont setfont} if",
    "fi 2 eq {/Courier findfont size scalefont setfont} if",
    "} bind def",
    "/l_type {0 pl_t eq {[] 0 setdash} if",
    "1 pl_t eq {[] 0 setdash} if",
    "2 pl_t eq {[dash dash] dash 2 div setdash} if",
    "3 pl_t eq {[dot gap] 0 setdash} if",
    "4 pl_t eq {[dash gap dot gap] dash 2 div setdash} if} def",
    "/pl { /num exch def newpath moveto",
    "num 1 sub {lineto} repeat",
    "pl_w setlinewidth pl_r pl_g pl_b setrgbcolor l_type stroke} bind def",
    "/cl { /num exch def newpath moveto",
    "num 1 sub {lineto} repeat closepath",
    "pl_w setlinewidth pl_r pl_g pl_b setrgbcolor l_type stroke} bind def",
    "/hl { dup 3 -1 roll dup 3 -1 roll newpath moveto 3 -1 roll add exch lineto",
    "pl_w setlinewidth pl_r pl_g pl_b setrgbcolor l_type stroke} bind def",
    "/vl { dup 3 -1 roll dup 3 -1 roll newpath moveto 3 1 roll add lineto",
    "pl_w setlinewidth pl_r pl_g pl_b setrgbcolor l_type stroke} bind def",
    "/dt {newpath /y exch def /x exch def x 1 sub y moveto x 1 add y lineto",
    "stroke} bind def",
    "/plus {newpath /y exch def  /x exch def x pm_s sub y moveto x pm_s add y lineto",
    "x y pm_s sub moveto x y pm_s add lineto stroke} bind def",
    "/star {newpath /y exch def  /x exch def x pm_s sub y moveto x pm_s add y lineto",
    "x pm_s 0.707 mul sub y pm_s 0.707 mul sub moveto",
    "x pm_s 0.707 mul add y pm_s 0.707 mul add lineto",
    "x pm_s 0.707 mul sub y pm_s 0.707 mul add moveto",
    "x pm_s 0.707 mul add y pm_s 0.707 mul sub lineto",
    "x y pm_s sub moveto x y pm_s add lineto stroke} bind def",
    "/cir {newpath pm_s 0 360 arc stroke} def",
    "/cross {newpath /y exch def  /x exch def",
    "x pm_s 0.707 mul sub y pm_s 0.707 mul sub moveto",
    "x pm_s 0.707 mul add y pm_s 0.707 mul add lineto",
    "x pm_s 0.707 mul sub y pm_s 0.707 mul add moveto",
    "x pm_s 0.707 mul add y pm_s 0.707 mul sub lineto",
    "stroke} bind def",
    "/pm {/num exch def pm_r pm_g pm_b setrgbcolor [] 0 setdash",
    "pm_t 1 eq {10 setlinewidth 1 setlinecap num {dt} repeat} if",
    "pm_t 2 eq {pm_w setlinewidth 0 setlinecap num {plus} repeat} if",
    "pm_t 3 eq {pm_w setlinewidth 0 setlinecap num {star} repeat} if",
    "pm_t 4 eq {pm_w setlinewidth 0 setlinecap num {cir} repeat} if",
    "pm_t 5 eq {pm_w setlinewidth 0 setlinecap num {cross} repeat} if",
    "} bind def",
    "/fa { /num exch def newpath moveto",
    "num 1 sub {lineto} repeat closepath",
    "fa_r fa_g fa_b setrgbcolor fill} bind def",
    "/tx_box {gsave newpath 0 0 moveto true charpath flattenpath pathbbox",
    "grestore} def",
    "/tx {/tx_y exch def /tx_x exch def",
    "dup stringwidth pop /width exch def",
    "tx_r tx_g tx_b setrgbcolor",
    "0 tx_h eq { /x_a 0 def } if",
    "1 tx_h eq { /x_a 0 def } if",
    "2 tx_h eq { /x_a width 2 div def } if",
    "3 tx_h eq { /x_a width def } if",
    "0 tx_v eq { /y_a 0 def} if",
    "1 tx_v eq { (l) tx_box /y_a exch def pop pop pop} if",
    "2 tx_v eq { (X) tx_box /y_a exch def pop pop pop} if",
    "3 tx_v eq { (Xg) tx_box exch pop add 2 div /y_a exch def pop} if",
    "4 tx_v eq { /y_a 0 def} if",
    "5 tx_v eq { (g) tx_box pop pop -1 mul /y_a exch def pop} if",
    "6 tx_v eq { (X) tx_box exch pop add 2 div /y_a exch def pop} if",
    "/tx_x tx_x x_a c_a mul s_a y_a mul sub sub def",
    "/tx_y tx_y s_a x_a mul c_a y_a mul add sub def",
    "tx_x tx_y moveto gsave tx_a rotate show grestore} bind def",
    "/clr { /ymax exch def /xmax exch def /ymin exch def /xmin exch def",
    "newpath xmin ymin moveto xmax ymin lineto xmax ymax lineto xmin ymax lineto",
    "closepath 1 1 1 setrgbcolor fill} bind def",
    "/cp {/ymax exch def /xmax exch def /ymin exch def /xmin exch def",
    "newpath xmin ymin moveto xmax ymin lineto xmax ymax lineto xmin ymax lineto",
    "closepath clip} def",
    "0.1 0.1 scale",
    " 131 1 tf",
    "% End of prologue",
    "",
    "% Define current graphics state",
    // The kernel's start-up attributes (colour indices 1 and 2 are black
    // until the caller fills them), text height 0.02 page units.
    "1 pt",
    "0 0 0 pc",
    "5 pw",
    "0 0 0 fc",
    "2 mt",
    "0 0 0 mc",
    "52 ms",
    "5 mw",
    "131 1 tf",
    "157 1 tf",
    "0 0 0 tc",
    "0 0 ta",
    "0 td",
    "",
};

TEST_F(PsOutput, ColourPortraitPrologueAndPageEnd) {
  drawn(21, [](Status&) {});
  ASSERT_GE(all.size(), kColourPortraitPrologue.size() + 2);
  Lines head(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kColourPortraitPrologue.size()));
  // The core writes an empty line as a single blank; compare without it.
  for (auto& line : head)
    while (!line.empty() && line.back() == ' ') line.pop_back();
  for (std::size_t i = 0; i < head.size(); ++i)
    EXPECT_EQ(head[i], kColourPortraitPrologue[i]) << "line " << i + 1;
  EXPECT_EQ(Lines(all.end() - 2, all.end()), (Lines{"showpage", "0.1 0.1 scale"}));
}

TEST_F(PsOutput, GreyAndLandscapeVariants) {
  drawn(24, [](Status& s) { QG_UPDATE(2, 0, s); });
  auto has = [&](const std::string& line) { return std::find(all.begin(), all.end(), line) != all.end(); };
  EXPECT_TRUE(has("/pl_g 0 def /pl_w    5 def /pl_t 0 def"));
  EXPECT_TRUE(has("/pm_g 0 def /pm_t 5 def /pm_s   52 def/pm_w    5 def"));
  EXPECT_TRUE(has("/pc {/pl_g exch def} def"));
  EXPECT_TRUE(has("pl_w setlinewidth pl_g setgray l_type stroke} bind def"));
  EXPECT_TRUE(has("closepath 1 setgray fill} bind def"));
  EXPECT_FALSE(has("/pl_r 0 def /pl_g 0 def /pl_b 0 def /pl_w    5 def /pl_t 0 def"));
  const auto tf = std::find(all.begin(), all.end(), " 131 1 tf");
  ASSERT_NE(tf, all.end());
  EXPECT_EQ(*(tf + 1), "5871 0 translate 90 rotate");
  // Every page end starts the next page in the same coordinates.
  int pages = 0;
  for (std::size_t i = 0; i + 2 < all.size(); ++i)
    if (all[i] == "showpage") {
      ++pages;
      EXPECT_EQ(all[i + 1], "0.1 0.1 scale");
      EXPECT_EQ(all[i + 2], "5871 0 translate 90 rotate");
    }
  EXPECT_EQ(pages, 2);
  // A grey colour is one value: 0.5 red + 0.39 green + 0.11 blue.
  EXPECT_TRUE(has("0 fc"));
}

TEST_F(PsOutput, LinesAreWrittenWithShortestProcedure) {
  const Lines out = drawn(21, [](Status& s) {
    const float hx[2] = {0.1f, 0.3f}, hy[2] = {0.5f, 0.5f};
    QG_POLYLINE(2, hx, hy, s);
    const float vx[2] = {0.2f, 0.2f}, vy[2] = {0.4f, 0.1f};
    QG_POLYLINE(2, vx, vy, s);
    const float cx[5] = {0.1f, 0.2f, 0.2f, 0.1f, 0.1f}, cy[5] = {0.1f, 0.1f, 0.2f, 0.2f, 0.1f};
    QG_POLYLINE(5, cx, cy, s);
    const float px[3] = {0.1f, 0.2f, 0.3f}, py[3] = {0.1f, 0.2f, 0.1f};
    QG_POLYLINE(3, px, py, s);
  });
  EXPECT_EQ(out, (Lines{"1574 967 4165 hl", "2361 1754 1017 vl",
                        "967 1804 1754 1804 1754 1017 967 1017 4 cl",
                        "2541 1017 1754 1804 967 1017 3 pl"}));
}

TEST_F(PsOutput, StraightLinesAreJudgedOnWrittenCoordinates) {
  const Lines out = drawn(21, [](Status& s) {
    // A tiny world: 0.00005 in Y is 393 units on the page, not horizontal.
    QG_DATAWINDOW(0, 0, 0.001f, 0.001f, s);
    QG_VIEWPORT(0, 0, 0.5f, 0.5f, s);
    const float x[2] = {0.0001f, 0.0009f}, y[2] = {0.0005f, 0.00055f};
    QG_POLYLINE(2, x, y, s);
    // A huge world: a first and last point within one written unit close the line.
    QG_DATAWINDOW(0, 0, 1.0e6f, 1.0e6f, s);
    const float cx[4] = {1.0e5f, 4.0e5f, 4.0e5f, 1.0e5f + 20.0f},
                cy[4] = {1.0e5f, 1.0e5f, 4.0e5f, 1.0e5f + 20.0f};
    QG_POLYLINE(4, cx, cy, s);
  });
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].ends_with(" 2 pl")) << out[0];
  EXPECT_EQ(out[1], "1754 1804 1754 623 573 623 3 cl");
}

TEST_F(PsOutput, LongPolylinesAndMarkerListsAreChunked) {
  const Lines out = drawn(21, [](Status& s) {
    std::vector<float> x(450), y(450);
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = 0.1f + 0.001f * static_cast<float>(i);
      y[i] = 0.5f + 0.0001f * static_cast<float>(i % 7);
    }
    QG_POLYLINE(399, x, y, s);
    QG_POLYMARKER(450, x, y, s);
  });
  Lines ends;
  for (const auto& line : out)
    if (line.find(" pl") != std::string::npos || line.find(" pm") != std::string::npos)
      ends.push_back(line.substr(line.rfind(' ', line.size() - 4) + 1));
  EXPECT_EQ(ends, (Lines{"200 pl", "200 pl", "200 pm", "200 pm", "50 pm"}));
  for (const auto& line : out) EXPECT_LE(line.size(), 80u) << line;
  // Points go out from each chunk's last back to its first, so the second
  // polyline chunk ends with point 200 (x = 0.1 + 0.199), shared with the first.
  const std::string shared = std::to_string(ps_x(0.1f + 0.199f));
  std::size_t second_end = 0;
  for (std::size_t i = 0, seen = 0; i < out.size(); ++i)
    if (out[i].find(" pl") != std::string::npos && ++seen == 2) second_end = i;
  std::istringstream tokens(out[second_end]);
  std::vector<std::string> words{std::istream_iterator<std::string>(tokens), {}};
  ASSERT_GE(words.size(), 4u);
  EXPECT_EQ(words[words.size() - 4], shared) << out[second_end];
}

TEST_F(PsOutput, TextEscapesAndContinues) {
  const std::string long_text(100, 'x');
  const Lines out = drawn(21, [&](Status& s) {
    QG_TEXT(0.1f, 0.5f, "a(b)c\\  ", s);
    QG_TEXT(0.1f, 0.5f, "   ", s);
    QG_TEXT(0.1f, 0.5f, long_text, s);
  });
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], "(a\\(b\\)c\\\\)");
  EXPECT_EQ(out[1], "967 4165 tx");
  EXPECT_EQ(out[2], "(" + std::string(76, 'x') + "\\");
  EXPECT_EQ(out[3], std::string(24, 'x') + ")");
}

TEST_F(PsOutput, AttributeLines) {
  const Lines out = drawn(21, [](Status& s) {
    QG_LINESTYLE(4, s);
    QG_LINEWIDTH(2.0f, s);
    QG_MARKERSCALE(0.5f, s);
    QG_MARKERTYPE(3, s);
    QG_LINECOLOUR(43, s);  // basic red
    QG_FILLCOLOUR(150, s);
    QG_TEXTALIGNMENT(2, 6, s);
    QG_TEXTANGLE(89.6f, s);
    QG_TEXTHEIGHT(0.0001f, s);  // raised to 0.005 page units
    QG_PS_TEXTHEIGHT(0.0001f, s);
    QG_LINECOLOUR(-1, s);
  });
  EXPECT_EQ(out, (Lines{"4 pt", "10 pw", "26 ms", "3 mt", "1 0 0 pc", "1 .9931 .4716 fc",
                        "2 6 ta", "90 td", "39 1 tf", "1 1 tf"}));
  EXPECT_NE(terminal.text().find("WARNING: The PostScript driver does not support inverse video"),
            std::string::npos);
  Status s = ST_GOOD();
  QG_PS_LINEWIDTH(0.0f, s);
  EXPECT_EQ(s, 130021);
  s = ST_GOOD();
  QG_PS_LINECOLOUR(1.5f, 0, 0, s);
  EXPECT_EQ(s, 130021);
}

TEST_F(PsOutput, TinyTextHeightOnlyWarns) {
  const Lines out = drawn(21, [](Status& s) { QG_PS_TEXTHEIGHT(0.00005f, s); });
  EXPECT_TRUE(out.empty());
  EXPECT_NE(terminal.text().find("WARNING: Attempt to set zero or negative height text characters"),
            std::string::npos);
}

TEST_F(PsOutput, PointsFarOutsideThePageAreClamped) {
  const Lines out = drawn(21, [](Status& s) {
    const float x[2] = {-1.0e30f, 3.0e38f}, y[2] = {0.5f, 1.0e30f};
    QG_POLYLINE(2, x, y, s);
    const float bytes_x1 = 1.0e20f;
    const std::uint8_t cell[1] = {200};
    QG_PS_BCA(-bytes_x1, -bytes_x1, bytes_x1, bytes_x1, 1, 1, 1, 1, 1, 1, cell, s);
  });
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], "1000000000 1000000000 -999999820 4165 2 pl");
  // Fixed-width fields keep a blank between numbers however wide they are.
  const auto ca = std::find_if(out.begin(), out.end(),
                               [](const std::string& l) { return l.ends_with(" ca"); });
  ASSERT_NE(ca, out.end());
  EXPECT_EQ(*ca, "-999999820 -999999770 1000000000 1000000000    1    1 ca");
}

TEST_F(PsOutput, ClipClearAndUpdate) {
  const Lines out = drawn(21, [](Status& s) {
    QG_CLIPWINDOW(0.1f, 0.1f, 0.3f, 0.4f, s);
    QG_CLIP(true, s);
    QG_CLIP(false, s);
    QG_CLEAR(s);
  });
  EXPECT_EQ(out, (Lines{"967 1017 2541 3378 cp", "initclip", "180 230 5690 8100 clr"}));
  Status s = ST_GOOD();
  QG_PS_CLIP(true, 1, 0, 0, 1, s);
  EXPECT_EQ(s, 130013);
}

TEST_F(PsOutput, CellArraysAverageBlocksDownToTheResolution) {
  struct Case {
    Index size;
    std::string pixel_line, image_tail;
  };
  const Case cases[] = {
      {1200, "/pixel_string   600 string def  % String to hold line of pixels", "  600  600 ca"},
      {601, "/pixel_string   300 string def  % String to hold line of pixels", "  300  300 ca"},
      {7, "/pixel_string     7 string def  % String to hold line of pixels", "    7    7 ca"},
  };
  for (const Case& c : cases) {
    std::vector<int> indices(static_cast<std::size_t>(c.size * c.size));
    for (Index y = 1; y <= c.size; ++y)
      for (Index x = 1; x <= c.size; ++x)
        indices[static_cast<std::size_t>(element(x, y, c.size))] = static_cast<int>((x + y) % 2 ? 60 : 61);
    const Lines out = drawn(21, [&](Status& s) {
      QG_CELLARRAY(0.1f, 0.1f, 0.6f, 0.6f, c.size, c.size, 1, 1, c.size, c.size, indices, s);
    });
    EXPECT_NE(std::find(out.begin(), out.end(), c.pixel_line), out.end()) << c.size;
    const auto ca = std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.ends_with(" ca") && l[0] == ' '; });
    ASSERT_NE(ca, out.end());
    EXPECT_TRUE(ca->ends_with(c.image_tail)) << *ca;
    EXPECT_EQ(ca->substr(0, 24), "   967  1017  4902  4952");
    // Each 2 x 2 block holds two 60s and two 61s: mean 60.5 rounds up to 61 (3D).
    if (c.size == 1200) {
      std::string cells;
      for (int i = 0; i < 39; ++i) cells += "3D";
      EXPECT_EQ(*(ca + 1), cells);
    }
  }
}

TEST_F(PsOutput, ColourTableWithEveryImageProceduresOnce) {
  const std::uint8_t bytes[4] = {200, 41, 42, 43};
  const Lines out = drawn(21, [&](Status& s) {
    QG_PS_BCA(0.1f, 0.1f, 0.2f, 0.2f, 2, 2, 1, 1, 2, 2, bytes, s);
    QG_PS_BCA(0.1f, 0.1f, 0.2f, 0.2f, 2, 2, 1, 1, 2, 2, bytes, s);
  });
  EXPECT_EQ(std::count(out.begin(), out.end(), "/colourtable 768 string def"), 1);
  EXPECT_EQ(std::count(out.begin(), out.end(), "% Definition of \"ca\" operator"), 1);
  EXPECT_EQ(std::count(out.begin(), out.end(), "ct"), 2);
  const auto ct = std::find(out.begin(), out.end(), "ct");
  // 256 entries, 13 to a line: 19 full lines and one of 9; index 41 is black,
  // 42 white, 43 red: line 4 holds entries 39..51.
  for (int i = 1; i <= 19; ++i) EXPECT_EQ((ct + i)->size(), 78u);
  EXPECT_EQ((ct + 20)->size(), 54u);
  EXPECT_EQ((ct + 4)->substr(12, 18), "000000FFFFFFFF0000");
  EXPECT_EQ(*(ct + 21), "pop pop  % Remove status return from stack");
  EXPECT_EQ(*(ct + 22), "/pixel_string     2 string def  % String to hold line of pixels");
  EXPECT_EQ(*(ct + 23), "/rgb_string     6 string def  % String to hold line of rgb values");
  EXPECT_EQ(*(ct + 24), "   967  1017  1754  1804    2    2 ca");
  EXPECT_EQ(*(ct + 25), "C8292A2B");
}

TEST_F(PsOutput, GreyFileWritesGreyLevelsWithoutColourTable) {
  const std::uint8_t bytes[2] = {200, 43};
  const Lines out = drawn(23, [&](Status& s) {
    QG_PS_BCA(0.1f, 0.1f, 0.2f, 0.2f, 2, 1, 1, 1, 2, 1, bytes, s);
  });
  EXPECT_EQ(std::count(out.begin(), out.end(), "ct"), 0);
  EXPECT_EQ(std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.starts_with("/rgb_string"); }), out.end());
  const Rgb c = qg_db_colours.table[200];
  const int grey = static_cast<int>((0.5 * c.red + 0.39 * c.green + 0.11 * c.blue) * 255.0);
  char expected[8];
  std::snprintf(expected, sizeof expected, "%02X7F", grey);  // red: 0.5 x 255 = 127
  EXPECT_EQ(out.back(), expected);
}

TEST_F(PsOutput, RealImagesMapOntoTheImageRangeAndMask) {
  // 4 x 2 image, blocks of one element: values along the range, one masked.
  const float data[8] = {0, 1, 2, 3, -5, 10, 1.5f, 2};
  const std::uint8_t mask[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  const Lines out = drawn(21, [&](Status& s) {
    QG_PS_RMCA(true, 0.1f, 0.1f, 0.2f, 0.2f, 4, 2, 1, 1, 4, 2, data, mask, 0, 3, 7, s);
    QG_SET_LOGZSCALING(true, s);
    QG_PS_RMCA(false, 0.1f, 0.1f, 0.2f, 0.2f, 4, 2, 1, 1, 4, 2, data, mask, 1, 1000, 7, s);
  });
  // Linear: 49 + round(v x 202 / 3), limited to 49..250; the masked cell is 7.
  EXPECT_NE(std::find(out.begin(), out.end(), "3174B8FA31FA9607"), out.end());
  // Logarithmic over 1..1000: at or below the minimum 49; 2 in step 21 (69),
  // 3 in step 32 (80), 1.5 in step 12 (60).
  const std::string log_cells = out.back();
  ASSERT_EQ(log_cells.size(), 16u);
  EXPECT_EQ(log_cells.substr(0, 8), "31314550");
  EXPECT_EQ(log_cells.substr(8, 2), "31");
  EXPECT_EQ(log_cells.substr(12, 4), "3C45");
  Status s = ST_GOOD();
  QG_PS_RMCA(false, 0, 0, 1, 1, 4, 2, 1, 1, 4, 2, data, mask, 0, 10, 7, s);
  EXPECT_EQ(s, 131004);  // no logarithm of zero
  // A value that is not a number takes the mask colour, shown mask or not,
  // and logarithmic or not; infinities the ends of the range.
  const float odd[4] = {std::nanf(""), 3, INFINITY, -INFINITY};
  const Lines nan_cells = drawn(21, [&](Status& st) {
    QG_PS_RMCA(false, 0.1f, 0.1f, 0.2f, 0.2f, 4, 1, 1, 1, 4, 1, odd, {}, 0, 3, 7, st);
    QG_SET_LOGZSCALING(true, st);
    QG_PS_RMCA(false, 0.1f, 0.1f, 0.2f, 0.2f, 4, 1, 1, 1, 4, 1, odd, {}, 1, 3, 7, st);
  });
  EXPECT_EQ(std::count(nan_cells.begin(), nan_cells.end(), "07FAFA31"), 2);
}

TEST(PsCellBlocks, BlockSumsOfARegionAndMaskedBlocks) {
  struct Grid {
    Index xnum, ynum, resolution;
    CellBlocks want;
  };
  const Grid grids[] = {
      {600, 600, 600, {1, 1, 600, 600}},
      {601, 10, 600, {2, 1, 300, 10}},
      {1201, 1800, 600, {3, 3, 400, 600}},
      {5, 3, 2, {3, 2, 1, 1}},  // the fifth column and third row are dropped
  };
  for (const Grid& g : grids) {
    const CellBlocks b = cell_blocks(g.xnum, g.ynum, g.resolution);
    EXPECT_EQ(std::vector<Index>({b.bx, b.by, b.nx, b.ny}),
              std::vector<Index>({g.want.bx, g.want.by, g.want.nx, g.want.ny}));
  }
  // 5 x 4 array of x + 10 y; the region x 2..5, y 1..4 in 2 x 2 blocks.
  std::vector<float> values(20);
  std::vector<std::uint8_t> mask(20, 0);
  for (Index y = 1; y <= 4; ++y)
    for (Index x = 1; x <= 5; ++x) values[static_cast<std::size_t>(element(x, y, 5))] = static_cast<float>(x + 10 * y);
  mask[static_cast<std::size_t>(element(5, 4, 5))] = 1;
  mask[static_cast<std::size_t>(element(1, 1, 5))] = 1;  // outside the region
  const CellBlocks b = cell_blocks(4, 4, 2);
  const double want_sums[2][2] = {{12 + 13 + 22 + 23, 14 + 15 + 24 + 25}, {32 + 33 + 42 + 43, 34 + 35 + 44 + 45}};
  const std::uint8_t want_hit[2][2] = {{0, 0}, {0, 1}};
  std::vector<double> sums(2);
  std::vector<std::uint8_t> hit(2, 9);
  for (Index r = 0; r < 2; ++r) {
    block_row_sums<float, double>(b, values, mask, 5, 2, 1, r, sums, hit);
    for (std::size_t c = 0; c < 2; ++c) {
      EXPECT_EQ(sums[c], want_sums[r][c]) << r << " " << c;
      EXPECT_EQ(hit[c] != 0, want_hit[r][c] != 0) << r << " " << c;
    }
  }
}

TEST_F(PsOutput, RealImageBlocksAverageAndAnyMaskedElementMasksTheBlock) {
  // 4 x 4 at resolution 2: 2 x 2 blocks with means 0 and 1 (masked) below,
  // 2 and 3 above.
  float data[16] = {-1, 1, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 1, 3, 3, 3};
  std::uint8_t mask[16] = {};
  mask[7] = 1;
  const Lines out = drawn(21, [&](Status& s) {
    QG_SET_RESOLUTION(2, s);
    QG_PS_RMCA(true, 0.1f, 0.1f, 0.2f, 0.2f, 4, 4, 1, 1, 4, 4, data, mask, 0, 3, 7, s);
  });
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "3107B8FA");
  // So does one element that is not a number, without a mask.
  data[14] = NAN;
  const Lines bad = drawn(21, [&](Status& s) {
    QG_SET_RESOLUTION(2, s);
    QG_PS_RMCA(false, 0.1f, 0.1f, 0.2f, 0.2f, 4, 4, 1, 1, 4, 4, data, {}, 0, 3, 7, s);
  });
  ASSERT_FALSE(bad.empty());
  EXPECT_EQ(bad.back(), "3174B807");
}

}  // namespace
}  // namespace kesta
