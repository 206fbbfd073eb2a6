#include "app/imageops/conventions.hpp"

#include <utility>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/prompts.hpp"
#include "core/region.hpp"
#include "core/status.hpp"

namespace kesta {
namespace {

std::vector<void (*)()>& forgetters() {
  static std::vector<void (*)()> list;
  return list;
}

}  // namespace

bool kzt_region_refused(std::string_view position, Index xmaxdat, Index ymaxdat, Index xstrelm,
                        Index ystrelm, Index xendelm, Index yendelm, Status& status,
                        std::initializer_list<std::size_t> spans) {
  if (st_bad(status, position)) return true;
  Status code = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseApp);
  for (const std::size_t size : spans)
    if (code == 0 && !array_holds(size, xmaxdat, ymaxdat)) code = kBaseApp + 1;
  if (code == 0) return false;
  st_fail(status, code, position);
  return true;
}

GsDisplayedImage kzt_displayed_image(Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm,
                                     Index xendelm, Index yendelm, std::span<const float> data,
                                     std::span<const std::uint8_t> mask,
                                     std::span<const float> xaxis, std::span<const float> yaxis,
                                     std::string_view title, std::string_view xlabel,
                                     std::string_view ylabel, std::string_view zlabel) {
  GsDisplayedImage image;
  image.mask_data = !mask.empty();
  image.xmaxdat = xmaxdat;
  image.ymaxdat = ymaxdat;
  image.xstrelm = xstrelm;
  image.ystrelm = ystrelm;
  image.xendelm = xendelm;
  image.yendelm = yendelm;
  image.data = data;
  image.mask = mask;
  image.xaxis = xaxis;
  image.yaxis = yaxis;
  image.title = title;
  image.xlabel = xlabel;
  image.ylabel = ylabel;
  image.zlabel = zlabel;
  return image;
}

GsFormItem kzt_form_item(std::string label, int type, std::string description,
                         std::string prompt) {
  GsFormItem item;
  item.label = std::move(label);
  item.type = type;
  item.description = std::move(description);
  item.prompt = std::move(prompt);
  return item;
}

void kzt_inpr(bool gui, bool ranged, float lower, float upper, std::string_view prompt,
              TextLines help, TextLines error, float& value, Status& status) {
  if (gui)
    GS_INPR(ranged, lower, upper, true, prompt, help.view(), error.view(), value, status);
  else
    IO_INPR(ranged, lower, upper, true, prompt, help.view(), error.view(), value, status);
}

void kzt_warning(bool gui, TextLines lines, Status& status) {
  if (gui) {
    gs_refusal(lines.view(), status);
    return;
  }
  for (const std::string& line : lines) IO_WRITE(line, status);
}

bool kzt_scan_refused(bool gui, Index ynumdat, std::string_view command, Status& status) {
  if (ynumdat >= 2) return false;
  const std::string name(command);
  kzt_warning(gui,
              {gui ? "THE DATA IS 1-D: " + name + " NEEDS AN IMAGE"
                   : "WARNING: The data are 1-D (one row): \"" + name + "\" needs an image"},
              status);
  return true;
}

void kzt_register_answers(void (*forget)()) { forgetters().push_back(forget); }

void kzt_forget_answers() {
  for (auto* forget : forgetters()) forget();
}

std::string kzt_left_out_line(Index count, std::string_view noun, std::string_view where) {
  const bool one = count == 1;
  return format_i(count, 0) + " " + std::string(noun) + (one ? "" : "s") + std::string(where) +
         (one ? " is" : " are") + " not finite (NaN or infinite) and " + (one ? "was" : "were") +
         " left out";
}

}  // namespace kesta
