#include "formats/gui_input.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <sys/types.h>
#include <string_view>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/filenames.hpp"
#include "core/io_output.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/adsc_format.hpp"
#include "formats/binary_format.hpp"
#include "formats/bruker_format.hpp"
#include "formats/bsl_format.hpp"
#include "formats/fixed_header_formats.hpp"
#include "formats/format_menus.hpp"
#include "formats/fuji_format.hpp"
#include "formats/gas_format.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mar_format.hpp"
#include "formats/mervoda_format.hpp"
#include "formats/raxis_format.hpp"
#include "formats/series_sizes.hpp"
#include "formats/tiff_format.hpp"
#include "formats/tulma_format.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/drawing.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

constexpr float kNoDetectorLimit = 1.7e38f;

// While alive, the lines written to the terminal still reach it and are
// also kept: the reader's messages go into the warning box of a failed read.
// HOLD keeps them from the terminal until `release`.
class MessageCollector {
 public:
  explicit MessageCollector(bool hold = false)
      : terminal_(io_stream(kStreamTerminal)), hold_(hold) {
    cookie_io_functions_t functions{};
    functions.write = [](void* cookie, const char* bytes, std::size_t size) -> ssize_t {
      auto* self = static_cast<MessageCollector*>(cookie);
      self->text_.append(bytes, size);
      if (self->terminal_ != nullptr && !self->hold_) {
        std::fwrite(bytes, 1, size, self->terminal_);
        std::fflush(self->terminal_);
      }
      return static_cast<ssize_t>(size);
    };
    tee_ = fopencookie(this, "w", functions);
    if (tee_ != nullptr) io_set_stream(kStreamTerminal, tee_);
  }
  ~MessageCollector() {
    if (tee_ == nullptr) return;
    io_set_stream(kStreamTerminal, terminal_);
    std::fclose(tee_);
  }
  MessageCollector(const MessageCollector&) = delete;
  MessageCollector& operator=(const MessageCollector&) = delete;

  // The warning and error lines written so far (ALL: every line).
  std::vector<std::string> warnings(bool all = false) {
    if (tee_ != nullptr) std::fflush(tee_);
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text_.size()) {
      std::size_t end = text_.find('\n', at);
      if (end == std::string::npos) end = text_.size();
      const std::string line = text_.substr(at, end - at);
      if (all || line.starts_with("WARNING") || line.starts_with("ERROR")) out.push_back(line);
      at = end + 1;
    }
    return out;
  }

  // A series member that was not read: of the held lines only the reader's
  // reasons go to the terminal. Its closing lines ("Cannot decode image"
  // after a reason given already, the file "was not input") are left out:
  // the series' loop says once for itself that the member was not input.
  void release_reasons() {
    if (!hold_) return;
    bool reason_given = false;
    std::string kept;
    for (const std::string& line : warnings(true)) {
      if (is_unread_file_line(line, "was not input")) continue;
      if (line == kCannotDecodeLine && reason_given) continue;
      if (line.starts_with("WARNING") || line.starts_with("ERROR")) reason_given = true;
      kept += line + "\n";
    }
    text_ = std::move(kept);
    release();
  }

  // A series member read in part as the first one was: of the held lines
  // those saying the image was cut are left out, said for the first member.
  void release_but_cut() {
    if (!hold_) return;
    std::string kept;
    for (const std::string& line : warnings(true))
      if (!is_partial_image_line(line)) kept += line + "\n";
    text_ = std::move(kept);
    release();
  }

  // Held lines go to the terminal after all, from here on as they come.
  void release() {
    if (!hold_) return;
    if (tee_ != nullptr) std::fflush(tee_);
    if (terminal_ != nullptr) {
      std::fwrite(text_.data(), 1, text_.size(), terminal_);
      std::fflush(terminal_);
    }
    hold_ = false;
  }

 private:
  std::FILE* terminal_;
  bool hold_;
  std::FILE* tee_ = nullptr;
  std::string text_;
};

// What a graphical reader gets: the arrays' request and the file (its name
// translated).
struct GuiRead {
  const ReadRequest& request;
  std::string& file_name;
  const std::string& path;
  Status& status;
};

// The answers of a running series' first member; null outside a series.
const FioReadAnswers* series_members = nullptr;
// The last line a series member's read said of header values it did not
// store, so that a series whose members share a header says it once.
std::string series_left_out_said;
// Where a read keeps that line: nowhere outside a series.
std::string* left_out_said() { return series_members != nullptr ? &series_left_out_said : nullptr; }

// What the file of IMAGE gave for the database: outside a series noted as a
// series' first file's; a member's as the series' result takes it.
FioFilePixelSizes read_sizes(const ScratchImage& image, const std::string& file_name) {
  const FioFilePixelSizes sizes = fio_file_pixel_sizes(image);
  if (series_members != nullptr) return fio_member_sizes(sizes, file_name);
  fio_note_read_sizes(sizes);
  return sizes;
}

// The data set and image chosen last in a file of several (what a series'
// later members take).
FioStackAnswers stack_answers;

// An image number 1..COUNT asked in a value box when there is a choice. In a
// running series VALUE is the first member's answer, not asked; one the file
// does not hold is said and nothing is read.
bool gui_number(const char* prompt, const char* help, Index count, int& value, Status& status) {
  const int last = static_cast<int>(std::clamp<Index>(count, 1, 1000000));
  if (series_members != nullptr) {
    if (value <= last) return true;
    IO_WRITE("WARNING: " + std::string(prompt) + " " + std::to_string(value) +
                 " is not in the file (1 to " + std::to_string(last) + ")",
             status);
    return false;
  }
  value = std::clamp(value, 1, last);
  if (count > 1)
    GS_INPI(true, 1, last, true, prompt, {help}, {"Enter an integer within the given range"},
            value, status);
  return status == kStatusGood;  // CANCEL leaves the user escape: nothing is read
}

// The gas detector reader's own box for a failed read (the boxes of every
// failed read follow it); nothing for failures its messages explain. In a
// running series its lines are written instead: nothing may wait.
void gas_box(int why, Status& status) {
  static const std::string kHeader = "PROBLEM WITH HEADER FILE:";
  std::vector<std::string> lines;
  switch (why) {
    case kGasEndOfFile: lines = {kHeader, "EOF, NO IMAGE HEADER SECTION"}; break;
    case kGasBadInput: lines = {kHeader, "BAD DATA BEFORE IMAGE HEADER SECTION"}; break;
    case kGasNoSection: lines = {kHeader, "IMAGE HEADER SECTION NOT FOUND"}; break;
    case kGasTooBig: lines = {"IMAGE TOO BIG FOR PROGRAMS ARRAYS"}; break;
    case kGasUnknownBits: lines = {"UNKNOWN IMAGE HEADER FILE TYPE"}; break;
    case kGasNoMemoryFile: lines = {"PROBLEM WITH HISTOGRAM MEMORY FILE:", "FILE NOT OPENED"}; break;
    default: return;
  }
  if (series_members != nullptr) {
    std::string line = "WARNING:";
    for (const std::string& part : lines) line += " " + part;
    IO_WRITE(line, status);
    return;
  }
  const int num = static_cast<int>(lines.size());
  GS_FWARNING(num, num, lines, status);
}

// The file does not say whether it has the old 512-byte header record, nor
// its byte order and signedness: asked in value boxes, the last answers
// proposed, kept only when every question was answered.
ImageRead gas_read(GuiRead& g) {
  GasLayout layout;
  if (const GasRead scanned = gas_layout(g.path, layout, g.status); scanned != kGasRead) {
    gas_box(scanned, g.status);
    ImageRead failed;
    failed.retstat = scanned;
    return failed;
  }
  Status& status = g.status;
  if (gas_fits(g.path, layout, g.request, status) != kGasRead) {
    gas_box(kGasTooBig, status);
    ImageRead failed;
    failed.retstat = kGasTooBig;
    return failed;
  }
  if (series_members != nullptr) {
    ImageRead read = read_gas_file(g.path, layout, g.request, series_members->gas, status);
    if (!read.ok()) gas_box(read.retstat, status);
    return read;
  }
  GasChoice choice = gas_answers();
  GS_INPL(true, false, true, true, "BINARY \"HM\" FILE HEADER",
          {"\"YES\" if the binary file starts with a 512-byte header record"}, {"Enter YES or NO"},
          choice.header_record, status);
  int image = static_cast<int>(std::clamp<Index>(choice.image, 1, 1000000));
  if (status != kStatusGood ||
      !gui_number("IMAGE NUMBER",
                  "Enter number of the required image to input from the image sequence",
                  layout.frames, image, status))
    return {};
  choice.image = layout.frames > 1 ? image : 1;
  GS_INPL(true, false, true, true, "PERFORM BYTE SWAPPING",
          {"\"YES\" if the byte order needs to be changed"}, {"Enter YES or NO"}, choice.swap,
          status);
  GS_INPL(true, false, true, true, "SIGNED DATA",
          {"\"YES\" if the data is signed, \"NO\" for unsigned data"}, {"Enter YES or NO"},
          choice.is_signed, status);
  if (status != kStatusGood) return {};
  gas_answers() = choice;
  ImageRead read = read_gas_file(g.path, layout, g.request, choice, status);
  if (!read.ok()) gas_box(read.retstat, status);
  return read;
}

ImageRead tiff_road(GuiRead& g, bool imagequant) {
  if (series_members != nullptr)
    return tiff_member_read(g.request, imagequant, series_members->tiff, g.file_name, g.status);
  return tiff_gui_read(g.request, imagequant, g.file_name, g.status);
}
ImageRead tiff_read(GuiRead& g) { return tiff_road(g, false); }
ImageRead imagequant_read(GuiRead& g) { return tiff_road(g, true); }
ImageRead binary_read(GuiRead& g) {
  if (series_members != nullptr)
    return binary_member_read(g.request, series_members->binary, g.file_name, g.status);
  return binary_gui_read(g.request, g.file_name, g.status);
}

// The formats whose file work needs nothing but the file.
template <auto Read>
ImageRead plain_read(GuiRead& g) {
  return Read(g.path, g.request, g.status);
}

ImageRead tulma_read(GuiRead& g) {
  return read_tulma_file(g.path, g.request, 1, g.status);
}
ImageRead mar_read(GuiRead& g) {
  return read_mar_file(g.path, g.request, false, g.status);
}
ImageRead mar_pck_read(GuiRead& g) {
  return read_mar_file(g.path, g.request, true, g.status);
}

ImageRead bsl_read(GuiRead& g) {
  const std::vector<BslDataSet> sets = bsl_data_sets(g.path, g.status);
  if (sets.empty()) return {};
  int set = 1, image = 1;
  if (series_members != nullptr) {
    set = series_members->stack.set;
    image = series_members->stack.image;
  }
  if (!gui_number("DATA-SET (\"MEMORY\") NUMBER", "Enter number of data-set (\"memory\") to input",
                  static_cast<Index>(sets.size()), set, g.status) ||
      !gui_number("IMAGE NUMBER", "Enter number of image within the data-set (\"memory\") to input",
                  sets[static_cast<std::size_t>(set - 1)].images, image, g.status))
    return {};
  if (series_members == nullptr) stack_answers = {set, image};
  return read_bsl_file(g.path, sets, g.request, set, image, g.status);
}

// A stack of images: the image number when there is a choice.
template <auto Count, auto Read>
ImageRead stack_read(GuiRead& g) {
  const Index images = Count(g.path, g.status);
  if (images < 1) return {};
  int image = series_members != nullptr ? series_members->stack.image : 1;
  if (!gui_number("IMAGE NUMBER", "Enter number of the required image to input from the image sequence",
                  images, image, g.status))
    return {};
  if (series_members == nullptr) stack_answers = {1, image};
  return Read(g.path, g.request, image, g.status);
}

// The Fuji reader's warnings in boxes and its steps in prompts. In a running
// series nothing may wait, and the terminal has its lines already; so it has
// when the boxes would be written there.
void fuji_show(std::string_view text, bool warning, Status& status) {
  if (series_members != nullptr || (warning && gs_warnings_on_terminal())) return;
  const std::string line(text);
  if (warning)
    GS_FWARNING(1, 1, {line}, status);
  else
    GS_FPROMPT(1, 1, {line}, status);
}

ImageRead fuji_read(GuiRead& g) {
  std::string image_file = fuji_image_file(g.path);
  if (image_file.empty() && series_members != nullptr) {
    IO_WRITE("WARNING: THE MATCHING .IMG FILE HAS NOT BEEN FOUND: " + g.file_name, g.status);
    ImageRead failed;
    failed.retstat = 1;
    return failed;
  }
  if (image_file.empty()) {
    GS_FWARNING(2, 2, {"THE MATCHING .IMG FILE HAS NOT BEEN FOUND", "PLEASE SELECT THE BINARY FILE"},
                g.status);
    int cancelled = 0;
    std::string chosen = g.path;
    GS_FILESELECTION(1, 1, {"SELECT THE BINARY (.img) FILE"}, 1, 1,
                     {"The file of the pixel values that goes with the .inf file"}, 1, false,
                     cancelled, chosen, g.status);
    if (g.status != kStatusGood || cancelled != 0) return {};
    if (!input_path(chosen, image_file, g.status)) return {};
  }
  return read_fuji_file(g.path, image_file, g.request, fuji_show, g.status);
}

using GuiReader = ImageRead (*)(GuiRead& g);

// A format of the graphical input: its internal name (stored under
// "#INPUT_FORMAT"), its button and help line in the unknown-extension menu
// (none for the gas detector pair, found by its file names only), its reader
// and the overload value stored after it (FIXED: always this one; otherwise
// the reader's own, this one when it gives none).
struct GuiFormat {
  const char* name;
  const char* button;
  const char* help;
  GuiReader read;
  float overload;
  bool fixed;
};

// clang-format off
const std::array<GuiFormat, 17> kGuiFormats = {{
    {"ADSC", "ADSC", "ADSC: ADSC detector data format e.g. Quantum 4", plain_read<read_adsc_file>, kNoDetectorLimit, false},
    {"BINARY", "BINARY", "BINARY: Flexible interactive input of unformatted data", binary_read, kNoDetectorLimit, false},
    {"BRUKER", "BRUKER", "BRUKER: Bruker Area Detector Frame Data Format, e.g. SMART CCD", plain_read<read_bruker_file>, kNoDetectorLimit, false},
    {"BSL/OTOKO", "BSL/OTOKO", "BSL/OTOKO: Small-angle laboratory (BSL) and OTOKO formats", bsl_read, kNoDetectorLimit, false},
    {"MERVODA", "MERVODA", "MERVODA: Simple ASCII X/Y column format data", plain_read<read_mervoda_file>, kNoDetectorLimit, true},
    {"KESTA STANDARD FORMAT", "KESTA", "KESTA: Self describing readable KESTA standard format", plain_read<read_kesta_file>, kNoDetectorLimit, false},
    {"FUJI BAS-2000", "FUJI (BAS)", "FUJI (BAS): FUJI BAS-2000, BAS-1500 image plate scanners", fuji_read, kNoDetectorLimit, true},
    {"HAMAMATSU PHOTONICS", "HAMAMATSU", "HAMAMATSU: (PHOTONICS) C4880 CCD detector format", plain_read<read_hamamatsu_file>, 65534.5f, true},
    {"IMAGEQUANT", "IMAGEQUANT", "IMAGEQUANT: IMAGEQUANT TIFF based format (Molecular Dynamics)", imagequant_read, 99999.5f, true},
    {"TULMA", "TULMA", "TULMA: Simplified subset of the WLT format", tulma_read, kNoDetectorLimit, false},
    {"MAR FORMAT", "MAR", "MAR: MarResearch \"image\" format for on-line IP systems", mar_read, 131071.5f, true},
    {"MAR-PCK", "MAR-PCK", "MAR-PCK: Compressed old MarResearch \"image\" format", mar_pck_read, 131071.5f, true},
    {"PHOTOMETRICS CCD FORMAT", "PHOTOMETRICS", "PHOTOMETRICS: CCD Format (OZWA X-ray Image intensifier system)", stack_read<photometrics_images, read_photometrics_file>, 16383.5f, true},
    {"PRINCETON CCD FORMAT", "PRINCETON", "PRINCETON: CCD Format (OZWA X-ray Image intensifier system)", stack_read<princeton_images, read_princeton_file>, 65534.5f, true},
    {"RIGAKU R-AXIS", "RIGAKU R-AXIS", "RIGAKU R-AXIS: Riguka image plate scanner format", plain_read<read_raxis_file>, kNoDetectorLimit, false},
    {"TIFF", "TIFF", "TIFF: Limited TIFF input (compressed data not supported)", tiff_read, 65334.5f, true},
    {"GAS 2-D DETECTOR (OZWA)", nullptr, nullptr, gas_read, kNoDetectorLimit, true},
}};
// clang-format on

const GuiFormat* gui_format_named(std::string_view name) {
  for (const auto& f : kGuiFormats)
    if (name == f.name) return &f;
  return nullptr;
}

// Saved for the run: the format used last, whether a file has been read,
// and the size in its file of the image read last outside a series, and of
// the one read last at all.
struct GuiInputState {
  std::string format;
  bool read_once = false;
  FioImageSize size;
  FioImageSize last_size;
};
GuiInputState gui_input_state;

bool file_exists(const std::string& name, Status& status) {
  if (name.empty()) return false;
  bool exists = false;
  int kind = 0, retstat = 0;
  IO_FILEEXIST(name, exists, kind, retstat, status);
  return exists && kind == 1;
}

// clang-format off
const std::string kSelectionInfo[] = {
    "Data for the program main data array is required, normally",
    "input a file stored on disk. The file selection tool will",
    "help you to search directories and find the required file.",
    " ",
    "The following file formats are presently supported:",
    " ",
    "  (no extension): GAS 2-D DETECTOR (OZWA) format",
    "  .bin: BINARY user specified format",
    "  .bsl: BSL / OTOKO format",
    "  .mvd: MERVODA ASCII 1-D X/Y graph format",
    "  .cor: BINARY user specified format",
    "  .cor2: BINARY user specified format",
    "  .corr: BINARY user specified format",
    "  .wlt: \"TULMA\" or BINARY format",
    "  .kzt: KESTA format",
    "  .final: BINARY user specified format",
    "  .gel: Molecular Dynamics IMAGEQUANT (tiff) format",
    "  .inf: FUJI BAS-2000 (BAS-1500) format",
    "  .info: BINARY user specified format",
    "  .image: MarResearch IP scanner format",
    "  .img: FUJI BAS-2000 (BAS-1500) format",
    "  .img: HAMAMATSU CCD format OR ADSC format",
    "  .mar1200: MarResearch IP scanner format",
    "  .mar1600: MarResearch IP scanner format",
    "  .mar2000: MarResearch IP scanner format",
    "  .mar2300: MarResearch IP scanner format",
    "  .mar3450: MarResearch IP scanner format",
    "  .mccd: TIFF format from MAR CCD camera",
    "  .osc: Rigaku R-AXIS IV format",
    "  .pck: Old compressed MarResearch format",
    "  .pmi: PHOTOMETRICS CCD format",
    "  .spe: PRINCETON INSTRUMENTS CCD format",
    "  .tif: Adobe TIFF format",
    "  .tiff: Adobe TIFF format",
    " ",
    "  Files with numerical extensions e.g. .001",
    "  will be tested to see if they appear to be",
    "  Bruker area detector frame data file",
    " ",
    "Files with unknown extensions will invoke",
    "a menu containing the available choices.",
};

const std::string kUnknownHelp[] = {
    "The file format of the file that you have specified",
    "is not known from it's file extension type. You can",
    "choose one of the available input formats. If the",
    "format you need is not available press the \"CANCEL\"",
    "button.",
    " ",
    "(In the \"INPUT\" command of the \"KEYBOARD\" interface",
    "there may be more input file formats available.)",
};
// clang-format on

// The unknown-extension menu; empty after "CANCEL" (or a bad status).
std::string unknown_extension_menu(Status& status) {
  std::vector<std::string> buttons{"CANCEL", "?", "HELP"};
  std::vector<std::string> helps{"CANCEL: Exit without inputting data from a file",
                                 "?: List of available formats and commands",
                                 "HELP: Help text on menu and available choices"};
  for (const auto& f : kGuiFormats)
    if (f.button != nullptr) {
      buttons.emplace_back(f.button);
      helps.emplace_back(f.help);
    }
  const int num = static_cast<int>(buttons.size());
  auto draw = [&] {
    GS_BACKGROUND(status);
    GS_SET_MENULAYOUT(0, 4, 30, 12, status);
    GS_FMENU(1, 1, {"UNKNOWN EXTENSION: SELECT FILE FORMAT:"}, num, num, buttons, status);
  };
  draw();
  while (status == kStatusGood) {
    int type = 0;
    std::string command;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(num, num, buttons, 1, type, command, x, y, status);
    if (status != kStatusGood) break;
    if (type == kGsChoiceRedraw) {
      draw();
      continue;
    }
    if (type != kGsChoiceButton) continue;
    if (command == "CANCEL") return {};
    if (command == "?" || command == "HELP") {
      if (command == "?")
        GS_MESSAGE(num, num, helps, status);
      else
        GS_MESSAGE(8, 8, kUnknownHelp, status);
      if (status == kStatusEscape) st_reset(status);
      draw();
      continue;
    }
    for (const auto& f : kGuiFormats)
      if (f.button != nullptr && command == f.button) return f.name;
  }
  return {};
}

// A file name as a box's line of at most 80 characters: a longer one keeps
// its end, which names the file, rather than its start.
std::string box_line_name(const std::string& file_name) {
  return file_name.size() <= 80 ? file_name : "..." + file_name.substr(file_name.size() - 77);
}

void warning_box(std::string_view message, const std::string& file_name,
                 const std::vector<std::string>& more, Status& status) {
  if (series_members != nullptr || gs_warnings_on_terminal()) {
    // Nothing may wait once a series runs, and no box is drawn without a
    // window: one line, MORE being on the terminal already.
    const std::string_view prefix = message.starts_with("WARNING") ? "" : "WARNING: ";
    const std::string_view colon = message.ends_with(':') ? "" : ":";
    IO_WRITE(std::string(prefix) + std::string(message) + std::string(colon) + " " + file_name,
             status);
    return;
  }
  std::vector<std::string> lines{std::string(message), box_line_name(file_name)};
  lines.insert(lines.end(), more.begin(), more.end());
  const int num = static_cast<int>(lines.size());
  GS_FWARNING(num, num, lines, status);
}

// The next or previous file of a series that is not there. Said at the
// terminal as well as in the box: a macro that ends on it leaves the box up
// with nothing else telling why it ended.
void next_file_missing(const std::string& file_name, Status& status) {
  constexpr std::string_view kMessage = "FAILED TO FIND NEW \"SEQUENCE\" FILE:";
  if (series_members != nullptr) return warning_box(kMessage, file_name, {}, status);
  gs_refusal({std::string(kMessage), box_line_name(file_name)}, status);
}

// A read that failed (MORE: its reader's lines), or that gave no data, is
// refused: in the window by its boxes, the second saying the data are not
// defined; without one by its one line, the reader's lines said already.
void read_refused(bool failed, const std::string& file_name, const std::vector<std::string>& more,
                  Status& status) {
  if (failed)
    warning_box("WARNING: PROBLEM INPUTTING DATA FROM FILE:", file_name, more, status);
  if (!failed || !gs_warnings_on_terminal())
    warning_box("WARNING: DATA NOT DEFINED CORRECTLY", file_name, {}, status);
}

// The size of IMAGE in its file, as its reader gave it (0 x 0: none given).
FioImageSize own_size(const ScratchImage& image) {
  if (image.file_xnum < 1 || image.file_ynum < 1) return {};
  return {image.file_xnum, image.file_ynum};
}

// What became of a read: committed to the target; nothing to report (a
// cancelled question); not read, its message already written; the reader
// failed; or a file read without data.
enum class ReadOutcome { kCommitted, kNothing, kRefused, kFailed, kUndefined };

// FILE_NAME read in FORMAT and, when read, committed to TARGET with the
// input's stored keys.
ReadOutcome read_and_commit(const std::string& format, const ImageTarget& target,
                            bool& data_defined, std::string& file_name, Status& status);

}  // namespace

void fio_reset_gui_input() {
  gui_input_state = GuiInputState{};
  stack_answers = FioStackAnswers{};
}

FioReadAnswers fio_read_answers() {
  return {tiff_answers(),        binary_answers(), gas_answers(), stack_answers,
          gui_input_state.size, false,            gui_input_state.format};
}

FioImageSize fio_last_read_size() { return gui_input_state.last_size; }

namespace {

// The format a file named or stepped to is read in: the series' own once one
// runs, else the one read last.
std::string format_of_next_file() {
  if (series_members != nullptr && !series_members->format.empty()) return series_members->format;
  return gui_input_state.format;
}

}  // namespace

FioSeriesMembers::FioSeriesMembers(const FioReadAnswers& answers)
    : answers_(answers), outer_(series_members) {
  if (outer_ == nullptr) series_left_out_said.clear();
  series_members = &answers_;
}

FioSeriesMembers::~FioSeriesMembers() { series_members = outer_; }

std::string fio_format_by_extension(std::string& file_name, Status& status) {
  if (status != kStatusGood) return {};
  std::string base, extension;
  IO_NODIRPATH(file_name, base, status);
  IO_EXTENSION(base, extension, status);
  extension = std::string(used_text(extension));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string& name = file_name;
  auto is = [&](std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), extension) != list.end();
  };

  if (extension.empty()) {
    // The gas detector's pair: a header file and the same name with "hm".
    if (name.size() > 2 && name.ends_with("hm")) {
      const std::string header = name.substr(0, name.size() - 2);
      if (file_exists(header, status)) {
        file_name = header;
        return "GAS 2-D DETECTOR (OZWA)";
      }
    } else if (file_exists(name + "hm", status)) {
      return "GAS 2-D DETECTOR (OZWA)";
    }
    return {};
  }
  if (extension.size() >= 3 && std::isdigit(static_cast<unsigned char>(extension[0])) &&
      std::isdigit(static_cast<unsigned char>(extension[1])) &&
      std::isdigit(static_cast<unsigned char>(extension[2]))) {
    int retstat = 1;
    FIO_IS_BRUKER(name, retstat, status);
    return retstat == 0 ? "BRUKER" : "";
  }
  if (is({"_dk", "_ff"})) return "BRUKER";
  if (is({"gel"})) return "IMAGEQUANT";
  if (is({"bin", "cor", "cor2", "corr", "final"})) return "BINARY";
  if (is({"bsl"})) return "BSL/OTOKO";
  if (is({"mvd"})) return "MERVODA";
  if (is({"wlt"})) {
    int retstat = 1;
    FIO_IS_TULMA(name, retstat, status);
    return retstat == 0 ? "TULMA" : "BINARY";
  }
  if (is({"image", "mar1200", "mar1600", "mar2000", "mar2300", "mar3450"})) return "MAR FORMAT";
  if (is({"inf"})) return "FUJI BAS-2000";
  if (is({"info"})) {
    // The ".info" file describes the binary file of the name without it.
    const std::string data = name.substr(0, name.size() - 5);
    if (!file_exists(data, status)) return {};
    file_name = data;
    return "BINARY";
  }
  if (is({"img"})) {
    const std::string stem = name.substr(0, name.size() - 3);
    for (const char* inf : {"inf", "INF"})
      if (file_exists(stem + inf, status)) {
        file_name = stem + inf;
        return "FUJI BAS-2000";
      }
    int retstat = 1;
    FIO_IS_ADSC(name, retstat, status);
    return retstat == 0 ? "ADSC" : "HAMAMATSU PHOTONICS";
  }
  if (is({"kzt"})) return "KESTA STANDARD FORMAT";
  if (is({"osc"})) return "RIGAKU R-AXIS";
  if (is({"pck"})) return "MAR-PCK";
  if (is({"pmi"})) return "PHOTOMETRICS CCD FORMAT";
  if (is({"spe"})) return "PRINCETON CCD FORMAT";
  if (is({"tif", "tiff", "mccd"})) return "TIFF";
  return {};
}

void FIO_GUI_INPUT(TextLines title, int sequence, const ImageTarget& target, bool& data_defined,
                   std::string& file_name, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_GUI_INPUT V0.48";
  if (st_bad(status, kPosition)) return;
  if (target_refused(target, kBaseFormats, kPosition, status)) return;

  std::string format = format_of_next_file();
  if (sequence == kFioSelectFile) {
    const int num = static_cast<int>(title.size());
    int cancelled = 0;
    std::string chosen = file_name;
    GS_FILESELECTION(std::max(num, 1), num, title.view(), 41, 41, kSelectionInfo, 1, false, cancelled,
                     chosen, status);
    if (status != kStatusGood) return;
    if (cancelled == 1) {
      data_defined = false;
      return;
    }
    file_name = chosen;
    format = fio_format_by_extension(file_name, status);
    if (format.empty()) {
      // A folder or a name that is not there has no format to choose: it is
      // refused with its reason before the menu of formats is asked.
      std::string problem;
      if (!open_input_file(file_name, problem)) {
        report_unread_file(file_name, problem, status);
        warning_box("WARNING: PROBLEM INPUTTING DATA FROM FILE:", file_name,
                    {unread_file_line(file_name, problem)}, status);
        fio_input_failed();
        return;
      }
      format = unknown_extension_menu(status);
    }
    if (status != kStatusGood || format.empty()) return;
    GS_FPROMPT(1, 1, {"INPUTTING DATA FROM FILE"}, status);
    GS_UPDATE(status);
  } else if (sequence != kFioGivenName) {
    if (!gui_input_state.read_once) {
      gs_refusal({"CAN'T INPUT ANOTHER FILE IN AN UNDEFINED SEQUENCE"}, status);
      fio_input_failed();
      return;
    }
    int retstat = 0;
    std::string next;
    IO_NEWFILENAME(file_name, sequence, 0, retstat, next, status);
    if (status != kStatusGood) return;
    if (retstat == 0) file_name = next;
    if (retstat != 0 || !file_exists(file_name, status)) {
      next_file_missing(retstat == 0 ? next : file_name, status);
      fio_input_failed();
      return;
    }
  }

  MessageCollector collector;
  const ReadOutcome outcome = read_and_commit(format, target, data_defined, file_name, status);
  // A series member's reader has said why it was not read.
  if (series_members != nullptr) return;
  if (outcome == ReadOutcome::kFailed || outcome == ReadOutcome::kUndefined)
    read_refused(outcome == ReadOutcome::kFailed, file_name, collector.warnings(), status);
  // As at the keyboard: no later line of a macro or sequence may work on the
  // data of the file read before.
  if (outcome == ReadOutcome::kFailed || outcome == ReadOutcome::kUndefined ||
      outcome == ReadOutcome::kRefused)
    fio_input_failed();
}

bool fio_gui_unattended_input(const ImageTarget& target, bool& data_defined,
                              std::string& file_name, std::vector<std::string>& messages,
                              Status& status) {
  constexpr std::string_view kPosition = "fio_gui_unattended_input";
  messages.clear();
  if (st_bad(status, kPosition)) return false;
  if (target_refused(target, kBaseFormats, kPosition, status)) return false;
  if (!gui_input_state.read_once) {
    messages.emplace_back("WARNING: CAN'T INPUT ANOTHER FILE IN AN UNDEFINED SEQUENCE");
    return false;
  }
  MessageCollector collector(true);
  const ReadOutcome outcome =
      read_and_commit(gui_input_state.format, target, data_defined, file_name, status);
  if (outcome == ReadOutcome::kCommitted) {
    collector.release();
    return true;
  }
  messages = collector.warnings(true);
  messages.push_back("WARNING: PROBLEM INPUTTING DATA FROM FILE: " + file_name);
  return false;
}

namespace {

ReadOutcome read_and_commit(const std::string& format, const ImageTarget& target,
                            bool& data_defined, std::string& file_name, Status& status) {
  const GuiFormat* chosen = gui_format_named(format);
  if (chosen == nullptr) {
    IO_WRITE("WARNING: Unknown file format", status);
    return ReadOutcome::kRefused;
  }
  std::string path;
  if (!input_path(file_name, path, status)) return ReadOutcome::kRefused;
  const ReadRequest request{target.xmaxdat, target.ymaxdat, target.variances_exist};
  GuiRead g{request, file_name, path, status};
  // A series member is compared with the first by the size of the image in
  // its file, not by what the arrays kept of it (a member larger than the
  // arrays, cut, would pass for one of the arrays' size); one whose reader
  // does not give that size cannot be compared and is refused. What the
  // reader said of a member refused is moot, and dropped.
  const FioImageSize first = series_members != nullptr ? series_members->size : FioImageSize{};
  std::optional<MessageCollector> held;
  if (series_members != nullptr) held.emplace(true);
  ImageRead read = chosen->read(g);
  if (held) {
    if (!series_members->any_size && read.ok() && status == kStatusGood) {
      const FioImageSize own = own_size(read.image);
      if (own.width < 1 || first.width < 1) {
        held.reset();
        IO_WRITE("WARNING: The image size in the file is not known, it cannot be compared with "
                 "the first file: " + file_name,
                 status);
        return ReadOutcome::kFailed;
      }
      if (own != first) {
        held.reset();
        IO_WRITE("WARNING: File not the size of the first file: " + file_name, status);
        return ReadOutcome::kFailed;
      }
    }
    if (read.ok() && own_size(read.image) == first)
      held->release_but_cut();
    else if (read.ok())
      held->release();
    else
      held->release_reasons();
    held.reset();
  }
  if (status == kStatusEscape || read.retstat == -1) {
    // A form or box cancelled inside the reader: nothing read, not an error.
    st_reset(status);
    return ReadOutcome::kNothing;
  }
  if (status != kStatusGood) return ReadOutcome::kNothing;
  if (read.ok() && read.image.xnumdat >= 1 && read.image.ynumdat >= 1) {
    const float overload =
        chosen->fixed ? chosen->overload : read.image.overload.value_or(chosen->overload);
    if (!read.image.title) {
      std::string bare;
      IO_NODIRPATH(file_name, bare, status);
      read.image.title = bare;
    }
    gui_input_state.last_size = own_size(read.image);
    if (series_members == nullptr) gui_input_state.size = gui_input_state.last_size;
    const FioFilePixelSizes sizes = read_sizes(read.image, file_name);
    commit_image(read.image, target);
    const bool scan = format == "MERVODA";
    if (scan) {
      target.ynumdat = 1;
      if (!target.yaxis.empty()) target.yaxis[0] = 0.5f;
      target.ylabel.clear();
    }
    data_defined = true;
    gui_input_state.format = format;
    gui_input_state.read_once = true;
    GS_SET_IDR(0.0f, 0.0f, static_cast<float>(target.xnumdat), static_cast<float>(target.ynumdat),
               status);
    if (scan)
      fio_store_scan_input_keys(overload, format, status);
    else
      fio_store_input_keys(overload, format, sizes, status, left_out_said());
    return ReadOutcome::kCommitted;
  }
  return read.retstat != 0 ? ReadOutcome::kFailed : ReadOutcome::kUndefined;
}

}  // namespace

std::unique_ptr<RowSource> fio_gui_rows_input(std::string& file_name, bool& whole,
                                              Status& status) {
  whole = false;
  if (st_bad(status, "fio_gui_rows_input")) return nullptr;
  // Only the native reader has a block-wise road.
  const std::string format = format_of_next_file();
  if (format != "KESTA STANDARD FORMAT") {
    whole = true;
    return nullptr;
  }
  const GuiFormat* chosen = gui_format_named(format);
  std::string path;
  if (!input_path(file_name, path, status)) return nullptr;
  MessageCollector collector;
  ScratchImage image;
  std::unique_ptr<RowSource> rows = open_kesta_rows(path, image, status);
  if (status != kStatusGood) return nullptr;
  if (rows) {
    GS_SET_IDR(0.0f, 0.0f, static_cast<float>(image.xnumdat), static_cast<float>(image.ynumdat),
               status);
    fio_store_input_keys(image.overload.value_or(chosen->overload), format,
                         read_sizes(image, file_name), status, left_out_said());
    return rows;
  }
  // A series member's reader has said why it was not input, as on the whole
  // road.
  if (series_members != nullptr) return nullptr;
  read_refused(true, file_name, collector.warnings(), status);
  fio_input_failed();
  return nullptr;
}

}  // namespace kesta
