#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/gui_output.hpp"
#include "formats/binary_format.hpp"
#include "formats/bsl_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mervoda_format.hpp"
#include "formats/scan_formats.hpp"
#include "formats/text_files.hpp"
#include "formats/tiff_format.hpp"
#include "formats/tulma_format.hpp"
#include "graphics/system/state.hpp"
#include "graphics/system/widgets.hpp"

namespace kesta {

namespace {

enum class Writer {
  kesta,
  routine,  // the row's writer
  header_on,
  header_off,
  not_presently,  // "CBF"
};

// FIO_OUTPUT's arguments, handed to the row's writer.
struct OutputData {
  std::string_view input_file;
  Index xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm;
  std::span<const float> xaxis, yaxis, data, variances;
  std::string_view title, xlabel, ylabel, zlabel;
  bool variances_exist;
  float x_pixel_size, y_pixel_size;
};
using OutputWriter = void (*)(const OutputData& d, Status& status);

struct OutputChoice {
  const char* name;
  const char* help;
  Writer writer;
  OutputWriter write = nullptr;  // Writer::routine
};

void tiff_writer(const OutputData& d, Status& status);
void bsl_writer(const OutputData& d, Status& status);
void tulma_writer(const OutputData& d, Status& status);
void binary2_writer(const OutputData& d, Status& status);
void binary4_writer(const OutputData& d, Status& status);
void denzo_writer(const OutputData& d, Status& status);
void mervoda_writer(const OutputData& d, Status& status);
void cam_writer(const OutputData& d, Status& status);
void mca_writer(const OutputData& d, Status& status);
void spread_writer(const OutputData& d, Status& status);
void cdd_writer(const OutputData& d, Status& status);
void huffman_writer(const OutputData& d, Status& status);

template <auto Writer>
void scan_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  std::string name;
  Writer(false, d.input_file, false, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
         d.yendelm, d.xaxis, d.yaxis, d.data, d.variances, d.title, d.xlabel, d.ylabel, d.zlabel,
         d.variances_exist, name, retstat, status);
}


// clang-format off
const std::array<OutputChoice, 19> kOutputChoices = {{
    {"3CAM", "3CAM: 1-D powder diffraction format for input to CERIUS", Writer::routine, cam_writer},
    {"4-BYTE INTEGERS", "4-BYTE INTEGERS: Binary integer*4 output of active data region", Writer::routine, binary4_writer},
    {"BINARY (UNFORMATTED)", "BINARY (UNFORMATTED): Simple dump of active data region", Writer::routine, binary2_writer},
    {"BSL FORMAT", "BSL FORMAT: Small-angle scattering laboratory (BSL/OTOKO) format", Writer::routine, bsl_writer},
    {"CBF", "CBF: Crystallographic Binary Format", Writer::not_presently},
    {"MERVODA", "MERVODA: 1-D row or column output for X/Y graph plotting", Writer::routine, mervoda_writer},
    {"COMPRESSED DIFFRACTION DATA", "COMPRESSED DIFFRACTION DATA: Compacted diffraction data", Writer::routine, cdd_writer},
    {"DENZO MAR FORMAT", "DENZO MAR FORMAT: Experimental output format for DENZO", Writer::routine, denzo_writer},
    {"DUMP", "DUMP: (Same as \"BINARY (UNFORMATTED)\"; backwards compatibility)", Writer::routine, binary2_writer},
    {"KESTA STANDARD FORMAT", "KESTA STANDARD FORMAT: Self describing readable binary", Writer::kesta},
    {"GSAS", "GSAS: GSAS powder diffraction format", Writer::routine, scan_writer<FIO_OUT_GSAS>},
    {"HEADER FILES", "HEADER FILES: Output ASCII header file with \"BINARY\" file", Writer::header_on},
    {"HUFFMAN", "HUFFMAN: TEST ROUTINE FOR TESTING HUFFMAN CODING", Writer::routine, huffman_writer},
    {"\"TULMA\" FORMAT", "\"TULMA\" FORMAT: WLT subset format file", Writer::routine, tulma_writer},
    {"MCA FORMAT", "MCA FORMAT: ASCII 8 columns per line g10.3 data only", Writer::routine, mca_writer},
    {"NO HEADER FILES", "NO HEADER FILES: No ASCII header files with \"BINARY\" files", Writer::header_off},
    {"PowderCIF", "PowderCIF: ASCII CIF output using Powder CIF dictionary", Writer::routine, scan_writer<FIO_OUT_POWDERCIF>},
    {"SPREAD SHEET", "SPREAD SHEET: ASCII, one line of ADR in one record", Writer::routine, spread_writer},
    {"TIFF INTEGERS", "TIFF INTEGERS: Simple 1 or 2-byte output (no compression)", Writer::routine, tiff_writer},
}};
// clang-format on

template <std::size_t N>
std::vector<std::string> column(const std::array<OutputChoice, N>& table,
                                const char* OutputChoice::*field) {
  std::vector<std::string> out;
  for (const auto& c : table) out.emplace_back(c.*field);
  return out;
}

struct FioOutputState {
  std::string format = "KESTA STANDARD FORMAT";
  bool header_files = true;
  int tiff_bits = 16;
  std::string tiff_file = "kesta.tif";
  std::string bsl_file = "A99000.BSL";
  std::string gui_tiff_file = "kesta.tif";
  std::string gui_bsl_file;
};
FioOutputState fio_output_state;

void bsl_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  FIO_OUT_BSL(false, d.input_file, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
              d.yendelm, d.data, d.title, fio_output_state.bsl_file, retstat, status);
}

void tiff_writer(const OutputData& d, Status& status) {
  FIO_OUT_TIFF(false, d.input_file, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
               d.yendelm, d.data, d.title, d.x_pixel_size, d.y_pixel_size,
               fio_output_state.tiff_file, fio_output_state.tiff_bits, status);
}

void tulma_writer(const OutputData& d, Status& status) {
  fio_out_tulma_asked(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.data,
                      status);
}

void binary_writer(const OutputData& d, int bytes, Status& status) {
  int retstat = 0;
  FIO_OUT_BINARY(false, d.input_file, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
                 d.yendelm, d.data, d.title, d.xlabel, d.ylabel, d.zlabel, d.x_pixel_size,
                 d.y_pixel_size, fio_output_state.header_files, bytes, retstat, status);
}
void binary2_writer(const OutputData& d, Status& status) { binary_writer(d, 2, status); }
void binary4_writer(const OutputData& d, Status& status) { binary_writer(d, 4, status); }

void denzo_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  FIO_OUT_MAR(false, d.input_file, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
              d.yendelm, d.data, retstat, status);
}

void mervoda_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  std::string name;
  FIO_OUT_MERVODA(false, d.input_file, false, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm,
                  d.xendelm, d.yendelm, d.xaxis, d.yaxis, d.data, d.variances, d.title, d.xlabel,
                  d.ylabel, d.zlabel, d.variances_exist, name, retstat, status);
}

void cam_writer(const OutputData& d, Status& status) {
  FIO_OUT_3CAM(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.xaxis, d.yaxis,
               d.data, d.title, status);
}


void mca_writer(const OutputData& d, Status& status) {
  FIO_OUT_MCA(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.data, status);
}

void spread_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  std::string name;
  FIO_OUT_SPREAD(false, d.input_file, false, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm,
                 d.xendelm, d.yendelm, d.data, name, retstat, status);
}

void cdd_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  FIO_OUT_CDD(d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm, d.yendelm, d.data, retstat,
              status);
}

void huffman_writer(const OutputData& d, Status& status) {
  int retstat = 0;
  FIO_OUT_HUFFMAN(false, d.input_file, d.xmaxdat, d.ymaxdat, d.xstrelm, d.ystrelm, d.xendelm,
                  d.yendelm, d.data, retstat, status);
}

// clang-format off
const std::vector<std::string> kOutputHelp = {
    "----------------------------------------------------",
    "|        KESTA FILE FORMAT OUTPUT CHOICES          |",
    "----------------------------------------------------",
    " ",
    "Output writes the active data region of the current",
    "data to a file in the chosen format.",
    " ",
    "                 OUTPUT FORMATS",
    "                 --------------",
    " ",
    "BINARY: A flexible binary dump of the region as",
    "integers, with an optional ASCII header file.",
    " ",
    "BSL/OTOKO: An ASCII header file and a binary file",
    "of IEEE reals per image; the format does not define",
    "the byte order of the reals.",
    " ",
    "MERVODA: One row or column of the region as ASCII",
    "X/Y columns for graph plotting.",
    " ",
    "DENZO MAR: A file imitating the MAR \".image\"",
    "format, for input to DENZO.",
    " ",
    "KESTA FORMAT: The program's self-describing binary",
    "format of IEEE reals, with axes, variances, title,",
    "labels and pixel sizes: the best choice for images",
    "that are to be read in again.",
    " ",
    "GSAS: 1-D powder data for Rietveld refinement.",
    " ",
    "PowderCIF: 1-D powder data as ASCII CIF.",
    " ",
    "SPREAD SHEET: One line of the region per record, as",
    "ASCII numbers.",
    " ",
    "TIFF 8 BIT: Integer pixels of one byte; the range",
    "of the data is squeezed into 0 to 255.",
    " ",
    "TIFF 16 BIT: Integer pixels of two bytes; many",
    "viewers show such images badly.",
    " ",
    "END OF HELP TEXT",
};
// clang-format on

}  // namespace

void fio_reset_output_menu() { fio_output_state = FioOutputState{}; }

bool fio_output_header_files() { return fio_output_state.header_files; }
int fio_output_tiff_bits() { return fio_output_state.tiff_bits; }

void FIO_INP_OUTHELP(bool gui, Status& status) {
  if (st_bad(status, "Subroutine FIO_INP_OUTHELP V0.2")) return;
  if (gui) {
    fio_gui_text(kOutputHelp, status);
    return;
  }
  IO_TEXT(kOutputHelp, status);
}

void FIO_OUTPUT(std::string_view input_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                Index ystrelm, Index xendelm, Index yendelm, std::span<const float> xaxis,
                std::span<const float> yaxis, std::span<const float> data,
                std::span<const float> variances, std::string_view title, std::string_view xlabel,
                std::string_view ylabel, std::string_view zlabel, bool variances_exist,
                float x_pixel_size, float y_pixel_size, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_OUTPUT V0.30";
  if (st_bad(status, kPosition)) return;
  if (xmaxdat < 1) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  if (ymaxdat < 1) {
    st_fail(status, kBaseFormats + 2, kPosition);
    return;
  }
  static const std::vector<std::string> names = column(kOutputChoices, &OutputChoice::name);
  static const std::vector<std::string> helps = column(kOutputChoices, &OutputChoice::help);
  std::string format = fio_output_state.format;
  IO_MENU(true, "FILE FORMAT", helps, {"Enter one of available choices"},
          static_cast<int>(names.size()), names, format, status);
  if (status != kStatusGood || format == "null") return;
  const OutputChoice* choice = nullptr;
  for (const auto& c : kOutputChoices)
    if (IO_UPPER(format) == IO_UPPER(c.name)) choice = &c;
  if (choice == nullptr) return;
  fio_output_state.format = choice->name;

  switch (choice->writer) {
    case Writer::kesta: {
      int retstat = 0;
      FIO_OUT_KESTA(false, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                    xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist,
                    x_pixel_size, y_pixel_size, retstat, status);
      break;
    }
    case Writer::routine:
      choice->write({input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis,
                     yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist,
                     x_pixel_size, y_pixel_size},
                    status);
      break;
    case Writer::header_on:
      fio_output_state.header_files = true;
      break;
    case Writer::header_off:
      fio_output_state.header_files = false;
      break;
    case Writer::not_presently:
      IO_WRITE("WARNING: NOT PRESENTLY AVAILABLE", status);
      break;
  }
}

void FIO_INP_OUTPUT(std::string& format, Status& status) {
  if (st_bad(status, "Subroutine FIO_INP_OUTPUT V0.2")) return;
  static const std::vector<std::string> kButtons = {
      "CANCEL", "?", "HELP", "BINARY", "BSL/OTOKO", "MERVODA", "DENZO MAR", "KESTA FORMAT",
      "GSAS", "PowderCIF", "SPREAD SHEET", "TIFF 8 BIT", "TIFF 16 BIT"};
  static const std::vector<std::string> kHelps = {
      "CANCEL: Exit without saving data",
      "?: This help text explaining the choices",
      "HELP: Help text on the output choices",
      "BINARY: Simple dump of active data region",
      "BSL/OTOKO: Small-angle laboratory (BSL) and OTOKO formats",
      "MERVODA: 1-D row or column output for X/Y graph plotting",
      "DENZO MAR: Experimental output format for DENZO",
      "KESTA FORMAT: Self describing readable binary",
      "GSAS: GSAS powder diffraction format",
      "PowderCIF: ASCII CIF output using Powder CIF dictionary",
      "SPREAD SHEET: ASCII, one line of ADR in one record",
      "TIFF 8 BIT: TIFF integer pixel storage with 1 byte per pixel",
      "TIFF 16 BIT: TIFF integer pixel storage with 2 bytes per pixel"};
  const int num = static_cast<int>(kButtons.size());
  auto draw = [&] {
    float xmin = 0.0f, ymin = 0.0f, xmax = 1.0f, ymax = 1.0f;
    GS_INQ_GUIREGION(xmin, ymin, xmax, ymax, status);
    GS_SET_MENULAYOUT(1, 4, 12, 10, status);
    GS_MENU(1, 1, {"CHOOSE OUTPUT FILE FORMAT"}, num, num, kButtons, xmin, ymin, xmax, ymax,
            status);
  };
  draw();
  while (status == kStatusGood) {
    format = "null";
    int type = 0;
    float x = 0.0f, y = 0.0f;
    GS_INP_MENUCHOICE(num, num, kButtons, 1, type, format, x, y, status);
    if (status != kStatusGood) return;
    if (type == kGsChoiceRedraw) {
      draw();
      continue;
    }
    if (type != kGsChoiceButton || format.empty() || format == "null") continue;
    if (format == "?" || format == "HELP") {
      if (format == "?")
        GS_MESSAGE(num, num, kHelps, status);
      else
        FIO_INP_OUTHELP(true, status);
      if (status == kStatusEscape) st_reset(status);
      draw();
      continue;
    }
    if (format == "CANCEL") status = kStatusEscape;
    return;
  }
}

void FIO_GUI_OUT(std::string_view input_file, std::string_view format, bool file_series,
                 Index xmaxdat, Index ymaxdat, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, std::span<const float> xaxis, std::span<const float> yaxis,
                 std::span<const float> data, std::span<const float> variances,
                 std::string_view title, std::string_view xlabel, std::string_view ylabel,
                 std::string_view zlabel, bool variances_exist, float x_pixel_size,
                 float y_pixel_size, std::string& output_file, int& retstat, Status& status) {
  constexpr std::string_view kPosition = "Subroutine FIO_GUI_OUT V0.5";
  if (st_bad(status, kPosition)) return;
  retstat = 0;
  if (xmaxdat < 1) {
    st_fail(status, kBaseFormats + 1, kPosition);
    return;
  }
  if (ymaxdat < 1) {
    st_fail(status, kBaseFormats + 2, kPosition);
    return;
  }
  auto& st = fio_output_state;
  const std::string_view name = used_text(format);
  // In a series every writer takes the made name and asks nothing.
  std::optional<FioChosenOutput> chosen;
  if (file_series) chosen.emplace(output_file);
  if (file_series && name == "BSL/OTOKO") {
    // Its data file takes the next number of the header's name: the made
    // name of the next member, whose scan would overwrite it.
    IO_WRITE("WARNING: BSL/OTOKO scans of a file series are not saved: " + output_file, status);
    retstat = 1;
    return;
  }
  if (name == "BINARY") {
    FIO_OUT_BINARY(true, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                   title, xlabel, ylabel, zlabel, x_pixel_size, y_pixel_size, true, 2, retstat,
                   status);
  } else if (name == "BSL/OTOKO") {
    FIO_OUT_BSL(true, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                title, st.gui_bsl_file, retstat, status);
  } else if (name == "MERVODA") {
    FIO_OUT_MERVODA(true, input_file, file_series, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                    yendelm, xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel,
                    variances_exist, output_file, retstat, status);
  } else if (name == "DENZO MAR") {
    FIO_OUT_MAR(true, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                retstat, status);
  } else if (name == "KESTA FORMAT") {
    FIO_OUT_KESTA(true, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis,
                  yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist,
                  x_pixel_size, y_pixel_size, retstat, status);
  } else if (name == "GSAS" || name == "PowderCIF") {
    (name == "GSAS" ? FIO_OUT_GSAS : FIO_OUT_POWDERCIF)(
        true, input_file, file_series, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
        xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist,
        output_file, retstat, status);
  } else if (name == "SPREAD SHEET") {
    FIO_OUT_SPREAD(true, input_file, file_series, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                   yendelm, data, output_file, retstat, status);
  } else if (name == "TIFF 8 BIT" || name == "TIFF 16 BIT") {
    int bits = name == "TIFF 8 BIT" ? 8 : 16;
    FIO_OUT_TIFF(true, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                 title, x_pixel_size, y_pixel_size, st.gui_tiff_file, bits, status);
  }
  if (status != kStatusGood) return;
  if (retstat == 1) GS_FWARNING(1, 1, {"OUTPUT FILE COULD NOT BE OPENED"}, status);
  if (retstat == 2) GS_FWARNING(1, 1, {"ERROR OCCURRED DURING FILE OUTPUT"}, status);
}

void FIO_GUI_OUTPUT(std::string_view input_file, Index xmaxdat, Index ymaxdat, Index xstrelm,
                    Index ystrelm, Index xendelm, Index yendelm, std::span<const float> xaxis,
                    std::span<const float> yaxis, std::span<const float> data,
                    std::span<const float> variances, std::string_view title,
                    std::string_view xlabel, std::string_view ylabel, std::string_view zlabel,
                    bool variances_exist, float x_pixel_size, float y_pixel_size,
                    Status& status) {
  if (st_bad(status, "Subroutine FIO_GUI_OUTPUT V0.9")) return;
  std::string format;
  FIO_INP_OUTPUT(format, status);
  if (status == kStatusEscape) {
    st_reset(status);  // cancelling an output is no error
    return;
  }
  std::string output_file;
  int retstat = 0;
  FIO_GUI_OUT(input_file, format, false, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
              xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist,
              x_pixel_size, y_pixel_size, output_file, retstat, status);
}

}  // namespace kesta
