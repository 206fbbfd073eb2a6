#include "app/diffraction/calculators.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "app/diffraction/geometry.hpp"
#include "app/main/kzt_common.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/menu.hpp"
#include "core/prompts.hpp"
#include "core/status.hpp"

namespace kesta {

namespace {

constexpr double kPiDouble = 3.141592653589793;

// The three inter-axial angles of the other cell; rounding can take the
// cosines a hair beyond 1, which must not become NaN.
double other_angle(double c1, double c2, double s1, double s2, double c0) {
  return std::acos(std::clamp((c1 * c2 - c0) / (s1 * s2), -1.0, 1.0));
}

UnitCell converted(const UnitCell& cell, double volume) {
  const double ca = std::cos(cell.alpha), cb = std::cos(cell.beta), cg = std::cos(cell.gamma);
  const double sa = std::sin(cell.alpha), sb = std::sin(cell.beta), sg = std::sin(cell.gamma);
  return {cell.b * cell.c * sa / volume,  cell.c * cell.a * sb / volume,
          cell.a * cell.b * sg / volume,  other_angle(cb, cg, sb, sg, ca),
          other_angle(cg, ca, sg, sa, cb), other_angle(ca, cb, sa, sb, cg)};
}

// A cell whose volume is not a positive real number has no reciprocal.
bool usable_volume(double volume, Status& status) {
  if (std::isfinite(volume) && volume > 0.0) return true;
  IO_WRITE("WARNING: These cell parameters do not describe a cell of positive volume", status);
  return false;
}

std::string e12(double v) { return format_e(v, 12, 5, 1); }

struct CellPrompts {
  const char* lengths[3];
  const char* length_help[3];
  const char* angles[3];
  const char* angle_help[3];
};

constexpr CellPrompts kRealPrompts{
    {"A axis length (ANGSTROMS)", "B axis length (ANGSTROMS)", "C axis length (ANGSTROMS)"},
    {"Length of A axis of unit cell", "Length of B axis of unit cell",
     "Length of C axis of unit cell"},
    {"ALPHA (degrees)", "BETA (degrees)", "GAMMA (degrees)"},
    {"Alpha Angle", "Beta Angle", "Gamma Angle"}};
constexpr CellPrompts kReciprocalPrompts{
    {"A star axis length (Inverse ANGSTROMS)", "B star axis length (Inverse ANGSTROMS)",
     "C star axis length (Inverse ANGSTROMS)"},
    {"Length of A star axis of reciprocal unit cell",
     "Length of B star axis of reciprocal unit cell",
     "Length of C star axis of reciprocal unit cell"},
    {"ALPHA STAR (degrees)", "BETA STAR (degrees)", "GAMMA STAR (degrees)"},
    {"Alpha Star Angle", "Beta Star Angle", "Gamma Star Angle"}};

// Asks the six values of CELL (angles in degrees).
void ask_cell(const CellPrompts& p, UnitCell& cell, Status& status) {
  double* lengths[] = {&cell.a, &cell.b, &cell.c};
  double* angles[] = {&cell.alpha, &cell.beta, &cell.gamma};
  for (int k = 0; k < 3; ++k)
    IO_INPD(true, 0.0, 1.0e6, true, p.lengths[k], {p.length_help[k]},
            {"Value must be within given range"}, *lengths[k], status);
  for (int k = 0; k < 3; ++k)
    IO_INPD(true, 0.0, 180.0, true, p.angles[k], {p.angle_help[k]},
            {"Value must be within given range"}, *angles[k], status);
}

UnitCell in_radians(const UnitCell& c) {
  const double f = kPiDouble / 180.0;
  return {c.a, c.b, c.c, c.alpha * f, c.beta * f, c.gamma * f};
}

UnitCell in_degrees(const UnitCell& c) {
  const double f = 180.0 / kPiDouble;
  return {c.a, c.b, c.c, c.alpha * f, c.beta * f, c.gamma * f};
}

// Remembered for the run; angles in degrees.
struct ReciprocalState {
  bool real_to_reciprocal = true;
  UnitCell real{86.5, 86.5, 2690.0, 94.6, 88.05, 120.0};
  UnitCell reciprocal{0.02605, 0.03865, 0.001495, 89.515, 85.45, 74.5};
};
ReciprocalState reciprocal_state;

// Remembered by BRAGGS' EQUATION: metres and radians.
struct BraggState {
  float d_spacing = 3.9e-9f;
  float two_theta = 20.0f * kRadiansPerDegree;
  float wavelength = 1.540614e-10f;
  std::string command = "D-SPACING";
};
BraggState bragg_state;

void ask_two_theta(float& two_theta, Status& status) {
  float degrees = std::clamp(two_theta * kDegreesPerRadian, 0.0f, 180.0f);
  IO_INPR(true, 0.0f, 180.0f, true, "TWO THETA ANGLE (Degrees)",
          {"Enter two theta angle in degrees"}, {"Must be valid real number"}, degrees, status);
  if (status == kStatusGood) two_theta = degrees * kRadiansPerDegree;
}

void ask_d_spacing(float& d_spacing, Status& status) {
  float angstroms = std::clamp(d_spacing * 1.0e10f, 0.001f, 1.0e6f);
  IO_INPR(true, 0.001f, 1.0e6f, true, "D-SPACING (Angstroms)",
          {"Enter d-spacing in Anstroms (1 Angstrom = 0.1nm)"}, {"Must be valid real number"},
          angstroms, status);
  if (status == kStatusGood) d_spacing = angstroms * 1.0e-10f;
}

void bragg_d_spacing(BraggState& s, Status& status) {
  KZT_INP_WAVELENGTH(false, s.wavelength, status);
  ask_two_theta(s.two_theta, status);
  if (status != kStatusGood) return;
  const float sine = std::sin(s.two_theta / 2.0f);
  if (!(sine > 0.0f) || !(s.wavelength > 0.0f)) {
    IO_WRITE("WARNING: A d-spacing needs a 2-theta angle and a wavelength above 0", status);
    return;
  }
  s.d_spacing = s.wavelength / (2.0f * sine);
  IO_WRITE("INFO: D-spacing (Angstroms) = " + format_f(s.d_spacing * 1.0e10f, 12, 5), status);
}

void bragg_two_theta(BraggState& s, Status& status) {
  KZT_INP_WAVELENGTH(false, s.wavelength, status);
  ask_d_spacing(s.d_spacing, status);
  if (status != kStatusGood) return;
  const float sine = s.wavelength / (2.0f * s.d_spacing);
  if (!(sine >= 0.0f && sine <= 1.0f)) {
    IO_WRITE("WARNING: No Bragg reflection: the d-spacing is below half the wavelength", status);
    return;
  }
  s.two_theta = 2.0f * std::asin(sine);
  IO_WRITE("INFO: Two theta angle (Degrees) = " + format_f(s.two_theta * kDegreesPerRadian, 12, 5),
           status);
}

void bragg_wavelength(BraggState& s, Status& status) {
  ask_d_spacing(s.d_spacing, status);
  ask_two_theta(s.two_theta, status);
  if (status != kStatusGood) return;
  const float wavelength = 2.0f * s.d_spacing * std::sin(s.two_theta / 2.0f);
  if (!(wavelength > 0.0f)) {
    IO_WRITE("WARNING: A 2-theta angle of 0 gives no wavelength", status);
    return;
  }
  s.wavelength = wavelength;
  const float angstroms = wavelength * 1.0e10f;
  IO_WRITE("INFO: Wavelength (Angstroms) = " + format_f(angstroms, 12, 5), status);
  IO_WRITE("INFO: Energy (keV) = " + format_f(kKevAngstrom / angstroms, 12, 5), status);
}

}  // namespace

bool KZT_UNIT2RECIPROCAL(const UnitCell& real, double& volume, UnitCell& reciprocal,
                         Status& status) {
  if (st_bad(status, "Subroutine KZT_UNIT2RECIPROCAL V0.1")) return false;
  const double s = (real.alpha + real.beta + real.gamma) / 2.0;
  const double v = 2.0 * real.a * real.b * real.c *
                   std::sqrt(std::sin(s) * std::sin(s - real.alpha) * std::sin(s - real.beta) *
                             std::sin(s - real.gamma));
  if (!usable_volume(v, status)) return false;
  volume = v;
  reciprocal = converted(real, v);
  return true;
}

bool KZT_RECIP2UNIT(const UnitCell& reciprocal, double& volume_star, UnitCell& real,
                    Status& status) {
  if (st_bad(status, "Subroutine KZT_RECIP2UNIT V0.1")) return false;
  const double ca = std::cos(reciprocal.alpha), cb = std::cos(reciprocal.beta),
               cg = std::cos(reciprocal.gamma);
  const double v = reciprocal.a * reciprocal.b * reciprocal.c *
                   std::sqrt(1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg);
  if (!usable_volume(v, status)) return false;
  volume_star = v;
  real = converted(reciprocal, v);
  return true;
}

void KZT_RECIPROCAL(Status& status) {
  if (st_bad(status, "Subroutine KZT_RECIPROCAL V0.1")) return;
  ReciprocalState& st = reciprocal_state;
  bool forward = st.real_to_reciprocal;
  IO_INPL(false, false, false, true, "REAL TO RECIPROCAL",
          {"YES: to convert from real unit cell parameters to reciprocal space",
           "cell parameters, NO: to convert from reciprocal space cell",
           "parameters to real space unit cell parameters"},
          {"Enter YES or NO"}, forward, status);
  if (status != kStatusGood) return;
  st.real_to_reciprocal = forward;
  UnitCell typed = forward ? st.real : st.reciprocal;
  ask_cell(forward ? kRealPrompts : kReciprocalPrompts, typed, status);
  if (status != kStatusGood) return;
  (forward ? st.real : st.reciprocal) = typed;
  double volume = 0.0;
  UnitCell other{};
  const bool ok = forward ? KZT_UNIT2RECIPROCAL(in_radians(typed), volume, other, status)
                          : KZT_RECIP2UNIT(in_radians(typed), volume, other, status);
  if (!ok) return;
  other = in_degrees(other);
  (forward ? st.reciprocal : st.real) = other;
  if (forward) {
    IO_WRITE("INFO: Unit cell volume = " + e12(volume) + " cubic Angstroms", status);
    IO_WRITE("INFO: a star = " + e12(other.a) + " Inverse Angstroms", status);
    IO_WRITE("INFO: b star = " + e12(other.b) + " Inverse Angstroms", status);
    IO_WRITE("INFO: c star = " + e12(other.c) + " Inverse Angstroms", status);
    IO_WRITE("INFO: alpha star = " + e12(other.alpha) + " degrees", status);
    IO_WRITE("INFO: beta star = " + e12(other.beta) + " degrees", status);
    IO_WRITE("INFO: gamma star = " + e12(other.gamma) + " degrees", status);
  } else {
    IO_WRITE("INFO: Reciprocal cell volume = " + e12(volume) + " cubic Inverse Angstroms", status);
    IO_WRITE("INFO: a = " + e12(other.a) + " Angstroms", status);
    IO_WRITE("INFO: b = " + e12(other.b) + " Angstroms", status);
    IO_WRITE("INFO: c = " + e12(other.c) + " Angstroms", status);
    IO_WRITE("INFO: alpha = " + e12(other.alpha) + " degrees", status);
    IO_WRITE("INFO: beta = " + e12(other.beta) + " degrees", status);
    IO_WRITE("INFO: gamma = " + e12(other.gamma) + " degrees", status);
  }
}

void KZT_BRAGG(Status& status) {
  if (st_bad(status, "Subroutine KZT_BRAGG V0.1")) return;
  static const std::string kChoices[] = {"D-SPACING", "EXIT", "QUIT", "TWO THETA ANGLE",
                                         "WAVELENGTH/ENERGY"};
  static const std::string kHelp[] = {
      "Enter one of the available commands",
      "D-SPACING: Calculate D-spacing from two theta angle/ wavelength",
      "EXIT: Return to main menu",
      "QUIT: Return to main menu",
      "TWO THETA ANGLE: 2 theta angle from d-spacing/ wavelength",
      "WAVELENGTH/ENERGY: Calculate from d-spacing/ 2 theta angle"};
  BraggState& st = bragg_state;
  for (;;) {
    std::string command = st.command;
    IO_MENU(true, "Bragg equation sub-menu: ENTER COMMAND", kHelp,
            {"Enter one of the available commands"}, static_cast<int>(std::size(kChoices)),
            kChoices, command, status);
    if (kzt_escape_at_end(status)) return;
    if (status == kStatusGood && (command == "EXIT" || command == "QUIT")) return;
    if (status == kStatusGood && command == "D-SPACING") {
      bragg_d_spacing(st, status);
      st.command = "TWO THETA ANGLE";
    } else if (status == kStatusGood && command == "TWO THETA ANGLE") {
      bragg_two_theta(st, status);
      st.command = "D-SPACING";
    } else if (status == kStatusGood && command == "WAVELENGTH/ENERGY") {
      bragg_wavelength(st, status);
      st.command = "D-SPACING";
    } else if (status == kStatusGood && command != "null") {
      IO_WRITE("WARNING: Unknown command, please enter new command", status);
    }
    if (kzt_escape_at_end(status)) return;
    if (status != kStatusGood && !kzt_reset_status(status)) return;
  }
}

}  // namespace kesta
