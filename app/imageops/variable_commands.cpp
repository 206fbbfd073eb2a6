#include "app/imageops/variable_commands.hpp"

#include <algorithm>

#include "app/main/utility_commands.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/variables.hpp"

namespace kesta {
namespace {

// I2C's answers, offered again for the rest of the run.
struct I2cAnswers {
  int value = 1;
  bool variable_length = false;
  int characters = 3;
  std::string name = "#CVALUE";
};
I2cAnswers i2c;

}  // namespace

std::string kzt_integer_text(int value, bool fixed_length, int characters) {
  std::string text = IO_ITOC(value);
  if (!fixed_length) return text;
  if (characters <= 0) return {};
  const auto width = static_cast<std::size_t>(characters);
  if (text.size() < width) text.insert(value < 0 ? 1 : 0, width - text.size(), '0');
  return text;
}

void KZT_I2C(Status& status) {
  if (st_bad(status, "Subroutine KZT_I2C V0.4")) return;
  IO_INPI(false, 0, 0, true, "ENTER INTEGER", {"Enter integer value to convert"},
          {"Enter a valid integer"}, i2c.value, status);
  IO_INPL(false, false, false, true, "VARIABLE LENGTH OUTPUT",
          {"Enter whether the output should be of variable length"}, {"Enter a valid integer"},
          i2c.variable_length, status);
  IO_INPI(true, 0, 20, true, "ENTER NUMBER OF OUTPUT CHARACTERS",
          {"Enter number of characters for output"}, {"Enter a valid integer"}, i2c.characters,
          status);
  // The name is taken as typed: a defined name must not turn into its value.
  IO_INPTOKEN(true, "ENTER VARIABLE NAME", {"Enter name of variable to define"}, {"Enter string"},
              kRawNameMode, i2c.name, status);
  if (status != kStatusGood) return;
  const std::string text = kzt_integer_text(i2c.value, !i2c.variable_length, i2c.characters);
  kzt_set_variable(i2c.name, 's', 0, false, 0.0f, text, status);
}

void KZT_INP_DATATYPE(bool defaulted, char& type, Status& status) {
  if (st_bad(status, "Subroutine KZT_INP_DATATYPE V0.1")) return;
  std::string choice = io_datatype_choice(type);
  const bool proposed = defaulted && std::find(kDataTypeChoices.begin(), kDataTypeChoices.end(),
                                               choice) != kDataTypeChoices.end();
  if (!proposed) choice.clear();
  IO_MENU(proposed, "ENTER DATA TYPE OF VARIABLE", kDataTypeHelp,
          {"Choice one of the available data types"}, kNumDataTypes, kDataTypeChoices, choice,
          status);
  if (status != kStatusGood) return;
  const auto chosen = std::find(kDataTypeChoices.begin(), kDataTypeChoices.end(), choice);
  if (chosen != kDataTypeChoices.end())
    type = kDataTypeLetters[static_cast<std::size_t>(chosen - kDataTypeChoices.begin())];
}

}  // namespace kesta
