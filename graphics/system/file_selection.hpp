#pragma once
// The parts of the file chooser: its name lists, their drawing and the
// layout of the drawn dialogue (for the chooser and its benchmark).

#include <string>
#include <string_view>
#include <vector>

#include "core/text_lines.hpp"
#include "core/types.hpp"
#include "graphics/system/state.hpp"

namespace kesta {

// A listed directory: names packed in STORE (POINTERS), the shown ones
// (SELECTED, SHOWN of them) sorted into ORDER; FIRST is the first visible
// row and OFFSET the first visible character (both 1-based).
struct GsNameList {
  int count = 0;
  std::vector<Index> pointers;
  std::string store;
  std::vector<bool> selected;
  int shown = 0;
  std::vector<int> order;
  Index first = 1;
  Index offset = 1;

  // The name in sorted row ROW (1..shown).
  std::string name(Index row) const;
  Index longest() const;
};

// One drawn list: its text box, text size, rows and scroll bars.
struct GsListView {
  GsRect box;
  float height = 0.0f, pitch = 0.0f;
  Index rows = 0;
  bool vertical = false, horizontal = false;
  GsRect vbar, hbar;
};

struct GsSelectionLayout {
  GsRect up, update, name;
  GsListView directories, files;
  float text_height = 0.0f;
};

// The files of DIRECTORY with EXTENSION (all when empty) matching PATTERN
// (all when empty), sorted; false when they could not be listed.
bool gs_list_files(std::string_view directory, std::string_view extension,
                   std::string_view pattern, GsNameList& list, Status& status);
// The sub-directories, sorted: 0, or 1 bad directory, 2 too many, 3 names too
// long, 4 another failure.
int gs_list_directories(std::string_view directory, GsNameList& list, Status& status);

// The visible rows of a list, from its first row and first character.
void GS_DRAW_LIST(const GsListView& view, const GsNameList& list, Status& status);
// A list in BOX with its scroll bars; an empty one shows EMPTY.
void GS_DRAW_SLIST(const GsRect& box, float height, const GsNameList& list, std::string_view empty,
                   GsListView& view, Status& status);
void GS_DRAW_SELECTION(const GsRect& region, TextLines title, std::string_view directory,
                       const GsNameList& directories, const GsNameList& files,
                       TextLines information, GsSelectionLayout& layout, Status& status);
// Forgets the remembered directories and filters (a new run).
void gs_forget_file_selection();

}  // namespace kesta
