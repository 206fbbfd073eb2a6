#include "core/variables.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "core/io_output.hpp"
#include "core/reader.hpp"
#include "core/test_support.hpp"

namespace kesta {
namespace {

int set_string(const std::string& name, const std::string& text, char type = 's') {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE(name, type, 0, false, 0.0f, static_cast<int>(text.size()), text, retstat, status);
  EXPECT_EQ(status, kStatusGood);
  return retstat;
}

int set_integer(const std::string& name, int value) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE(name, 'i', value, false, 0.0f, 0, "", retstat, status);
  return retstat;
}

struct Value {
  int retstat = -1;
  char type = '?';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  int length = -1;
  std::string svalue;
};

Value inquire(const std::string& name) {
  Value v;
  Status status = kStatusGood;
  IO_INQ_VARIABLE(name, v.retstat, v.type, v.ivalue, v.lvalue, v.rvalue, v.length, v.svalue,
                  status);
  EXPECT_EQ(status, kStatusGood);
  return v;
}

int unset(const std::string& name) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_UNSET_VARIABLE(name, retstat, status);
  return retstat;
}

int slot_of(const std::string& name) {
  Status status = kStatusGood;
  return io_variables.sindex[IO_VAR_NUMBER(name, status) - 1];
}

class VariablesTest : public ::testing::Test {
 protected:
  void SetUp() override { io_clear_variables(); }
  void TearDown() override { io_clear_variables(); }
  testing::TerminalCapture capture_;
};

TEST_F(VariablesTest, SetsAndInquiresEveryType) {
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE("I", 'i', 42, false, 0.0f, 0, "", retstat, status);
  IO_SET_VARIABLE("L", 'l', 0, true, 0.0f, 0, "", retstat, status);
  IO_SET_VARIABLE("R", 'r', 0, false, 2.5f, 0, "", retstat, status);
  IO_SET_VARIABLE("S", 's', 0, false, 0.0f, 3, "abcdef", retstat, status);  // LENGTH cuts
  IO_SET_VARIABLE("U", 'u', 0, false, 0.0f, 4, "xy", retstat, status);      // and blank-pads
  EXPECT_EQ(inquire("I").ivalue, 42);
  EXPECT_TRUE(inquire("L").lvalue);
  EXPECT_EQ(inquire("R").rvalue, 2.5f);
  const Value s = inquire("S");
  EXPECT_EQ(s.type, 's');
  EXPECT_EQ(s.svalue, "abc");
  EXPECT_EQ(s.length, 3);
  const Value u = inquire("U");
  EXPECT_EQ(u.type, 'u');
  EXPECT_EQ(u.svalue, "xy  ");
  EXPECT_EQ(inquire("missing").retstat, 1);

  // Names compare case-sensitively over 32 characters, trailing blanks aside.
  EXPECT_EQ(inquire("i").retstat, 1);
  EXPECT_EQ(inquire("I   ").ivalue, 42);
  const std::string long_name(32, 'n');
  EXPECT_EQ(set_integer(long_name + "tail", 7), 0);
  EXPECT_EQ(inquire(long_name).ivalue, 7);
  EXPECT_EQ(IO_VAR_NUMBER(long_name + "other", status), 6);
  EXPECT_EQ(IO_VAR_NUMBER("nothing", status), 0);

  // The table is emptied by the core's initialisation.
  IO_DEF_SYSTEM(status);
  EXPECT_EQ(io_variables.count, 0);
  EXPECT_EQ(io_strings.count, 0);
  EXPECT_EQ(io_strings.used, 0);
}

TEST_F(VariablesTest, TypeChangeIsRefused) {
  ASSERT_EQ(set_integer("N", 3), 0);
  Status status = kStatusGood;
  int retstat = -1;
  IO_SET_VARIABLE("N", 'r', 0, false, 1.5f, 0, "", retstat, status);
  EXPECT_EQ(retstat, 3);
  EXPECT_EQ(capture_.text(), "WARNING: Attempt to change data type or variable\n");
  const Value n = inquire("N");
  EXPECT_EQ(n.type, 'i');
  EXPECT_EQ(n.ivalue, 3);
  EXPECT_EQ(set_integer("N", 4), 0);
  EXPECT_EQ(inquire("N").ivalue, 4);
}

TEST_F(VariablesTest, TableHoldsFiveHundredVariables) {
  for (int k = 1; k <= kMaxVariables; ++k) ASSERT_EQ(set_integer("V" + std::to_string(k), k), 0);
  EXPECT_EQ(set_integer("V501", 501), 1);
  EXPECT_EQ(io_variables.count, kMaxVariables);
  EXPECT_EQ(inquire("V501").retstat, 1);
  EXPECT_EQ(set_integer("V500", -1), 0);  // updates still work
  EXPECT_EQ(unset("V1"), 0);
  EXPECT_EQ(set_integer("V501", 501), 0);
}

TEST_F(VariablesTest, FiftyStringSlots) {
  for (int k = 1; k <= kMaxVarStrings; ++k) ASSERT_EQ(set_string("S" + std::to_string(k), "t"), 0);
  EXPECT_EQ(set_string("S51", "t"), 3);
  EXPECT_EQ(inquire("S51").retstat, 1);  // the failed entry is not kept
  EXPECT_EQ(io_variables.count, kMaxVarStrings);
  EXPECT_EQ(unset("S7"), 0);
  EXPECT_EQ(set_string("S51", "new"), 0);
  EXPECT_EQ(inquire("S51").svalue, "new");
  EXPECT_EQ(inquire("S50").svalue, "t");
}

TEST_F(VariablesTest, PoolCompactsAndReportsFullOnlyWhenFull) {
  // Five strings of 998 (4990 characters); deleting two leaves holes of 1996.
  for (int k = 1; k <= 5; ++k)
    ASSERT_EQ(set_string("P" + std::to_string(k), std::string(998, static_cast<char>('a' + k))), 0);
  EXPECT_EQ(io_strings.used, 4990);
  ASSERT_EQ(unset("P2"), 0);
  ASSERT_EQ(unset("P4"), 0);
  EXPECT_EQ(io_strings.used, 4990);  // holes remain until compaction
  ASSERT_EQ(set_string("Q", std::string(20, 'q')), 0);
  EXPECT_EQ(io_strings.used, 3 * 998 + 20);
  EXPECT_EQ(inquire("P1").svalue, std::string(998, 'b'));
  EXPECT_EQ(inquire("P3").svalue, std::string(998, 'd'));
  EXPECT_EQ(inquire("P5").svalue, std::string(998, 'f'));
  EXPECT_EQ(inquire("Q").svalue, std::string(20, 'q'));

  // The pool takes exactly 5000 characters, and not one more.
  const int room = kVarPoolLength - io_strings.used;
  EXPECT_EQ(set_string("R", std::string(room + 1, 'r')), 2);
  EXPECT_EQ(inquire("R").retstat, 1);
  EXPECT_EQ(set_string("R", std::string(room, 'r')), 0);
  EXPECT_EQ(io_strings.used, kVarPoolLength);
  EXPECT_EQ(set_string("E", ""), 0);  // an empty text needs no room
  EXPECT_EQ(inquire("E").length, 0);
  EXPECT_EQ(set_string("F", "x"), 2);
}

TEST_F(VariablesTest, CompactionReclaimsAHoleAtThePoolStart) {
  ASSERT_EQ(set_string("first", std::string(3000, 'a')), 0);
  ASSERT_EQ(set_string("second", std::string(1000, 'b')), 0);
  ASSERT_EQ(unset("first"), 0);
  ASSERT_EQ(set_string("third", std::string(3500, 'c')), 0);
  EXPECT_EQ(io_strings.start[0], 1);
  EXPECT_EQ(inquire("second").svalue, std::string(1000, 'b'));
  EXPECT_EQ(inquire("third").svalue, std::string(3500, 'c'));
}

TEST_F(VariablesTest, UpdatesKeepOrMoveTheSlot) {
  ASSERT_EQ(set_string("A", "aaaaaa"), 0);
  ASSERT_EQ(set_string("B", "bbb"), 0);
  ASSERT_EQ(set_string("C", "ccc"), 0);
  const int start = io_strings.start[0];
  ASSERT_EQ(set_string("A", "xy"), 0);  // shorter: same slot
  EXPECT_EQ(slot_of("A"), 1);
  EXPECT_EQ(io_strings.start[0], start);
  EXPECT_EQ(inquire("A").svalue, "xy");
  ASSERT_EQ(set_string("A", "123456"), 0);  // up to the next slot: still in place
  EXPECT_EQ(slot_of("A"), 1);
  ASSERT_EQ(set_string("A", "1234567"), 0);  // longer than its room: moves to the end
  EXPECT_EQ(slot_of("A"), 3);
  EXPECT_EQ(slot_of("B"), 1);
  EXPECT_EQ(slot_of("C"), 2);
  EXPECT_EQ(inquire("A").svalue, "1234567");
  EXPECT_EQ(inquire("B").svalue, "bbb");
  EXPECT_EQ(inquire("C").svalue, "ccc");

  // The last slot grows in place up to the end of the pool.
  const int last_start = io_strings.start[2];
  const std::string fill(kVarPoolLength - last_start + 1, 'z');
  ASSERT_EQ(set_string("A", fill), 0);
  EXPECT_EQ(slot_of("A"), 3);
  EXPECT_EQ(io_strings.used, kVarPoolLength);
  EXPECT_EQ(inquire("A").svalue, fill);
}

TEST_F(VariablesTest, FailedUpdateLeavesInvalidStringThatCanBeSetAgain) {
  ASSERT_EQ(set_string("big", std::string(3000, 'a')), 0);
  ASSERT_EQ(set_string("S", "short"), 0);
  EXPECT_EQ(set_string("S", std::string(2500, 's')), 2);
  const Value s = inquire("S");
  EXPECT_EQ(s.retstat, 0);
  EXPECT_EQ(s.type, '*');
  EXPECT_EQ(s.length, -1);  // no value is given for it
  EXPECT_EQ(inquire("big").svalue, std::string(3000, 'a'));
  // Deleting it does not disturb the pool; setting it again gives it a slot.
  ASSERT_EQ(set_string("S", "again"), 0);
  EXPECT_EQ(inquire("S").type, 's');
  EXPECT_EQ(inquire("S").svalue, "again");
  EXPECT_EQ(io_strings.count, 2);
  EXPECT_EQ(set_integer("S", 1), 3);
}

TEST_F(VariablesTest, DeletingRenumbersTheSlots) {
  ASSERT_EQ(set_string("s1", "one"), 0);
  ASSERT_EQ(set_integer("n", 5), 0);
  ASSERT_EQ(set_string("s2", "two"), 0);
  ASSERT_EQ(set_string("s3", "three"), 0);
  EXPECT_EQ(slot_of("s3"), 3);
  EXPECT_EQ(unset("s2"), 0);
  EXPECT_EQ(slot_of("s3"), 2);
  EXPECT_EQ(inquire("s3").svalue, "three");
  EXPECT_EQ(inquire("s1").svalue, "one");
  EXPECT_EQ(inquire("n").ivalue, 5);
  EXPECT_EQ(unset("s2"), 1);
  EXPECT_EQ(unset("n"), 0);
  EXPECT_EQ(io_variables.count, 2);
  EXPECT_EQ(inquire("s3").svalue, "three");
}

TEST_F(VariablesTest, InquireByNumberListsTheTable) {
  ASSERT_EQ(set_integer("a", 1), 0);
  ASSERT_EQ(set_string("b", "bee"), 0);
  Status status = kStatusGood;
  int count = -1;
  int retstat = -1;
  std::string name;
  Value v;
  IO_INQ_VARNUM(0, count, retstat, name, v.type, v.ivalue, v.lvalue, v.rvalue, v.length, v.svalue,
                status);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(retstat, 1);
  IO_INQ_VARNUM(2, count, retstat, name, v.type, v.ivalue, v.lvalue, v.rvalue, v.length, v.svalue,
                status);
  EXPECT_EQ(retstat, 0);
  EXPECT_EQ(name, "b");
  EXPECT_EQ(v.svalue, "bee");
  IO_INQ_VARNUM(3, count, retstat, name, v.type, v.ivalue, v.lvalue, v.rvalue, v.length, v.svalue,
                status);
  EXPECT_EQ(retstat, 1);
}

TEST_F(VariablesTest, FreeingABadSlotIsAnError) {
  Status status = kStatusGood;
  IO_VARKILLSTR(1, status);
  EXPECT_EQ(status, 10005);
}

// The interactive definition command, answered through the reader.
class VariableCommandTest : public VariablesTest {
 protected:
  void SetUp() override {
    VariablesTest::SetUp();
    vosq_io_dbdb = IoDbdb{};
    io_set_line_source([this](std::string_view, std::string& line) {
      if (lines_.empty()) return false;
      line = lines_.front();
      lines_.pop_front();
      return true;
    });
  }
  void TearDown() override {
    io_set_line_source({});
    vosq_io_dbdb = IoDbdb{};
    VariablesTest::TearDown();
  }
  std::deque<std::string> lines_;
};

TEST_F(VariableCommandTest, DefinesAndRedefinesAVariable) {
  lines_ = {"count", "int", "42"};
  Status status = kStatusGood;
  IO_VARIABLE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(inquire("count").type, 'i');
  EXPECT_EQ(inquire("count").ivalue, 42);

  // The proposed name is the variable set last; an empty answer keeps the
  // type and the value.
  lines_ = {"", "", ""};
  IO_VARIABLE(status);
  EXPECT_NE(capture_.text().find("INFO: Data type is: INTEGER VALUE"), std::string::npos);
  EXPECT_EQ(inquire("count").ivalue, 42);

  lines_ = {"count", "real", "2.5"};
  IO_VARIABLE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_NE(capture_.text().find("WARNING: Data type has been changed !"), std::string::npos);
  EXPECT_EQ(inquire("count").type, 'r');
  EXPECT_FLOAT_EQ(inquire("count").rvalue, 2.5f);

  lines_ = {"name", "string", "some text"};
  IO_VARIABLE(status);
  EXPECT_EQ(inquire("name").svalue, "some text");

  // The same type chosen under another name is redefined, the old value
  // offered as the default.
  lines_ = {"name", "STRING", ""};
  IO_VARIABLE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_EQ(inquire("name").type, 's');
  EXPECT_EQ(inquire("name").svalue, "some text");
  lines_ = {"count", "REAL", ""};
  IO_VARIABLE(status);
  EXPECT_EQ(status, kStatusGood);
  EXPECT_FLOAT_EQ(inquire("count").rvalue, 2.5f);
}

TEST_F(VariableCommandTest, EndOfInputEscapes) {
  lines_ = {"x"};
  Status status = kStatusGood;
  IO_VARIABLE(status);
  EXPECT_EQ(status, kStatusEscape);
  EXPECT_EQ(inquire("x").retstat, 1);
}

}  // namespace
}  // namespace kesta
