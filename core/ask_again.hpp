#pragma once
// The one way a question refuses an answer and asks again.

#include "core/types.hpp"

namespace kesta {

// Asks through ASK(VALUE, STATUS), which offers VALUE and answers into it,
// until ACCEPTED(VALUE) takes the answer. A refused answer is told by
// REFUSED(STATUS) and asked for again, offering what was offered before, so
// that Enter never brings the refusal back. The same from an input macro as
// at the keyboard: its next lines answer the question again (and when they
// run out, the terminal does). False, with VALUE as offered, when a question
// gave a bad status (the user escape included).
template <class Value, class Ask, class Accepted, class Refused>
bool io_ask_until_accepted(Value& value, Ask&& ask, Accepted&& accepted, Refused&& refused,
                           Status& status) {
  const Value offered = value;
  while (status == kStatusGood) {
    ask(value, status);
    if (status != kStatusGood) break;
    if (accepted(value)) return true;
    refused(status);
    value = offered;
  }
  value = offered;
  return false;
}

// An answer kept for the next call (an output file name) that is refused
// after its question, when the file cannot be made: refuse() puts back the
// value the question offered, so that the next call offers it again rather
// than the refused one.
template <class Value>
class OfferedAnswer {
 public:
  explicit OfferedAnswer(Value& value) : value_(value), offered_(value) {}
  void refuse() { value_ = offered_; }

 private:
  Value& value_;
  const Value offered_;
};

}  // namespace kesta
