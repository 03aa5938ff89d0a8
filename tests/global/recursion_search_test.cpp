// A global search over a problem with typed (RECURSE) entries, started by
// successive LP: every node is solved by the passes from the root's typed
// values, so the incumbent is a fixed point of its own node.
//
// min -2x - y subject to c x + y <= 10, 2x <= 7, x integer in [0, 5],
// y <= 8, with c = 0.1 y (a CL entry). The relaxation has x = 3.5; at x = 3
// the passes iterate y := 10 - 0.3 y, whose fixed point is y = 100/13, so
// the optimum is -6 - 100/13. A node solved as a plain LP with the root's
// coefficient c = 0.1 x 10/1.35 would give y = 7.78 instead.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using kltest::int_attribute_value;

constexpr int32_t kMipStatus = 1011;
constexpr int32_t kSolutionCount = 1017;
constexpr int32_t kDintsl = 2003;
constexpr int32_t kIfpres = 11;

// One fixed-field MPS line: fields start at columns 2, 5, 15, 25, 40, 50.
std::string mps_line(const std::vector<std::string>& fields) {
  static const size_t kStarts[] = {1, 4, 14, 24, 39, 49};
  std::string line;
  for (size_t k = 0; k < fields.size() && k < 6; ++k) {
    if (fields[k].empty()) continue;
    line.resize(kStarts[k], ' ');
    line += fields[k];
  }
  return line + "\n";
}

// cost_sign -1 gives the maximising form of the same problem.
std::string model(double cost_sign) {
  const std::string cx = std::to_string(-2.0 * cost_sign), cy = std::to_string(-1.0 * cost_sign);
  std::string t = "NAME          SLPINT\nROWS\n N  COST\n L  R1\n L  R2\nCOLUMNS\n";
  t += mps_line({"", "X", "COST", cx, "R1", "1.0"});
  t += mps_line({"", "X", "R2", "2.0"});
  t += mps_line({"", "Y", "COST", cy, "R1", "1.0"});
  t += "RHS\n" + mps_line({"", "RHS", "R1", "10.0", "R2", "7.0"});
  t += "BOUNDS\n" + mps_line({"UI", "BND", "X", "5.0"}) + mps_line({"UP", "BND", "Y", "8.0"});
  t += "RECURSE\n" + mps_line({"CL", "X", "R1", "0.1", "Y"}) + mps_line({"CV", "Y", "", "0.0001"});
  return t + "ENDATA\n";
}

class RecursionSearch : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir;
};

TEST_F(RecursionSearch, EveryNodeIsSolvedBySuccessiveLp) {
  constexpr double kY = 100.0 / 13.0;
  constexpr double kOptimum = -6.0 - kY;
  for (const double sign : {1.0, -1.0}) {
    SCOPED_TRACE(sign > 0 ? "minimise" : "maximise the negated objective");
    std::ofstream(dir.file("slpint.mps")) << model(sign);
    KLSETICV(kIfpres, 0);
    ASSERT_EQ(KLINPUT(dir.file("slpint").c_str()), 0);
    ASSERT_EQ(sign > 0 ? KLMINIM("rg") : KLMAXIM("rg"), 0);
    EXPECT_EQ(int_attribute_value(kMipStatus), 6);
    EXPECT_GE(int_attribute_value(kSolutionCount), 1);
    double best = 0.0;
    KLGETDPV(kDintsl, &best);
    EXPECT_NEAR(best, sign * kOptimum, 2e-3);
    std::vector<double> x(2);
    ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_NEAR(x[0], 3.0, 1e-9);
    EXPECT_NEAR(x[1], kY, 2e-3);
    // The typed values kept for the nodes go with the other work files.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string ext = entry.path().extension().string();
      EXPECT_TRUE(ext != ".rec" && ext != ".REC" && ext != ".glb" && ext != ".GLB") << entry.path();
    }
  }
}

}  // namespace
