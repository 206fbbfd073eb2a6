#include "app/imageops/printing.hpp"

#include "app/imageops/conventions.hpp"
#include "app/imageops/surface_viewer.hpp"
#include "app/main/data_store.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/views3d.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

void KZT_PRINT(bool gui, std::string_view graphics_kind, bool mask_data, Index xmaxdat,
               Index ymaxdat, std::span<const float> xaxis, std::span<const float> yaxis,
               std::span<const float> data, std::span<const float> variances,
               std::span<const std::uint8_t> mask, std::string_view title,
               std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
               bool variances_exist, Index xstrelm, Index ystrelm, Index xendelm, Index yendelm,
               Status& status) {
  if (kzt_region_refused("Subroutine KZT_PRINT V0.1", xmaxdat, ymaxdat, xstrelm, ystrelm,
                         xendelm, yendelm, status, {data.size()}))
    return;
  bool opened = false;
  GS_ON_PRINT(gui, opened, status);
  if (opened && status == kStatusGood) {
    // Each kind is compared over its own length, so trailing blanks match.
    const auto is = [graphics_kind](std::string_view kind) {
      return graphics_kind.starts_with(kind);
    };
    // Only an image of two dimensions shows data without a finite value (in
    // the colour of bad pixels); any other kind would be an empty page: said,
    // with no page added, as a kind that nothing draws.
    const bool picture =
        (is("image") || is("masked_image")) && xendelm > xstrelm && yendelm > ystrelm;
    const bool known = is("3-d lines") || is("3-d surface") || is("image") ||
                       is("masked_image") || is("contour") || is("x/y graph");
    // Nor is a page added for a contour map or a 3-D view none of whose
    // parts can be drawn.
    const auto nothing_drawable = [&](GsDrawing drawing) {
      return gs_say_nothing_drawable(drawing, xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                                     yendelm, status);
    };
    // Nor for a 3-D surface under logarithmic scaling, chosen since it was
    // drawn, of heights all below zero: said in one line, as the viewer says
    // it.
    const auto no_log_heights = [&] {
      bool log = false;
      QG_INQ_LOGZSCALING(log, status);
      return log && gs_say_no_log_heights(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm,
                                          yendelm, status);
    };
    if (known && !picture &&
        (kzt_no_finite_value(xmaxdat, ymaxdat, data, xstrelm, ystrelm, xendelm, yendelm, "print",
                             status) ||
         (is("contour") && nothing_drawable(GsDrawing::kContour)) ||
         (is("3-d surface") && (nothing_drawable(GsDrawing::kSurface) || no_log_heights())) ||
         (is("3-d lines") && nothing_drawable(GsDrawing::kLines)))) {
      gs_off_print_without_page();
      if (gui) GS_FWARNING(1, 1, {"PROBLEM WRITING FILE: (SEE TERMINAL WINDOW)"}, status);
      return;
    }
    if (is("3-d lines")) {
      GS_3DLINES(true, xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
                 title, xlabel, ylabel, zlabel, status);
    } else if (is("3-d surface")) {
      GS_3DSURFACE(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
                   xlabel, ylabel, zlabel, status);
    } else if (is("image")) {
      GS_PLOT(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm, title,
              xlabel, ylabel, zlabel, status);
    } else if (is("masked_image")) {
      GS_MPLOT(mask_data && !mask.empty(), xmaxdat, ymaxdat, data, mask, xaxis, yaxis, xstrelm,
               ystrelm, xendelm, yendelm, title, xlabel, ylabel, zlabel, status);
    } else if (is("contour")) {
      GS_2DCONTOUR(xmaxdat, ymaxdat, data, xaxis, yaxis, xstrelm, ystrelm, xendelm, yendelm,
                   title, xlabel, ylabel, zlabel, status);
    } else if (is("x/y graph")) {
      KZT_XYGRAPH(false, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                  variances_exist ? variances : std::span<const float>{}, xaxis, yaxis, title,
                  xlabel, ylabel, zlabel, status);
    } else {
      // Nothing drawn is no page: said, with no page added and no file
      // left that would hold none.
      gs_off_print_without_page();
      IO_WRITE("WARNING: Unknown type of graphics to output", status);
      if (gui) GS_FWARNING(1, 1, {"PROBLEM WRITING FILE: (SEE TERMINAL WINDOW)"}, status);
      return;
    }
    GS_OFF_PRINT(status);
    if (gui) {
      gs_end_graphics_file(status);
      GS_FPROMPT(1, 1, {"FINISHED WRITING FILE"}, status);
      GS_UPDATE(status);
    } else {
      gs_say_print_written(status);
    }
  }
  if (status != kStatusGood && ST_ERRORCODE(status) == 1000) {
    // The file layer has said why the file could not be written.
    st_reset(status);
    if (gui) GS_FWARNING(1, 1, {"PROBLEM WRITING FILE: (SEE TERMINAL WINDOW)"}, status);
  }
}

void KZT_POSTSCRIPT(Status& status) {
  if (st_bad(status, "Subroutine KZT_POSTSCRIPT V0.1")) return;
  IO_WRITE("WARNING: The user input may change for this option", status);
  bool colour = false;
  int second = 0, third = 0;
  GS_INQ_POSTSCRIPT(colour, second, third, status);
  GS_SET_POSTSCRIPT(!colour, status);
  IO_WRITE(colour ? "INFO: Black and white PostScript output will be produced"
                  : "INFO: Colour PostScript output will be produced",
           status);
}

namespace {

// The current data of the program arrays, masked when MASKED and a mask
// exists.
void print_current_data(bool gui, const KztDataSets& sets, std::string_view graphics_kind,
                        bool masked, Status& status) {
  const KztArrays& a = vosq_kzt_arrays;
  masked = masked && sets.mask_exist;
  KZT_PRINT(gui, graphics_kind, masked, a.xmaxdat, a.ymaxdat, kzt_xline(a.xaxis),
            kzt_yline(a.yaxis), kzt_image(a.data), kzt_image(a.variances),
            masked ? std::span<const std::uint8_t>(kzt_mask()) : std::span<const std::uint8_t>(),
            sets.title, sets.xlabel, sets.ylabel, sets.zlabel, sets.variances_exist, a.xstrelm,
            a.ystrelm, a.xendelm, a.yendelm, status);
}

}  // namespace

void kzt_command_print(KztDataSets& sets, std::string_view graphics_kind, Status& status) {
  print_current_data(false, sets, graphics_kind, true, status);
}

void kzt_menu_print(const KztDataSets& sets, std::string_view graphics_kind, bool mask_data,
                    Status& status) {
  print_current_data(true, sets, graphics_kind, mask_data, status);
}

void kzt_command_postscript(KztDataSets&, std::string&, Status& status) { KZT_POSTSCRIPT(status); }

}  // namespace kesta
