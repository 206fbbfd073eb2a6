#include "core/translate.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/test_support.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

class TranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io_clear_variables();
    vosq_io_dbdb = IoDbdb{};
    io_set_line_source([this](std::string_view prompt, std::string& line) {
      prompts_.emplace_back(prompt);
      if (lines_.empty()) return false;
      line = lines_.front();
      lines_.pop_front();
      return true;
    });
  }
  void TearDown() override {
    io_set_line_source({});
    vosq_io_dbdb = IoDbdb{};
    io_clear_variables();
  }

  struct Translated {
    std::string text;
    int length = -1;
    int retstat = -1;
    Status status = kStatusGood;
  };

  Translated translate(const std::string& response) {
    Translated t;
    t.text = response;
    IO_TRANSLATE(t.length, t.text, t.retstat, t.status);
    return t;
  }

  std::deque<std::string> lines_;
  std::deque<std::string> prompts_;
  testing::TerminalCapture capture_;
};

TEST_F(TranslateTest, AssignmentThenSubstitution) {
  Translated t = translate("x = 2*3");
  EXPECT_EQ(t.status, kStatusConsumed);
  EXPECT_EQ(t.retstat, 0);
  t = translate("x");
  EXPECT_EQ(t.status, kStatusGood);
  EXPECT_EQ(t.retstat, 0);
  EXPECT_EQ(t.text, "6");
  EXPECT_EQ(t.length, 1);

  // Every type is written back as text.
  EXPECT_EQ(translate("r = 3/2.0").status, kStatusConsumed);
  EXPECT_EQ(translate("r").text, "1.500000");
  EXPECT_EQ(translate("flag=1<2").status, kStatusConsumed);
  EXPECT_EQ(translate("flag").text, ".TRUE.");
  EXPECT_EQ(translate("s = 'a b' // 'c'").status, kStatusConsumed);
  EXPECT_EQ(translate("s").text, "a bc");
  EXPECT_EQ(translate("  s").text, "a bc");
  EXPECT_EQ(translate("neg=-7").status, kStatusConsumed);
  EXPECT_EQ(translate("neg").text, "-7");
  EXPECT_EQ(translate("y = x + 1 ! add one").status, kStatusConsumed);
  EXPECT_EQ(translate("y").text, "7");

  // Results that operations leave under "##" names are read the same way.
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE("##COUNT", 'i', 41, false, 0.0f, 0, "", retstat, status);
  EXPECT_EQ(translate("##COUNT").text, "41");
  EXPECT_EQ(translate("next = ##COUNT+1").status, kStatusConsumed);
  EXPECT_EQ(translate("next").text, "42");
}

TEST_F(TranslateTest, AnswersThatAreNotAssignments) {
  const struct {
    const char* response;
    int retstat;
    const char* text;
  } cases[] = {
      {"=5", 2, "=5"}, {"x=", 2, "x="}, {"x =  ", 2, "x ="}, {"a>=b", 1, "a>=b"},
      {"a<=b", 1, "a<=b"}, {"a==b", 1, "a==b"}, {"a/=b", 1, "a/=b"}, {"file.dat", 1, "file.dat"},
      {"file.dat ! the input", 1, "file.dat"}, {"'it''s'", -1, "it's"}, {"'a!b'", -1, "a!b"},
      {"'a=b'", -1, "a=b"},
  };
  for (const auto& c : cases) {
    const Translated t = translate(c.response);
    EXPECT_EQ(t.status, kStatusGood) << c.response;
    EXPECT_EQ(t.retstat, c.retstat) << c.response;
    EXPECT_EQ(t.text, c.text) << c.response;
    EXPECT_EQ(t.length, static_cast<int>(std::string(c.text).size())) << c.response;
  }
  EXPECT_EQ(io_variables.count, 0);

  // A name holding relation signs is a name, not an assignment.
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE("a>=b", 'i', 7, false, 0.0f, 0, "", retstat, status);
  EXPECT_EQ(translate("a>=b").text, "7");
}

TEST_F(TranslateTest, EmptyAndCommentOnlyAnswers) {
  for (const char* response : {"", "   ", "! just a comment"}) {
    const Translated t = translate(response);
    EXPECT_EQ(t.length, 0) << response;
    EXPECT_EQ(t.text, "") << response;
    EXPECT_EQ(t.status, kStatusGood) << response;
  }
}

TEST_F(TranslateTest, FaultyAssignmentChangesNothing) {
  const Translated t = translate("y = 1/0");
  EXPECT_EQ(t.status, kStatusGood);
  EXPECT_EQ(t.retstat, 2);
  EXPECT_EQ(t.text, "y = 1/0");
  EXPECT_EQ(io_variables.count, 0);
  EXPECT_EQ(capture_.text(), "WARNING: Integer division by zero\n");

  EXPECT_EQ(translate("n = 1").status, kStatusConsumed);
  const Translated change = translate("n = 1.5");
  EXPECT_EQ(change.status, kStatusGood);
  EXPECT_EQ(change.retstat, 3);
  EXPECT_EQ(translate("n").text, "1");
  EXPECT_EQ(translate("n = undefined").retstat, 4);

  // No room left in the table: the refusal is reported.
  for (int i = io_variables.count; i < kMaxVariables; ++i)
    EXPECT_EQ(translate("v" + std::to_string(i) + " = 1").status, kStatusConsumed);
  const std::size_t before = capture_.text().size();
  const Translated full = translate("w = 2");
  EXPECT_EQ(full.retstat, 1);
  EXPECT_EQ(full.text, "w = 2");
  EXPECT_EQ(capture_.text().substr(before),
            "WARNING: Variable could not be defined as variable table is full\n");
}

TEST_F(TranslateTest, ContinuationLines) {
  lines_ = {"3"};
  Translated t = translate("1 2 &");
  EXPECT_EQ(t.text, "1 2  3");
  EXPECT_EQ(t.length, 6);
  ASSERT_EQ(prompts_.size(), 1U);
  EXPECT_EQ(prompts_[0], "Continuation:");

  // Empty and comment-only continuations are asked for again; an "&" inside
  // quotes or a comment continues nothing.
  prompts_.clear();
  lines_ = {"", "  ! nothing", "'b&' ! c &", "more"};
  t = translate("a & ! first");
  EXPECT_EQ(t.text, "a  'b&'");
  EXPECT_EQ(prompts_.size(), 3U);
  EXPECT_EQ(lines_.front(), "more");

  // An assignment spread over lines.
  lines_ = {"+ 2"};
  EXPECT_EQ(translate("z = 1 &").status, kStatusConsumed);
  EXPECT_EQ(translate("z").text, "3");
}

TEST_F(TranslateTest, ContinuationLimitsAndEndOfInput) {
  // At most twenty lines: the statement ends with a warning.
  for (int k = 0; k < 30; ++k) lines_.push_back("1 &");
  Translated t = translate("1 &");
  EXPECT_EQ(t.status, kStatusGood);
  EXPECT_EQ(prompts_.size(), 19U);
  EXPECT_NE(capture_.text().find("WARNING: Too many continuation lines"), std::string::npos);

  // The end of the input answers the continuation with the user escape.
  lines_.clear();
  t = translate("1 &");
  EXPECT_EQ(t.status, kStatusEscape);

  // Lines that would make the statement longer than 2000 characters are refused.
  const std::string chunk(120, 'x');
  lines_.clear();
  for (int k = 0; k < 19; ++k) lines_.push_back(chunk + " &");
  t = translate(chunk + " &");
  EXPECT_EQ(t.status, kStatusGood);
  EXPECT_NE(capture_.text().find("WARNING: Statement longer than 2000 characters"),
            std::string::npos);
}

TEST_F(TranslateTest, TranslatedAnswerIsCutToTheResponseLine) {
  Status status = kStatusGood;
  int retstat = -1;
  const std::string text(300, 'w');
  IO_SET_VARIABLE("long", 's', 0, false, 0.0f, 300, text, retstat, status);
  const Translated t = translate("long");
  EXPECT_EQ(t.text, text.substr(0, kInteractiveLength));
  EXPECT_EQ(t.length, static_cast<int>(kInteractiveLength));
}

// An assignment typed at a prompt is consumed and the prompt asks again.
TEST_F(TranslateTest, AssignmentAtAnIntegerPrompt) {
  lines_ = {"n = 4*5", "n"};
  Status status = kStatusGood;
  int value = 0;
  IO_INPI(false, 0, 0, false, "NUMBER", {"help"}, {"error"}, value, status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(value, 20);
}

}  // namespace
}  // namespace kesta
