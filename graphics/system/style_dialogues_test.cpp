// The keyboard style dialogues answered by scripted lines.

#include "graphics/system/style_dialogues.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "core/dialogue_testing.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/test_support.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

// Every value the dialogues can change, as one comparable text.
std::string describe() {
  const GsState& g = gs_state;
  std::ostringstream o;
  auto text = [&o](const GsTextStyle& t) {
    o << t.output << ' ' << t.font << ' ' << t.colour << ' ' << t.height << ' ' << t.width << ' '
      << t.spacing << ';';
  };
  auto axes = [&o](const GsAxesStyle& a) {
    o << a.line_type << ' ' << a.width << ' ' << a.colour << ' ' << a.large_tick << ' '
      << a.small_tick << ' ' << a.num_small << ';';
  };
  auto line = [&o](const GsLine& l) { o << l.type << ' ' << l.width << ' ' << l.colour << ';'; };
  auto rect = [&o](const GsRect& r) {
    o << r.xmin << ' ' << r.ymin << ' ' << r.xmax << ' ' << r.ymax << ';';
  };
  auto ticks = [&o](const GsLargeTicks& t) {
    o << t.automatic << ' ' << t.first << ' ' << t.interval << ' ' << t.number << ';';
  };
  o << g.background_fill << ' ' << g.background_colour << ';';
  text(g.title);
  text(g.xlabel);
  text(g.ylabel);
  o << g.ylabel_orientation << ';';
  for (const GsAxisEnum* e : {&g.xenum, &g.yenum}) {
    text(e->text);
    o << e->field << ' ' << e->fraction << ' ' << e->shorten << ' ' << e->constant_length << ';';
  }
  axes(g.haxes);
  axes(g.vaxes);
  o << g.grid.h_coarse << g.grid.v_coarse << g.grid.h_fine << g.grid.v_fine << ';';
  for (const GsLine* l : {&g.hcoarse, &g.vcoarse, &g.hfine, &g.vfine}) line(*l);
  rect(g.gpp);
  o << g.layout.y_enum_gap << ' ' << g.layout.x_enum_gap << ' ' << g.layout.y_label_gap << ' '
    << g.layout.x_label_gap << ' ' << g.layout.title_gap << ';';
  ticks(g.xticks);
  ticks(g.yticks);
  o << g.lut.scheme << ' ' << g.lut.levels << ';' << g.num_labels << ' ' << g.num_arrows << ';';
  for (int k = 0; k < 3; ++k) {
    const GsLabel& l = g.labels[k];
    const GsLabelStyle& s = g.label_styles[k];
    const GsArrow& a = g.arrows[k];
    const GsArrowStyle& as = g.arrow_styles[k];
    o << l.data_coordinates << l.x << ' ' << l.y << ' ' << l.text << ' ' << s.font << ' '
      << s.colour << ' ' << s.height << ' ' << s.width << ' ' << s.spacing << ' ' << s.angle << ' '
      << a.data_coordinates << a.head_x << ' ' << a.head_y << ' ' << a.tail_x << ' ' << a.tail_y
      << ' ' << as.line_type << ' ' << as.width << ' ' << as.colour << ' ' << as.head_style << ' '
      << as.head_length << ' ' << as.head_width << ' ' << as.fill_colour << ';';
  }
  return o.str();
}

struct StyleDialogues : ::testing::Test {
  testing::TerminalCapture terminal;
  void SetUp() override {
    Status s = kStatusGood;
    ST_DEF_SYSTEM(s);
    QG_OPEN(0, s);
    gs_state = GsState{};
    gs_inp_memory = GsInpMemory{};
    GS_DEF_GRAPHICS(s);
    GS_DEF_LUTCHOICE(s);
    ASSERT_EQ(s, kStatusGood);
  }
  void TearDown() override { qg_db_system = QgDbSystem{}; }
  // Runs DIALOGUE on the scripted ANSWERS; the prompts it asked.
  std::vector<std::string> run(void (*dialogue)(Status&), std::vector<std::string> answers,
                               Status& status) {
    testing::ScriptedInput input(std::move(answers));
    dialogue(status);
    return input.prompts;
  }
  static int asked(const std::vector<std::string>& prompts, std::string_view what) {
    return static_cast<int>(std::count_if(prompts.begin(), prompts.end(), [what](const auto& p) {
      return p.find(what) != std::string::npos;
    }));
  }
};

TEST_F(StyleDialogues, ReturnEverywhereKeepsEveryValue) {
  Status s = kStatusGood;
  // Values away from the defaults, colours among them that name an index.
  GS_SET_TITLESTYLE(true, 2, kGsIndex0, 1.5f, 0.5f, 0.25f, s);
  GS_SET_YLABELSTYLE(true, 2, kGsIndex1, 1.25f, 2.0f, -0.5f, s);
  GS_SET_YLABELORIENTATION(2, s);
  GS_SET_XAXISENUM(true, 2, kGsRed, 0.75f, 1.0f, 0.0f, 7, 3, false, true, s);
  GS_SET_VAXESSTYLE(2, 1.5f, kGsBlue, 0.02f, 0.004f, 3, s);
  GS_SET_VFINEGRID(4, 2.0f, kGsGreen, s);
  GS_SET_GRID(true, false, true, false, s);
  GS_SET_BACKGROUND(true, kGsYellow, s);
  GS_SET_GPP(0.15f, 0.35f, 0.55f, 0.85f, s);
  GS_SET_GRAPHLAYOUT(0.01f, 0.02f, 0.03f, 0.04f, 0.06f, s);
  GS_SET_DDDR(0.0f, 0.0f, 10.0f, 20.0f, s);
  GS_SET_YLTICKS(false, 2.0f, 3.0f, 4, s);
  GS_SET_LUTCHOICE(8, 40, s);
  GS_SET_ALABEL(2, false, 0.3f, 0.4f, "PEAK", 2, s);
  GS_SET_ARROW(2, true, 1.0f, 2.0f, 3.0f, 4.0f, 2, s);
  GS_SET_ALABELSTYLE(1, 2, kGsCyan, 1.5f, 1.25f, 0.5f, 0.7f, s);
  GS_SET_ARROWSTYLE(1, 3, 1.5f, kGsOrange, 1, 2.0f, 3.0f, kGsViolet, s);
  QG_SET_IMAGERANGE(20, 219, s);
  ASSERT_EQ(s, kStatusGood);
  const std::string before = describe();
  for (auto dialogue :
       {GS_INP_BACKGROUND, GS_INP_TITLESTYLE, GS_INP_XLABELSTYLE, GS_INP_YLABELSTYLE,
        GS_INP_ENUMERATIONSTYLE, GS_INP_AXESSTYLES, GS_INP_GRID, GS_INP_GRIDSTYLE, GS_INP_GPP,
        GS_INP_LAYOUT, GS_INP_LTICKS, GS_INP_LUT, GS_INP_ALABELSTYLES, GS_INP_ARROWSTYLES}) {
    const std::vector<std::string> prompts = run(dialogue, std::vector<std::string>(80, ""), s);
    ASSERT_EQ(s, kStatusGood) << prompts.front();
    EXPECT_GT(prompts.size(), 1u);
    EXPECT_EQ(describe(), before) << prompts.front();
  }
  // The label dialogue asks a count one above the present one: Return there
  // and at every later question defines the next label where it stands.
  const std::vector<std::string> prompts = run(GS_INP_ALABELS, std::vector<std::string>(20, ""), s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(gs_state.num_labels, 3);
  EXPECT_EQ(asked(prompts, "ARROW HEAD X-COORDINATE"), 0);
}

TEST_F(StyleDialogues, NoToOutputAsksNothingMore) {
  Status s = kStatusGood;
  GS_SET_TITLESTYLE(true, 2, kGsRed, 1.5f, 0.5f, 0.25f, s);
  const std::vector<std::string> prompts = run(GS_INP_TITLESTYLE, {"NO", "9"}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_FALSE(gs_state.title.output);
  EXPECT_EQ(gs_state.title.font, 2);
  EXPECT_EQ(gs_state.title.colour, kGsRed);
}

TEST_F(StyleDialogues, AnswersAreStoredWhereTheyBelong) {
  Status s = kStatusGood;
  // Layout: title, X label, Y label, X numbers, Y numbers.
  run(GS_INP_LAYOUT, {"0.1", "0.2", "0.3", "0.4", "0.5"}, s);
  EXPECT_FLOAT_EQ(gs_state.layout.title_gap, 0.1f);
  EXPECT_FLOAT_EQ(gs_state.layout.x_label_gap, 0.2f);
  EXPECT_FLOAT_EQ(gs_state.layout.y_label_gap, 0.3f);
  EXPECT_FLOAT_EQ(gs_state.layout.x_enum_gap, 0.4f);
  EXPECT_FLOAT_EQ(gs_state.layout.y_enum_gap, 0.5f);
  // Degrees in, radians stored with the program's pi.
  run(GS_INP_ALABELSTYLES, {"3", "", "red", "", "", "", "90"}, s);
  EXPECT_FLOAT_EQ(gs_state.label_styles[2].angle, 90.0f * 3.1415925f / 180.0f);
  EXPECT_EQ(gs_state.label_styles[2].colour, kGsRed);
  // The general colour is remembered for the next time.
  run(GS_INP_ACOLOURS, {"blue"}, s);
  EXPECT_EQ(gs_state.title.colour, kGsBlue);
  EXPECT_EQ(gs_state.haxes.colour, kGsBlue);
  GS_SET_TITLESTYLE(true, 1, kGsBlack, 1, 1, 0, s);
  run(GS_INP_ACOLOURS, {""}, s);
  EXPECT_EQ(gs_state.title.colour, kGsBlue);
  // User ticks: first, interval and count from the answers.
  GS_SET_DDDR(0.0f, 0.0f, 100.0f, 1.0f, s);
  run(GS_INP_LTICKS, {"NO", "10", "20", "", "YES"}, s);
  EXPECT_FALSE(gs_state.xticks.automatic);
  EXPECT_FLOAT_EQ(gs_state.xticks.first, 10.0f);
  EXPECT_FLOAT_EQ(gs_state.xticks.interval, 20.0f);
  EXPECT_EQ(gs_state.xticks.number, 5);
  // A label with its arrow.
  run(GS_INP_ALABELS, {"1", "1", "YES", "5", "6", "HELLO", "YES", "NO", "1", "2", "3", "4"}, s);
  EXPECT_EQ(gs_state.labels[0].text, "HELLO");
  EXPECT_FLOAT_EQ(gs_state.arrows[0].tail_y, 4.0f);
  EXPECT_FALSE(gs_state.arrows[0].data_coordinates);
  EXPECT_EQ(gs_state.num_arrows, 1);
  EXPECT_EQ(s, kStatusGood);
}

TEST_F(StyleDialogues, LabelNumbersCycle) {
  Status s = kStatusGood;
  for (int k = 1; k <= 41; ++k) {
    run(GS_INP_ALABELSTYLES, {"", "2", "", "", "", "", ""}, s);
    ASSERT_EQ(s, kStatusGood);
    EXPECT_EQ(gs_state.label_styles[static_cast<std::size_t>((k - 1) % 40)].font, 2) << k;
    gs_state.label_styles.fill(GsLabelStyle{});
  }
  EXPECT_EQ(gs_inp_memory.label, 2);
}

TEST_F(StyleDialogues, RefusedAnswers) {
  Status s = kStatusGood;
  // Out of range: asked again.
  auto prompts = run(GS_INP_GPP, {"0.5", "0.2", "0.3", "0.9", "0.8"}, s);
  EXPECT_EQ(asked(prompts, "X-MAXIMUM VALUE"), 2);
  EXPECT_FLOAT_EQ(gs_state.gpp.xmin, 0.5f);
  EXPECT_FLOAT_EQ(gs_state.gpp.xmax, 0.9f);
  EXPECT_FLOAT_EQ(gs_state.gpp.ymax, 0.8f);
  // A minimum answered above the current maximum: the maximum's proposal
  // moves into its new range, so Return takes it.
  prompts = run(GS_INP_GPP, {"0.95", "", "", ""}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(asked(prompts, "X-MAXIMUM VALUE"), 1);
  EXPECT_FLOAT_EQ(gs_state.gpp.xmax, 0.96f);
  // More levels than the display has colours.
  QG_SET_IMAGERANGE(10, 109, s);
  prompts = run(GS_INP_LUT, {"GREY", "101", "4"}, s);
  EXPECT_EQ(asked(prompts, "NUMBER OF LEVELS"), 2);
  EXPECT_EQ(gs_state.lut.scheme, 3);
  EXPECT_EQ(gs_state.lut.levels, 4);
  // A font the devices do not have is refused by the question itself.
  EXPECT_EQ(s, kStatusGood);
  prompts = run(GS_INP_FONT, {"5", "2"}, s);
  EXPECT_EQ(s, kStatusGood);
  EXPECT_EQ(asked(prompts, "TEXT FONT INDICE"), 2);
  EXPECT_EQ(gs_state.title.font, 2);
  // An escape leaves everything as it was.
  s = kStatusGood;
  const std::string before = describe();
  run(GS_INP_AXESSTYLES, {"2", "red"}, s);
  EXPECT_EQ(s, kStatusEscape);
  EXPECT_EQ(describe(), before);
}

// Every ranged question of the style dialogues, at its bounds: a value just
// outside is asked again, the bound itself is taken and the setter behind
// the question takes it too (no STATUS error ends the dialogue).
struct RangedQuestion {
  void (*dialogue)(Status&);
  const char* prompt;  // the question's text, from the start of its line
  double lower, upper;
  bool integer;
  void (*setup)(Status&) = nullptr;
};

void curve_styles(Status& s) { GS_INP_CURVESTYLES(false, s); }
void draw_everything(Status& s) {
  GS_SET_CURVESTYLE(1, true, true, true, s);
  testing::ScriptedInput block({"1", "1", "\\\\"});  // curves 1 to 1, then leave
  curve_styles(s);
  st_reset(s);
}
void user_ticks(Status& s) {
  GS_SET_DDDR(0.0f, 0.0f, 10.0f, 10.0f, s);
  GS_SET_XLTICKS(false, 2.0f, 2.0f, 5, s);
}
void no_fraction(Status& s) {
  GS_SET_XAXISENUM(true, 1, kGsBlack, 1.0f, 1.0f, 0.0f, 5, 0, true, true, s);
}
void right_edge(Status& s) { GS_SET_GPP(0.1f, 0.3929f, 1.0f, 1.0f, s); }
void hundred_levels(Status& s) { QG_SET_IMAGERANGE(10, 109, s); }

// Answers Return everywhere but at the question under test, which takes
// VALUES in turn; counts how often that question was asked.
class AnswersAtOneQuestion {
 public:
  AnswersAtOneQuestion(testing::TerminalCapture& terminal, std::string prompt,
                       std::vector<std::string> values)
      : values_(values.begin(), values.end()), seen_(terminal.text().size()) {
    io_set_line_source([this, &terminal, prompt](std::string_view proper, std::string& line) {
      // A long question is written on lines of its own before the last one.
      const std::string out = terminal.text();
      const std::string recent = out.substr(std::min(seen_, out.size())) + std::string(proper);
      seen_ = out.size();
      if (++calls_ > 300) return false;
      line.clear();
      if (recent.rfind(prompt, 0) == 0 || recent.find("\n" + prompt) != std::string::npos) {
        ++asked;
        if (values_.empty()) return false;
        line = values_.front();
        values_.pop_front();
      }
      return true;
    });
  }
  ~AnswersAtOneQuestion() { io_set_line_source({}); }
  int asked = 0;

 private:
  std::deque<std::string> values_;
  std::size_t seen_;
  int calls_ = 0;
};

std::string number(double v, bool integer) {
  char text[40];
  if (integer)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
  else
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(v)));
  return text;
}

TEST_F(StyleDialogues, EveryRangedQuestionAtItsBounds) {
  const RangedQuestion questions[] = {
      {GS_INP_FONT, "TEXT FONT INDICE", 1, 2, true},
      {GS_INP_TITLESTYLE, "TITLE FONT INDICE", 1, 2, true},
      {GS_INP_TITLESTYLE, "TITLE CHARACTER HEIGHT SCALE FACTOR", 0.01, 100, false},
      {GS_INP_TITLESTYLE, "TITLE CHARACTER WIDTH SCALE FACTOR", 0.01, 10, false},
      {GS_INP_TITLESTYLE, "TITLE CHARACTER SPACING", -5, 10, false},
      {GS_INP_XLABELSTYLE, "X-AXIS LABEL FONT INDICE", 1, 2, true},
      {GS_INP_XLABELSTYLE, "X-AXIS LABEL CHARACTER HEIGHT SCALE FACTOR", 0.01, 100, false},
      {GS_INP_XLABELSTYLE, "X-AXIS LABEL CHARACTER WIDTH SCALE FACTOR", 0.01, 10, false},
      {GS_INP_YLABELSTYLE, "Y-AXIS LABEL ORIENTATION", 1, 2, true},
      {GS_INP_YLABELSTYLE, "Y-AXIS LABEL FONT INDICE", 1, 2, true},
      {GS_INP_YLABELSTYLE, "Y-AXIS LABEL CHARACTER HEIGHT SCALE FACTOR", 0.01, 100, false},
      {GS_INP_YLABELSTYLE, "Y-AXIS LABEL CHARACTER WIDTH SCALE FACTOR", 0.01, 10, false},
      {GS_INP_ENUMERATIONSTYLE, "X-AXES ENUMERATION FONT INDICE", 1, 2, true},
      {GS_INP_ENUMERATIONSTYLE, "Y-AXES ENUMERATION FONT INDICE", 1, 2, true},
      {GS_INP_ENUMERATIONSTYLE, "X-AXES ENUMERATION CHARACTER HEIGHT SCALE FACTOR", 0.01, 100,
       false},
      {GS_INP_ENUMERATIONSTYLE, "X-AXES ENUMERATION FIELD LENGTH", 1, 20, true, no_fraction},
      {GS_INP_ENUMERATIONSTYLE, "X-AXES ENUMERATION FRACTION LENGTH", 0, 4, true},
      {GS_INP_AXESSTYLES, "HORIZONTAL AXES LINE TYPE", 1, 4, true},
      {GS_INP_AXESSTYLES, "HORIZONTAL AXES LINE WIDTH SCALE FACTOR", 0.01, 100, false},
      {GS_INP_AXESSTYLES, "VERTICAL AXES LINE WIDTH SCALE FACTOR", 0.01, 100, false},
      {GS_INP_AXESSTYLES, "HORIZONTAL AXES LARGE TICK SIZE", 0, 1, false},
      {GS_INP_AXESSTYLES, "HORIZONTAL AXES SMALL TICK SIZE", 0, 1, false},
      {GS_INP_AXESSTYLES, "HORIZONTAL AXES NUMBER OF SMALL TICKS", 0, 100, true},
      {GS_INP_GRIDSTYLE, "HORIZONTAL COARSE GRID LINE TYPE", 1, 4, true},
      {GS_INP_GRIDSTYLE, "HORIZONTAL COARSE GRID LINE WIDTH SCALE FACTOR", 0, 100, false},
      {GS_INP_GRIDSTYLE, "VERTICAL FINE GRID LINE WIDTH SCALE FACTOR", 0, 100, false},
      {GS_INP_GPP, "X-MINIMUM VALUE", 0, 0.99, false, right_edge},
      {GS_INP_GPP, "Y-MINIMUM VALUE", 0, 0.99, false, right_edge},
      {GS_INP_GPP, "X-MAXIMUM VALUE", 0.1f + 0.01f, 1, false},
      {GS_INP_LAYOUT, "TITLE TO AXIS GAP", -1, 1, false},
      {GS_INP_LAYOUT, "Y-AXIS ENUMERATION TO AXIS GAP", -1, 1, false},
      {GS_INP_LTICKS, "X-AXES FIRST LARGE TICK MARK POSITION", 0, 10, false, user_ticks},
      {GS_INP_LTICKS, "X-AXES LARGE TICK MARK INTERVAL", 0.000001, 10, false, user_ticks},
      {GS_INP_LTICKS, "X-AXES NUMBER OF LARGE TICK MARKS", 0, 100, true, user_ticks},
      {GS_INP_LUT, "NUMBER OF LEVELS", 1, 100, true, hundred_levels},
      {GS_INP_ALABELS, "NUMBER OF ANNOTATION LABELS", 0, 40, true},
      {GS_INP_ALABELS, "ANNOTATION LABEL NUMBER", 1, 40, true},
      {GS_INP_ALABELSTYLES, "NUMBER OF ANNOTATION LABEL", 1, 40, true},
      {GS_INP_ALABELSTYLES, "LABEL FONT INDICE", 1, 2, true},
      {GS_INP_ALABELSTYLES, "ANNOTATION LABEL CHARACTER HEIGHT SCALE FACTOR", 0.01, 100, false},
      {GS_INP_ALABELSTYLES, "ANNOTATION LABEL CHARACTER WIDTH SCALE FACTOR", 0.01, 10, false},
      {GS_INP_ALABELSTYLES, "LABEL CHARACTER SPACING", -5, 10, false},
      {GS_INP_ALABELSTYLES, "ANGLE (degrees)", -360, 360, false},
      {GS_INP_ARROWSTYLES, "NUMBER OF ARROW", 1, 40, true},
      {GS_INP_ARROWSTYLES, "ARROW LINE TYPE", 1, 4, true},
      {GS_INP_ARROWSTYLES, "LINE WIDTH SCALE FACTOR", 0.01, 100, false},
      {GS_INP_ARROWSTYLES, "ARROW HEAD STYLE", 0, 1, true},
      {GS_INP_ARROWSTYLES, "HEAD LENGTH SCALE FACTOR", 0, 100, false},
      {GS_INP_ARROWSTYLES, "HEAD WIDTH SCALE FACTOR", 0, 100, false},
      {curve_styles, "NUMBER OF FIRST CURVE", 1, 40, true, draw_everything},
      {curve_styles, "LINE TYPE", 1, 4, true, draw_everything},
      {curve_styles, "LINE WIDTH SCALE FACTOR", 0.01, 100, false, draw_everything},
      {curve_styles, "INTERPOLATION METHOD", 0, 2, true, draw_everything},
      {curve_styles, "MARKER TYPE", 1, 13, true, draw_everything},
      {curve_styles, "MARKER SCALE FACTOR", 0.01, 100, false, draw_everything},
      {curve_styles, "MARKER LINE WIDTH SCALE FACTOR", 0, 100, false, draw_everything},
      {curve_styles, "ERROR BOX TYPE", 0, 2, true, draw_everything},
      {curve_styles, "ERROR BOX LINE TYPE", 1, 4, true, draw_everything},
      {curve_styles, "ERROR BOX LINE WIDTH SCALE FACTOR", 0.01, 100, false, draw_everything},
  };
  for (const RangedQuestion& q : questions) {
    const double step = q.integer ? 1.0 : 0.001 * (1.0 + std::fabs(q.lower));
    const std::string below = number(q.lower - step, q.integer);
    const std::string above = number(q.upper + (q.integer ? 1.0 : 0.001 * (1.0 + q.upper)), q.integer);
    for (const auto& [outside, bound] : {std::pair{above, number(q.upper, q.integer)},
                                         std::pair{below, number(q.lower, q.integer)}}) {
      SCOPED_TRACE(std::string(q.prompt) + " " + outside + " then " + bound);
      TearDown();
      SetUp();
      Status s = kStatusGood;
      if (q.setup != nullptr) q.setup(s);
      ASSERT_EQ(s, kStatusGood);
      AnswersAtOneQuestion input(terminal, q.prompt, {outside, bound});
      q.dialogue(s);
      EXPECT_EQ(s, kStatusGood);
      EXPECT_EQ(input.asked, 2);
    }
  }
}

}  // namespace
}  // namespace kesta
