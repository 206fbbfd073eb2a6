// The form of the graphical start-up for the program's array sizes.

#include <algorithm>
#include <vector>

#include "app/imageops/conventions.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

constexpr int kMaxSize = 100000;

const std::string kInfo[] = {
    "The program arrays store the data \"inside\"",
    "KESTA. Normally they should be at least as",
    "large as the images to be input. Larger",
    "arrays do little harm, but waste memory.",
    "If the arrays are smaller, not all of an",
    "image can be input at full resolution:",
    "some input options allow an image to be",
    "re-binned on input, or a sub-region of it",
    "to be input.",
    "",
    "Memory arrays (a second data set) are",
    "needed for many operations: image maths,",
    "integration results, exchanging data.",
    "",
    "Variance arrays hold the estimated",
    "variances of the data for error",
    "propagation; they double the memory",
    "needed and make many operations slower.",
    "Unless needed, answer \"NO\".",
};

GsFormItem size_item(std::string label, std::string description, std::string prompt, Index value) {
  GsFormItem item = kzt_form_item(std::move(label), 1, std::move(description), std::move(prompt));
  item.ranged = true;
  item.int_lower = 1;
  item.int_upper = kMaxSize;
  // A saved size outside the range is offered at the nearest end of it.
  item.int_value = static_cast<int>(std::clamp<Index>(value, 1, kMaxSize));
  return item;
}

GsFormItem logical_item(std::string label, std::string description, std::string prompt,
                        bool value) {
  GsFormItem item = kzt_form_item(std::move(label), 2, std::move(description), std::move(prompt));
  item.logical_value = value;
  return item;
}

}  // namespace

void KZT_GUI_SIZES(Index& x_dimension, Index& y_dimension, bool& memory, bool& variances,
                   Status& status) {
  if (st_bad(status, "Subroutine KZT_GUI_SIZES V0.2")) return;
  std::vector<GsFormItem> items = {
      size_item("X-DIMENSION", "FIRST DIMENSION OF ARRAYS",
                "Enter number of pixels \"horizontally\" for arrays", x_dimension),
      size_item("Y-DIMENSION", "SECOND DIMENSION OF ARRAYS",
                "Enter number of pixels \"vertically\" for arrays", y_dimension),
      logical_item("MEMORY", "CREATE MEMORY ARRAYS",
                   "Enter \"YES\" to be able to perform maths, etc.", memory),
      logical_item("VARIANCES", "CREATE VARIANCE ARRAYS",
                   "Enter \"YES\" for error propagation (slower)", variances),
  };
  int return_code = 0;
  const int num_info = static_cast<int>(std::size(kInfo));
  GS_FORM(3, 3,
          {"DIMENSIONS OF PROGRAM ARRAYS", "(need to be big enough to store", "and work on data)"},
          num_info, num_info, kInfo, 10, items, return_code, status);
  if (status != kStatusGood) return;
  if (return_code != 0) {
    status = kStatusEscape;
    return;
  }
  x_dimension = items[0].int_value;
  y_dimension = items[1].int_value;
  memory = items[2].logical_value;
  variances = items[3].logical_value;
}

}  // namespace kesta
