// Output primitives, cell arrays and raster mode.

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#include "core/region.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/device/kernel_internal.hpp"
#include "graphics/device/raster.hpp"

namespace kesta {

using namespace qg_detail;

namespace {


void free_raster() {
  std::vector<std::uint8_t>().swap(qg_db_prastermode.raster);
}

// Line and fill colours the devices last received before raster mode took
// them over (raster mode keeps later changes from the devices).
struct RasterSentColours {
  int line = 1;
  int fill = 2;
};
RasterSentColours raster_sent_colours;

using Points = std::span<const float>;

// Draws the first N points of X and Y (130002 when an array holds fewer): in
// raster mode into the raster through RASTER, when that is a routine, else on
// every open device through DEVICE(driver, xs, ys, status).
template <class Raster, class Device>
void draw_points(int n, Points x, Points y, const char* position, Raster raster, Device device,
                 Status& status) {
  const auto count = static_cast<std::size_t>(n);
  if (count > x.size() || count > y.size()) {
    st_fail(status, 130002, position);
    return;
  }
  const Points xs = x.first(count);
  const Points ys = y.first(count);
  if constexpr (!std::is_null_pointer_v<Raster>) {
    const QgDbRastermode& r = qg_db_rastermode;
    if (r.raster_mode) {
      raster(n, xs, ys, r.width, r.height, qg_db_prastermode.raster, status);
      return;
    }
  }
  dispatch(status, 130001, position, [&](Driver& d, Status& s) { return device(d, xs, ys, s); });
}

}  // namespace

float qg_float_range(double value) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  return static_cast<float>(value > kLargest ? kLargest : value < -kLargest ? -kLargest : value);
}

void qg_image_scaling_range(bool log_scale, float& minimum, float& maximum) {
  if (!log_scale) {
    if (minimum == maximum) {
      // Widen by a tenth of the magnitude either way, so a negative value
      // keeps the minimum below the maximum.
      const double v = minimum;
      minimum = qg_float_range(v - 0.1 * std::fabs(v));
      maximum = qg_float_range(v + 0.1 * std::fabs(v));
      if (minimum == maximum) {
        minimum -= 0.1f;
        maximum += 0.1f;
      }
    }
    return;
  }
  if (maximum > 0.0f && minimum < 1.0e-5f) {
    if (maximum > 10000.0f)
      minimum = 0.1f;
    else if (maximum > 1000.0f)
      minimum = 0.01f;
    else if (maximum > 100.0f)
      minimum = 0.001f;
    else if (maximum > 10.0f)
      minimum = 1.0e-4f;
    else if (maximum > 1.0f)
      minimum = 1.0e-5f;
    else if (maximum > 0.1f)
      minimum = 1.0e-6f;
    else if (maximum > 0.01f)
      minimum = 1.0e-7f;
    else
      minimum = maximum / 1000.0f;
  } else if (maximum <= 0.0f) {
    minimum = 1.0e-10f;
    maximum = 1.0e-9f;
  } else if (minimum == maximum) {
    minimum *= 0.5f;
    maximum = qg_float_range(2.0 * maximum);
  }
}

void QG_POLYLINE(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_POLYLINE V0.3";
  if (st_bad(status, kPosition)) return;
  if (n < 2) {
    st_fail(status, 130017, kPosition);
    return;
  }
  draw_points(n, x, y, kPosition, QG_RAS_PL,
              [](Driver& d, Points xs, Points ys, Status& s) { return d.polyline(xs, ys, s); },
              status);
}

void QG_POLYMARKER(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_POLYMARKER V0.2";
  if (st_bad(status, kPosition)) return;
  if (n < 1) {
    st_fail(status, 130017, kPosition);
    return;
  }
  draw_points(n, x, y, kPosition, nullptr,
              [](Driver& d, Points xs, Points ys, Status& s) { return d.polymarker(xs, ys, s); },
              status);
}

void QG_FILLAREA(int n, std::span<const float> x, std::span<const float> y, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_FILLAREA V0.3";
  if (st_bad(status, kPosition)) return;
  // One rule for every device and the raster: a polygon has 3 to
  // kMaxFillPoints vertices.
  if (n < 3) {
    st_fail(status, 130017, kPosition);
    return;
  }
  if (n > kMaxFillPoints) {
    st_fail(status, 130009, kPosition);
    return;
  }
  draw_points(n, x, y, kPosition, QG_RAS_FA,
              [](Driver& d, Points xs, Points ys, Status& s) { return d.fill_area(xs, ys, s); },
              status);
}

void QG_TEXT(float x, float y, std::string_view text, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_TEXT V0.2";
  if (st_bad(status, kPosition)) return;
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] != 2 || !sys.driver[k]) continue;
    if (sys.category[k] == kCategoryX11) {
      Status local = ST_GOOD();
      sys.driver[k]->text(x, y, text, local);  // a window's text failure is not reported
    } else {
      sys.driver[k]->text(x, y, text, status);
    }
  }
}

void QG_CLEAR(Status& status) {
  constexpr const char* kPosition = "Subroutine QG_CLEAR V0.2";
  if (st_bad(status, kPosition)) return;
  dispatch(status, 139999, kPosition, [&](Driver& d, Status& s) { return d.clear(s); });
}

void QG_CELLARRAY(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                  Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                  std::span<const int> indices, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_CELLARRAY V0.2";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          cell_region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum, indices.size());
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  const CellRegion region{x1, y1, x2, y2, xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum};
  dispatch(status, 139999, kPosition,
           [&](Driver& d, Status& s) { return d.cell_array(region, indices, s); });
}

void QG_REALCELLARRAY(float x1, float y1, float x2, float y2, Index xmaxdat, Index ymaxdat,
                      Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                      std::span<const float> data, float minimum, float maximum, Status& status) {
  if (st_bad(status, "Subroutine QG_REALCELLARRAY V0.2")) return;
  QG_RMASKCELLARRAY(false, x1, y1, x2, y2, xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum, data,
                    {}, minimum, maximum, 1, status);
}

void QG_RMASKCELLARRAY(bool masked, float x1, float y1, float x2, float y2, Index xmaxdat,
                       Index ymaxdat, Index xstrelm, Index ystrelm, Index xnum, Index ynum,
                       std::span<const float> data, std::span<const std::uint8_t> mask,
                       float minimum, float maximum, int mask_colour, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_RMASKCELLARRAY V0.3";
  if (st_bad(status, kPosition)) return;
  if (const Status code = real_cell_region_error(masked, xmaxdat, ymaxdat, xstrelm, ystrelm, xnum,
                                                 ynum, data.size(), mask.size());
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  const bool log_scale = qg_db_colours.log_scaling;
  float low = minimum;
  float high = maximum;
  qg_image_scaling_range(log_scale, low, high);
  const CellRegion region{x1, y1, x2, y2, xmaxdat, ymaxdat, xstrelm, ystrelm, xnum, ynum};
  QgDbSystem& sys = qg_db_system;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] != 2 || !sys.driver[k]) continue;
    Driver& d = *sys.driver[k];
    if (sys.category[k] == kCategoryX11) {
      Status local = ST_GOOD();
      const int rc =
          d.real_cell_array(masked, region, data, mask, low, high, mask_colour, log_scale, local);
      if (rc == 1) message("ERROR: Function QG_X11_RMCA failed to allocate memory for image display");
      if (rc == 2) message("ERROR: Function QG_X11_RMCA failed because of bad data scaling range");
      if (rc != 0) st_fail(status, 139999, kPosition);
    } else {
      d.real_cell_array(masked, region, data, mask, low, high, mask_colour, log_scale, status);
    }
  }
}

void QG_3DMIMAGE(bool masked, float minimum, float maximum, float x1, float y1, float x2, float y2,
                 float x3, float y3, float x4, float y4, Index xdim, Index ydim, Index xstart,
                 Index ystart, Index xend, Index yend, std::span<const float> data,
                 std::span<const std::uint8_t> mask, int mask_colour, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_3DMIMAGE V0.1";
  if (st_bad(status, kPosition)) return;
  if (xdim < 1) {
    st_fail(status, 130001, kPosition);
    return;
  }
  if (ydim < 1) {
    st_fail(status, 130002, kPosition);
    return;
  }
  if (xstart < 1 || xend < xstart || xend > xdim) {
    st_fail(status, 130005, kPosition);
    return;
  }
  const QgDbRastermode& r = qg_db_rastermode;
  if (!r.raster_mode) {
    message("WARNING: Only raster mode output is presently available for 3-d images");
    return;
  }
  QG_RAS_3DMIMAGE(masked, minimum, maximum, x1, y1, x2, y2, x3, y3, x4, y4, xdim, ydim, xstart,
                  ystart, xend, yend, data, mask, mask_colour, r.width, r.height,
                  qg_db_prastermode.raster, status);
}

void QG_SET_RASTERMODE(bool on, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_SET_RASTERMODE V0.3";
  if (st_bad(status, kPosition)) return;
  QgDbRastermode& r = qg_db_rastermode;
  QgDbSystem& sys = qg_db_system;
  if (on) {
    if (r.raster_mode) {
      message("WARNING: Raster mode is already enabled");
      return;
    }
    RasterGeometry geometry{0, static_cast<int>(std::lround(kPageShortSide * 950)), 950, 950};
    for (int k = 0; k < sys.number_workstations; ++k)
      if (sys.state[k] == 2 && sys.driver[k])
        sys.driver[k]->raster_geometry(sys.page_extent_x[k], sys.page_extent_y[k], geometry);
    Index cells = 0;
    bool ok = geometry.width > 0 && geometry.height > 0 && geometry.scale_size > 0 &&
              checked_product(geometry.width, geometry.height, cells);
    if (ok) {
      try {
        qg_db_prastermode.raster.assign(static_cast<std::size_t>(cells), 0);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
    }
    if (!ok) {
      free_raster();
      message("WARNING: Dynamic memory allocation has failed. The internal graphics");
      message("         raster cannot be created, so all graphics output will be");
      message("         direct to the output device");
      return;
    }
    raster_sent_colours = {r.line_colour, r.fill_colour};
    r.device_flag = geometry.device_flag;
    r.width = geometry.width;
    r.height = geometry.height;
    r.scale_size = geometry.scale_size;
    raster_scaling();
    r.raster_mode = true;
    return;
  }

  if (!r.raster_mode) {
    message("WARNING: Raster mode is not enabled");
    return;
  }
  int background = -1;
  Index bx1 = 1, by1 = 1, bx2 = r.width, by2 = r.height;
  Status box_status = ST_GOOD();
  QG_BMAXSETREGION(r.width, r.height, 1, 1, r.width, r.height, qg_db_prastermode.raster,
                   background, bx1, by1, bx2, by2, box_status);
  const bool whole = bx1 == 1 && by1 == 1 && bx2 == r.width && by2 == r.height;
  const bool top_first = r.device_flag == 1;
  // Rows of the box counted from the bottom of the page.
  const Index bottom = top_first ? r.height - by2 + 1 : by1;
  const Index top = top_first ? r.height - by1 + 1 : by2;
  const QgDbTransform& t = qg_db_transform;
  for (int k = 0; k < sys.number_workstations; ++k) {
    if (sys.state[k] != 2 || !sys.driver[k]) continue;
    Driver& d = *sys.driver[k];
    const bool window = sys.category[k] == kCategoryX11;
    auto run = [&](auto&& call) {
      if (window) {
        Status local = ST_GOOD();
        if (call(local) != 0) st_fail(status, 139999, kPosition);
      } else {
        call(status);
      }
    };
    const float px = sys.page_extent_x[k];
    const float py = sys.page_extent_y[k];
    const bool page_filled = !whole && background >= 0;
    run([&](Status& s) { return d.transform(0, 0, 1, 1, 0, 0, 1, 1, s); });
    if (page_filled) {
      const float fx[4] = {0, 0, px, px};
      const float fy[4] = {0, py, py, 0};
      run([&](Status& s) { return d.fill_colour(background, table_entry(background), s); });
      run([&](Status& s) { return d.fill_area(fx, fy, s); });
    }
    RasterImage image;
    image.width = r.width;
    image.height = r.height;
    image.x1 = bx1;
    image.y1 = by1;
    image.x2 = bx2;
    image.y2 = by2;
    image.top_first = top_first;
    image.bytes = qg_db_prastermode.raster;
    image.page_x1 = px * static_cast<float>(bx1 - 1) / static_cast<float>(r.width);
    image.page_y1 = py * static_cast<float>(bottom - 1) / static_cast<float>(r.height);
    image.page_x2 = px * static_cast<float>(bx2) / static_cast<float>(r.width);
    image.page_y2 = py * static_cast<float>(top) / static_cast<float>(r.height);
    run([&](Status& s) { return d.raster_image(image, s); });
    run([&](Status& s) {
      return d.transform(t.wx1, t.wy1, t.wx2, t.wy2, t.vx1, t.vy1, t.vx2, t.vy2, s);
    });
    // The devices have not seen colour changes made while raster mode was
    // on, and the background fill replaced the fill colour: bring them back
    // to the kernel's values, since the setters send nothing for a value
    // the kernel already holds.
    const int fill = r.fill_colour;
    const int line = r.line_colour;
    if (page_filled || fill != raster_sent_colours.fill)
      run([&](Status& s) { return d.fill_colour(fill, table_entry(fill), s); });
    if (line != raster_sent_colours.line)
      run([&](Status& s) { return d.line_colour(line, table_entry(line), s); });
  }
  // The kernel owns the raster: every device has drawn (or copied) it.
  free_raster();
  r.raster_mode = false;
}

void QG_BMAXSETREGION(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                      Index yendelm, std::span<const std::uint8_t> bytes, int& background,
                      Index& x1, Index& y1, Index& x2, Index& y2, Status& status) {
  constexpr const char* kPosition = "Subroutine QG_BMAXSETREGION V0.1";
  if (st_bad(status, kPosition)) return;
  if (const Status code =
          region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
      code != 0) {
    st_fail(status, code, kPosition);
    return;
  }
  if (!array_holds(bytes.size(), xmaxdat, ymaxdat)) {
    st_fail(status, kBaseMath + 2, kPosition);
    return;
  }
  auto at = [&](Index x, Index y) { return static_cast<int>(bytes[element(x, y, xmaxdat)]); };
  x1 = xstrelm;
  y1 = ystrelm;
  x2 = xendelm;
  y2 = yendelm;
  const int bl = at(xstrelm, ystrelm), br = at(xendelm, ystrelm);
  const int tl = at(xstrelm, yendelm), tr = at(xendelm, yendelm);
  if (tl == tr)
    background = tl;
  else if (bl == br)
    background = bl;
  else if (bl == tl)
    background = bl;
  else if (br == tr)
    background = br;
  else {
    background = -1;
    return;
  }
  const auto bg = static_cast<std::uint8_t>(background);
  auto row_used = [&](Index y) {
    const std::uint8_t* row = bytes.data() + element(xstrelm, y, xmaxdat);
    for (Index i = 0; i <= xendelm - xstrelm; ++i)
      if (row[i] != bg) return true;
    return false;
  };
  auto column_used = [&](Index x, Index ylow, Index yhigh) {
    for (Index y = ylow; y <= yhigh; ++y)
      if (bytes[element(x, y, xmaxdat)] != bg) return true;
    return false;
  };
  if (bl == background && br == background) {
    Index y = ystrelm;
    while (y <= yendelm && !row_used(y)) ++y;
    if (y > yendelm) {
      // Nothing but background: one cell stands for the picture.
      x2 = xstrelm;
      y2 = ystrelm;
      return;
    }
    y1 = std::max(ystrelm, y - 1);
  }
  if (tl == background && tr == background) {
    Index y = yendelm;
    while (y >= ystrelm && !row_used(y)) --y;
    if (y < ystrelm) {
      x2 = xstrelm;
      y1 = y2 = ystrelm;
      return;
    }
    y2 = std::min(yendelm, y + 1);
  }
  if (bl == background && tl == background) {
    Index x = xstrelm;
    while (x <= xendelm && !column_used(x, y1, y2)) ++x;
    if (x <= xendelm) x1 = std::max(xstrelm, x - 1);
  }
  if (br == background && tr == background) {
    Index x = xendelm;
    while (x >= xstrelm && !column_used(x, y1, y2)) --x;
    if (x >= xstrelm) x2 = std::min(xendelm, x + 1);
  }
}

}  // namespace kesta
