// The graphical file chooser: the current directory, its sub-directories and
// its (filtered) files in scrolled lists, a typed name with Tab completion,
// and the checks of what the caller needs (an existing file, a new one...).

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/directories.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/pager.hpp"
#include "core/prompts.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "core/translate.hpp"
#include "graphics/device/input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/file_selection.hpp"
#include "graphics/system/gs_internal.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {
namespace {

using gs_detail::refuse;

std::string_view used_part(std::string_view line) {
  return line.substr(0, static_cast<std::size_t>(SLEN(line)));
}

bool inside(const GsRect& box, float x, float y) {
  return box.xmin <= x && x <= box.xmax && box.ymin <= y && y <= box.ymax;
}

const std::vector<std::string> kCommands{"CANCEL", "?", "HELP", "INFO", "TYPES", "FILTER"};
const std::vector<std::string> kCommandHelp{
    "CANCEL: Exit without returning file name", "?: This help text",
    "HELP: Information about the required input or output file",
    "INFO: Information concerning use of the file selection utility",
    "TYPES: Specify types of file to input (by file extensions)",
    "FILTER: Specify pattern which file names must match"};

const std::vector<std::string> kSelectionHelp{
    "INTERACTIVE FILE SELECTION GRAPHICS MENU",
    "----------------------------------------",
    "",
    "This menu helps you walk the directory tree and choose",
    "a file for input or output.",
    "",
    "The text at the top says what the file is for; HELP",
    "gives more about it. Under it is the current directory.",
    "",
    "On the left are the sub-directories of the current",
    "directory, on the right the files that meet the current",
    "conditions: all files unless TYPES or FILTER restrict",
    "them. An empty sub-directory box is white and shows",
    "\"NO SUB-DIRECTORIES\"; an active one is yellow with blue",
    "names.",
    "",
    "A vertical scroll bar has six buttons: end of list, one",
    "page down, one line down, one line up, one page up and",
    "start of list. A horizontal one: first character, 10",
    "left, 1 left, 1 right, 10 right and last character.",
    "",
    "Click on a sub-directory to go down the tree, on UP DIR",
    "to go up. UPDATE reads the directory again, for files",
    "that are being written while you choose.",
    "",
    "TYPES asks for a file extension (without the point);",
    "DELETE or the down arrow clears it. FILTER asks for a",
    "pattern, with asterisks as wild-cards. Both are case-",
    "sensitive.",
    "",
    "Click on a file to choose it, or type its name in the",
    "box at the bottom (Tab completes a name). A box may ask",
    "you to confirm the choice with YES or NO.",
    "",
    "CANCEL leaves without a file.",
    "",
    "------------------------------------------------------------",
    "END OF HELP TEXT",
    "------------------------------------------------------------"};

// Kept for the whole run.
struct Remembered {
  std::string input_directory, output_directory;
  bool input_defined = false, output_defined = false;
  Index input_first = 1, output_first = 1;
  std::string extension;  // one extension, without the point
  std::string pattern;
};
Remembered remembered;

constexpr int kMaxFiles = 10000;
constexpr Index kFilePool = 65535;
constexpr int kMaxDirectories = 1000;
constexpr Index kDirectoryPool = 10000;

}  // namespace

void GS_HELPFILESELECT(bool gui, Status& status) {
  if (st_bad(status, "Subroutine GS_HELPFILESELECT V0.2")) return;
  const int n = static_cast<int>(kSelectionHelp.size());
  if (!gui) {
    IO_TEXT(kSelectionHelp, status);
    return;
  }
  const int font = gs_state.message_style.font;
  gs_state.message_style.font = 2;
  GS_MESSAGE(n, n, kSelectionHelp, status);
  gs_state.message_style.font = font;
}

void GS_SUBFILE(int max_files, int num_files, const std::vector<Index>& file_pointers,
                const std::string& files, const std::vector<bool>& files_ok, int /*max_dirs*/,
                int num_dirs, const std::vector<Index>& dir_pointers, const std::string& dirs,
                const std::vector<bool>& dirs_ok, std::string& name, Status& status) {
  constexpr std::string_view position = "Subroutine GS_SUBFILE V0.1";
  if (st_bad(status, position)) return;
  if (max_files <= 1 && refuse(status, 5, position)) return;
  bool first = true;
  std::string common;
  auto take = [&](const std::string& candidate) {
    if (first) {
      common = candidate;
      first = false;
      return;
    }
    std::size_t k = 0;
    while (k < common.size() && k < candidate.size() && common[k] == candidate[k]) ++k;
    common.resize(k);
  };
  for (int i = 1; i <= num_files && i <= static_cast<int>(files_ok.size()); ++i)
    if (files_ok[static_cast<std::size_t>(i - 1)]) take(io_store_name(file_pointers, files, i));
  for (int i = 1; i <= num_dirs && i <= static_cast<int>(dirs_ok.size()); ++i)
    if (dirs_ok[static_cast<std::size_t>(i - 1)]) take(io_store_name(dir_pointers, dirs, i));
  if (first) return;
  name = common.empty() ? std::string(" ") : common;
}

// ---- Listing ----

bool gs_list_files(std::string_view directory, std::string_view extension,
                   std::string_view pattern, GsNameList& list, Status& status) {
  int retstat = 0;
  const std::vector<std::string> types{std::string(extension)};
  IO_LISTFILES(directory, kMaxFiles, kFilePool, extension.empty() ? 0 : 1, types, pattern,
               retstat, list.count, list.selected, list.shown, list.order, list.pointers,
               list.store, status);
  list.first = 1;
  list.offset = 1;
  return status == kStatusGood && (retstat == 0 || retstat == 3);
}

int gs_list_directories(std::string_view directory, GsNameList& list, Status& status) {
  int retstat = 0;
  IO_DIRECTORY(false, directory, kMaxDirectories, kDirectoryPool, retstat, list.count,
               list.pointers, list.store, status);
  if (status != kStatusGood || retstat != 0) return retstat == 0 ? 4 : retstat;
  list.selected.assign(static_cast<std::size_t>(list.count), true);
  list.shown = list.count;
  IO_FILESORDER(std::max(list.count, 2), list.count, list.pointers, list.store, list.shown,
                list.selected, list.order, status);
  list.first = 1;
  list.offset = 1;
  return status == kStatusGood ? 0 : 4;
}

std::string GsNameList::name(Index row) const {
  return io_store_name(pointers, store, order[static_cast<std::size_t>(row - 1)]);
}

Index GsNameList::longest() const {
  Index l = 0;
  for (Index k = 1; k <= shown; ++k) {
    const int i = order[static_cast<std::size_t>(k - 1)];
    l = std::max(l, pointers[static_cast<std::size_t>(i)] - pointers[static_cast<std::size_t>(i - 1)]);
  }
  return l;
}

// ---- Drawing ----

void GS_DRAW_LIST(const GsListView& view, const GsNameList& list, Status& status) {
  if (st_bad(status, "Subroutine GS_DRAW_LIST V0.2")) return;
  const GsRect& b = view.box;
  GS_LINESTYLE(1, 1.0f, kGsBlack, status);
  GS_FILLSTYLE(1, kGsYellow, status);
  GS_RECTANGLE(b.xmin, b.ymin, b.xmax, b.ymax, true, true, status);
  if (status != kStatusGood || view.height <= 0.0f) return;
  QG_CLIPWINDOW(b.xmin, b.ymin, b.xmax, b.ymax, status);
  QG_CLIP(true, status);
  GS_TEXTSTYLE(1, kGsBlue, view.height, 1.0f, 0.0f, 0, 1, 1, 0.0f, 1.0f, status);
  // Only the visible rows are drawn.
  const Index last = std::min<Index>(list.first + view.rows - 1, list.shown);
  for (Index k = list.first; k <= last && status == kStatusGood; ++k) {
    const std::string name = list.name(k);
    if (static_cast<Index>(name.size()) < list.offset) continue;
    QG_TEXT(b.xmin + view.height * 0.2f,
            b.ymax - static_cast<float>(k - list.first) * view.pitch - view.height * 0.05f,
            std::string_view(name).substr(static_cast<std::size_t>(list.offset - 1)), status);
  }
  QG_CLIP(false, status);
}

void GS_DRAW_SLIST(const GsRect& box, float height, const GsNameList& list, std::string_view empty,
                   GsListView& view, Status& status) {
  if (st_bad(status, "Subroutine GS_DRAW_SLIST V0.2")) return;
  view = GsListView{};
  view.box = box;
  view.height = height;
  view.pitch = 1.1f * height;
  if (list.shown == 0) {
    GS_PROMPT(false, 1, 1, {std::string(empty)}, box.xmin, box.ymin, box.xmax, box.ymax, status);
    view.rows = 0;
    return;
  }
  const float w = box.xmax - box.xmin;
  const float h = box.ymax - box.ymin;
  // Characters that fit across, at about 0.6 of the height each.
  const Index across = std::max<Index>(static_cast<Index>(w / (0.6f * height)), 1);
  if (list.longest() > across) {
    view.horizontal = true;
    view.hbar = {box.xmin, box.ymin, box.xmax, box.ymin + h / 15.0f};
    view.box.ymin = view.hbar.ymax;
  }
  view.rows = std::max<Index>(static_cast<Index>((view.box.ymax - view.box.ymin) / view.pitch), 1);
  if (list.shown > view.rows) {
    view.vertical = true;
    view.vbar = {box.xmax - w / 15.0f, view.box.ymin, box.xmax, box.ymax};
    view.box.xmax = view.vbar.xmin;
    if (view.horizontal) view.hbar.xmax = view.vbar.xmin;
  }
  GS_DRAW_LIST(view, list, status);
  if (view.vertical)
    GS_SCROLLBAR(view.vbar.xmin, view.vbar.ymin, view.vbar.xmax, view.vbar.ymax, true, status);
  if (view.horizontal)
    GS_SCROLLBAR(view.hbar.xmin, view.hbar.ymin, view.hbar.xmax, view.hbar.ymax, false, status);
}

void GS_DRAW_SELECTION(const GsRect& region, TextLines title, std::string_view directory,
                       const GsNameList& directories, const GsNameList& files,
                       TextLines information, GsSelectionLayout& layout, Status& status) {
  if (st_bad(status, "Subroutine GS_DRAW_SELECTION V0.7")) return;
  const float w = region.xmax - region.xmin;
  const float h = region.ymax - region.ymin;
  const float mx = w / 250.0f, my = h / 250.0f;
  const GsTransform saved = gs_unit_on(status);
  GS_LINESTYLE(1, 2.0f, kGsBlue, status);
  GS_FILLSTYLE(1, kGsBlue, status);
  GS_RECTANGLE(region.xmin, region.ymin, region.xmax, region.ymax, true, true, status);
  const int num_title = static_cast<int>(title.size());
  GS_PROMPT(false, std::max(num_title, 1), num_title, title.view(), region.xmin + mx,
            region.ymax - 0.125f * h + my, region.xmax - mx, region.ymax - my, status);
  GS_PROMPT(false, 1, 1, {"DIRECTORY: " + std::string(directory)}, region.xmin + mx,
            region.ymax - 0.175f * h + my, region.xmax - mx, region.ymax - 0.125f * h, status);

  const float area_bottom = region.ymin + 0.15f * h;
  const float area_top = region.ymax - 0.175f * h;
  const float area = area_top - area_bottom;
  const float left = region.xmin + mx;
  const float middle = region.xmin + 0.5f * w;
  const float button_height = area / 12.0f;
  layout.up = {left, area_top - button_height, (left + middle - mx / 2.0f) / 2.0f, area_top};
  layout.update = {layout.up.xmax, layout.up.ymin, middle - mx / 2.0f, area_top};
  GS_PROMPT(true, 1, 1, {"UP DIR"}, layout.up.xmin, layout.up.ymin, layout.up.xmax,
            layout.up.ymax, status);
  GS_PROMPT(true, 1, 1, {"UPDATE"}, layout.update.xmin, layout.update.ymin, layout.update.xmax,
            layout.update.ymax, status);
  const float bw = layout.up.xmax - layout.up.xmin;
  const float e = std::min(button_height / 12.0f, bw / 12.0f);
  layout.text_height = std::min(0.8f * (button_height - e), (bw - e) * 1.75f / 18.0f);

  const float lists_bottom = area_bottom + area / 2.7f;
  GS_DRAW_SLIST({left, lists_bottom, middle - mx / 2.0f, layout.up.ymin - my}, layout.text_height,
                directories, "NO SUB-DIRECTORIES", layout.directories, status);
  GS_DRAW_SLIST({middle + mx / 2.0f, area_bottom, region.xmax - mx, area_top}, layout.text_height,
                files, "NO SELECTED FILES", layout.files, status);
  const float quarter = left + (middle - mx / 2.0f - left) / 4.0f;
  const int num_info = static_cast<int>(information.size());
  GS_PROMPT(false, std::max(num_info, 1), num_info, information.view(), quarter + mx, area_bottom,
            middle - mx / 2.0f, lists_bottom - my, status);
  GS_SET_MENULAYOUT(1, 1, 12, 7, status);
  GS_MENU(1, 0, {"NO TITLE"}, 6, 6, kCommands, left, area_bottom, quarter, lists_bottom - my,
          status);
  layout.name = {region.xmin + mx, region.ymin + my, region.xmax - mx, area_bottom - my};
  gs_restore_transform(saved, status);
}

namespace {

// A click on a scroll bar of LENGTH from START at POSITION: button 0..5.
int bar_button(float position, float start, float length) {
  const long b = std::lround(6.0 * static_cast<double>(position - start) / length);
  return static_cast<int>(std::clamp<long>(b, 0, 5));
}

void scroll_vertical(GsNameList& list, Index rows, int button) {
  const Index last_first = std::max<Index>(list.shown - rows + 1, 1);
  switch (button) {
    case 0: list.first = last_first; break;
    case 1: list.first = std::min(list.first + rows - 2, last_first); break;
    case 2: list.first = std::min(list.first + 1, last_first); break;
    case 3: list.first = list.first - 1; break;
    case 4: list.first = list.first - rows + 2; break;
    default: list.first = 1;
  }
  list.first = std::max<Index>(list.first, 1);
  if (button != 2 && button != 3) list.offset = 1;
}

void scroll_horizontal(GsNameList& list, int button) {
  const Index last = std::max<Index>(list.longest() - 10, 1);
  const Index steps[] = {-last, -10, -1, 1, 10, last};
  list.offset = std::clamp<Index>(button == 0 ? 1 : button == 5 ? last : list.offset + steps[button], 1, last);
}

// A name joined to DIRECTORY, with one separator (none after the root).
std::string joined(std::string_view directory, std::string_view name) {
  if (name.empty()) return std::string(directory);
  if (name[0] == '/' || name[0] == '~' || name.substr(0, 2) == "..") return std::string(name);
  std::string out(directory);
  if (out.size() > 1 && out.back() != '/') out += '/';
  if (out.empty()) out = "/";
  if (out.size() == 1 && out[0] != '/') out += '/';
  return out + std::string(name);
}

bool exists_on_disk(const std::string& path) {
  bool exists = false;
  int kind = 0, retstat = 0;
  Status local = kStatusGood;
  IO_FILEEXIST(path, exists, kind, retstat, local);
  return exists;
}

bool in_list(const GsNameList& list, std::string_view name) {
  for (Index k = 1; k <= list.shown; ++k)
    if (list.name(k) == name) return true;
  return false;
}

}  // namespace

void GS_FILESELECTION(int max_title, int num_title, TextLines title, int max_info, int num_info,
                      TextLines info, int mode, bool confirm, int& cancelled,
                      std::string& file_name, Status& status) {
  constexpr std::string_view position = "Subroutine GS_FILESELECTION V0.28";
  if (st_bad(status, position)) return;
  if ((max_title < 1 || max_info < 1) && refuse(status, 1, position)) return;
  if ((num_title < 0 || num_title > max_title || num_info < 0 || num_info > max_info ||
       static_cast<std::size_t>(num_title) > title.size() ||
       static_cast<std::size_t>(num_info) > info.size()) &&
      refuse(status, 5, position))
    return;
  const std::span<const std::string> titles = title.view().first(static_cast<std::size_t>(num_title));
  const std::span<const std::string> help = info.view().first(static_cast<std::size_t>(num_info));

  bool ask_typed = gs_typed_answers();
  std::string name;
  if (ask_typed) {
    // Typed because the window has gone: the title says what the file is for.
    gs_question_on_terminal(titles, status);
    // A macro that ends here leaves the choice to the window, as at a menu.
    std::string question;
    for (const std::string& line : titles)
      if (const std::string_view t = used_text(line); !t.empty())
        question += (question.empty() ? "" : " ") + std::string(t);
    GsMacroEndToWindow to_window(question.empty() ? std::string("FILE NAME") : question);
    io_input_file_name(false, "FILE NAME", {"Enter file name"}, {"Enter valid text"}, 1, name,
                       status);
    if (to_window.ended(status)) ask_typed = false;
  }
  if (ask_typed) {
    if (status == kStatusEscape) {
      st_reset(status);
      if (vosq_io_dbdb.output_macro) io_outmacro_record("\\\\", status);
      cancelled = 1;
      return;
    }
    if (status != kStatusGood) return;
    file_name = name;
    cancelled = 0;
    return;
  }

  // Starting directory and name.
  std::string directory;
  std::string typed;
  const std::string_view proposed = used_part(file_name);
  if (!proposed.empty() && proposed[0] == '/') {
    IO_DIRPATH(proposed, directory, status);
    IO_NODIRPATH(proposed, typed, status);
    if (directory.empty()) directory = "/";
  } else {
    int retstat = 0;
    IO_GETCWD(retstat, directory, status);
    if (retstat != 0) {
      IO_WRITE("WARNING: Can't find out current directory", status);
      return;
    }
    typed = std::string(proposed);
    if (mode == 1 && remembered.input_defined) directory = remembered.input_directory;
    if (mode >= 2 && remembered.output_defined) directory = remembered.output_directory;
  }
  if (status != kStatusGood) return;

  GsRecordingHeld held;
  const bool recording = held.recording();
  const GsRect dddr = gs_state.dddr, dgpp = gs_state.dgpp;
  gs_state.dddr = gs_state.dgpp = GsRect{0.0f, 0.0f, 1.0f, 1.0f};
  gs_restore_graph_transform(status);
  const GsRect region = gs_state.message;

  GsNameList files, directories;
  GsSelectionLayout layout;
  std::string selected = "(No file selected)";
  // Reads both lists again; false when the dialogue cannot go on.
  auto relist = [&]() {
    while (true) {
      const int code = gs_list_directories(directory, directories, status);
      if (code == 0) break;
      IO_WRITE("WARNING: Problem obtaining list of directories", status);
      if (code == 1) {
        IO_WRITE("         Bad directory name: " + directory, status);
        IO_WRITE("NOTE: Automatically climbing one directory level", status);
        int up = 0;
        IO_UP_DIRECTORY(directory, up, status);
        if (up == 0 && status == kStatusGood) continue;
      }
      if (code == 2) IO_WRITE("         Too many directories", status);
      if (code == 3) IO_WRITE("         List of names too long", status);
      if (code == 4) IO_WRITE("         Internal directory change problem", status);
      return false;
    }
    if (!gs_list_files(directory, remembered.extension, remembered.pattern, files, status)) {
      IO_WRITE("WARNING: Problem obtaining list of files", status);
      return false;
    }
    return true;
  };
  auto information = [&] {
    return std::vector<std::string>{
        "SELECTED: " + selected,
        "TYPES: " + (remembered.extension.empty() ? std::string("<ALL PERMITTED>")
                                                  : "." + remembered.extension),
        "FILTER: " + (remembered.pattern.empty() ? std::string("<NO FILTERING>")
                                                 : remembered.pattern)};
  };
  auto draw = [&] {
    GS_DRAW_SELECTION(region, titles, directory, directories, files, information(), layout,
                      status);
  };
  auto warn = [&](std::string_view text) {
    gs_refusal({std::string(text)}, status);
  };
  auto show = [&](std::span<const std::string> lines) {
    const int k = static_cast<int>(lines.size());
    GS_MESSAGE(std::max(k, 1), k, lines, status);
  };

  bool listed = relist();
  if (listed) files.first = std::clamp<Index>(mode <= 2 ? remembered.input_first : remembered.output_first, 1,
                                    std::max<Index>(files.shown, 1));
  bool chosen = false;
  cancelled = 1;
  std::string chosen_name;
  bool last_was_tab = false;
  std::string last_tab_name;
  if (listed) draw();
  while (listed && status == kStatusGood) {
    int type = kInputNothing - 10;
    int workstation = 0;
    float x = 0.0f, y = 0.0f;
    std::string text = typed;
    (void)gs_unit_on(status);
    GS_TEXTSTYLE(1, kGsBlue, (layout.name.ymax - layout.name.ymin) / 5.0f, 1.0f, 0.0f, 0, 1, 1,
                 0.0f, 1.0f, status);
    QG_INP_EVENT(1, 1, true, "File Name (Optional)", !typed.empty(), layout.name.xmin,
                 layout.name.ymin, layout.name.xmax, layout.name.ymax, type, workstation, text, x,
                 y, status);
    if (status != kStatusGood) break;
    if (type == kInputNothing - 10) {
      status = kStatusEscape;
      break;
    }
    typed = std::string(used_part(text));
    const bool tab = type == kInputTab;
    bool redraw = false;
    std::string candidate;  // a name to check and take

    if (type == kInputRedraw) {
      redraw = true;
    } else if (type == kInputButton) {
      bool in_menu = false;
      int choice = 0;
      GS_CAL_MENUCHOICE(x, y, in_menu, choice, status);
      const std::string command = choice > 0 ? kCommands[static_cast<std::size_t>(choice - 1)] : "";
      redraw = true;
      if (command == "CANCEL") {
        break;
      } else if (command == "?") {
        show(kCommandHelp);
      } else if (command == "HELP") {
        show(help);
      } else if (command == "INFO") {
        GS_HELPFILESELECT(true, status);
      } else if (command == "TYPES" || command == "FILTER") {
        const bool types = command == "TYPES";
        std::string value = types ? remembered.extension : remembered.pattern;
        GS_INPC(true, types ? "ENTER FILE EXTENSION TYPE TO SELECT" : "ENTER FILE NAME PATTERN TO MATCH",
                {types ? "Enter file extension (no .)" : "Enter pattern, using asterisks as wild-cards"},
                {"Enter valid characters"}, 1, value, status);
        if (status == kStatusEscape) {
          st_reset(status);
        } else if (status == kStatusGood) {
          (types ? remembered.extension : remembered.pattern) = std::string(used_part(value));
          listed = relist();
        }
      } else if (inside(layout.up, x, y)) {
        int up = 0;
        IO_UP_DIRECTORY(directory, up, status);
        if (up != 0)
          warn("WARNING: You can't go above the \"root\" directory");
        else
          listed = relist();
      } else if (inside(layout.update, x, y)) {
        listed = relist();
      } else if (directories.shown > 0 && inside(layout.directories.box, x, y)) {
        const Index row = directories.first +
                          static_cast<Index>((layout.directories.box.ymax - y) / layout.directories.pitch);
        if (row <= directories.shown) {
          directory = joined(directory, directories.name(row));
          listed = relist();
        }
      } else if (files.shown > 0 && inside(layout.files.box, x, y)) {
        const Index row =
            files.first + static_cast<Index>((layout.files.box.ymax - y) / layout.files.pitch);
        if (row <= files.shown) candidate = files.name(row);
      } else if (layout.files.vertical && inside(layout.files.vbar, x, y)) {
        scroll_vertical(files, layout.files.rows,
                        bar_button(y, layout.files.vbar.ymin, layout.files.vbar.ymax - layout.files.vbar.ymin));
      } else if (layout.files.horizontal && inside(layout.files.hbar, x, y)) {
        scroll_horizontal(files, bar_button(x, layout.files.hbar.xmin,
                                            layout.files.hbar.xmax - layout.files.hbar.xmin));
      } else if (layout.directories.vertical && inside(layout.directories.vbar, x, y)) {
        scroll_vertical(directories, layout.directories.rows,
                        bar_button(y, layout.directories.vbar.ymin,
                                   layout.directories.vbar.ymax - layout.directories.vbar.ymin));
      } else if (layout.directories.horizontal && inside(layout.directories.hbar, x, y)) {
        scroll_horizontal(directories,
                          bar_button(x, layout.directories.hbar.xmin,
                                     layout.directories.hbar.xmax - layout.directories.hbar.xmin));
      } else if (gs_state.form_document) {
        bool opened = false;
        GS_ON_PRINT(true, opened, status);
        if (opened && status == kStatusGood) {
          draw();
          GS_OFF_PRINT(status);
          gs_end_graphics_file(status);
        }
      }
    } else if ((type == kInputLine || tab) && !typed.empty()) {
      redraw = true;
      if (tab && !(last_was_tab && last_tab_name == typed)) {
        // Completion among the listed files and directories.
        const std::string mask = typed + "*";
        std::vector<bool> files_ok = files.selected, dirs_ok = directories.selected;
        int file_matches = 0, dir_matches = 0;
        IO_FILESMATCH(std::max(files.count, 2), files.count, files.pointers, files.store, mask,
                      files_ok, file_matches, status);
        IO_FILESMATCH(std::max(directories.count, 2), directories.count, directories.pointers,
                      directories.store, mask, dirs_ok, dir_matches, status);
        if (file_matches + dir_matches == 1) {
          for (int i = 1; i <= directories.count; ++i)
            if (dirs_ok[static_cast<std::size_t>(i - 1)]) {
              directory = joined(directory, io_store_name(directories.pointers, directories.store, i));
              typed.clear();
              listed = relist();
            }
          for (int i = 1; i <= files.count; ++i)
            if (files_ok[static_cast<std::size_t>(i - 1)])
              typed = io_store_name(files.pointers, files.store, i);
        } else if (file_matches + dir_matches > 1) {
          GS_SUBFILE(std::max(files.count, 2), files.count, files.pointers, files.store, files_ok,
                     std::max(directories.count, 2), directories.count, directories.pointers,
                     directories.store, dirs_ok, typed, status);
          typed = std::string(used_part(typed));
        }
      } else if (!tab) {
        // The typed name passes the translation a typed file name passes at
        // the terminal: an assignment sets its variable and names no file
        // (the name is asked again), a variable's name gives its value. A
        // path longer than a response line is the window's own and stays
        // whole: the translation would cut it.
        if (typed.size() <= kResponseLength) {
          const std::optional<std::string> translated =
              gs_translated_answer(typed, status);
          if (!translated) {
            typed.clear();
            last_was_tab = false;
            last_tab_name.clear();
            draw();
            continue;
          }
          if (status != kStatusGood) break;
          typed = std::string(used_part(*translated));
          if (typed.empty()) continue;
        }
        std::string where = directory;
        std::string entry = typed;
        int retstat = 0;
        bool is_file = false;
        IO_CHANGEDIR(where, entry, retstat, is_file, status);
        if (retstat == 2) {
          warn(" BAD FILE PATH SYNTAX ");
        } else if (retstat == 1 && mode <= 2) {
          warn(" !!! FILE DOES NOT EXIST, OR WRONG PATH !!!");
        } else if (retstat == 0 && !is_file) {
          directory = where;
          typed.clear();
          listed = relist();
        } else {
          candidate = retstat == 0 ? joined(where, used_part(entry)) : joined(directory, typed);
        }
      }
    }
    last_was_tab = tab;
    last_tab_name = typed;

    if (!candidate.empty() && status == kStatusGood) {
      const std::string full = candidate[0] == '/' ? candidate : joined(directory, candidate);
      std::string dir_part, name_part;
      IO_DIRPATH(full, dir_part, status);
      IO_NODIRPATH(full, name_part, status);
      // A filter never hides a file that a new output name would overwrite:
      // existence is looked up on disk.
      bool accept = true;
      if (mode == 1)
        accept = joined(dir_part, "x") == joined(directory, "x") ? in_list(files, name_part)
                                                                 : exists_on_disk(full);
      if (mode == 4) accept = !exists_on_disk(full);
      if (!accept) {
        warn(mode == 4 ? " !!! FILE MUST NOT ALREADY EXIST !!!" : " !!! FILE DOES NOT EXIST !!!");
        typed.clear();
      } else {
        selected = full;
        bool yes = true;
        if (confirm) {
          GS_INPL(false, false, false, true, "File Selection O.K. ? :   " + full,
                  {"Enter \"YES\" if the choice is O.K.", "Click on \"YES\" or \"NO\""}, {}, yes,
                  status);
          if (status == kStatusEscape) {
            st_reset(status);
            yes = false;
          }
        }
        if (yes && status == kStatusGood) {
          chosen = true;
          chosen_name = full;
          cancelled = 0;
          break;
        }
      }
    }
    if (!listed) break;
    if (status != kStatusGood) {
      Status local = kStatusGood;
      IO_WRITE("WARNING: Problem in file selection widget, bad internal error status", local);
      ST_OUT(status);
      break;
    }
    if (redraw) draw();
  }

  gs_state.dddr = dddr;
  gs_state.dgpp = dgpp;
  gs_restore_graph_transform(status);
  Status local = kStatusGood;
  QG_SET_UPDATE(1, local);
  held.release();
  if (!listed && !chosen) return;
  if (recording) io_outmacro_record(chosen ? std::string_view(chosen_name) : "\\\\", local);
  if (vosq_io_dbdb.log_open) {
    IO_WRITE_FILE(kStreamLog, "GUI: FILE SELECTION", local);
    IO_WRITE_FILE(kStreamLog, chosen ? "FILE = " + chosen_name : std::string("<CANCEL>"), local);
  }
  if (chosen) file_name = chosen_name;
  if (mode == 1) {
    remembered.input_directory = directory;
    remembered.input_defined = true;
    remembered.input_first = files.first;
  } else if (mode >= 2) {
    remembered.output_directory = directory;
    remembered.output_defined = true;
    remembered.output_first = files.first;
  }
}

void gs_forget_file_selection() { remembered = Remembered{}; }

}  // namespace kesta
