#include "app/imageops/click_readout.hpp"

#include <algorithm>
#include <cmath>

#include "app/imageops/conventions.hpp"
#include "app/imageops/upcalls.hpp"
#include "app/imageops/zscale_menu.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/widgets.hpp"
#include "numeric/geometry.hpp"

namespace kesta {
namespace {

constexpr const char* kPosition = "Subroutine KZT_CLICK V0.10";

// The pixel of world coordinate V along AXIS(1..END), held inside START..END.
Index pixel_of(Index maxdim, Index start, Index end, std::span<const float> axis, float v,
               Status& status) {
  float p = 0.0f;
  MA_DC2PIXC(maxdim, end, axis, v, p, status);
  return std::clamp(static_cast<Index>(p) + 1, start, end);
}

// d-spacing in Angstroms of a scattering angle TWO_THETA (radians); none for
// the direct beam.
bool d_spacing(double two_theta, double wavelength, std::string& line) {
  const double s = std::sin(two_theta / 2.0);
  if (s == 0.0 || !std::isfinite(s)) return false;
  line = "  d = " + IO_RTOC(static_cast<float>(wavelength / (2.0 * s) * 1.0e10));
  return true;
}

}  // namespace

std::vector<std::string> kzt_click_lines(Index xmaxdat, Index xstrelm, Index ystrelm,
                                         Index xendelm, Index yendelm,
                                         std::span<const float> xaxis,
                                         std::span<const float> yaxis,
                                         std::span<const float> data, std::string_view xlabel,
                                         float x, float y, const ClickContext& c,
                                         Status& status) {
  std::vector<std::string> lines;
  std::string d_line;
  if (xstrelm < xendelm && ystrelm < yendelm) {
    const Index ymaxdat = std::ssize(yaxis);
    const Index ix = pixel_of(xmaxdat, xstrelm, xendelm, xaxis, x, status);
    const Index iy = pixel_of(ymaxdat, ystrelm, yendelm, yaxis, y, status);
    if (status != kStatusGood) return lines;
    lines.push_back(" X = " + IO_ITOC(ix));
    lines.push_back(" Y = " + IO_ITOC(iy));
    lines.push_back("  I = " + IO_RTOC(data[element(ix, iy, xmaxdat)]));
    if (c.geometry_known) {
      const double dx = (static_cast<double>(x) - c.x_beam_centre) * c.xpixsize;
      const double dy = (static_cast<double>(y) - c.y_beam_centre) * c.ypixsize;
      const double radius = std::sqrt(dx * dx + dy * dy);
      if (d_spacing(std::atan2(radius, static_cast<double>(c.sample_distance)), c.wavelength,
                    d_line))
        lines.push_back(d_line);
    }
    return lines;
  }
  const float shown_x = c.x_linear ? x : std::pow(10.0f, x);
  const float shown_y = c.y_linear ? y : std::pow(10.0f, y);
  lines.push_back(" X = " + IO_RTOC(shown_x));
  lines.push_back(" Y = " + IO_RTOC(shown_y));
  if (c.geometry_known && xlabel == "2-Theta Angle (Degrees)" &&
      d_spacing(static_cast<double>(shown_x) * 3.1415925 / 180.0, c.wavelength, d_line))
    lines.push_back(d_line);
  return lines;
}

void KZT_CLICK(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
               Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::string_view title, std::string_view xlabel,
               std::string_view ylabel, std::string_view zlabel, float x, float y,
               float xpixsize, float ypixsize, bool& update_image, bool& update_menu,
               Status& status) {
  update_image = false;
  update_menu = false;
  if (kzt_region_refused(kPosition, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, status,
                         {data.size()}))
    return;
  if (std::ssize(xaxis) < xendelm) return st_fail(status, kBaseApp + 5, kPosition);
  if (std::ssize(yaxis) < yendelm) return st_fail(status, kBaseApp + 6, kPosition);

  float dx1 = 0, dy1 = 0, dx2 = 0, dy2 = 0;
  GS_INQ_DDDR(dx1, dy1, dx2, dy2, status);
  bool bar = false;
  float bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
  GS_INQ_DLUTPC(bar, bx1, by1, bx2, by2, status);
  if (status != kStatusGood) return;
  const float px = qg_click_pc(true, x, status);
  const float py = qg_click_pc(false, y, status);

  // The colour bar is tested first: it may lie over the data region.
  if (bar && px >= bx1 && px <= bx2 && py >= by1 && py <= by2) {
    KZT_GUI_ZSCALE(xmaxdat, ymaxdat, data, {}, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
                   title, xlabel, ylabel, zlabel, true, px, py, status);
    update_menu = true;
    return;
  }
  if (x < dx1 || x > dx2 || y < dy1 || y > dy2) return;

  ClickContext context;
  context.xpixsize = xpixsize;
  context.ypixsize = ypixsize;
  kzt_inq_geometry(context.geometry_known, context.x_beam_centre, context.y_beam_centre,
                   context.sample_distance, context.wavelength, status);
  GS_INQ_DATALOGLIN(context.x_linear, context.y_linear, status);
  const std::vector<std::string> lines = kzt_click_lines(
      xmaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis.first(ymaxdat), data, xlabel, x,
      y, context, status);
  if (status != kStatusGood) return;

  const bool image = xstrelm < xendelm && ystrelm < yendelm;
  kzt_show_click_lines(lines, image, image && context.geometry_known ? 4 : 3, status);
}

void kzt_show_click_lines(std::span<const std::string> lines, bool image, int count,
                          Status& status) {
  if (status != kStatusGood) return;
  float mx1 = 0, my1 = 0, mx2 = 0, top = 0;
  GS_INQ_MESSAGE(mx1, my1, mx2, top, status);
  if (status != kStatusGood) return;
  const float right = image ? 0.16f : 0.14f;
  // A line every 0.02 and half a line below the last (of as many lines as
  // the read-out can have, so a longer one before is covered); where that
  // would cover the numbers of the image's top axis, the lines close up
  // above them (while they stay readable; a 1-D graph numbers no top axis).
  const float rows = static_cast<float>(count);
  float pitch = 0.02f;
  const GsRect numbers = gs_top_axis_numbers();
  const float clear_top = numbers.ymax + 0.003f;
  if (image && numbers.xmin < numbers.xmax && numbers.xmin < right &&
      top - pitch * (rows + 0.5f) < clear_top)
    pitch = std::clamp((top - clear_top) / (rows + 0.5f), 0.012f, pitch);
  (void)gs_unit_on(status);
  GS_FILLSTYLE(1, kGsWhite, status);
  GS_RECTANGLE(0.0f, top - pitch * (rows + 0.5f), right, top, false, true, status);
  GS_TEXTSTYLE(1, kGsBlue, 0.9f * pitch, 1.0f, 0.0f, 0, 0, 0, 0.0f, 1.0f, status);
  for (std::size_t k = 0; k < lines.size() && status == kStatusGood; ++k)
    QG_TEXT(0.0f, top - pitch * static_cast<float>(k + 1), lines[k], status);
  GS_UPDATE(status);
  gs_restore_graph_transform(status);
}

}  // namespace kesta
