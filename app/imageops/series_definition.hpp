#pragma once
// A numbered file series as its definition dialogue returns it: the first
// and last names, the parts of the names round the number, and the step
// between the numbers read.

#include <string>
#include <vector>

#include "core/types.hpp"

namespace kesta {

struct KztFileSeries {
  std::string first_file;
  std::string last_file;
  int start = 0;  // number of the first file
  int end = 0;    // number of the last file
  std::string prefix;
  bool variable_width = false;  // numbers without leading zeros
  int digits = 0;               // width of a fixed-width number
  std::string postfix;
  std::string extension;
  int increment = 1;
};

// The extension member names end with: a non-blank postfix followed directly
// by the extension (trimmed).
std::string kzt_series_extension(const KztFileSeries& series);

// The name of the member numbered NUMBER; false (NAME unchanged) when the
// number does not fit the series' fixed width.
bool kzt_series_name(const KztFileSeries& series, int number, std::string& name,
                     Status& status);

// The numbers of the members in reading order, from START towards END by
// |INCREMENT| (a descending series steps down). Empty for an increment
// below 1.
std::vector<int> kzt_series_numbers(const KztFileSeries& series);

}  // namespace kesta
