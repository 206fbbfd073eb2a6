#pragma once
// What every image operation shares: the entry and region check with the
// operations' module base, and the answers each routine remembers for the
// run and offers again as defaults.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

struct KztDataSets;

// The keyboard branch of an operation: works on the program arrays
// (vosq_kzt_arrays) and the data sets, and may replace NEXT, the command
// proposed next (preset from the command table). The command table reaches
// it through one adapter, so a new command is one function and one pointer.
using KztCommand = void (*)(KztDataSets& sets, std::string& next, Status& status);

// The entry check and the region check of an operation. True (the routine
// must return) when STATUS is already bad (POSITION recorded), or when the
// dimensions or the region are refused: XMAXDAT < 1 gives 110001, YMAXDAT < 1
// 110002, an X region outside 1..XMAXDAT or ending before it starts 110005,
// the same for Y 110006, and an array of SPANS shorter than XMAXDAT x
// YMAXDAT elements 110001; STATUS then holds the code and POSITION is
// recorded. Starts below 1 are refused too: they would reach outside the
// arrays.
bool kzt_region_refused(std::string_view position, Index xmaxdat, Index ymaxdat, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Status& status,
                        std::initializer_list<std::size_t> spans = {});

// Calls OP(offset, y, n) for each row y of the region: OFFSET is the index
// of element (XSTRELM, y), N the row's length. Hot loops run over
// array.data() + offset, X innermost.
template <typename Op>
void for_region_rows(Index xmaxdat, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
                     Op op) {
  const Index n = xendelm - xstrelm + 1;
  for (Index y = ystrelm; y <= yendelm; ++y) op(element(xstrelm, y, xmaxdat), y, n);
}

// The displayed image that point input draws over: the region of DATA with
// its axes and texts, and the mask when MASK is not empty.
GsDisplayedImage kzt_displayed_image(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                                     Index xendelm, Index yendelm, std::span<const float> data,
                                     std::span<const std::uint8_t> mask,
                                     std::span<const float> xaxis, std::span<const float> yaxis,
                                     std::string_view title, std::string_view xlabel,
                                     std::string_view ylabel, std::string_view zlabel);

// One item of a form (GS_FORM): its CHANGE button LABEL, TYPE, the
// DESCRIPTION column and the PROMPT of its box; values and ranges are set by
// the caller.
GsFormItem kzt_form_item(std::string label, int type, std::string description,
                         std::string prompt);

// Questions and warnings of operations that both interfaces use: GUI true
// asks in a value box and warns in a warning box of the graphics window
// (both answered from a replaying macro as typed lines; the warning is a
// line at the terminal too, gs_refusal), false asks and warns on the
// terminal. Callers pass the lines each interface shows.
void kzt_inpr(bool gui, bool ranged, float lower, float upper, std::string_view prompt,
              TextLines help, TextLines error, float& value, Status& status);
void kzt_warning(bool gui, TextLines lines, Status& status);

// A command that works on an image only (a projection, an integration, a
// ring fit) refused on a data set of YNUMDAT rows below 2, a scan: said in
// one line (GUI: "THE DATA IS 1-D: COMMAND NEEDS AN IMAGE" in the warning
// box), and true. Nothing is asked and nothing changes.
bool kzt_scan_refused(bool gui, Index ynumdat, std::string_view command, Status& status);

// "COUNT NOUN(s)WHERE is/are not finite (NaN or infinite) and was/were left
// out", the line that says how many values a computation passed over.
std::string kzt_left_out_line(Index count, std::string_view noun, std::string_view where = {});

// Remembered answers. A routine keeps its answers in a struct whose member
// initialisers are the start values, reached through remembered<T>(); it
// copies the struct, asks with the copy's values as defaults, and writes the
// copy back only when every question was answered, so an escape leaves both
// the data and the remembered answers as they were.
//
//   struct CaddAnswers { float constant = 1.0f; };
//   CaddAnswers answers = remembered<CaddAnswers>();
//   IO_INPR(..., answers.constant, status);
//   if (status != kStatusGood) return;
//   remembered<CaddAnswers>() = answers;
//
// kzt_forget_answers() puts every struct used so far back to its start
// values (a new run; tests).
void kzt_forget_answers();
void kzt_register_answers(void (*forget)());

template <typename Answers>
Answers& remembered() {
  static Answers answers;
  static const bool registered =
      (kzt_register_answers([] { remembered<Answers>() = Answers{}; }), true);
  (void)registered;
  return answers;
}

}  // namespace kesta
