#include "app/imageops/series_definition.hpp"

#include "core/filenames.hpp"

namespace kesta {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string kzt_series_extension(const KztFileSeries& series) {
  const std::string_view postfix = trimmed(series.postfix);
  if (postfix.empty()) return series.extension;
  return std::string(postfix) + std::string(trimmed(series.extension));
}

bool kzt_series_name(const KztFileSeries& series, int number, std::string& name,
                     Status& status) {
  int retstat = 0;
  std::string built;
  IO_FILENAME(series.prefix, number, !series.variable_width, series.digits,
              kzt_series_extension(series), retstat, built, status);
  if (status != kStatusGood || retstat != 0) return false;
  name = built;
  return true;
}

std::vector<int> kzt_series_numbers(const KztFileSeries& series) {
  std::vector<int> numbers;
  if (series.increment < 1) return numbers;
  const long long step = series.end >= series.start ? series.increment : -series.increment;
  for (long long n = series.start; step > 0 ? n <= series.end : n >= series.end; n += step)
    numbers.push_back(static_cast<int>(n));
  return numbers;
}

}  // namespace kesta
