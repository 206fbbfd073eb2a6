#pragma once
// The translation step every typed answer passes: continuation lines ("&" at
// the end) are joined, "!" comments stripped, an assignment "name = expression"
// sets an internal variable (STATUS becomes kStatusConsumed, so the caller asks
// again), and a variable's name alone is replaced by its value.

#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// Lines and characters a statement may hold (the first line and its continuations).
inline constexpr int kStatementMaxLines = 20;
inline constexpr std::size_t kStatementLength = 2000;

// Translates RESPONSE in place; on return RESPONSE holds the translated answer
// cut to the 132 characters of a response line, and LENGTH its used length.
// RETSTAT: 0 assignment executed or variable substituted; 1 no such variable
// (answer unchanged); 2 "=" at the start or end, or an empty name; otherwise
// the result of the evaluation or of storing the variable.
void IO_TRANSLATE(int& length, std::string& response, int& retstat, Status& status);

// Joins RESPONSE and its continuation lines (read through IO_INPUT_LINE with
// the prompt "Continuation: ") and strips comments. An empty statement is a
// single blank with LENGTH 0.
void IO_STATEMENT(std::string_view response, int& length, std::string& statement, Status& status);

// Executes the assignment in STATEMENT or substitutes a variable's value.
// LENGTH and STATEMENT are in/out.
void IO_TR_PARSE(int& length, std::string& statement, int& retstat, Status& status);

}  // namespace kesta
