#include <array>
#include <string>
#include <vector>

#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/pager.hpp"
#include "core/status.hpp"
#include "core/text.hpp"
#include "formats/format_menus.hpp"
#include "formats/binary_format.hpp"
#include "formats/cdd_codec.hpp"
#include "formats/huffman_codec.hpp"
#include "formats/kesta_format.hpp"
#include "formats/mervoda_format.hpp"
#include "formats/scan_formats.hpp"
#include "formats/tulma_format.hpp"

namespace kesta {

namespace {

enum class Writer {
  kesta,
  tulma,
  binary2,  // 2-byte integers
  binary4,  // 4-byte integers
  denzo,
  mervoda,
  cam,
  gsas,
  mca,
  powder_cif,
  spread,
  cdd,
  huffman,
  header_on,
  header_off,
  not_presently,  // "CBF"
  unavailable,
};

struct OutputChoice {
  const char* name;
  const char* help;
  Writer writer;
};

// clang-format off
const std::array<OutputChoice, 19> kOutputChoices = {{
    {"3CAM", "3CAM: 1-D powder diffraction format for input to CERIUS", Writer::cam},
    {"4-BYTE INTEGERS", "4-BYTE INTEGERS: Binary integer*4 output of active data region", Writer::binary4},
    {"BINARY (UNFORMATTED)", "BINARY (UNFORMATTED): Simple dump of active data region", Writer::binary2},
    {"BSL FORMAT", "BSL FORMAT: Small-angle scattering laboratory (BSL/OTOKO) format", Writer::unavailable},
    {"CBF", "CBF: Crystallographic Binary Format", Writer::not_presently},
    {"MERVODA", "MERVODA: 1-D row or column output for X/Y graph plotting", Writer::mervoda},
    {"COMPRESSED DIFFRACTION DATA", "COMPRESSED DIFFRACTION DATA: Compacted diffraction data", Writer::cdd},
    {"DENZO MAR FORMAT", "DENZO MAR FORMAT: Experimental output format for DENZO", Writer::denzo},
    {"DUMP", "DUMP: (Same as \"BINARY (UNFORMATTED)\"; backwards compatibility)", Writer::binary2},
    {"KESTA STANDARD FORMAT", "KESTA STANDARD FORMAT: Self describing readable binary", Writer::kesta},
    {"GSAS", "GSAS: GSAS powder diffraction format", Writer::gsas},
    {"HEADER FILES", "HEADER FILES: Output ASCII header file with \"BINARY\" file", Writer::header_on},
    {"HUFFMAN", "HUFFMAN: TEST ROUTINE FOR TESTING HUFFMAN CODING", Writer::huffman},
    {"\"TULMA\" FORMAT", "\"TULMA\" FORMAT: WLT subset format file", Writer::tulma},
    {"MCA FORMAT", "MCA FORMAT: ASCII 8 columns per line g10.3 data only", Writer::mca},
    {"NO HEADER FILES", "NO HEADER FILES: No ASCII header files with \"BINARY\" files", Writer::header_off},
    {"PowderCIF", "PowderCIF: ASCII CIF output using Powder CIF dictionary", Writer::powder_cif},
    {"SPREAD SHEET", "SPREAD SHEET: ASCII, one line of ADR in one record", Writer::spread},
    {"TIFF INTEGERS", "TIFF INTEGERS: Simple 1 or 2-byte output (no compression)", Writer::unavailable},
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
};
FioOutputState fio_output_state;

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
    fio_format_not_available("The graphical output help", status);
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
    case Writer::tulma:
      fio_out_tulma_asked(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status);
      break;
    case Writer::binary2:
    case Writer::binary4: {
      int retstat = 0;
      FIO_OUT_BINARY(false, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                     title, xlabel, ylabel, zlabel, x_pixel_size, y_pixel_size,
                     fio_output_state.header_files, choice->writer == Writer::binary4 ? 4 : 2,
                     retstat, status);
      break;
    }
    case Writer::denzo: {
      int retstat = 0;
      FIO_OUT_MAR(false, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data,
                  retstat, status);
      break;
    }
    case Writer::mervoda: {
      int retstat = 0;
      std::string name;
      FIO_OUT_MERVODA(false, input_file, false, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                      yendelm, xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel,
                      variances_exist, name, retstat, status);
      break;
    }
    case Writer::cam:
      FIO_OUT_3CAM(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, xaxis, yaxis, data,
                   title, status);
      break;
    case Writer::gsas:
    case Writer::powder_cif: {
      int retstat = 0;
      std::string name;
      auto* writer = choice->writer == Writer::gsas ? FIO_OUT_GSAS : FIO_OUT_POWDERCIF;
      writer(false, input_file, false, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
             xaxis, yaxis, data, variances, title, xlabel, ylabel, zlabel, variances_exist, name,
             retstat, status);
      break;
    }
    case Writer::mca:
      FIO_OUT_MCA(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, status);
      break;
    case Writer::spread: {
      int retstat = 0;
      std::string name;
      FIO_OUT_SPREAD(false, input_file, false, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm,
                     yendelm, data, name, retstat, status);
      break;
    }
    case Writer::cdd: {
      int retstat = 0;
      FIO_OUT_CDD(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, data, retstat, status);
      break;
    }
    case Writer::huffman: {
      int retstat = 0;
      FIO_OUT_HUFFMAN(false, input_file, xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm,
                      data, retstat, status);
      break;
    }
    case Writer::header_on:
      fio_output_state.header_files = true;
      break;
    case Writer::header_off:
      fio_output_state.header_files = false;
      break;
    case Writer::not_presently:
      IO_WRITE("WARNING: NOT PRESENTLY AVAILABLE", status);
      break;
    case Writer::unavailable:
      fio_format_not_available("The format \"" + std::string(choice->name) + "\"", status);
      break;
  }
}

}  // namespace kesta
