#pragma once
// Test helper: an internal variable's type and value in one call.

#include <algorithm>
#include <string>
#include <string_view>

#include "core/status.hpp"
#include "core/variables.hpp"

namespace kesta::testing {

struct VariableValue {
  bool defined = false;
  char type = ' ';
  int ivalue = 0;
  bool lvalue = false;
  float rvalue = 0.0f;
  std::string text;  // the used characters of a string
};

inline VariableValue variable_value(std::string_view name) {
  VariableValue v;
  Status status = kStatusGood;
  int retstat = 1;
  int length = 0;
  IO_INQ_VARIABLE(name, retstat, v.type, v.ivalue, v.lvalue, v.rvalue, length, v.text, status);
  v.defined = retstat == 0;
  if (v.defined)
    v.text.resize(std::min(v.text.size(), static_cast<std::size_t>(std::max(length, 0))));
  return v;
}

}  // namespace kesta::testing
