#include "barrier/parameter_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kl::barrier_params;

// The record as the driver hands it to the reader: defaults, scaling
// cleared, the library-style log.
barrier_params driver_record() {
  barrier_params p;
  kl::set_barrier_defaults(p);
  p.scaling_methods = 0;
  p.print_word = -1;
  return p;
}

std::string section(const std::string& body) { return "BEGIN_OPT\n" + body + "END_OPT\n"; }

struct FileCase {
  const char* what;
  std::string text;
  std::function<void(const barrier_params&)> check;
  std::vector<std::string> messages;  // per reported line, in order: "key|words of the message"
};

class BarrierParameterFile : public kltest::LibrarySession {
 protected:
  barrier_params read(const std::string& text, barrier_params p = driver_record()) {
    const std::string path = dir.file("kalmir.par");
    std::ofstream(path, std::ios::binary) << text;
    kltest::captured_lines().clear();
    kl::read_barrier_parameter_file(p, path.c_str());
    return p;
  }
  kltest::TempDir dir;
};

TEST_F(BarrierParameterFile, EdgeCasesOfTheSyntax) {
  const std::string hundred = "TFEAS1" + std::string(69, ' ') + "1.23456789" + std::string(15, '7');
  const std::vector<FileCase> cases = {
      {"equals sign, d exponent and comment", section("TOPT1=1d-8!a comment 5\nTOPT2 = 2D-7\n"),
       [](const barrier_params& p) {
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-8);
         EXPECT_DOUBLE_EQ(p.TOPT2, 2e-7);
       },
       {}},
      {"int keys truncate toward zero", section("MAXITER 50.9\nSAFEMET -3.7\nMINCORR -0.5\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 50);
         EXPECT_EQ(p.SAFEMET, -3);
         EXPECT_EQ(p.MINCORR, 0);
       },
       {}},
      {"YES and NO, lower case is no number", section("POSTORDER NO\nORDERING YES\nSUPFILL yes\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.POSTORDER, 0);
         EXPECT_EQ(p.ORDERING, 1);
         EXPECT_EQ(p.SUPFILL, 25);
       },
       {"SUPFILL|is not a number"}},
      {"nothing before the section, nothing after its end",
       "MAXITER 7\nBEGIN_OPT trailing words\nMAXREF 3\nEND_OPT\nMAXCORR 4\n",
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 199);
         EXPECT_EQ(p.MAXREF, 3);
         EXPECT_EQ(p.MAXCORR, 1);
       },
       {}},
      {"no section at all", "MAXITER 7\nTOPT1 1e-3\n",
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 199);
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-9);
       },
       {}},
      {"80 characters kept, a value crossing the 80th is cut", section(hundred + "\n"),
       [](const barrier_params& p) { EXPECT_DOUBLE_EQ(p.TFEAS1, 1.234); }, {}},
      {"unknown and lower-case keys", section("topt1 1e-3\nNOSUCHKEY 4\nTOPT1 1e-4\n"),
       [](const barrier_params& p) { EXPECT_DOUBLE_EQ(p.TOPT1, 1e-4); },
       {"topt1|unknown key", "NOSUCHKEY|unknown key"}},
      {"a repeated key keeps its last value", section("TOPT1 1e-3\nTOPT1 1e-4\n"),
       [](const barrier_params& p) { EXPECT_DOUBLE_EQ(p.TOPT1, 1e-4); }, {}},
      {"a key without a value does not take the previous line's",
       section("TFEAS1 0.25\nMAXITER\nTFEAS2 =\nSUPDENS ! 300\n"),
       [](const barrier_params& p) {
         EXPECT_DOUBLE_EQ(p.TFEAS1, 0.25);
         EXPECT_EQ(p.MAXITER, 199);
         EXPECT_DOUBLE_EQ(p.TFEAS2, 1e-6);
         EXPECT_EQ(p.SUPDENS, 350);
       },
       {"MAXITER|has no value", "TFEAS2|has no value", "SUPDENS|has no value"}},
      {"int values beyond an int are ignored", section("MAXITER 1e10\nDENSLEN -3e9\nTFIND inf\nMAXREF nan\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 199);
         EXPECT_EQ(p.DENSLEN, 10);
         EXPECT_EQ(p.TFIND, 25);
         EXPECT_EQ(p.MAXREF, 5);
       },
       {"MAXITER|out of range", "DENSLEN|out of range", "TFIND|out of range", "MAXREF|out of range"}},
      {"values limited to their key's range",
       section("MAXITER -3.7\nSIGNORE -1\nPRDARE 1.5\nTOPT1 inf\nTOPT2 nan\nNUMPROC 0\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 0);
         EXPECT_EQ(p.SIGNORE, 0.0);
         EXPECT_EQ(p.PRDARE, 1.0);
         EXPECT_EQ(p.TOPT1, 1.0);
         EXPECT_DOUBLE_EQ(p.TOPT2, 1e-9);
         EXPECT_EQ(p.NUMPROC, 1);
       },
       {"MAXITER|limited to", "SIGNORE|limited to", "PRDARE|limited to", "TOPT1|limited to",
        "TOPT2|is not a number", "NUMPROC|limited to"}},
      {"packed scaling keys", section("SMETHOD2 2\nSMETHOD1 3\nSPASSES2 3\nSPASSES1 7\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.scaling_methods, 515);
         EXPECT_EQ(kl::smethod1(p), 3);
         EXPECT_EQ(kl::smethod2(p), 2);
         EXPECT_EQ(p.scaling_passes, 3 * 256 + 7);
       },
       {}},
      {"packed keys stay in their own half", section("SMETHOD2 200\nSMETHOD1 300\nSPASSES1 -1\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(kl::smethod1(p), 255);
         EXPECT_EQ(kl::smethod2(p), 127);
         EXPECT_EQ(kl::spasses1(p), 0);
         EXPECT_EQ(kl::spasses2(p), 0);
       },
       {"SMETHOD2|limited to", "SMETHOD1|limited to", "SPASSES1|limited to"}},
      {"ITERLOG writes the print word", section("ITERLOG 256\n"),
       [](const barrier_params& p) { EXPECT_EQ(p.print_word, 257); }, {}},
      {"a later ITERLOG keeps the level", section("ITERLOG 256\nITERLOG 4\nITERLOG 0\nITERLOG -8\n"),
       [](const barrier_params& p) { EXPECT_EQ(p.print_word, 5); }, {}},
      {"carriage returns are blanks, the last line needs no line feed",
       "BEGIN_OPT\r\nTOPT1 1e-5\r\nMAXITER 77 more words", [](const barrier_params& p) {
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-5);
         EXPECT_EQ(p.MAXITER, 77);
       },
       {}},
      {"the longest leading number", section("MAXITER 12abc\nTOPT1 1d\nLAM -7.5e0x\n"),
       [](const barrier_params& p) {
         EXPECT_EQ(p.MAXITER, 12);
         EXPECT_DOUBLE_EQ(p.TOPT1, 1.0);
         EXPECT_DOUBLE_EQ(p.LAM, -7.5);
       },
       {}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    const barrier_params p = read(c.text);
    c.check(p);
    const auto& lines = kltest::captured_lines();
    ASSERT_EQ(lines.size(), c.messages.size());
    for (size_t k = 0; k < lines.size(); ++k) {
      const std::string& expected = c.messages[k];
      const size_t bar = expected.find('|');
      EXPECT_NE(lines[k].text.find(expected.substr(0, bar)), std::string::npos) << lines[k].text;
      EXPECT_NE(lines[k].text.find(expected.substr(bar + 1)), std::string::npos) << lines[k].text;
      EXPECT_NE(lines[k].text.find("kalmir.par"), std::string::npos) << lines[k].text;
    }
    EXPECT_EQ(kl::error_number, 0);
  }
}

TEST_F(BarrierParameterFile, MissingFileChangesNothingAndSaysNothing) {
  barrier_params p = driver_record();
  kltest::captured_lines().clear();
  kl::read_barrier_parameter_file(p, dir.file("absent.par").c_str());
  EXPECT_EQ(p.print_word, -1);
  EXPECT_EQ(p.scaling_methods, 0);
  EXPECT_EQ(p.MAXITER, 199);
  EXPECT_TRUE(kltest::captured_lines().empty());
}

// Every key of the record can be set through the file, and the value of
// each, taken inside its range, lands in that key alone.
TEST_F(BarrierParameterFile, EveryKeyReachesItsField) {
  const char* int_keys[] = {"ORDERING", "POSTORDER", "PSUPNODE", "SSUPNODE", "NUMPROC", "L1_CACHE", "L2_CACHE",
                            "PUSHFACT", "SUPFILL", "L1_LOOP", "L2_LOOP", "MAXITER", "MAXREF", "REFMET",
                            "MINCORR", "MAXCORR", "MINCCORR", "MAXCCORR", "SMETHOD", "SAFEMET", "PRESOLV",
                            "REGULARIZE", "SETLAM", "DENSLEN", "DULOOP", "BNDLOOP", "TFIND", "SUPDENS"};
  std::string body;
  for (const char* key : int_keys) body += std::string(key) + " 1\n";
  const char* double_keys[] = {
      "L1_SPEED", "TSDIR",   "TOPT1",     "TOPT2",     "TFEAS1",  "TFEAS2",   "INFTOL",  "TPLUS",   "TZER",
      "TRES1",    "TRES2",   "OBJNORM",   "RHSNORM",   "SIGNORE", "STOPCOR",  "BARSET",  "BARGROW", "BARMIN",
      "INIBARR",  "TARGET",  "TSMALL",    "TLARGE",    "CENTER",  "CORSTOP",  "PRDARE",  "DUDARE",  "TFIXVAR",
      "TFIXSLACK", "DSLACKLIM", "PRMIN",   "UPMAX",     "DUMIN",   "LSQWEIGHT", "SOFTREG", "HARDREG", "SCFREE",
      "SCEQU",    "MAXDENSE", "DENSGAP",  "PRESFEAS",  "PRIMALBND", "DUALBND", "PIVRTOL", "PIVATOL", "FILLTOL",
      "PIVXTOL",  "MINSTEP", "COMPLMIN",  "TPIV1",     "TPIV2",   "TABS",     "TRABS",   "LAM"};
  for (const char* key : double_keys) body += std::string(key) + " 5d-7\n";
  EXPECT_EQ(std::size(int_keys) + std::size(double_keys) + 5, 86u);
  const barrier_params p = read(section(body));
  EXPECT_TRUE(kltest::captured_lines().empty()) << kltest::captured_lines().front().text;
  const int32_t ints[] = {p.ORDERING, p.POSTORDER, p.PSUPNODE, p.SSUPNODE, p.NUMPROC, p.L1_CACHE, p.L2_CACHE,
                          p.PUSHFACT, p.SUPFILL, p.L1_LOOP, p.L2_LOOP, p.MAXITER, p.MAXREF, p.REFMET,
                          p.MINCORR, p.MAXCORR, p.MINCCORR, p.MAXCCORR, p.SMETHOD, p.SAFEMET, p.PRESOLV,
                          p.REGULARIZE, p.SETLAM, p.DENSLEN, p.DULOOP, p.BNDLOOP, p.TFIND, p.SUPDENS};
  for (int32_t v : ints) EXPECT_EQ(v, 1);
  const double doubles[] = {p.L1_SPEED, p.TSDIR, p.TOPT1, p.TOPT2, p.TFEAS1, p.TFEAS2, p.INFTOL, p.TPLUS,
                            p.TZER, p.TRES1, p.TRES2, p.OBJNORM, p.RHSNORM, p.SIGNORE, p.STOPCOR, p.BARSET,
                            p.BARGROW, p.BARMIN, p.INIBARR, p.TARGET, p.TSMALL, p.TLARGE, p.CENTER, p.CORSTOP,
                            p.PRDARE, p.DUDARE, p.TFIXVAR, p.TFIXSLACK, p.DSLACKLIM, p.PRMIN, p.UPMAX, p.DUMIN,
                            p.LSQWEIGHT, p.SOFTREG, p.HARDREG, p.SCFREE, p.SCEQU, p.MAXDENSE, p.DENSGAP,
                            p.PRESFEAS, p.PRIMALBND, p.DUALBND, p.PIVRTOL, p.PIVATOL, p.FILLTOL, p.PIVXTOL,
                            p.MINSTEP, p.COMPLMIN, p.TPIV1, p.TPIV2, p.TABS, p.TRABS, p.LAM};
  for (double v : doubles) EXPECT_EQ(v, 5e-7);
  // The defaults of the record lie inside the ranges the file enforces.
  const barrier_params d = driver_record();
  for (const char* key : int_keys) {
    double low = 0, high = 0;
    ASSERT_TRUE(kl::barrier_parameter_range(key, low, high)) << key;
    EXPECT_LE(low, 1.0) << key;
    EXPECT_GE(high, 1.0) << key;
  }
  double low = 0, high = 0;
  EXPECT_FALSE(kl::barrier_parameter_range("topt1", low, high));
  ASSERT_TRUE(kl::barrier_parameter_range("TZER", low, high));
  EXPECT_LE(low, d.TZER);
  EXPECT_GE(high, d.TZER);
  ASSERT_TRUE(kl::barrier_parameter_range("LAM", low, high));
  EXPECT_LE(low, d.LAM);
}

}  // namespace
