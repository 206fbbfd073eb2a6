// The window driver's rules that need no display: page aspect, widths,
// font choice, line editing with its history, image scaling, spy-glass patch.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "graphics/device/x11_driver.hpp"

namespace kesta {
namespace {

TEST(X11PageAspect, KeepsThePageShapeOfTheFormat) {
  struct Case {
    int format, width, height, want_width, want_height;
  };
  const Case cases[] = {
      {1, 600, 600, 424, 600},   // too wide: width cut
      {1, 500, 1000, 500, 707},  // too tall: height cut
      {1, 500, 707, 500, 707},   // already right (707 / 500 rounds to the ratio's side)
      {2, 1000, 500, 707, 500},
      {2, 600, 600, 600, 424},
      {3, 640, 200, 640, 200},  // no page aspect kept
  };
  for (const Case& c : cases) {
    const X11Size s = x11_page_aspect(c.format, c.width, c.height);
    EXPECT_EQ(s.width, c.want_width) << c.format << " " << c.width << "x" << c.height;
    EXPECT_EQ(s.height, c.want_height) << c.format << " " << c.width << "x" << c.height;
  }
}

TEST(X11FontChoice, PicksByPixelHeightAndFontIndex) {
  struct Case {
    int h;
    const char* serif;
    const char* fixed;
  };
  const Case cases[] = {{3, "clR4x6", "5x7"},  {7, "5x7", "5x7"},     {9, "timR08", "6x9"},
                        {11, "timR10", "6x10"}, {13, "timR12", "7x13"}, {17, "timR14", "8x16"},
                        {23, "timR18", "10x20"}, {24, "timR24", "12x24"}, {90, "timR24", "12x24"}};
  for (const Case& c : cases) {
    const X11FontChoice one = x11_font_choice(c.h, 1);
    EXPECT_EQ(one.first, c.serif) << c.h;
    EXPECT_EQ(one.second, c.fixed) << c.h;
    const X11FontChoice two = x11_font_choice(c.h, 2);
    EXPECT_TRUE(two.first.empty()) << c.h;
    EXPECT_EQ(two.second, c.fixed) << c.h;
  }
}

TEST(X11LineEditor, HoldsFileNameLengthLinesAndRefusesMore) {
  X11History history;
  X11LineEditor editor(history);
  editor.start(std::string(300, 'a'));  // an initial text longer than the buffer is cut
  EXPECT_EQ(editor.line().size(), kX11LineLength);
  EXPECT_EQ(editor.cursor(), kX11LineLength);
  EXPECT_FALSE(editor.insert("b"));
  EXPECT_EQ(editor.line(), std::string(kX11LineLength, 'a'));

  editor.start(std::string(200, 'x'));
  EXPECT_TRUE(editor.insert(std::string(56, 'y')));  // 256 exactly
  EXPECT_FALSE(editor.insert("z"));
  EXPECT_EQ(editor.line().size(), 256u);

  // Edits inside the line; keys that cannot move or erase are refused.
  editor.start("");
  EXPECT_FALSE(editor.left());
  EXPECT_FALSE(editor.erase());
  editor.insert("helo");
  editor.left();
  EXPECT_TRUE(editor.insert("l"));
  EXPECT_EQ(editor.line(), "hello");
  EXPECT_TRUE(editor.right());
  EXPECT_FALSE(editor.right());
}

TEST(X11LineEditor, HistoryBrowsingRestoresTheLineBeingTyped) {
  X11History history;
  X11LineEditor editor(history);
  editor.start("");
  EXPECT_FALSE(editor.up());  // empty history

  // Repeated and empty lines are not kept, nor a line the latest entry
  // begins with ("sec", and "second" after "secondary"); a longer one is.
  for (const char* line : {"first", "second", "second", "sec", "", "secondary", "second"}) {
    editor.start(line);
    editor.finish();
  }
  EXPECT_EQ(history.count, 3);

  editor.start("");
  editor.insert("draft");
  for (const char* older : {"secondary", "second", "first"}) {
    EXPECT_TRUE(editor.up());
    EXPECT_EQ(editor.line(), older);
  }
  EXPECT_FALSE(editor.up());
  for (const char* newer : {"second", "secondary"}) {
    EXPECT_TRUE(editor.down());
    EXPECT_EQ(editor.line(), newer);
  }
  EXPECT_TRUE(editor.down());
  EXPECT_EQ(editor.line(), "draft");
  EXPECT_EQ(editor.cursor(), 5u);
  editor.down();  // below the line being typed: emptied
  EXPECT_EQ(editor.line(), "");
}

TEST(X11LineEditor, HistoryKeepsTheLatestFortyLines) {
  X11History history;
  X11LineEditor editor(history);
  for (int k = 1; k <= 41; ++k) {
    editor.start("line " + std::to_string(k));
    editor.finish();
  }
  EXPECT_EQ(history.count, kX11HistoryEntries);
  editor.start("");
  std::string oldest;
  while (editor.up()) oldest = editor.line();
  EXPECT_EQ(oldest, "line 2");
  EXPECT_EQ(history.back(1), "line 41");
}

TEST(X11ImageScale, LinearMapsOntoTheImageRange) {
  X11ImageScale scale;
  ASSERT_TRUE(scale.set(10, 109, 0.0f, 100.0f, false, 7));  // 100 levels
  EXPECT_EQ(scale.index(0.0f), 10);
  EXPECT_EQ(scale.index(50.0f), 60);
  EXPECT_EQ(scale.index(100.0f), 109);
  EXPECT_EQ(scale.index(-5.0f), 10);
  EXPECT_EQ(scale.index(1e30f), 109);
  EXPECT_EQ(scale.index(NAN), 7);  // a bad pixel takes its own colour, never the lowest
  EXPECT_EQ(scale.index(-INFINITY), 10);
  EXPECT_EQ(scale.index(INFINITY), 109);

  // No range: a range of 1.0 is used, so values above the minimum still climb.
  ASSERT_TRUE(scale.set(10, 109, 5.0f, 5.0f, false, 7));
  EXPECT_EQ(scale.index(5.0f), 10);
  EXPECT_EQ(scale.index(5.5f), 60);
}

TEST(X11ImageScale, LogarithmicThresholdsAndRefusedRanges) {
  X11ImageScale scale;
  EXPECT_FALSE(scale.set(0, 99, 0.0f, 100.0f, true, 7));
  EXPECT_FALSE(scale.set(0, 99, 10.0f, 10.0f, true, 7));
  ASSERT_TRUE(scale.set(0, 100, 1.0f, 100.0f, true, 7));  // thresholds every 10^0.02
  EXPECT_EQ(scale.index(0.5f), 0);
  EXPECT_EQ(scale.index(1.0f), 0);
  EXPECT_EQ(scale.index(10.2f), 50);  // 10^1.00 <= 10.2 < 10^1.02
  EXPECT_EQ(scale.index(99.9f), 99);
  EXPECT_EQ(scale.index(100.0f), 100);
  EXPECT_EQ(scale.index(NAN), 7);
  EXPECT_EQ(scale.index(INFINITY), 100);
}

TEST(X11ImageScale, LogarithmicIndexAgreesWithABinarySearchOverTheThresholds) {
  struct Range {
    int first, last;
    float minimum, maximum;
  };
  for (const Range& r : {Range{9, 255, 1.0f, 1000.0f}, Range{49, 250, 1e-10f, 2e-10f},
                         Range{10, 117, 0.001f, 65535.0f}, Range{5, 6, 1.0f, 10.0f}}) {
    X11ImageScale scale;
    ASSERT_TRUE(scale.set(r.first, r.last, r.minimum, r.maximum, true, 0));
    const int n = r.last - r.first + 1;
    const double low = std::log10(static_cast<double>(r.minimum));
    const double step = (std::log10(static_cast<double>(r.maximum)) - low) / (n - 1);
    auto reference = [&](double v) {
      if (v >= r.maximum) return r.last;
      if (v < r.minimum) return r.first;
      int lo = 0, hi = n - 1;
      while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (std::pow(10.0, low + step * mid) <= v)
          lo = mid;
        else
          hi = mid;
      }
      return r.first + lo;
    };
    // Values spread over the range and values just around every threshold.
    for (int k = 0; k <= 5000; ++k) {
      const double f = k / 5000.0;
      const auto v = static_cast<float>(std::pow(10.0, low + f * (n - 1) * step * 1.02 - 0.01));
      ASSERT_EQ(scale.index(v), reference(v)) << v;
    }
    for (int i = 0; i < n; ++i) {
      const auto t = static_cast<float>(std::pow(10.0, low + step * i));
      for (float v : {std::nextafter(t, 0.0f), t, std::nextafter(t, 1e38f)})
        ASSERT_EQ(scale.index(v), reference(v)) << v;
    }
  }
}

TEST(X11SpyPatch, StaysInsideTheDisplayedRegionAtEveryEdge) {
  // Region 11..30 x 21..40 shown over the page rectangle 0.1..0.3 x 0.2..0.4.
  const std::array<float, 4> image = {0.1f, 0.2f, 0.3f, 0.4f};
  X11SpyPatch p;
  // The top-right corner.
  ASSERT_TRUE(x11_spy_patch(image[2], image[3], image, 11, 21, 30, 40, 21, 21, p));
  EXPECT_EQ(p.ix, 30);
  EXPECT_EQ(p.iy, 40);
  EXPECT_EQ(p.x2, 30);
  EXPECT_EQ(p.y2, 40);
  EXPECT_EQ(p.cut_right, 10);
  EXPECT_EQ(p.cut_top, 10);
  EXPECT_EQ(p.x1, 20);

  ASSERT_TRUE(x11_spy_patch(image[0], image[1], image, 11, 21, 30, 40, 5, 5, p));  // bottom-left
  EXPECT_EQ(p.ix, 11);
  EXPECT_EQ(p.iy, 21);
  EXPECT_EQ(p.x1, 11);
  EXPECT_EQ(p.y1, 21);
  EXPECT_EQ(p.cut_left, 2);
  EXPECT_EQ(p.cut_bottom, 2);

  ASSERT_TRUE(x11_spy_patch(0.2, 0.3, image, 11, 21, 30, 40, 5, 5, p));  // middle: whole patch
  EXPECT_EQ(p.x2 - p.x1, 4);
  EXPECT_EQ(p.cut_left + p.cut_right + p.cut_bottom + p.cut_top, 0);

  EXPECT_FALSE(x11_spy_patch(0.31, 0.3, image, 11, 21, 30, 40, 5, 5, p));
  EXPECT_FALSE(x11_spy_patch(0.2, 0.19, image, 11, 21, 30, 40, 5, 5, p));
}

}  // namespace
}  // namespace kesta
