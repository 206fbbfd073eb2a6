// Colours: the named drawing colours on the device, and the image colour
// range filled from one of eleven colour schemes.

#include <array>
#include <cmath>
#include <vector>

#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;
using gs_detail::terminal_line;

using P = Rgb;

const std::vector<Rgb>& geographical() {
  static const std::vector<Rgb> points = {P{0, 0, 0},
                                          P{0, 0, 0.6f},
                                          P{0, 0, 1},
                                          P{0.78f, 0.78f, 1},
                                          P{0.545f, 0.87f, 0.219f},
                                          P{0.757f, 0.925f, 0.384f},
                                          P{1, 1, 0.475f},
                                          P{1, 0.77f, 0.36f},
                                          P{1, 0.749f, 0},
                                          P{0.78f, 0.509f, 0},
                                          P{0.8666f, 0.235f, 1},
                                          P{0.8666f, 0.61f, 1},
                                          P{1, 1, 1}};
  return points;
}

// Seven ramps from black to magenta, red, yellow, green, cyan, blue, white.
std::vector<Rgb> repeating() {
  const std::array<Rgb, 7> ends = {P{1, 0, 1}, P{1, 0, 0}, P{1, 1, 0}, P{0, 1, 0},
                                   P{0, 1, 1}, P{0, 0, 1}, P{1, 1, 1}};
  std::vector<Rgb> points;
  for (const Rgb& end : ends)
    for (int j = 0; j <= 8; ++j) {
      const float f = static_cast<float>(j) * 0.125f;
      points.push_back({end.red * f, end.green * f, end.blue * f});
    }
  return points;
}

}  // namespace

std::vector<Rgb> gs_scheme_points(int scheme) {
  switch (scheme) {
    case 1:
      return {P{1, 0, 1}, P{0, 0, 1}, P{0, 1, 1}, P{0, 1, 0}, P{1, 1, 0}, P{1, 0, 0}};
    case 2:
      return geographical();
    case 3:
      return {P{0, 0, 0}, P{1, 1, 1}};
    case 4:
      return {P{1, 1, 1}, P{0, 0, 0}};
    case 5:
      return {P{0, 0, 0}, P{1, 0, 1}, P{1, 0, 0}, P{1, 1, 0},
              P{0, 1, 0}, P{0, 1, 1}, P{0, 0, 1}, P{1, 1, 1}};
    case 6:
      return {P{0, 0, 0},
              P{0.35f, 0, 0.35f},
              P{0, 0, 0.4f},
              P{0, 0, 0.65f},
              P{0, 0.5f, 0.5f},
              P{0, 0.5f, 0.1f},
              P{0.08f, 0.65f, 0.08f},
              P{0.8f, 0.32f, 0.32f},
              P{0.9f, 0, 0},
              P{1, 0.57f, 0.14f},
              P{1, 1, 0},
              P{1, 1, 1}};
    case 7:
      return repeating();
    case 8:
      return {P{0, 0, 0}, P{0.9f, 0, 0}, P{1, 0.57f, 0.14f}, P{1, 1, 0}, P{1, 1, 1}};
    case 9:
      return {
          P{0, 0, 0}, P{0.5176f, 0, 0.5176f}, P{0, 0, 0.6f}, P{0, 0.5f, 0}, P{0, 1, 0}, P{1, 1, 0},
          P{1, 0, 0}, P{1, 0.3333f, 0.3333f}, P{1, 1, 1}};
    case 10:
      return {geographical().rbegin(), geographical().rend()};
    case 11:
      return {P{0, 0, 0},    P{0.35f, 0, 0.35f}, P{0.5176f, 0, 0.5176f}, P{0.7f, 0, 0.7f},
              P{1, 0, 0.5f}, P{1, 0, 0},         P{1, 0.749f, 0},        P{1, 0.77f, 0.36f},
              P{1, 1, 0},    P{1, 1, 1}};
    default:
      return {};
  }
}

std::string_view gs_scheme_name(int scheme) {
  static constexpr std::array<std::string_view, 12> kNames = {"",
                                                              "COLOUR WHEEL",
                                                              "GEOGRAPHICAL",
                                                              "GREY-SCALE",
                                                              "INVERSE GREY-SCALE",
                                                              "ORIGINAL",
                                                              "PSYCHOLOGIAL",
                                                              "REPEATING",
                                                              "TEMPERATURE",
                                                              "TRIAL",
                                                              "UPSIDE DOWN",
                                                              "BLACK-PURPLE-WHITE"};
  return scheme >= 0 && scheme <= 11 ? kNames[static_cast<std::size_t>(scheme)] : "";
}

void GS_CAL_COLOURTABLE(int max_points, int num_points, std::span<const Rgb> points, int first,
                        int last, int levels, int table_size, std::span<Rgb> table,
                        Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_COLOURTABLE V0.2";
  if (st_bad(status, position)) return;
  if (max_points < 1 && refuse(status, 1, position)) return;
  if ((num_points < 1 || num_points > max_points ||
       points.size() < static_cast<std::size_t>(num_points)) &&
      refuse(status, 5, position))
    return;
  if (first > last && refuse(status, 13, position)) return;
  if ((first < 0 || last >= table_size || table.size() < static_cast<std::size_t>(table_size)) &&
      refuse(status, 5, position))
    return;
  if (levels < 1 && refuse(status, 17, position)) return;
  const double count = static_cast<double>(last - first + 1);
  for (int j = first; j <= last; ++j) {
    // One level shows the last control point everywhere.
    double q = 1.0;
    if (levels > 1) {
      const double f = (j - first + 1) / count * (levels - 1);
      q = std::round(f) / (levels - 1);
    }
    const double p = q * (num_points - 1) + 1.0;
    const int i = std::min(static_cast<int>(p), num_points);
    const int i2 = std::min(i + 1, num_points);
    const double w1 = i + 1 - p;
    const double w2 = p - i;
    const Rgb& a = points[static_cast<std::size_t>(i - 1)];
    const Rgb& b = points[static_cast<std::size_t>(i2 - 1)];
    table[static_cast<std::size_t>(j)] = {static_cast<float>(w1 * a.red + w2 * b.red),
                                          static_cast<float>(w1 * a.green + w2 * b.green),
                                          static_cast<float>(w1 * a.blue + w2 * b.blue)};
  }
}

void GS_COLOURS(Status& status) {
  if (st_bad(status, "Subroutine GS_COLOURS V0.3")) return;
  int scheme = 0;
  int levels = 0;
  GS_INQ_LUTCHOICE(scheme, levels, status);
  int first = 0;
  int last = 0;
  QG_INQ_IMAGERANGE(first, last, status);
  if (status != kStatusGood) return;
  // Scheme 0 leaves the device colours as they are.
  const std::vector<Rgb> points = gs_scheme_points(scheme);
  if (points.empty()) return;
  std::array<Rgb, 256> table = qg_db_colours.table;
  const int n = static_cast<int>(points.size());
  GS_CAL_COLOURTABLE(n, n, points, first, last, levels, 256, table, status);
  QG_COLOURS(256, first, last, table, status);
}

void GS_DEF_COLOURS(Status& status) {
  if (st_bad(status, "Subroutine GS_DEF_COLOURS V0.2")) return;
  gs_state.colour_rgb = {{{0, 0, 0},
                          {1, 1, 1},
                          {1, 0, 0},
                          {0, 1, 0},
                          {0, 0, 1},
                          {1, 1, 0},
                          {1, 0, 1},
                          {0, 1, 1},
                          {1, 0.749f, 0},
                          {0.5f, 0.5f, 0.5f},
                          {0.639f, 0.349f, 0.235f},
                          {0.8666f, 0.235f, 1},
                          {0, 0, 0},
                          {1, 1, 1},
                          {0.5f, 0.5f, 0.5f}}};
  GS_CAL_COLOURS(status);
}

void GS_CAL_COLOURS(Status& status) {
  if (st_bad(status, "Subroutine GS_CAL_COLOURSV0.3")) return;
  for (int c = 0; c < kGsNumColours; ++c) {
    const auto& rgb = gs_state.colour_rgb[static_cast<std::size_t>(c)];
    int index = gs_state.colour_index[static_cast<std::size_t>(c)];
    QG_BESTCOLOUR(rgb[0], rgb[1], rgb[2], index, status);
    gs_state.colour_index[static_cast<std::size_t>(c)] = index;
  }
  gs_state.colour_index[kGsIndex0 - 1] = 0;
  gs_state.colour_index[kGsIndex1 - 1] = 1;
  gs_state.colour_index[kGsInverse - 1] = -1;
}

}  // namespace kesta
