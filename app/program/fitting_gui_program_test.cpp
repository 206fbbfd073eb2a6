// End-to-end: the two fitting interfaces of the graphical menu, in the real
// program on a private X server, driven by a macro of menu choices and
// clicks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/diffraction/diffraction_test_support.hpp"
#include "app/main/program_test_support.hpp"
#include "core/dialogue_testing.hpp"
#include "core/test_support.hpp"
#include "graphics/device/x11_test_support.hpp"

namespace kesta {
namespace {

TEST(FittingGuiProgram, TwoDFitAndMultipleRowFitFromAMacro) {
  if (!testing::xvfb_available()) GTEST_SKIP() << "Xvfb is not installed";
  testing::TempDir dir;
  // A Gaussian of 100 at (20.5, 30.5), SDs 3 and 2, on a level of 5.
  std::vector<float> image(64 * 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const double dx = (x + 0.5 - 20.5) / 3.0, dy = (y + 0.5 - 30.5) / 2.0;
      image[static_cast<std::size_t>(y * 64 + x)] =
          static_cast<float>(5.0 + 100.0 * std::exp(-0.5 * (dx * dx + dy * dy)));
    }
  ASSERT_TRUE(testing::write_square_image(dir.file("peak.kzt"), 64, image));
  testing::PrivateXServer server(24);
  ASSERT_TRUE(server.ok());
  testing::write_text_file(
      dir.file("fit.mac"),
      "2-D FITTING\nOPTIMISE\nINPUT\npeak.kzt\nRESULTS\nINITIALISE\nGAUSSIAN\n1\n21\n30.5\n1\n24.5\n"
      "30.5\n1\n21\n32.85\nEXIT\nOPTIMISE\nRESULTS\nO.K.\nSUBTRACT\nADD\nEXIT\n"
      "OLMI (MULTIPLE 1-D FITTING)\nINPUT\npeak.kzt\nZOOM IN\n2\n0.5\n28.1\n63.5\n33.9\n"
      "INITIALISE\n1\n10\n30.2\nGAUSSIAN\n1\n21\n100\n1\n24\n55\nPOLYNOMIAL\n1\n0\nPOLYNOMIAL\n"
      "EXIT\nOPTIMISE\nRESULTS\nO.K.\nPRINT\ncomposite.ps\nEXCHANGE\nEXIT\nEXIT KESTA\nYES\n");
  testing::PtyChild child([&dir] {
    if (chdir(dir.path().c_str()) != 0) return 126;
    setenv("HOME", dir.path().c_str(), 1);
    char* argv[] = {const_cast<char*>("kesta"), const_cast<char*>("-dim64x64"),
                    const_cast<char*>("-macfit.mac"), nullptr};
    execv(KESTA_PROGRAM, argv);
    return 127;
  });
  EXPECT_EQ(child.finish(60000), 0) << child.output();
  const std::string out = child.output();
  EXPECT_NE(out.find("INFO: The fit model is stored in the \"memory\", use \"EXCHANGE\""),
            std::string::npos);
  EXPECT_NE(out.find("NOTE: This menu is designed to work on data stored in horizontal"),
            std::string::npos);
  EXPECT_EQ(out.find("not available yet"), std::string::npos);
  // PRINT after OPTIMISE writes the composite display of the fitted row.
  EXPECT_NE(out.find("INFO: Finished writing graphics file"), std::string::npos);
  const std::string ps = testing::file_contents(dir.file("composite.ps"));
  EXPECT_NE(ps.find("%!PS"), std::string::npos);
  EXPECT_NE(ps.find("Row 31"), std::string::npos);
  EXPECT_NE(out.find("INFO: BYE"), std::string::npos);
}

}  // namespace
}  // namespace kesta
