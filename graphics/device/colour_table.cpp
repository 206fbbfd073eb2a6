// The colour table: basic colours, the interpolated image colour scale,
// nearest-colour search, rotation and the image range settings.

#include <algorithm>
#include <cmath>

#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/kernel_internal.hpp"

namespace kesta {

using namespace qg_detail;

namespace {

constexpr Rgb kBasic[8] = {{0, 0, 0}, {1, 1, 1}, {1, 0, 0}, {0, 1, 0},
                           {0, 0, 1}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};

// The 13 points of the image colour scale.
constexpr Rgb kScale[13] = {
    {0.0f, 0.0f, 0.0f},     {0.0f, 0.0f, 0.6f},     {0.0f, 0.0f, 1.0f},
    {0.78f, 0.78f, 1.0f},   {0.545f, 0.87f, 0.219f}, {0.757f, 0.925f, 0.384f},
    {1.0f, 1.0f, 0.475f},   {1.0f, 0.77f, 0.36f},   {1.0f, 0.749f, 0.0f},
    {0.78f, 0.509f, 0.0f},  {0.8666f, 0.235f, 1.0f}, {0.8666f, 0.61f, 1.0f},
    {1.0f, 1.0f, 1.0f}};

// Reloads the colour map of every active window workstation.
void reload_colour_maps(Status& status, const char* position) {
  const QgDbColours& c = qg_db_colours;
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] != 2 || sys.category[k] != kCategoryX11 || !sys.driver[k]) continue;
    if (sys.driver[k]->load_colours(c.table, c.first_usable, c.last_usable, c.first_image,
                                    c.last_image) != 0)
      st_fail(status, 130001, position);
  }
}

}  // namespace

void QG_DEF_COLOURS(Status& status) {
  if (st_bad(status, "Subroutine QG_DEF_COLOURS V0.3")) return;
  QgDbColours& c = qg_db_colours;
  for (int k = 0; k < 8; ++k) {
    const int i = c.first_usable + k;
    if (i >= 0 && i <= 255) c.table[static_cast<std::size_t>(i)] = kBasic[k];
  }
  const int first = std::clamp(c.first_image, 0, 255);
  const int last = std::clamp(c.last_image, 0, 255);
  const int n = last - first;
  if (n < 1) return;  // a scale needs two indices at least
  for (int i = first; i <= last; ++i) {
    const double k = std::round(static_cast<double>(i - first + 1) / (n + 1) * n);
    const double p = k / n * 12.0 + 1.0;
    const int j = std::clamp(static_cast<int>(p), 1, 13);
    const int j2 = std::min(j + 1, 13);
    const double upper = p - j;
    const double lower = (j + 1) - p;
    const Rgb& a = kScale[j - 1];
    const Rgb& b = kScale[j2 - 1];
    c.table[static_cast<std::size_t>(i)] = {static_cast<float>(lower * a.red + upper * b.red),
                                            static_cast<float>(lower * a.green + upper * b.green),
                                            static_cast<float>(lower * a.blue + upper * b.blue)};
  }
}

void QG_BESTCOLOUR(float red, float green, float blue, int& index, Status& status) {
  if (st_bad(status, "Subroutine QG_BESTCOLOUR V0.1")) return;
  const QgDbColours& c = qg_db_colours;
  float best = 1.7e38f;
  for (int i = std::max(c.first_usable, 0); i <= std::min(c.last_usable, 255); ++i) {
    const Rgb& e = c.table[static_cast<std::size_t>(i)];
    const float d = 0.3f * std::fabs(red - e.red) + 0.59f * std::fabs(green - e.green) +
                    0.11f * std::fabs(blue - e.blue);
    if (d < best) {
      best = d;
      index = i;
    }
  }
}

void QG_COLOURS(int size, int start, int end, std::span<const Rgb> table, Status& status) {
  if (st_bad(status, "Subroutine QG_COLOURS V0.2")) return;
  if (size < 1) {
    st_fail(status, 130002, "Subroutine QG_COLOURS V0.2");
    return;
  }
  if (start < 0 || start > end || end > 255) {
    st_fail(status, 130017, "Subroutine QG_COLOURS V0.2");
    return;
  }
  if (static_cast<std::size_t>(end) >= table.size() || end >= size) {
    st_fail(status, 130002, "Subroutine QG_COLOURS V0.2");
    return;
  }
  std::copy(table.begin() + start, table.begin() + end + 1, qg_db_colours.table.begin() + start);
  reload_colour_maps(status, "Subroutine QG_COLOURS V0.2");
}

void QG_ROTATELUT(int shift, Status& status) {
  if (st_bad(status, "Subroutine QG_ROTATELUT V0.1")) return;
  QgDbColours& c = qg_db_colours;
  const int first = std::clamp(c.first_image, 0, 255);
  const int last = std::clamp(c.last_image, 0, 255);
  const int m = last - first + 1;
  if (m < 1) return;
  const auto copy = c.table;
  const int s = ((shift % m) + m) % m;
  for (int i = first; i <= last; ++i)
    c.table[static_cast<std::size_t>(first + (i - first + s) % m)] =
        copy[static_cast<std::size_t>(i)];
  reload_colour_maps(status, "Subroutine QG_ROTATELUT V0.1");
}

void QG_SET_IMAGERANGE(int first, int last, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_IMAGERANGE V0.1")) return;
  if (not_open("QG_SET_IMAGERANGE")) return;
  // Indices address the 256 table entries only.
  qg_db_colours.first_image = std::clamp(first, 0, 255);
  qg_db_colours.last_image = std::clamp(last, 0, 255);
}

void QG_INQ_IMAGERANGE(int& first, int& last, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_IMAGERANGE V0.1")) return;
  if (not_open("QG_INQ_IMAGERANGE")) return;
  first = qg_db_colours.first_image;
  last = qg_db_colours.last_image;
}

void QG_SET_LOGZSCALING(bool log, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_LOGZSCALING V0.1")) return;
  if (not_open("QG_SET_LOGZSCALING")) return;
  qg_db_colours.log_scaling = log;
}

void QG_INQ_LOGZSCALING(bool& log, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_LOGZSCALING V0.1")) return;
  if (not_open("QG_INQ_LOGZSCALING")) return;
  log = qg_db_colours.log_scaling;
}

void QG_SET_COLOURINDICES(int request, int maximum, Status& status) {
  if (st_bad(status, "Subroutine QG_SET_COLOURINDICES V0.1")) return;
  if (not_open("QG_SET_COLOURINDICES")) return;
  qg_db_colours.x11_request = request;
  qg_db_colours.x11_maximum = maximum;
}

void QG_INQ_COLOURMAPPING(int& mapping, int& depth, Status& status) {
  if (st_bad(status, "Subroutine QG_INQ_COLOURMAPPING V0.1")) return;
  if (not_open("QG_INQ_COLOURMAPPING")) return;
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] != 2 || sys.category[k] != kCategoryX11 || !sys.driver[k]) continue;
    int m = mapping, d = depth;
    if (sys.driver[k]->colour_mapping(m, d) == 0) {
      mapping = m;
      depth = d;
    }
    return;
  }
}

}  // namespace kesta
