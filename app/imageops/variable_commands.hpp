#pragma once
// Two small commands for macros: I2C turns an integer into text (for building
// numbered file names) and stores it in a string variable; the type choice
// asks which type a variable is to have.

#include <string>

#include "core/types.hpp"

namespace kesta {

// Asks the integer, whether the text has a variable length, the number of
// characters of a fixed-length text and the variable's name, then stores the
// text as a string variable. Every answer is offered again next time.
void KZT_I2C(Status& status);

// The menu "ENTER DATA TYPE OF VARIABLE". When DEFAULTED, TYPE ('i', 'l', 'r',
// 's', or 'u' taken as 's') is proposed; the chosen type letter replaces it.
// An escape leaves TYPE as it was.
void KZT_INP_DATATYPE(bool defaulted, char& type, Status& status);

// The text of VALUE as I2C makes it: with FIXED_LENGTH at least CHARACTERS
// long, zeros filling after the sign (a longer number is kept whole; 0
// characters give an empty text).
std::string kzt_integer_text(int value, bool fixed_length, int characters);

}  // namespace kesta
