// The typed road of the FIT sub-menu's model-fitting commands, through the
// real program: parameters from a file, the fit, results, model, set-up
// menus, surface polynomial, mask commands and the parameter file written.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <vector>

#include "app/fitting/fitting_test_support.hpp"
#include "app/fitting/parameter_file.hpp"
#include "app/fitting/setup.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/status.hpp"
#include "formats/kesta_format.hpp"
#include "formats/kesta_format.hpp"

namespace kesta {
namespace {

constexpr Index kX = 64;
constexpr Index kY = 48;

FitModel two_gaussians() {
  FitModel m;
  testing::add_feature(m, kGaussian, {20.0f, 15.0f, 200.0f, 3.0f, 2.0f, 0.3f});
  testing::add_feature(m, kGaussian, {45.0f, 30.0f, 150.0f, 2.5f, 4.0f, -0.4f});
  const char* tags[] = {" XCe", " YCe", " MAX", " 1SD", " 2SD", " ANG"};
  for (int i = 0; i < 12; ++i)
    m.names[static_cast<std::size_t>(i)] = feature_name("GAU", 1 + i / 6, tags[i % 6]);
  m.num_results = 2;
  m.result_names[0] = "GAU 1 INT ";
  m.result_names[1] = "GAU 2 INT ";
  return m;
}

// An image of two Gaussians, and a parameter file whose
// start values are off.
void prepare(const testing::TempDir& dir) {
  const std::vector<float> ax = testing::centre_axis(kX), ay = testing::centre_axis(kY);
  const ModelFrame frame = testing::frame_over(kX, kY, ax, ay);
  std::vector<float> data(kX * kY);
  Status status = kStatusGood;
  kzt_model_image(frame, two_gaussians(), 1, 1, kX, kY, data, status);
  testing::TerminalCapture quiet;
  {
    testing::ScriptedInput answer({dir.file("image.kzt")});
    int retstat = -1;
    FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, ax, ay, data, {}, "Peaks", "X", "Y", "Counts",
                  false, 1.0e-4f, 1.0e-4f, retstat, status);
  }
  FitModel start = two_gaussians();
  start.params[0] += 1.0f;
  start.params[2] = 150.0f;
  start.params[7] -= 1.0f;
  std::vector<std::uint8_t> mask(kX * kY, 0);
  mask[0] = 1;
  kzt_write_parameter_file(dir.file("kesta.par"), kX, kY, kX, kY, mask, start, {}, status);
  ASSERT_EQ(status, kStatusGood);
}

// Leaves the sub-menu, writes the memory to NAME and comes back.
std::string snapshot(const std::string& name) {
  return "EXIT\nEXCHANGE\nOUTPUT DATA\nKESTA STANDARD FORMAT\n" + name + "\nEXCHANGE\nFIT\n";
}

// The title and the value at (X, Y) of a written image.
std::pair<std::string, float> image_file(const testing::TempDir& dir, const std::string& file,
                                         Index x, Index y) {
  std::vector<float> xaxis(kX), yaxis(kY), data(kX * kY), variances(kX * kY);
  std::string name = dir.file(file), title, xl, yl, zl;
  bool variances_exist = false;
  int retstat = -1;
  Index xnum = 0, ynum = 0;
  float xps = 0, yps = 0, overload = 0;
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  FIO_IN_KESTA(true, kX, kY, variances_exist, name, retstat, xnum, ynum, xaxis, yaxis, data,
               variances, title, xl, yl, zl, xps, yps, overload, status);
  if (retstat != 0) return {"unread", 0.0f};
  return {title, data[static_cast<std::size_t>(element(x, y, kX))]};
}

TEST(FitProgram, TypedRoadOfTheModelFittingCommands) {
  testing::TempDir dir;
  prepare(dir);
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -key -dim64x48",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\n"
      "OPTIMISE\nRESULTS\nINPUT PARAMETERS\nGRAPHICALLY\nSET MASK COLOUR\n"
      "INPUT PARAMETERS\nFILE\nkesta.par\n" +
          snapshot("residuals.kzt") +
          "SET UP\nNUMBER ITERATIONS\n40\nVIEW\nEXIT\n"
          "CHANGE SCALE\nMODIFY\n3\n0\n5\nVIEW\nEXIT\n"
          "CONSTRAIN\nMODIFY\n6\n6\nCONSTRAIN\nVIEW\n1\n6\nEXIT\n"
          "OPTIMISE\nRESULTS\n" +
          snapshot("fit.kzt") + "EXIT\nFIT\nMODEL\n" + snapshot("model.kzt") +
          "OUTPUT PARAMETERS\nout.par\nMASK STATISTICS\nTRANSFER MASK TO MEMORY\n" +
          snapshot("mask.kzt") + "SURFACE POLYNOMIAL\n1\n1\n" + snapshot("surface.kzt") +
          "EXIT\nEXIT\nYES\n");
  const std::string& out = r.output;
  EXPECT_EQ(r.code, 0) << out;
  EXPECT_EQ(out.find("not available yet"), std::string::npos) << out;
  // OPTIMISE before any parameters only warns.
  EXPECT_NE(out.find("PARAMETERS MUST BE DEFINED USING \"INPUT PARAMETERS\""), std::string::npos);
  EXPECT_NE(out.find("RESULTS MUST BE DEFINED USING \"OPTIMISE\""), std::string::npos);
  // The window's commands refused without graphics.
  const std::size_t refused = out.find("WARNING: Graphics system is turned off");
  ASSERT_NE(refused, std::string::npos);
  EXPECT_NE(out.find("WARNING: Graphics system is turned off", refused + 1), std::string::npos);
  // The residuals are in the memory after the input.
  EXPECT_EQ(image_file(dir, "residuals.kzt", 1, 1).first, "Residuals");
  EXPECT_EQ(image_file(dir, "fit.kzt", 1, 1).first, "FIT MODEL");
  EXPECT_NEAR(image_file(dir, "fit.kzt", 21, 16).second,
              image_file(dir, "model.kzt", 21, 16).second, 1e-3f);
  EXPECT_EQ(image_file(dir, "model.kzt", 1, 1).first, "FIT MODEL");
  EXPECT_EQ(image_file(dir, "mask.kzt", 1, 1), std::make_pair(std::string("Data Mask"), 1.0f));
  EXPECT_EQ(image_file(dir, "surface.kzt", 1, 1).first, "2-D Chebyshev Polynomial Fit model");
  EXPECT_NE(out.find("NUMBER ITERATIONS :   40.000     (Per unconstrained parameter)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ACCURACY :   1.1000     (Average standard deviations per data point)"),
            std::string::npos);
  EXPECT_NE(out.find("PARAMETER NUMBER   3 GAU 1 MAX  Value =   150.00    Scale =   5.0000"),
            std::string::npos)
      << out;
  // The scale size refused at 0 is asked again offering the scale held.
  const std::size_t first_scale = out.find("NEW SCALE SIZE");
  const std::size_t again_scale = out.find("NEW SCALE SIZE", first_scale + 1);
  ASSERT_NE(again_scale, std::string::npos) << out;
  const auto offered = [&](std::size_t at) { return out.substr(at, out.find(':', at) - at); };
  EXPECT_EQ(offered(again_scale), offered(first_scale));
  EXPECT_NE(out.find("PARAMETER NUMBER   6 GAU 1 ANG  CONSTRAINED Value = "), std::string::npos);
  EXPECT_NE(out.find("INFO: Number of function calls = "), std::string::npos);
  EXPECT_NE(out.find("INFO: Sum of squares = "), std::string::npos);
  EXPECT_NE(out.find("INFO: Elapse time = "), std::string::npos);
  EXPECT_NE(out.find("PARAMETERS OF FIT"), std::string::npos);
  EXPECT_NE(out.find("No Quantity  Value      Error"), std::string::npos);
  EXPECT_NE(out.find("GAU 1 MAX   2.00000E+02  0.00E+00"), std::string::npos) << out;
  EXPECT_NE(out.find("GAU 1 INT   7.540E+03"), std::string::npos);
  EXPECT_NE(out.find("INFO: Total number of elements in active data region =     3072"),
            std::string::npos);
  EXPECT_NE(out.find("      Number of masked elements =        1"), std::string::npos);
  EXPECT_NE(out.find("      Percentage of masked elements =  0.03255208"), std::string::npos);
  EXPECT_NE(out.find("INFO: 2-D Chebyshev polynomial coefficients calculated"), std::string::npos);
  EXPECT_NE(out.find("INFO: RMS residual = "), std::string::npos);
  // The written file reads back with the constrained rotation.
  FitModel model;
  FitControls controls;
  std::vector<std::uint8_t> mask;
  int retstat = -1;
  Status status = kStatusGood;
  testing::TerminalCapture quiet;
  kzt_read_parameter_file(dir.file("out.par"), kX, kY, model, controls, mask, retstat, status);
  ASSERT_EQ(retstat, 0);
  EXPECT_TRUE(model.constraints[5]);
  EXPECT_NEAR(model.params[0], 20.0f, 0.01f);
  EXPECT_EQ(controls.iterations, 40.0f);
  EXPECT_EQ(mask[0], 1);
}

// The values of the last RESULTS text of a transcript, by name.
std::map<std::string, float> fitted_values(const std::string& out) {
  std::map<std::string, float> values;
  const std::size_t heading = out.rfind("No Quantity  Value      Error");
  if (heading == std::string::npos) return values;
  std::istringstream lines(out.substr(heading));
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && line.find("ENTER COMMAND") == std::string::npos)
    if (line.size() > 11 && line[0] != ' ') values[line.substr(0, 10)] = std::stof(line.substr(11, 12));
  return values;
}

TEST(FitProgram, StartHeightSetToZeroIsFittedFromTheModelsLeastHeight) {
  // The model evaluates a height of 0 as 1e-37; the fit starts from there
  // and finds the peak, with no status error on the way.
  testing::TempDir dir;
  prepare(dir);
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -key -dim64x48",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nINPUT PARAMETERS\nFILE\nkesta.par\n"
      "CONSTRAIN\nMODIFY\n3\n3\nSET\n0\nEXIT\nOPTIMISE\nRESULTS\nEXIT\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output.find("STATUS:"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("is not valid"), std::string::npos) << r.output;
  const std::map<std::string, float> fitted = fitted_values(r.output);
  ASSERT_EQ(fitted.count("GAU 1 MAX "), 1u) << r.output;
  EXPECT_NEAR(fitted.at("GAU 1 MAX "), 200.0f, 0.5f) << r.output;
  EXPECT_NEAR(fitted.at("GAU 1 XCe "), 20.0f, 0.01f) << r.output;
}

// How often WHAT appears in TEXT.
std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(FitProgram, WeightsAskedForWithoutVarianceArraysStayOffAndSaySo) {
  testing::TempDir dir;
  prepare(dir);
  // A parameter file asking for weights.
  FitControls weighted;
  weighted.weighted = true;
  FitModel model = two_gaussians();
  Status status = kStatusGood;
  kzt_write_parameter_file(dir.file("weighted.par"), kX, kY, kX, kY, {}, model, weighted, status);
  ASSERT_EQ(status, kStatusGood);
  const std::string commands =
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nSET UP\nWEIGHTED FIT\nVIEW\nEXIT\n"
      "INPUT PARAMETERS\nFILE\nweighted.par\nSET UP\nVIEW\nEXIT\nEXIT\nEXIT\nYES\n";
  const testing::ProgramResult r = testing::run_program(dir, "-nogr -key -dim64x48", commands);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(r.output.find("WEIGHTED FIT : TRUE"), std::string::npos) << r.output;
  EXPECT_EQ(occurrences(r.output, "WEIGHTED FIT : FALSE (Fit unweighted)"), 2u) << r.output;
  EXPECT_EQ(occurrences(r.output, kNoVariancesForWeights), 2u) << r.output;
  EXPECT_EQ(r.output.find("Error weighting will now"), std::string::npos);
  // With variance arrays the toggle and the file give weights.
  const testing::ProgramResult v = testing::run_program(dir, "-nogr -key -var -dim64x48", commands);
  EXPECT_EQ(v.code, 0) << v.output;
  EXPECT_EQ(occurrences(v.output, "WEIGHTED FIT : TRUE (Fit weighted by error values)"), 2u)
      << v.output;
  EXPECT_EQ(v.output.find(kNoVariancesForWeights), std::string::npos);
  // Started with -var, weights asked for, then DIMENSIONS removed the
  // variance arrays: the next FIT says so, not to start with -var.
  const testing::ProgramResult d = testing::run_program(
      dir, "-nogr -key -var -dim64x48",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nSET UP\nWEIGHTED FIT\nEXIT\nEXIT\n"
      "DIMENSIONS\n64\n48\nYES\nNO\nINPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\n"
      "SET UP\nVIEW\nEXIT\nEXIT\nEXIT\nYES\n");
  EXPECT_EQ(d.code, 0) << d.output;
  EXPECT_EQ(occurrences(d.output, kVariancesRemovedForWeights), 1u) << d.output;
  EXPECT_EQ(d.output.find(kNoVariancesForWeights), std::string::npos) << d.output;
  EXPECT_EQ(occurrences(d.output, "WEIGHTED FIT : FALSE (Fit unweighted)"), 1u) << d.output;
}

TEST(FitProgram, NewParametersClearTheResultsOfTheFitBefore) {
  testing::TempDir dir;
  prepare(dir);
  const testing::ProgramResult r = testing::run_program(
      dir, "-nogr -key -dim64x48",
      "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nINPUT PARAMETERS\nFILE\nkesta.par\n"
      "OPTIMISE\nRESULTS\nINPUT PARAMETERS\nFILE\nkesta.par\nRESULTS\nEXIT\nEXIT\nYES\n");
  EXPECT_EQ(r.code, 0) << r.output;
  const std::size_t shown = r.output.find("PARAMETERS OF FIT");
  ASSERT_NE(shown, std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("PARAMETERS OF FIT", shown + 1), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("RESULTS MUST BE DEFINED USING \"OPTIMISE\"", shown), std::string::npos)
      << r.output;
}

TEST(FitProgram, OneImageFitsAlikeInArraysLargerThanIt) {
  // Axes in millimetres from 10 mm, two Gaussians and a polar peak, read
  // into arrays of its own size and into arrays twice as large.
  testing::TempDir dir;
  std::vector<float> ax(kX), ay(kY);
  for (Index i = 0; i < kX; ++i) ax[static_cast<std::size_t>(i)] = 10.0f + 0.2f * (i + 0.5f);
  for (Index i = 0; i < kY; ++i) ay[static_cast<std::size_t>(i)] = 10.0f + 0.2f * (i + 0.5f);
  FitModel truth;
  testing::add_feature(truth, kGaussian, {14.0f, 13.0f, 200.0f, 0.6f, 0.4f, 0.3f});
  testing::add_feature(truth, kGaussian, {19.0f, 16.0f, 150.0f, 0.5f, 0.8f, -0.4f});
  testing::add_feature(truth, kPolarCentre, {16.0f, 14.0f, 20.0f, 17.5f, 90.0f, 0.4f, 0.15f});
  truth.num_results = 3;
  truth.result_names = {"GAU 1 INT ", "GAU 2 INT ", "PGa 3 INT "};
  Status status = kStatusGood;
  std::vector<float> data(kX * kY);
  kzt_model_image(testing::frame_over(kX, kY, ax, ay), truth, 1, 1, kX, kY, data, status);
  {
    testing::TerminalCapture quiet;
    testing::ScriptedInput answer({dir.file("image.kzt")});
    int retstat = -1;
    FIO_OUT_KESTA(false, "", kX, kY, 1, 1, kX, kY, ax, ay, data, {}, "Peaks", "X", "Y", "Counts",
                  false, 1.0e-4f, 1.0e-4f, retstat, status);
  }
  FitModel start = truth;
  const float shift[] = {0.2f, -0.1f, -40, 0.1f, 0, 0.1f, -0.15f, 0.1f, 30, -0.1f, 0.1f, 0, 0, 0,
                         0.2f, -0.2f, -20, 0.1f, 0.02f};
  for (std::size_t i = 0; i < std::size(shift); ++i) {
    start.params[i] += shift[i];
    start.names[i] = "P" + std::to_string(i + 1);
    start.names[i].resize(10, ' ');
  }
  start.constraints[0 + 12] = start.constraints[1 + 12] = true;
  kzt_write_parameter_file(dir.file("kesta.par"), kX, kY, kX, kY, {}, start, {}, status);
  ASSERT_EQ(status, kStatusGood);
  std::map<std::string, float> fits[2];
  for (const int times : {1, 2}) {
    const testing::ProgramResult r = testing::run_program(
        dir,
        "-nogr -key -dim" + std::to_string(kX * times) + "x" + std::to_string(kY * times),
        "INPUT DATA\nKESTA STANDARD FORMAT\nimage.kzt\nFIT\nINPUT PARAMETERS\nFILE\n"
        "kesta.par\nOPTIMISE\nRESULTS\nEXIT\nEXIT\nYES\n");
    fits[times - 1] = fitted_values(r.output);
    ASSERT_EQ(fits[times - 1].size(), 22u) << r.output;
    EXPECT_EQ(r.output.find("is not valid"), std::string::npos) << r.output;
  }
  for (const auto& [name, value] : fits[0]) {
    EXPECT_NEAR(fits[1][name], value, 0.01 * std::fabs(value) + 1e-3) << name;
    const std::size_t i = static_cast<std::size_t>(std::atoi(name.c_str() + 1) - 1);
    if (name[0] == 'P' && name[1] >= '1' && name[1] <= '9') {
      EXPECT_NEAR(value, truth.params[i], 0.01f) << name;
    }
  }
}

}  // namespace
}  // namespace kesta
