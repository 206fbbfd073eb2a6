// The frame of every graph: background, axes with ticks and numbers (linear
// and logarithmic), the tick choice and the grids.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/gs_internal.hpp"
#include "numeric/statistics.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;
using gs_detail::terminal_line;
using gs_detail::world_per_page;

constexpr float kTextHeight = 0.0166667f;  // page height of a scale-1 character
constexpr std::array<float, 8> kLog10 = {0.30103f,   0.4771213f, 0.60206f, 0.69897f,
                                         0.7781513f, 0.845098f,  0.90309f, 0.9542425f};
// No user tick setting draws more lines than this.
constexpr int kMaxTicks = 10000;
// The widest an axis number is written when its field cannot tell the ticks
// apart: a float's digits, a sign, a point and a zero before it.
constexpr int kWidestNumber = 11;
// The decimals a float's digits can still tell apart after a leading digit
// (1.0000005 from 1.0000010).
constexpr int kFloatPlaces = 7;
// The decimals a single-precision value still gives back exactly after a
// leading digit.
constexpr int kSingleDecimals = 6;

// One tick or grid line across the axis at VALUE along it.
void across(bool x_axis, float value, float from, float to, Status& status) {
  if (x_axis)
    GS_LINE(value, from, value, to, status);
  else
    GS_LINE(from, value, to, value, status);
}

void tick(bool x_axis, float value, float position, bool minus, bool plus, float size,
          Status& status) {
  across(x_axis, value, minus ? position - size : position, plus ? position + size : position,
         status);
}

void axis_line(bool x_axis, float start, float end, float position, Status& status) {
  if (x_axis)
    GS_LINE(start, position, end, position, status);
  else
    GS_LINE(position, start, position, end, status);
}

// First and last whole decade inside START..END, with a small tolerance.
void decades(float start, float end, float tolerance, int& d1, int& d2) {
  d1 = static_cast<int>(start > 0.0f ? start + (1.0f - tolerance) : start);
  d2 = static_cast<int>(end < 0.0f ? end - (1.0f - tolerance) : end);
}

bool usable_decades(float start, float end) {
  return std::fabs(start) < 1e6f && std::fabs(end) < 1e6f;
}

// Text style of an axis's numbers: alignment by side, height in world units
// of the Y direction.
float enumeration_style(bool x_axis, bool side, bool log_axis, const GsAxisEnum& style,
                        Status& status) {
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const float height = style.text.height * kTextHeight * wy;
  int horizontal = 2;
  int vertical = 4;
  if (x_axis) {
    vertical = side ? 1 : 4;
  } else {
    horizontal = side ? 3 : 1;
    vertical = log_axis ? 3 : 6;
  }
  GS_TEXTSTYLE(style.text.font, style.text.colour, height, style.text.width, style.text.spacing, 0,
               horizontal, vertical, 0.0f, 1.0f, status);
  return height;
}

// Data units of one world unit along an axis.
double world_unit(bool x_axis) { return x_axis ? gs_state.x_axis_unit : gs_state.y_axis_unit; }

// The large ticks of an axis from MINIMUM to MAXIMUM (world units), automatic
// ones computed and stored back. The ticks are chosen and stored in data
// units and given back in world units.
void large_ticks(bool x_axis, float minimum, float maximum, GsLargeTicks& ticks, Status& status) {
  ticks = x_axis ? gs_state.xticks : gs_state.yticks;
  const double unit = world_unit(x_axis);
  if (ticks.automatic) {
    GS_CAL_TICKS(qg_float_range(minimum * unit), qg_float_range(maximum * unit), ticks.first,
                 ticks.interval, ticks.number, status);
    if (x_axis)
      GS_SET_XLTICKS(true, ticks.first, ticks.interval, ticks.number, status);
    else
      GS_SET_YLTICKS(true, ticks.first, ticks.interval, ticks.number, status);
  }
  ticks.first = static_cast<float>(ticks.first / unit);
  ticks.interval = static_cast<float>(ticks.interval / unit);
}

int tick_count(int number) { return std::clamp(number, 0, kMaxTicks); }

// The exponent style for logarithmic axes: plain numbers over a modest
// range, powers of ten beyond it.
int log_style(float start, float end) { return start >= -4.0f && end <= 6.0f ? 2 : 1; }

// The style of a grid's lines. The grid style takes a width of 0, which the
// line drawing cannot: it is drawn with the thinnest line the devices have.
void grid_line_style(const GsLine& line, Status& status) {
  constexpr float kThinnest = 0.01f;
  GS_LINESTYLE(line.type, std::max(line.width, kThinnest), line.colour, status);
}

}  // namespace

float gs_detail::tick_at(float first, float interval, double k) {
  return static_cast<float>(double{first} + k * double{interval});
}

namespace {

// Tick K's value rounded to a ten-thousandth of the interval's power of ten:
// well below any digit an axis shows, well above the rounding of FIRST and
// INTERVAL as floats, so 0.1 stays 0.1 and a tick meant to be zero is zero.
double tick_number(float first, float interval, int k) {
  const double step = std::fabs(double{interval});
  double start = first;
  // Ticks finer than a float's resolution (0.6989701 in steps of 5E-8) have
  // a first that the float holds only to that resolution: it is taken as the
  // whole number of steps it stands for, in steps of the interval's own
  // decimal value (a float's 5E-8 is 5.000000058E-8).
  if (step > 0.0 && std::isfinite(step) && std::isfinite(first)) {
    const float magnitude = std::fabs(first);
    const double resolution =
        double{std::nextafter(magnitude, std::numeric_limits<float>::infinity())} - magnitude;
    const double unit = std::pow(10.0, std::floor(std::log10(step)) - 6.0);
    const double decimal_step = std::round(step / unit) * unit;
    const double whole = std::round(start / decimal_step) * decimal_step;
    if (decimal_step > 0.0 && std::isfinite(whole) && std::fabs(whole - start) <= resolution)
      start = whole;
  }
  const double value = start + static_cast<double>(k) * double{interval};
  if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(value)) return value;
  const int places = 4 - static_cast<int>(std::floor(std::log10(step)));
  // Whole powers of ten up to 10^22 are exact doubles; beyond, the unit is
  // near enough, the text having far fewer digits.
  const double scale = std::pow(10.0, std::abs(places));
  if (!std::isfinite(scale) || !(scale > 0.0)) return value;
  const double units = places >= 0 ? value * scale : value / scale;
  if (!(std::fabs(units) < 0x1p52)) return value;  // already coarser than the unit
  const double rounded = std::round(units);
  if (rounded == 0.0) return 0.0;  // never -0
  return places >= 0 ? rounded / scale : rounded * scale;
}

// The decimals that tell ticks INTERVAL apart (0 for a whole interval, 3 for
// 0.002); 0 for an interval without a short decimal form (a user's 1/3) of
// at most MOST decimals.
int interval_places(double interval, int most = 6) {
  const double step = std::fabs(interval);
  if (!(step > 0.0) || !std::isfinite(step)) return 0;
  for (int places = 0; places <= most; ++places) {
    const double scaled = step * std::pow(10.0, places);
    if (std::fabs(scaled - std::round(scaled)) <= 1e-4 * scaled) return places;
  }
  return 0;
}

// The decimals that still leave the widest of VALUES (divided by FACTOR)
// within FIELD characters in fixed form: sign, whole digits and point.
int decimals_room(int field, const std::vector<double>& values, double factor) {
  double widest = 0.0;
  bool negative = false;
  for (const double v : values) {
    if (!std::isfinite(v / factor)) continue;  // written as asterisks anyway
    widest = std::max(widest, std::fabs(v / factor));
    negative = negative || v < 0.0;
  }
  const int whole = widest < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(widest))) + 1;
  return field - 1 - whole - (negative ? 1 : 0);
}

// The decimals that may tell VALUES (divided by FACTOR) apart: a float's
// after a leading digit, or as many as the widest number's field leaves
// beside a single whole digit (heights a few float steps apart near 0.7,
// as logarithms of a narrow range are, need eight).
int telling_places(const std::vector<double>& values, double factor) {
  bool negative = false;
  double widest = 0.0;
  for (const double v : values) {
    if (!std::isfinite(v / factor)) continue;
    widest = std::max(widest, std::fabs(v / factor));
    negative = negative || v < 0.0;
  }
  const int whole = widest < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(widest))) + 1;
  return std::max(kFloatPlaces, kWidestNumber - 1 - whole - (negative ? 1 : 0));
}

// Characters of the widest of VALUES (divided by FACTOR) written with the
// decimals that tell them STEP (also divided) apart: sign, whole digits,
// point and decimals.
int telling_chars(const std::vector<double>& values, double factor, double step) {
  double widest = 0.0;
  bool negative = false;
  for (const double v : values) {
    if (!std::isfinite(v / factor)) continue;
    widest = std::max(widest, std::fabs(v / factor));
    negative = negative || v < 0.0;
  }
  const int whole = widest < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(widest))) + 1;
  const int places = interval_places(step / factor, telling_places(values, factor));
  return (negative ? 1 : 0) + whole + (places > 0 ? places + 1 : 0);
}

// Characters of the widest decade label of D1..D2 in exponent STYLE (1:
// "10E-12", 2: plain numbers such as "0.001" or "1000").
int decade_label_chars(int style, int d1, int d2) {
  int widest = 0;
  for (const int d : {d1, d2}) {
    const int digits = static_cast<int>(std::to_string(std::abs(d)).size());
    const int chars = style == 1 ? 3 + digits + (d < 0 ? 1 : 0) : d >= 0 ? d + 1 : 2 - d;
    widest = std::max(widest, chars);
  }
  return widest;
}

// Every how many places SPACING apart (world units along the axis) a label
// is drawn so that neighbours NEEDED text heights apart (page) do not
// overlap. Labels then stand at the multiples of the step.
int label_step(bool x_axis, double needed, double spacing, float height_scale, Status& status) {
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const double apart = std::fabs(spacing / (x_axis ? double{wx} : double{wy}));  // page units
  const double room = needed * double{height_scale} * kTextHeight;
  if (!(apart > 0.0) || !std::isfinite(apart) || room <= apart) return 1;
  return static_cast<int>(std::min(std::ceil(room / apart), 1.0e6));
}

// Every how many decades a label is drawn: along X a label takes its width
// and a character's gap, along Y one and a half times its height. A
// character is taken as 0.8 of its height wide: a little more than the
// fonts' digits, so the estimate errs on the side of space.
int decade_label_step(bool x_axis, int style, int d1, int d2, float height_scale,
                      Status& status) {
  const double needed = x_axis ? (decade_label_chars(style, d1, d2) + 1) * 0.8 : 1.5;
  return std::min(label_step(x_axis, needed, 1.0, height_scale, status), 100);
}

// The texts of the left Y axis of a frame over R, as GS_LINAXENUM and
// GS_ALOGAXENUM write them (for a logarithmic axis, a decade label of the
// widest form).
std::vector<std::string> left_axis_texts(const GsRect& r, Status& status) {
  const GsAxisEnum& style = gs_state.yenum;
  std::vector<std::string> texts;
  if (!(r.ymin < r.ymax)) return texts;
  if (gs_state.y_axis_linear) {
    GsLargeTicks t = gs_state.yticks;
    const double unit = world_unit(false);
    if (t.automatic)
      GS_CAL_TICKS(qg_float_range(r.ymin * unit), qg_float_range(r.ymax * unit), t.first,
                   t.interval, t.number, status);
    double factor = 1.0;
    gs_detail::axis_numbers(style, t.first, t.interval, tick_count(t.number), factor, texts,
                            status);
    if (factor != 1.0) texts.push_back("*10E" + std::to_string(std::lround(std::log10(factor))));
  } else if (usable_decades(r.ymin, r.ymax)) {
    int d1 = 0;
    int d2 = 0;
    decades(r.ymin, r.ymax, 0.0001f, d1, d2);
    texts.emplace_back(
        static_cast<std::size_t>(decade_label_chars(log_style(r.ymin, r.ymax), d1, d2)), '0');
  }
  return texts;
}

// The text GS_EXPONT draws for VALUE (a power of ten): STYLE 1 "10E" and the
// whole exponent ("*10E" with PREFIX), STYLE 2 the number itself. A place
// between two decades (d + log10 k, k = 2..9, on a logarithmic axis) is
// written in style 1 with its multiple, "k*10Ed": rounded to a whole
// exponent, the places of one decade would all read as one of its ends.
std::string exponent_text(int style, bool prefix, float value, Status& status) {
  bool fits = false;
  std::string text;
  if (style == 2) {
    const int decimals = std::clamp(static_cast<int>(std::ceil(-value - 1e-4f)), 0, 6);
    IO_VTOC(std::pow(10.0f, value), 8, decimals, false, true, true, fits, text, status);
    return fits ? text : "********";
  }
  const float decade = std::floor(value + 1.0e-4f);
  const long multiple = std::lround(std::pow(10.0, static_cast<double>(value - decade)));
  const bool between = multiple > 1 && multiple < 10;
  std::string exponent;
  IO_VTOC(between ? decade : value, 5, 0, false, false, false, fits, exponent, status);
  return (between ? std::to_string(multiple) + "*" : std::string(prefix ? "*" : "")) + "10E" +
         exponent.substr(0, SLEN(exponent));
}

// The labels of a logarithmic axis drawn so far, as page extents along it:
// a label between the decades is left out where it would come closer to
// one of them than their texts allow (along X half of each width, taking a
// character as 0.8 of its height, and a character between them; along Y one
// and a half heights apart).
class LabelRoom {
 public:
  LabelRoom(bool x_axis, float height_scale, Status& status) : x_axis_(x_axis) {
    float wx = 1.0f;
    float wy = 1.0f;
    world_per_page(wx, wy, status);
    per_world_ = 1.0 / std::fabs(double{x_axis ? wx : wy});
    height_ = double{height_scale} * kTextHeight;
  }
  bool free(float value, std::string_view text) const {
    const double at = value * per_world_;
    const double half = half_extent(text);
    for (const auto& [other, other_half] : taken_) {
      const double need = x_axis_ ? half + other_half + 0.8 * height_ : 1.5 * height_;
      if (std::fabs(at - other) < need) return false;
    }
    return true;
  }
  void take(float value, std::string_view text) {
    taken_.emplace_back(value * per_world_, half_extent(text));
  }

 private:
  double half_extent(std::string_view text) const {
    return 0.5 * 0.8 * height_ * static_cast<double>(text.size());
  }
  bool x_axis_;
  double per_world_ = 1.0, height_ = 0.0;
  std::vector<std::pair<double, double>> taken_;
};

}  // namespace

void gs_detail::axis_numbers(const GsAxisEnum& style, float first, float interval, int number,
                             double& factor, std::vector<std::string>& texts, Status& status,
                             NumberField number_field) {
  texts.assign(static_cast<std::size_t>(std::max(number, 0)), std::string());
  std::vector<double> values(texts.size());
  for (int k = 0; k < number; ++k)
    values[static_cast<std::size_t>(k)] = tick_number(first, interval, k);
  const double largest =
      number > 0 ? std::max(std::fabs(values.front()), std::fabs(values.back())) : 0.0;
  factor = 1.0;
  // All-zero numbers keep the factor 1.
  if (largest > 0.0 && std::isfinite(largest) && (largest > 9999.9 || largest < 0.1))
    factor = MA_DMULTIPLIER(largest);
  const double tick_step = number > 1 ? values[1] - values[0] : double{interval};
  // Numbers that their field cannot hold with the decimals that tell them
  // apart (100000 to 100025, 1E+30 to 1.000005E+30) may be written as wide
  // as they must be, without the power of ten where that is no wider.
  int field = style.field;
  if (number_field == NumberField::kTellApart && style.shorten && number > 1) {
    int needed = telling_chars(values, factor, tick_step);
    if (needed > field && factor != 1.0 && telling_chars(values, 1.0, tick_step) <= needed) {
      factor = 1.0;
      needed = telling_chars(values, factor, tick_step);
    }
    field = std::clamp(needed, field, kWidestNumber);
  }

  int decimals = style.fraction;
  const bool remove_zeros = style.shorten && !style.constant_length;
  // A shortened form keeps the decimals that tell the ticks apart, and the
  // style's further ones where the widest number still fits its field; a
  // fixed form keeps the style's own.
  const double step = tick_step / factor;
  const int most_places = number_field == NumberField::kTellApart ? telling_places(values, factor)
                                                                  : kSingleDecimals;
  if (style.shorten && number > 0)
    decimals = std::max(interval_places(step, most_places),
                        std::min(decimals, decimals_room(field, values, factor)));
  if (style.shorten && style.constant_length && number > 0) {
    const int digits = std::clamp(decimals, 0, 39);
    GS_CAL_ENUMFIELD(static_cast<float>(values[0] / factor), static_cast<float>(step), digits,
                     decimals, status);
    decimals = std::min(decimals, digits);
  }
  for (int k = 0; k < number && status == kStatusGood; ++k) {
    bool fits = false;
    std::string& text = texts[static_cast<std::size_t>(k)];
    const double value = values[static_cast<std::size_t>(k)] / factor;
    // Whole digits and decimals beyond what a single-precision value keeps.
    const int whole = std::fabs(value) >= 1.0
                          ? static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1
                          : 0;
    if (number_field == NumberField::kTellApart &&
        (decimals > kSingleDecimals || whole + decimals > kSingleDecimals + 1)) {
      // More digits than a single-precision value keeps: written from the
      // tick's own value (1.0000015, not the float's 1.0000014; 1234.5005,
      // not 1234.5004).
      text = format_f(value, field, decimals);
      fits = text.find('*') == std::string::npos;
      text.erase(0, text.find_first_not_of(' '));
    } else {
      IO_VTOC(static_cast<float>(value), field, std::min(decimals, field - 1), false, remove_zeros,
              true, fits, text, status);
    }
    if (!fits) text.assign(static_cast<std::size_t>(field), '*');
    text.resize(SLEN(text));
  }
}

void GS_BACKGROUND(Status& status) {
  if (st_bad(status, "Subroutine GS_BACKGROUND: V0.4")) return;
  if (!gs_state.background_fill) return;
  QG_CLEAR(status);
  float xmax = kPageDefault;
  float ymax = 1.0f;
  QG_INQ_MAXPC(1, xmax, ymax, status);
  const float x1 = QG_PC2WC(true, 0.0f, status);
  const float y1 = QG_PC2WC(false, 0.0f, status);
  const float x2 = QG_PC2WC(true, xmax, status);
  const float y2 = QG_PC2WC(false, ymax, status);
  GS_FILLSTYLE(1, gs_state.background_colour, status);
  GS_RECTANGLE(x1, y1, x2, y2, false, true, status);
}

void GS_CAL_TICKS(float minimum, float maximum, float& first, float& interval, int& number,
                  Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_TICKS V0.1";
  if (st_bad(status, position)) return;
  if (!(minimum < maximum) && refuse(status, 13, position)) return;
  const double lo = minimum;
  const double hi = maximum;
  const double rough = (hi - lo) / 10.0;
  const double power = MA_DMULTIPLIER(rough);
  const double mantissa = rough / power;
  const double step = mantissa <= 1.05   ? 1.0
                      : mantissa <= 2.1  ? 2.0
                      : mantissa <= 5.25 ? 5.0
                                         : 10.0;
  const double dinterval = step * power;
  double dfirst = std::round(lo / dinterval) * dinterval;
  if (lo - dfirst > (hi - lo) / 10000.0) dfirst += dinterval;
  double count = (hi - dfirst) / dinterval + 0.00001;
  // An infinite range has no usable ticks.
  if (!std::isfinite(lo) || !std::isfinite(hi) || std::isnan(count)) count = -1.0;
  first = static_cast<float>(dfirst);
  interval = static_cast<float>(dinterval);
  number = static_cast<int>(std::clamp(count, -1.0, static_cast<double>(kMaxTicks))) + 1;
}

void GS_CAL_ENUMFIELD(float value1, float value2, int digits, int& fraction, Status& status) {
  constexpr std::string_view position = "Subroutine GS_CAL_ENUMFIELD V0.1";
  if (st_bad(status, position)) return;
  int result = 0;
  for (const float value : {value1, value2}) {
    bool fits = false;
    std::string text;
    IO_VTOC(value, 40, std::clamp(digits, 0, 39), false, true, false, fits, text, status);
    if (status != kStatusGood) return;
    const std::size_t point = text.find('.');
    if (fits && point != std::string::npos)
      result = std::max(result, static_cast<int>(text.size() - point - 1));
  }
  fraction = result;
}

void GS_LINTICKS(bool x_axis, float start, float end, float position, float first, float interval,
                 int num_large, int num_small, bool minus, bool plus, float large_size,
                 float small_size, Status& status) {
  constexpr std::string_view where = "Subroutine GS_LINTICKS V0.1";
  if (st_bad(status, where)) return;
  if (!(start < end) && refuse(status, 13, where)) return;
  if ((num_large < 0 || num_small < 0 || num_small > 100) && refuse(status, 17, where)) return;
  if ((!(large_size >= 0.0f) || !(small_size >= 0.0f)) && refuse(status, 21, where)) return;
  axis_line(x_axis, start, end, position, status);
  num_large = tick_count(num_large);
  for (int k = 0; k < num_large; ++k)
    tick(x_axis, gs_detail::tick_at(first, interval, k), position, minus, plus, large_size,
         status);
  if (num_small < 1) return;
  for (int k = -1; k <= num_large; ++k) {
    for (int j = 1; j <= num_small; ++j) {
      const float value = gs_detail::tick_at(first, interval, k + j / (num_small + 1.0));
      if (value >= start && value <= end)
        tick(x_axis, value, position, minus, plus, small_size, status);
    }
  }
}

void GS_LINAXIS(bool x_axis, float start, float end, float position, float first, float interval,
                int num_large, bool minus, bool plus, bool enumerate, bool side, Status& status) {
  constexpr std::string_view where = "Subroutine GS_LINAXIS V0.1";
  if (st_bad(status, where)) return;
  if (!(start < end) && refuse(status, 13, where)) return;
  if (num_large < 0 && refuse(status, 17, where)) return;
  const GsAxesStyle& style = x_axis ? gs_state.haxes : gs_state.vaxes;
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const float across_scale = x_axis ? wy : wx;
  GS_LINESTYLE(style.line_type, style.width, style.colour, status);
  GS_LINTICKS(x_axis, start, end, position, first, interval, num_large, style.num_small, minus,
              plus, style.large_tick * across_scale, style.small_tick * across_scale, status);
  if (!enumerate) return;
  const float gap =
      (x_axis ? gs_state.layout.x_enum_gap : gs_state.layout.y_enum_gap) * across_scale;
  GS_LINAXENUM(x_axis, first, interval, num_large, side ? position - gap : position + gap, side,
               status);
}

void GS_LINAXENUM(bool x_axis, float first, float interval, int num_large, float position,
                  bool side, Status& status) {
  constexpr std::string_view where = "Subroutine GS_LINAXENUM V0.4";
  if (st_bad(status, where)) return;
  if (num_large < 0 && refuse(status, 17, where)) return;
  const GsAxisEnum& style = x_axis ? gs_state.xenum : gs_state.yenum;
  if (!(style.text.height > 0.001f)) {
    terminal_line("ERROR: GS_LINAXENUM: scale_factor_char= " + format_f(style.text.height, 10, 3));
    return;
  }
  if (!style.text.output) return;
  num_large = tick_count(num_large);
  const float height = enumeration_style(x_axis, side, false, style, status);

  double factor = 1.0;
  std::vector<std::string> numbers;
  const double unit = world_unit(x_axis);
  gs_detail::axis_numbers(style, static_cast<float>(first * unit),
                          static_cast<float>(interval * unit), num_large, factor, numbers, status);
  // On an axis too short for all its numbers (an image a few pixels high)
  // only those at the multiples of a step are written, evenly spaced, so
  // that none runs into the next; the first when no multiple is on the axis.
  // Only numbers that would run into each other are thinned: along X their
  // digits (half a height wide) and a fifth of a height between, along Y a
  // tenth of a height between.
  std::size_t chars = 0;
  for (const std::string& text : numbers) chars = std::max(chars, text.size());
  const double needed = x_axis ? 0.5 * static_cast<double>(chars) + 0.2 : 1.1;
  const int step = label_step(x_axis, needed, interval, style.text.height, status);
  const double place = std::isfinite(first / interval) ? std::round(first / interval) : 0.0;
  auto shown = [&](int k) {
    return step == 1 || std::fmod(std::fabs(place + k), static_cast<double>(step)) == 0.0;
  };
  bool any = false;
  for (int k = 0; k < num_large && !any; ++k) any = shown(k);
  for (int k = 0; k < num_large && status == kStatusGood; ++k) {
    const std::string& text = numbers[static_cast<std::size_t>(k)];
    if (text.empty() || (any ? !shown(k) : k != 0)) continue;
    const float value = gs_detail::tick_at(first, interval, k);
    if (x_axis)
      QG_TEXT(value, position, text, status);
    else
      QG_TEXT(position, value, text, status);
  }
  if (factor == 1.0 || status != kStatusGood) return;
  // The shared power of ten, beside the frame's corner.
  const int exponent = static_cast<int>(std::lround(std::log10(factor)));
  const GsRect& frame = gs_state.dgpp;
  const float px = x_axis ? frame.xmax + 0.01f : frame.xmin - 0.05f;
  const float py = x_axis ? frame.ymin - 0.05f : frame.ymax + 0.01f;
  GS_EXPONT(QG_PC2WC(true, px, status), QG_PC2WC(false, py, status), 1, 1, 4, true,
            static_cast<float>(exponent), style.text.font, style.text.colour, 0.0f, height, status);
}

void GS_LINGRID(bool x_axis, float start, float end, float first, float interval, int num_large,
                int num_small, float from, float to, Status& status) {
  constexpr std::string_view where = "Subroutine GS_LINGRID V0.1";
  if (st_bad(status, where)) return;
  if (num_large < 0) {
    status = kBaseGraphicsSystem + 17;
    ST_SAVE(where);
    return;
  }
  // X_AXIS true: lines at constant Y (horizontal), else at constant X.
  const GsLine& coarse = x_axis ? gs_state.hcoarse : gs_state.vcoarse;
  const GsLine& fine = x_axis ? gs_state.hfine : gs_state.vfine;
  auto line = [&](float value) { across(!x_axis, value, from, to, status); };
  num_large = tick_count(num_large);
  grid_line_style(coarse, status);
  for (int k = 0; k < num_large; ++k) line(gs_detail::tick_at(first, interval, k));
  if (num_small < 1) return;
  num_small = std::min(num_small, 100);
  grid_line_style(fine, status);
  for (int k = -1; k <= num_large; ++k)
    for (int j = 1; j <= num_small; ++j) {
      const float value = gs_detail::tick_at(first, interval, k + j / (num_small + 1.0));
      if (value >= start && value <= end) line(value);
    }
}

void GS_ALOGTICKS(bool x_axis, float start, float end, float position, bool minus, bool plus,
                  float large_size, float small_size, Status& status) {
  constexpr std::string_view where = "Subroutine GS_ALOGTICKS V0.1";
  if (st_bad(status, where)) return;
  if (!(start < end) && refuse(status, 13, where)) return;
  if ((!(large_size >= 0.0f) || !(small_size >= 0.0f)) && refuse(status, 21, where)) return;
  axis_line(x_axis, start, end, position, status);
  if (!usable_decades(start, end)) return;
  int d1 = 0;
  int d2 = 0;
  decades(start, end, 0.0001f, d1, d2);
  for (int d = d1; d <= d2; ++d)
    tick(x_axis, static_cast<float>(d), position, minus, plus, large_size, status);
  if (d2 - d1 > 20) return;
  for (int d = d1 - 1; d <= d2 + 1; ++d)
    for (const float l : kLog10) {
      const float value = static_cast<float>(d) + l;
      if (value >= start && value <= end)
        tick(x_axis, value, position, minus, plus, small_size, status);
    }
}

void GS_ALOGAXIS(bool x_axis, int style, float start, float end, float position, bool minus,
                 bool plus, bool enumerate, bool side, Status& status) {
  constexpr std::string_view where = "Subroutine GS_ALOGAXIS V0.4";
  if (st_bad(status, where)) return;
  if (!(start < end) && refuse(status, 13, where)) return;
  const GsAxesStyle& axes = x_axis ? gs_state.haxes : gs_state.vaxes;
  float wx = 1.0f;
  float wy = 1.0f;
  world_per_page(wx, wy, status);
  const float across_scale = x_axis ? wy : wx;
  GS_LINESTYLE(axes.line_type, axes.width, axes.colour, status);
  GS_ALOGTICKS(x_axis, start, end, position, minus, plus, axes.large_tick * across_scale,
               axes.small_tick * across_scale, status);
  if (!enumerate) return;
  const float gap =
      (x_axis ? gs_state.layout.x_enum_gap : gs_state.layout.y_enum_gap) * across_scale;
  GS_ALOGAXENUM(x_axis, style, start, end, side ? position - gap : position + gap, side, status);
}

void GS_ALOGAXENUM(bool x_axis, int style, float start, float end, float position, bool side,
                   Status& status) {
  constexpr std::string_view where = "Subroutine GS_ALOGAXENUM V0.5";
  if (st_bad(status, where)) return;
  if (!(start < end)) {
    status = kBaseGraphicsSystem + 21;
    ST_SAVE(where);
    return;
  }
  const GsAxisEnum& enumeration = x_axis ? gs_state.xenum : gs_state.yenum;
  if (!enumeration.text.output || !usable_decades(start, end)) return;
  const float height = enumeration_style(x_axis, side, true, enumeration, status);
  int horizontal = 2;
  int vertical = side ? 1 : 4;
  if (!x_axis) {
    horizontal = side ? 3 : 1;
    vertical = 3;
  }
  LabelRoom room(x_axis, enumeration.text.height, status);
  auto label = [&](float value) {
    const float x = x_axis ? value : position;
    const float y = x_axis ? position : value;
    GS_EXPONT(x, y, style, horizontal, vertical, false, value, enumeration.text.font,
              enumeration.text.colour, 0.0f, height, status);
    room.take(value, exponent_text(style, false, value, status));
  };
  int d1 = 0;
  int d2 = 0;
  decades(start, end, 0.0001f, d1, d2);
  // Labels at the multiples of the step, or at the first decade when no
  // multiple falls inside.
  const int every = decade_label_step(x_axis, style, d1, d2, enumeration.text.height, status);
  int base = d1 + ((every - d1 % every) % every);
  if (base > d2) base = d1;
  for (int d = d1; d <= d2 && status == kStatusGood; ++d)
    if ((d - base) % every == 0) label(static_cast<float>(d));
  if (d2 - d1 > 2) return;
  int inside = 0;
  for (int d = d1 - 1; d <= d2 + 1; ++d)
    for (const float l : kLog10)
      if (static_cast<float>(d) + l >= start && static_cast<float>(d) + l <= end) ++inside;
  const int total = (d2 - d1) + inside + 1;
  // Which of k = 2..9 are labelled, by how crowded the axis is.
  std::array<bool, 8> chosen{};
  auto pick = [&chosen](std::initializer_list<int> ks) {
    for (const int k : ks) chosen[k - 2] = true;
  };
  if (total < 6)
    pick({2, 3, 4, 5, 6, 7, 8, 9});
  else if (total <= 7)
    pick({2, 3, 4, 5, 6, 7, 8});
  else if (total == 8)
    pick({2, 3, 4, 5, 6, 8});
  else if (total <= 12)
    pick({2, 3, 4, 6});
  else if (total <= 16)
    pick({2, 4, 6});
  else if (total <= 18)
    pick({2, 4});
  else
    pick({3});
  for (int d = d1 - 1; d <= d2 + 1; ++d)
    for (int k = 2; k <= 9; ++k) {
      const float value = static_cast<float>(d) + kLog10[k - 2];
      if (chosen[k - 2] && value >= start && value <= end && status == kStatusGood &&
          room.free(value, exponent_text(style, false, value, status)))
        label(value);
    }
}

void GS_ALOGGRID(bool x_axis, float xmin, float ymin, float xmax, float ymax, bool fine,
                 Status& status) {
  constexpr std::string_view where = "Subroutine GS_ALOGGRID V0.1";
  if (st_bad(status, where)) return;
  if (!(xmin < xmax) && refuse(status, 13, where)) return;
  if (!(ymin < ymax) && refuse(status, 14, where)) return;
  // X_AXIS true: horizontal lines at the Y decades, else vertical lines at
  // the X decades.
  const float start = x_axis ? ymin : xmin;
  const float end = x_axis ? ymax : xmax;
  const float from = x_axis ? xmin : ymin;
  const float to = x_axis ? xmax : ymax;
  if (!usable_decades(start, end)) return;
  const GsLine& coarse = x_axis ? gs_state.hcoarse : gs_state.vcoarse;
  const GsLine& fine_line = x_axis ? gs_state.hfine : gs_state.vfine;
  int d1 = 0;
  int d2 = 0;
  decades(start, end, 0.00001f, d1, d2);
  grid_line_style(coarse, status);
  for (int d = d1; d <= d2; ++d) across(!x_axis, static_cast<float>(d), from, to, status);
  if (!fine || d2 - d1 > 20) return;
  grid_line_style(fine_line, status);
  for (int d = d1 - 1; d <= d2 + 1; ++d)
    for (const float l : kLog10) {
      const float value = static_cast<float>(d) + l;
      if (value >= start && value <= end) across(!x_axis, value, from, to, status);
    }
}

void GS_EXPONT(float x, float y, int style, int horizontal, int vertical, bool prefix, float value,
               int font, int colour, float angle, float height, Status& status) {
  constexpr std::string_view where = "Subroutine GS_EXPONT V0.2";
  if (st_bad(status, where)) return;
  if ((style < 1 || style > 2 || !(value >= -99.0f && value <= 99.0f)) && refuse(status, 17, where))
    return;
  if (!(height > 0.0f) && refuse(status, 21, where)) return;
  GS_TEXTSTYLE(font, colour, height, 1.0f, 0.0f, 0, horizontal, vertical, -std::sin(angle),
               std::cos(angle), status);
  const std::string text = exponent_text(style, prefix, value, status);
  if (status == kStatusGood) QG_TEXT(x, y, text, status);
}

void GS_AXISFRAME(Status& status) {
  if (st_bad(status, "Subroutine GS_AXISFRAME V0.6")) return;
  const GsRect r = gs_state.dddr;
  const std::array<bool, 4> f = gs_state.frame;
  const int x_code = gs_state.x_axes_code;
  const int y_code = gs_state.y_axes_code;
  // Bottom and top X axes.
  if (gs_state.x_axis_linear) {
    GsLargeTicks t;
    large_ticks(true, r.xmin, r.xmax, t, status);
    GS_LINAXIS(true, r.xmin, r.xmax, r.ymin, t.first, t.interval, t.number, f[1], f[0], true, true,
               status);
    if (x_code == 0 || x_code == 2)
      GS_LINAXIS(true, r.xmin, r.xmax, r.ymax, t.first, t.interval, t.number, f[0], f[1],
                 x_code == 0, false, status);
  } else {
    const int style = log_style(r.xmin, r.xmax);
    GS_ALOGAXIS(true, style, r.xmin, r.xmax, r.ymin, f[1], f[0], true, true, status);
    if (x_code == 0 || x_code == 2)
      GS_ALOGAXIS(true, style, r.xmin, r.xmax, r.ymax, f[0], f[1], x_code == 0, false, status);
  }
  // Left and right Y axes.
  if (gs_state.y_axis_linear) {
    GsLargeTicks t;
    large_ticks(false, r.ymin, r.ymax, t, status);
    GS_LINAXIS(false, r.ymin, r.ymax, r.xmin, t.first, t.interval, t.number, f[3], f[2], true, true,
               status);
    if (y_code == 0 || y_code == 2)
      GS_LINAXIS(false, r.ymin, r.ymax, r.xmax, t.first, t.interval, t.number, f[2], f[3],
                 y_code == 0, false, status);
  } else {
    const int style = log_style(r.ymin, r.ymax);
    GS_ALOGAXIS(false, style, r.ymin, r.ymax, r.xmin, f[3], f[2], true, true, status);
    if (y_code == 0 || y_code == 2)
      GS_ALOGAXIS(false, style, r.ymin, r.ymax, r.xmax, f[2], f[3], y_code == 0, false, status);
  }
}

float gs_detail::y_label_offset(Status& status) {
  const GsState& g = gs_state;
  const float least = g.layout.y_label_gap;
  const GsAxisEnum& style = g.yenum;
  if (!style.text.output || !(style.text.height > 0.001f)) return least;
  const std::vector<std::string> texts = left_axis_texts(g.dddr, status);
  if (texts.empty()) return least;
  // The widest number in page units: the window's measure where there is
  // one, else 0.6 of the height a character (the drawing fonts' digits).
  const float height = style.text.height * kTextHeight;
  (void)enumeration_style(false, true, !g.y_axis_linear, style, status);
  float widest = 0.0f;
  for (const std::string& text : texts) {
    const int n = static_cast<int>(text.size());
    float width = 0.6f * static_cast<float>(n) * height * std::max(style.text.width, 0.0f);
    QG_INQ_TEXTWIDTH(n, text, width, status);
    widest = std::max(widest, width);
  }
  // A turned label's descenders reach 0.3 of its height past its base line,
  // toward the numbers; half a character of the numbers lies between.
  const float label = kTextHeight * std::max(g.ylabel.height, 0.0f);
  const float reach = g.ylabel_orientation == 1 ? 0.3f * label : 0.0f;
  return std::max(least, g.layout.y_enum_gap + widest + 0.5f * height + reach);
}

GsRect gs_top_axis_numbers() {
  const GsState& g = gs_state;
  if (g.x_axes_code != 0) return {};
  const float height = g.xenum.text.height * kTextHeight;
  // A number is at most FIELD characters of 0.8 of their height, centred on
  // its tick; the outer ticks are at the graph's edges.
  const float half = static_cast<float>(g.xenum.field) * 0.8f * height * g.xenum.text.width / 2.0f;
  const float bottom = g.dgpp.ymax + g.layout.x_enum_gap;
  return {g.dgpp.xmin - half, bottom, g.dgpp.xmax + half, bottom + height};
}

void GS_GRID(Status& status) {
  if (st_bad(status, "Subroutine GS_GRID V0.2")) return;
  const GsRect r = gs_state.dddr;
  const GsGridSwitches g = gs_state.grid;
  if (g.h_coarse) {
    if (gs_state.y_axis_linear) {
      GsLargeTicks t;
      large_ticks(false, r.ymin, r.ymax, t, status);
      GS_LINGRID(true, r.ymin, r.ymax, t.first, t.interval, t.number,
                 g.h_fine ? gs_state.vaxes.num_small : 0, r.xmin, r.xmax, status);
    } else {
      GS_ALOGGRID(true, r.xmin, r.ymin, r.xmax, r.ymax, g.h_fine, status);
    }
  }
  if (g.v_coarse) {
    if (gs_state.x_axis_linear) {
      GsLargeTicks t;
      large_ticks(true, r.xmin, r.xmax, t, status);
      GS_LINGRID(false, r.xmin, r.xmax, t.first, t.interval, t.number,
                 g.v_fine ? gs_state.haxes.num_small : 0, r.ymin, r.ymax, status);
    } else {
      GS_ALOGGRID(false, r.xmin, r.ymin, r.xmax, r.ymax, g.v_fine, status);
    }
  }
}

}  // namespace kesta
