#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/defaults_db.hpp"
#include "core/io_output.hpp"
#include "core/macro.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/gui_input.hpp"
#include "graphics/device/kernel.hpp"
#include "graphics/system/widgets.hpp"
#include "formats/adsc_format.hpp"
#include "formats/ascii_formats.hpp"
#include "formats/binary_format.hpp"
#include "formats/bruker_format.hpp"
#include "formats/bsl_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/fixed_header_formats.hpp"
#include "formats/fuji_format.hpp"
#include "formats/gas_format.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mar_format.hpp"
#include "formats/mervoda_format.hpp"
#include "formats/raxis_format.hpp"
#include "formats/scan_formats.hpp"
#include "formats/tiff_format.hpp"
#include "formats/tulma_format.hpp"
#include "formats/unknown_format.hpp"

namespace kesta {

namespace {

constexpr float kNoDetectorLimit = 1.7e38f;

// How a menu choice is read.
enum class Road {
  list,         // "?": the one-line helps
  help,         // "HELP": the help text, then a failed input
  read,         // the row's keyboard reader, then the commit
  removed,      // support removed: a warning, nothing read
};

// After a successful read.
enum class After { none, one_d_free, one_d_columns };

// A format's keyboard road: asks what it needs (the file name first, FILE_NAME
// its default and updated) and reads the file into a scratch image.
using KeyboardReader = ImageRead (*)(const ReadRequest& request, std::string& file_name,
                                     Status& status);

struct InputChoice {
  const char* name;
  const char* help;
  Road road;
  float overload;  // default overload value, when the reader gives none
  After after = After::none;
  KeyboardReader read = nullptr;  // Road::read
};

// clang-format off
const std::array<InputChoice, 31> kInputChoices = {{
    {"?", "?: List of available formats and commands", Road::list, 0.0f},
    {"1-D ASCII FREE FORMAT", "1-D ASCII FREE FORMAT: Flexible input of 1-D text data", Road::read, kNoDetectorLimit, After::one_d_free, free_format_keyboard_read},
    {"2-D ASCII FREE FORMAT", "2-D ASCII FREE FORMAT: Flexible input of 2-D text data", Road::read, kNoDetectorLimit, After::none, ascii_2d_keyboard_read},
    {"ADSC DETECTOR FORMAT", "ADSC DETECTOR FORMAT: Keyword-value header and binary data", Road::read, kNoDetectorLimit, After::none, adsc_keyboard_read},
    {"BINARY (UNFORMATTED)", "BINARY (UNFORMATTED): Flexible interactive input of data", Road::read, kNoDetectorLimit, After::none, binary_keyboard_read},
    {"BRUKER FORMAT", "BRUKER FORMAT: Bruker Area Detector Frame Data format", Road::read, kNoDetectorLimit, After::none, bruker_keyboard_read},
    {"BSL FORMAT", "BSL FORMAT: Small-angle scattering laboratory (BSL/OTOKO) format", Road::read, kNoDetectorLimit, After::none, bsl_keyboard_read},
    {"MERVODA FORMAT", "MERVODA FORMAT: Simple ASCII X/Y column format data", Road::read, kNoDetectorLimit, After::one_d_columns, mervoda_keyboard_read},
    {"COMPRESSED DIFFRACTION DATA", "COMPRESSED DIFFRACTION DATA: Compacted diffraction data", Road::read, 65534.5f, After::none, cdd_keyboard_read},
    {"DIP-2000 (MAC SCIENCE)", "DIP-2000 (MAC SCIENCE): 2500*2500 Integer*2 special format", Road::read, 131071.5f, After::none, dip2000_keyboard_read},
    {"OZWA DATA FORMAT", "OZWA DATA FORMAT: OZWA binary, self describing format", Road::read, kNoDetectorLimit, After::none, tulma_keyboard_read},
    {"KESTA STANDARD FORMAT", "KESTA STANDARD FORMAT: Self describing readable binary", Road::read, kNoDetectorLimit, After::none, kesta_keyboard_read},
    {"FUJI BAS-2000", "FUJI BAS-2000: Fuji image plate scanners (also BAS-1500)", Road::read, kNoDetectorLimit, After::none, fuji_keyboard_read},
    {"GAS 2-D DETECTOR (OZWA)", "GAS 2-D DETECTOR (OZWA): Raw format used on the beam-lines", Road::read, kNoDetectorLimit, After::none, gas_keyboard_read},
    {"HAMAMATSU PHOTONICS", "HAMAMATSU PHOTONICS: C4880 CCD detector format", Road::read, 65534.5f, After::none, hamamatsu_keyboard_read},
    {"HELP", "HELP: Information on the usage of the various formats", Road::help, 0.0f},
    {"HUFFMAN", "HUFFMAN: TEST ROUTINE FOR TESTING HUFFMAN CODING", Road::read, 65534.5f, After::none, huffman_keyboard_read},
    {"IMAGEQUANT", "IMAGEQUANT: IMAGEQUANT TIFF based format (Molecular Dynamics)", Road::read, 99999.5f, After::none, imagequant_keyboard_read},
    {"TULMA", "TULMA: Simplified subset of the WLT format", Road::read, kNoDetectorLimit, After::none, tulma_keyboard_read},
    {"MAR RESEARCH FORMAT", "MAR RESEARCH FORMAT: \"image\" format for on-line IP systems", Road::read, 131071.5f, After::none, mar_research_keyboard_read},
    {"MAR-PCK FORMAT", "MAR-PCK FORMAT: Compressed old Mar format", Road::read, 131071.5f, After::none, mar_pck_keyboard_read},
    {"NEW MAR CODE", "NEW MAR CODE: Same as \"MAR RESEARCH FORMAT\"", Road::read, 131071.5f, After::none, mar_keyboard_read},
    {"PDS FORMAT", "PDS FORMAT: \"Powder Diffraction Standard\" format file", Road::read, kNoDetectorLimit, After::one_d_columns, pds_keyboard_read},
    {"PHOTOMETRICS CCD FORMAT", "PHOTOMETRICS CCD FORMAT: X-ray Image intensifier system", Road::read, 16382.5f, After::none, photometrics_keyboard_read},
    {"PMC FORMAT", "PMC FORMAT: PhotoMetrics Compressed XRII/CCD data", Road::removed, 0.0f},
    {"PRINCETON CCD FORMAT", "PRINCETON CCD FORMAT: X-ray Image intensifier system", Road::read, 65534.5f, After::none, princeton_keyboard_read},
    {"RIGAKU R-AXIS", "RIGAKU R-AXIS: Riguka image plate scanner format", Road::read, kNoDetectorLimit, After::none, raxis_keyboard_read},
    {"TIFF", "TIFF: Limited TIFF input (compressed data not supported)", Road::read, kNoDetectorLimit, After::none, tiff_keyboard_read},
    {"UNKNOWN", "UNKNOWN: Try to deduce format (not on compressed image data)", Road::read, kNoDetectorLimit, After::none, unknown_keyboard_read},
    {"USER INTENSITIES", "USER INTENSITIES: Keyboard input of data values", Road::read, kNoDetectorLimit, After::none, user_keyboard_read},
    {"WESS FORMAT", "WESS FORMAT: Simple byte format", Road::read, 254.5f, After::none, wess_keyboard_read},
}};
// clang-format on

const std::vector<std::string>& choice_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& c : kInputChoices) out.emplace_back(c.name);
    return out;
  }();
  return names;
}

const std::vector<std::string>& choice_helps() {
  static const std::vector<std::string> helps = [] {
    std::vector<std::string> out;
    for (const auto& c : kInputChoices) out.emplace_back(c.help);
    return out;
  }();
  return helps;
}

// The menu's saved state for the run.
struct FioInputState {
  bool first = true;
  std::string format;
  bool tulma_note_shown = false;
};
FioInputState fio_input_state;

std::string first_default(Index xmaxdat, Index ymaxdat) {
  switch (xmaxdat) {
    case 512: return "GAS 2-D DETECTOR (OZWA)";
    case 1024: return "PHOTOMETRICS CCD FORMAT";
    case 1152:
    case 2304: return "IMAGEQUANT";
    case 1200:
    case 2000: return "NEW MAR CODE";
    case 1242: return "PRINCETON CCD FORMAT";
    case 2048: return "FUJI BAS-2000";
    case 3000: return "RIGAKU R-AXIS";
    default: return ymaxdat == 1 ? "1-D ASCII FREE FORMAT" : "KESTA STANDARD FORMAT";
  }
}

void tulma_note(Status& status) {
  if (!fio_input_state.tulma_note_shown) {
    fio_input_state.tulma_note_shown = true;
    for (const char* line :
         {" ",
          "INFO: Problems are common when reading images of the keyword-header",
          "INFO: format. The format is only loosely defined, and many files that",
          "INFO: claim to follow it differ from its definition in one detail or",
          "INFO: another: keywords spelt differently, header blocks of unusual",
          "INFO: lengths, data types that the definition does not describe.",
          "INFO: Only a subset of the format is read here. All the header",
          "INFO: information must come before the image data, the image must be",
          "INFO: stored as one block of uncompressed values, and compressed data",
          "INFO: are not supported at all.",
          "INFO: If a file will not read, look at its header with a text editor",
          "INFO: and compare the keywords and sizes with what the data should",
          "INFO: be; a wrong data type or byte order shows as noise in the",
          "INFO: displayed image, a wrong header length as an image that is",
          "INFO: sheared or shifted sideways.",
          "INFO: NOTE: For new work the imgCIF/CBF format is recommended",
          "INFO: instead, as it is defined exactly and widely supported."})
      IO_WRITE(line, status);
  }
  IO_WRITE(" ", status);
}

// clang-format off
const std::vector<std::string> kInputHelp = {
    " ",
    "                   FILE INPUT: CHOICE OF FORMAT",
    "                   ----------------------------",
    " ",
    "Images and scans reach the program through many file formats. Some",
    "are dedicated to one detector or scanner and carry its own header",
    "(sizes, pixel sizes, the saturation level); others are general and",
    "need the user to say how the values are stored. Choose a dedicated",
    "format where one exists for your detector: it reads the sizes and",
    "the saturation level from the file. The program's own format keeps",
    "a whole data set without loss and is the best choice for images",
    "that the program itself has written.",
    " ",
    "Enter the start of a format's name at the prompt; enough letters to",
    "tell it from the others are sufficient. \"?\" lists the formats.",
    "An image larger than the program arrays is read in part after a",
    "warning; the data always start at element (1,1) and the first row",
    "is the bottom of the image.",
    " ",
    "                   INPUT FORMATS",
    "                   -------------",
    " ",
    "1-D ASCII FREE FORMAT: Columns of numbers in a text file; you",
    "choose the columns of the X values, the intensities and the errors.",
    " ",
    "2-D ASCII FREE FORMAT: A text file of numbers read row by row into",
    "an image whose sizes you give.",
    " ",
    "ADSC DETECTOR FORMAT: A keyword-value header followed by 2-byte",
    "unsigned pixels; sizes, byte order and pixel size from the header.",
    " ",
    "BINARY (UNFORMATTED): Any raw image: you give the sizes, the data",
    "type, whether values are signed, the byte order and the number of",
    "header bytes to skip. A \".info\" file beside the data is used for",
    "the defaults when present.",
    " ",
    "BRUKER FORMAT: Area detector frames with their text header blocks",
    "and overflow table.",
    " ",
    "BSL FORMAT: The small-angle laboratory format: a header file that",
    "names binary files of reals, one or more frames per file.",
    " ",
    "MERVODA FORMAT: X/Y columns of text for 1-D data.",
    " ",
    "COMPRESSED DIFFRACTION DATA: Losslessly compacted images.",
    " ",
    "DIP-2000 (MAC SCIENCE): 2500 by 2500 pixel image plate files.",
    " ",
    "OZWA DATA FORMAT: The keyword-header format of the OZWA beam-lines",
    "(the same reader as TULMA).",
    " ",
    "KESTA STANDARD FORMAT: The program's own self-describing binary",
    "format (\".kzt\"): data, axes, variances, title, labels, pixel",
    "sizes and the overload value, all kept exactly.",
    " ",
    "FUJI BAS-2000: Image plate scanner files (also BAS-1500), a header",
    "file and a data file.",
    " ",
    "GAS 2-D DETECTOR (OZWA): Raw files of the gas detectors.",
    " ",
    "HAMAMATSU PHOTONICS: CCD detector files with their header.",
    " ",
    "HUFFMAN: A test of the predictive Huffman codec.",
    " ",
    "IMAGEQUANT: The TIFF-based format of the scanner software, with",
    "its square-root intensity scale.",
    " ",
    "TULMA: A simplified subset of the keyword-header format; all header",
    "information must precede the data, and compressed data are not read.",
    " ",
    "MAR RESEARCH FORMAT: On-line image plate files, with overflow",
    "records.",
    " ",
    "MAR-PCK FORMAT: The old compressed image plate format.",
    " ",
    "NEW MAR CODE: The same reader as MAR RESEARCH FORMAT.",
    " ",
    "PDS FORMAT: Powder diffraction text files of one scan.",
    " ",
    "PHOTOMETRICS CCD FORMAT: X-ray image intensifier and CCD files.",
    " ",
    "PMC FORMAT: No longer supported.",
    " ",
    "PRINCETON CCD FORMAT: X-ray image intensifier and CCD files.",
    " ",
    "RIGAKU R-AXIS: Image plate scanner files with their header record.",
    " ",
    "TIFF: Uncompressed TIFF images of 8, 12, 16 or 32 bits per pixel;",
    "a region of the image can be read, with pixels summed in bins.",
    " ",
    "UNKNOWN: Tries to deduce the sizes and data type of a raw image",
    "from the file's length and contents (not for compressed data).",
    " ",
    "USER INTENSITIES: Values typed at the keyboard.",
    " ",
    "WESS FORMAT: A simple format of one byte per pixel.",
    " ",
    "END OF FILE INPUT HELP TEXT",
};
// clang-format on

}  // namespace

FioFilePixelSizes fio_file_pixel_sizes(const ScratchImage& image) {
  FioFilePixelSizes sizes;
  sizes.sample_distance = image.sample_distance;
  if (image.ynumdat == 1) return sizes;
  sizes.x = file_pixel_size(image.x_pixel_size, image.x_pixel_size_defaulted);
  sizes.y = file_pixel_size(image.y_pixel_size, image.y_pixel_size_defaulted);
  return sizes;
}

void fio_store_scan_input_keys(float overload, const std::string& format, Status& status) {
  fio_store_input_keys(overload, format, FioFilePixelSizes{}, status);
}

void fio_store_input_keys(float overload, const std::string& format, FioFilePixelSizes sizes,
                          Status& status, std::string* said) {
  int stored = 0;
  IO_SET_RKEYVALUE("#OVERLOAD_VALUE", overload, stored, status);
  IO_SET_KEYVALUE("#INPUT_FORMAT", SLEN(format), format, stored, status);
  // A header value no detector has (a damaged header, a scan's step saved
  // as an image's size, a distance left at 0) would otherwise be proposed by
  // every later form and used by every later integration.
  std::vector<std::string> sizes_left_out;
  for (auto [key, axis, size] : {std::tuple{"X_PIXEL_SIZE", "X", sizes.x},
                                 std::tuple{"Y_PIXEL_SIZE", "Y", sizes.y}}) {
    if (!size) continue;
    if (detector_pixel_size(*size))
      IO_SET_RKEYVALUE(key, *size, stored, status);
    else
      sizes_left_out.push_back(std::string(axis) + " pixel size " + IO_RTOC(*size) + " m");
  }
  std::vector<std::string> lines;
  if (!sizes_left_out.empty())
    lines.push_back("WARNING: The file's " + sizes_left_out.front() +
                    (sizes_left_out.size() == 1 ? " is" : " and " + sizes_left_out.back() + " are") +
                    " no detector's: kept for this image, but not stored as the detector's");
  if (const auto& distance = sizes.sample_distance) {
    if (experiment_distance(*distance))
      IO_SET_RKEYVALUE("SAMPLE_DISTANCE", *distance, stored, status);
    else
      lines.push_back("WARNING: The file's sample distance " + IO_RTOC(*distance) +
                      " m is no experiment's: the stored one is kept");
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  if (said != nullptr) {
    if (text == *said) return;
    *said = text;
  }
  for (const std::string& line : lines) IO_WRITE(line, status);
}

void fio_gui_text(TextLines text, Status& status) {
  int font = 1;
  QG_INQ_TEXTFONT(font, status);
  QG_TEXTFONT(2, status);
  const int num = static_cast<int>(text.size());
  GS_MESSAGE(num, num, text.view(), status);
  Status local = kStatusGood;
  QG_TEXTFONT(font, local);
}

void FIO_IN_HELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine FIO_IN_HELP V0.3")) return;
  if (gui) {
    fio_gui_text(kInputHelp, status);
    return;
  }
  IO_TEXT(kInputHelp, status);
}

void FIO_INPUT(Index xmaxdat, Index ymaxdat, std::string& file_name, bool& variances_exist,
               bool& data_defined, Index& xnumdat, Index& ynumdat, std::span<float> xaxis,
               std::span<float> yaxis, std::span<float> data, std::span<float> variances,
               std::string& title, std::string& xlabel, std::string& ylabel, std::string& zlabel,
               float& x_pixel_size, float& y_pixel_size, Status& status) {
  FIO_INPUT(ImageTarget{xmaxdat, ymaxdat, variances_exist, xnumdat, ynumdat, xaxis, yaxis, data,
                        variances, title, xlabel, ylabel, zlabel, x_pixel_size, y_pixel_size},
            file_name, data_defined, status);
}

void FIO_INPUT(const ImageTarget& target, std::string& file_name, bool& data_defined,
               Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_INPUT V0.55";
  const Index xmaxdat = target.xmaxdat, ymaxdat = target.ymaxdat;
  if (st_bad(status, kPosition)) return;
  if (target_refused(target, kBaseApp, kPosition, status)) return;
  if (fio_input_state.first) {
    fio_input_state.first = false;
    fio_input_state.format = first_default(xmaxdat, ymaxdat);
  }

  const auto& names = choice_names();
  const InputChoice* choice = nullptr;
  while (choice == nullptr) {
    std::string format = fio_input_state.format;
    IO_MENU(true, "FILE FORMAT", {"Enter one of available choices"},
            {"Enter one of available choices"}, static_cast<int>(names.size()), names, format,
            status);
    if (status != kStatusGood) return;
    if (format == "null") return;  // a shell command was run
    for (const auto& c : kInputChoices)
      if (IO_UPPER(format) == IO_UPPER(c.name)) choice = &c;
    if (choice == nullptr) return;
    if (choice->road == Road::list) {
      // The list is no format: the question comes again with the same default.
      IO_TEXT(choice_helps(), status);
      if (status != kStatusGood) return;
      choice = nullptr;
    } else {
      fio_input_state.format = choice->name;
    }
  }

  const std::string name = choice->name;
  int retstat = 1;
  float overload = choice->overload;
  FioFilePixelSizes sizes;
  switch (choice->road) {
    case Road::read: {
      if (name == "TULMA" || name == "OZWA DATA FORMAT") tulma_note(status);
      ImageRead read = choice->read({xmaxdat, ymaxdat, target.variances_exist}, file_name, status);
      if (read.ok() && status == kStatusGood) {
        overload = read.image.overload.value_or(choice->overload);
        sizes = fio_file_pixel_sizes(read.image);
        commit_image(read.image, target);
        retstat = 0;
      }
      break;
    }
    case Road::help:
      FIO_IN_HELP(false, status);
      break;
    case Road::removed:
      IO_WRITE("WARNING: Format support removed", status);
      break;
    case Road::list:
      break;
  }

  Index& ynumdat = target.ynumdat;
  if (status == kStatusGood && retstat == 0 && target.xnumdat > 0 && ynumdat >= 1) {
    switch (choice->after) {
      case After::one_d_free:
        ynumdat = 1;
        target.xlabel = "X-axis";
        target.ylabel.clear();
        target.zlabel = "Intensity";
        break;
      case After::one_d_columns:
        ynumdat = 1;
        if (!target.yaxis.empty()) target.yaxis[0] = 0.5f;
        target.ylabel.clear();
        break;
      case After::none:
        break;
    }
    data_defined = true;
    if (choice->after == After::none)
      fio_store_input_keys(overload, name, sizes, status);
    else
      fio_store_scan_input_keys(overload, name, status);
    return;
  }
  // The end of a running sequence's macro met at a reader's question is no
  // failed input: nothing later in that macro can work on the old data, and
  // the sequence moves on with its next count.
  if (io_macro_ended(status)) return;
  fio_input_failed();
}

void fio_input_failed() {
  io_end_automatic_input(
      "WARNING: File input failed during a macro. Macro automatically terminated.",
      "WARNING: File input failed during a sequence. Sequence terminated.");
}

// The output menu's part of the reset (fio_output.cpp).
void fio_reset_output_menu();

void fio_reset_format_menus() {
  fio_input_state = FioInputState{};
  fio_reset_gui_input();
  fio_reset_output_menu();
}

}  // namespace kesta
