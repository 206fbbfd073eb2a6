#include "app/interfaces/display_rows.hpp"

#include "app/imageops/display_commands.hpp"
#include "app/imageops/display_menu.hpp"
#include "app/imageops/inspection.hpp"
#include "app/interfaces/interfaces.hpp"
#include "core/status.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

void menu_full_region(Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_FULL(a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm, a.yendelm, status);
}

void menu_unzoom_region(Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  GS_INP_UNZOOM(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, a.xstrelm, a.ystrelm, a.xendelm,
                a.yendelm, status);
}

void menu_zoom_in_region(const KztDataSets& s, Status& status) {
  KztArrays& a = vosq_kzt_arrays;
  KZT_ZOOMIN(a.xmaxdat, a.ymaxdat, a.xnumdat, a.ynumdat, kzt_xline(a.xaxis), kzt_yline(a.yaxis),
             kzt_image(a.data), s.title, s.xlabel, s.ylabel, s.zlabel, a.xstrelm, a.ystrelm,
             a.xendelm, a.yendelm, status);
}

void menu_display_choices(MenuPass& pass, Status& status) {
  KztMemoryProfile memory = kzt_memory_profile();
  KZT_DISPLAY(kzt_displayed(pass.sets), memory, pass.plot_type, status);
  if (status == kStatusGood) kzt_store_profile(memory, pass.sets);
}

void menu_display_options(MenuPass& pass, Status& status) {
  KZT_OPTIONS(pass.sets, pass.plot_type, status);
}

}  // namespace kesta
