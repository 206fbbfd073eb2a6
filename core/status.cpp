#include "core/status.hpp"

#include <array>
#include <cstdlib>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/text.hpp"

namespace kesta {
namespace {

constexpr std::size_t kPositionLength = 132;

struct StDbPosition {
  std::string text;  // without trailing blanks; empty = blank
  bool first_reset = true;
};
StDbPosition st_dbposition;

constexpr std::array<const char*, 40> kArgumentClasses = {
    "First array dimension illegally defined",
    "Second array dimension illegally defined",
    "Third array dimension illegally defined",
    "Fourth or greater array dimension illegally defined",
    "First dimension data region illegally defined",
    "Second dimension data region illegally defined",
    "Third dimension data region illegally defined",
    "Fourth or greater dimension data region illegally defined",
    "First dimension internal array limit exceeded",
    "Second dimension internal array limit exceeded",
    "Third dimension internal array limit exceeded",
    "Fourth or greater dimension internal array limit exceeded",
    "First dimension: illegal relationship between two variables",
    "Second dimension: illegal relationship between two variables",
    "Third dimension: illegal relationship between two variables",
    "Fourth of greater dimension: illegal relationship between two variables",
    "First dimension: integer value out of acceptable range",
    "Second dimension: integer value out of acceptable range",
    "Third dimension: integer value out of acceptable range",
    "Fourth or greater dimension: integer value out of acceptable range",
    "First dimension: real value out of acceptable range",
    "Second dimension: real value out of acceptable range",
    "Third dimension: real value out of acceptable range",
    "Fourth or greater dimension: real value out of acceptable range",
    "First dimension: number of elements is not a power of two",
    "Second dimension: number of elements is not a power of two",
    "Third dimension: number of elements is not a power of two",
    "Fourth of greater dimension: number of elements is not a power of two",
    "First dimension: a value which must be even is not",
    "Second dimension: a value which must be even is not",
    "Third dimension: a value which must be even is not",
    "Fourth of greater dimension: a value which must be even is not",
    "First dimension: badly defined character variable",
    "Second dimension: badly defined character variable",
    "Third dimension: badly defined character variable",
    "Fourth of greater dimension: badly defined character variable",
    "First dimension external array limit exceeded",
    "Second dimension external array limit exceeded",
    "Third dimension external array limit exceeded",
    "Fourth or greater dimension external array limit exceeded",
};

constexpr std::array<const char*, 16> kGeneralClasses = {
    "Failed to open file: (file not found or bad file name ?)",
    "Bad input: End of file found",
    "Bad memory allocation: Memory allocation failed",
    "Divide by zero encountered: result set to -1.7014117e38",
    "Logarithm of zero or a negative number: result set to -38.0",
    "Bad data in file input",
    "Inversion (or similar) failed owing to singular or ill-conditioned matrix",
    "Operation not possible owing to bad internal state (internal data-base)",
    "Bad input: Error during READ statement",
    "Unknown operating system/compiler characteristics (edit and re-compile)",
    "Write to output file failed",
    "Read from file failed (but not EOF)",
    "Array element values not in required order",
    "Syntax error from an input macro",
    "Bad data has caused problem with algorithm",
    "String of insufficient length for assignment",
};

bool is_special(Status s) { return s == kStatusGood || s == kStatusEscape || s == kStatusConsumed; }

// |status| mod 10000 without overflowing on the most negative value.
Status code_of(Status status) {
  const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(status));
  return static_cast<Status>(magnitude % 10000);
}

}  // namespace

void st_reset(Status& status) {
  status = kStatusGood;
  st_dbposition.text.clear();
}

void ST_DEF_SYSTEM(Status& status) {
  st_reset(status);
  if (st_dbposition.first_reset) {
    st_dbposition.first_reset = false;
    IO_DEF_SYSTEM(status);
  }
}

void ST_SAVE(std::string_view position) {
  if (!st_dbposition.text.empty()) return;
  st_dbposition.text =
      without_trailing_blanks(position.substr(0, std::min(position.size(), kPositionLength)));
}

Status ST_ERRORCODE(Status status) {
  if (is_special(status)) return status;
  return code_of(status);
}

std::string st_position() { return st_dbposition.text; }

std::string st_module_text(Status status) {
  const std::int64_t base = (static_cast<std::int64_t>(status) / 10000) * 10000;
  switch (base) {
    case 10000: return "IO: Input/Output and Status";
    case 20000: return "MA: Mathematics";
    case 30000: return "GR: Graphics";
    case 40000: return "NAG: NAG mathematics library";
    case 50000: return "DS: Data Storage";
    case 60000: return "GKS: Graphics Kernel System";
    case 70000: return "HDS: Hierarchical Data Storage system";
    case 80000: return "PHIGS: Programmers Hierarchical Interactive Graphics System";
    case 100000: return "MERVODA (MVD): MERVODA graphics module";
    case 110000: return "KESTA (KZT): 2-D fitting module";
    case 120000: return "monitor (MON):  MONITOR module";
    case 130000: return "QG: \"Qivo Graphics\"";
    case 140000: return "GS: \"Graphics System\"";
    case 150000: return "DIT: Dorvan Incomplete Transform module";
    case 160000: return "GENERATOR: Software generator module";
    case 170000: return "PELWIN: Cell Indexing Module";
    case 180000: return "FIO: File Input/Output Module";
    case 9980000: return "SPECIAL: using standard status values";
    case 9990000: return "SPECIAL: using non-standard status values";
    default: return "UNKNOWN:";
  }
}

std::string st_class_text(Status status) {
  if (is_special(status)) return {};
  const Status code = code_of(status);
  if (code >= 1 && code <= 40) return kArgumentClasses[code - 1];
  if (code >= 1000 && code <= 1015) return kGeneralClasses[code - 1000];
  if (code == 2001) return "Failed to open X-11 window (use \"xhost+\" on X-server ?)";
  if (code == 2002) return "Illegal graphics workstation number access attempted";
  if (code == 9999) return "Other, undefined error (doesn't fit normal categories)";
  return {};
}

void ST_OUT(Status status) {
  Status local = kStatusGood;
  if (status == kStatusGood) {
    if (st_dbposition.text.empty()) return;
    IO_WRITE(" ", local);
    IO_WRITE("STATUS: The \"status\" value appears to be good, but an error position has", local);
    IO_WRITE("been reported in:", local);
    IO_WRITE(st_dbposition.text, local);
    IO_WRITE("This is probably due to incorrect calling arguments", local);
    return;
  }
  if (status == kStatusEscape) {
    IO_WRITE(" ", local);
    IO_WRITE("STATUS: The \"status\" value is set to the user escape value", local);
    return;
  }
  IO_WRITE(" ", local);
  IO_WRITE("STATUS: The error was identified in module:", local);
  IO_WRITE(st_module_text(status), local);
  IO_WRITE(" ", local);
  IO_WRITE("STATUS: Position where error condition was identified", local);
  IO_WRITE(st_dbposition.text, local);
  std::string class_text = st_class_text(status);
  if (class_text.empty()) {
    IO_WRITE("WARNING: Unknown value for the status variable; value = " + format_i(status, 14), local);
    class_text = "Undefined error value";
  }
  IO_WRITE(" ", local);
  IO_WRITE("STATUS: The error condition has been classified as:", local);
  IO_WRITE(class_text, local);
}

}  // namespace kesta
