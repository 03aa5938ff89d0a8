// Text files, console lines, the number fields of the text layer and the
// small text utilities.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/text_io.h"
#include "runtime/units.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The library started with its message file, so the messages of the text
// layer reach the captured output.
class TextFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);  // start-up removes the entry
    kltest::captured_lines().clear();
  }
  void TearDown() override {
    while (kl::text_file_stack.depth > 0) kl::close_text_input();
    if (kl::text_file_stack.output_level != 0) kl::close_text_output();
    KLFREEXO();
    int32_t error = 0;
    kl::close_all_units(error);
    kl::reset_unit_table();
    kl::reset_text_files();
    kl::user_entries.console.set(nullptr);
    KLDEFINEUOPENTRY(nullptr);
  }

  // Every line of the file, read to its end.
  std::vector<std::string> read_lines(const std::string& path) {
    int32_t error = 1;
    kl::open_text_input(path.c_str(), error);
    EXPECT_EQ(error, 0);
    std::vector<std::string> lines;
    char line[kl::kTextLineMax];
    int32_t count = 0;
    for (;;) {
      kl::read_text_line(line, count, error);
      if (error != 0) break;
      lines.emplace_back(line, static_cast<std::size_t>(count));
    }
    EXPECT_EQ(error, -1);
    EXPECT_EQ(count, 0);
    kl::close_text_input();
    return lines;
  }

  kltest::TempDir dir_;
};

TEST_F(TextFiles, LineEndsAndTheLastLineWithoutALineFeed) {
  const std::vector<std::string> expected = {"NAME  TEST", "", "ROWS", " N  COST"};
  write_file(dir_.file("lf.mps"), "NAME  TEST\n\nROWS\n N  COST");
  write_file(dir_.file("crlf.mps"), "NAME  TEST\r\n\r\nROWS\r\n N  COST\r\n");
  write_file(dir_.file("ctrlz.mps"), "NAME  TEST\n\nROWS\n N  COST\n\x1a" "AFTER THE END\n");
  EXPECT_EQ(read_lines(dir_.file("lf.mps")), expected);
  EXPECT_EQ(read_lines(dir_.file("crlf.mps")), expected);
  EXPECT_EQ(read_lines(dir_.file("ctrlz.mps")), expected);
  write_file(dir_.file("empty.mps"), "");
  EXPECT_TRUE(read_lines(dir_.file("empty.mps")).empty());
}

TEST_F(TextFiles, LinesSpanningBufferRefillsReadWhole) {
  std::vector<std::string> expected;
  std::string text;
  for (int i = 0; text.size() < 3 * kl::kTextInputBuffer + 100; ++i) {
    std::string line = std::to_string(i) + std::string(static_cast<std::size_t>(i % 150), 'a' + i % 26);
    text += line + (i % 3 == 0 ? "\r\n" : "\n");
    expected.push_back(line);
  }
  write_file(dir_.file("long.txt"), text);
  EXPECT_EQ(read_lines(dir_.file("long.txt")), expected);
}

TEST_F(TextFiles, OverlongLineIsCutAndReported) {
  const std::string longest(kl::kTextLineMax, 'x');
  write_file(dir_.file("wide.txt"), std::string(250, 'a') + "\n" + longest + "\nnext\n");
  const std::vector<std::string> lines = read_lines(dir_.file("wide.txt"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(kl::kTextLineMax, 'a'));
  EXPECT_EQ(lines[1], longest);
  EXPECT_EQ(lines[2], "next");
  int reports = 0;
  for (const auto& line : kltest::text_lines()) {
    if (line.text.find("longer than") != std::string::npos) {
      ++reports;
      EXPECT_NE(line.text.find("201"), std::string::npos) << line.text;
    }
  }
  EXPECT_EQ(reports, 1);  // a line of exactly 201 characters loses nothing
}

// The whole-line reader keeps a line longer than the input buffer in one
// piece, carriage returns dropped, with no report; the next line follows.
TEST_F(TextFiles, WholeLinesOfAnyLengthReadInOnePiece) {
  const std::string huge(2 * kl::kTextInputBuffer + 17, 'h');
  write_file(dir_.file("huge.txt"), huge + "\r\n" + "next");
  int32_t error = 0;
  ASSERT_EQ((kl::open_text_input(dir_.file("huge.txt").c_str(), error), error), 0);
  std::string line;
  kl::read_text_line_whole(line, error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(line, huge);
  kl::read_text_line_whole(line, error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(line, "next");
  kl::read_text_line_whole(line, error);
  EXPECT_EQ(error, -1);
  EXPECT_TRUE(line.empty());
  kl::close_text_input();
  EXPECT_TRUE(kltest::text_lines().empty());
}

TEST_F(TextFiles, ThirdInputFileIsRefusedAndTheOthersStayOpen) {
  write_file(dir_.file("one.txt"), "first 1\nfirst 2\n");
  write_file(dir_.file("two.txt"), "second 1\n");
  write_file(dir_.file("three.txt"), "third\n");
  int32_t error = 1;
  char line[kl::kTextLineMax];
  int32_t count = 0;
  kl::open_text_input(dir_.file("one.txt").c_str(), error);
  ASSERT_EQ(error, 0);
  kl::read_text_line(line, count, error);
  EXPECT_EQ(std::string(line, count), "first 1");
  kl::open_text_input(dir_.file("two.txt").c_str(), error);
  ASSERT_EQ(error, 0);
  kl::open_text_input(dir_.file("three.txt").c_str(), error);
  EXPECT_EQ(error, 2);
  EXPECT_EQ(kl::text_file_stack.depth, 2);
  EXPECT_TRUE(kltest::any_line_contains("three.txt"));
  EXPECT_TRUE(kltest::any_line_contains("nested"));

  kl::read_text_line(line, count, error);
  EXPECT_EQ(std::string(line, count), "second 1");
  kl::close_text_input();
  kl::read_text_line(line, count, error);
  EXPECT_EQ(std::string(line, count), "first 2");  // level 1 carries on where it was
}

TEST_F(TextFiles, MissingInputFileAndCloseWithoutInput) {
  int32_t error = 0;
  kl::open_text_input(dir_.file("absent.txt").c_str(), error);
  EXPECT_EQ(error, 1);
  EXPECT_EQ(kl::text_file_stack.depth, 0);
  EXPECT_TRUE(kltest::any_line_contains("absent.txt"));
  kl::close_text_input();
  EXPECT_TRUE(kltest::any_line_contains("-1"));
}

TEST_F(TextFiles, OutputLinesEndInCrLfAcrossBufferFlushes) {
  int32_t error = 1;
  kl::open_text_output(dir_.file("out.txt").c_str(), error);
  ASSERT_EQ(error, 0);
  std::string expected;
  for (int i = 0; i < 400; ++i) {
    const std::string line = "ROW" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 17), '.');
    kl::write_text_line(line.data(), static_cast<int32_t>(line.size()));
    expected += line + "\r\n";
  }
  int32_t fault = 1;
  kl::copy_line_to_output_file("copied", 6, fault);
  EXPECT_EQ(fault, 0);
  expected += "copied\r\n";
  ASSERT_GT(expected.size(), 2u * kl::kTextOutputBuffer);
  kl::close_text_output();
  EXPECT_EQ(kl::text_file_stack.output_level, 0);
  EXPECT_EQ(read_file(dir_.file("out.txt")), expected);

  kl::close_text_output();
  EXPECT_TRUE(kltest::any_line_contains("-2"));
}

TEST_F(TextFiles, SecondOutputFileIsRefused) {
  int32_t error = 1;
  kl::open_text_output(dir_.file("a.txt").c_str(), error);
  ASSERT_EQ(error, 0);
  kl::open_text_output(dir_.file("b.txt").c_str(), error);
  EXPECT_NE(error, 0);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains("b.txt"));
  kl::write_text_line("kept", 4);
  kl::close_text_output();
  EXPECT_EQ(read_file(dir_.file("a.txt")), "kept\r\n");
}

TEST_F(TextFiles, WriteFailureReportsAndClosesEverything) {
  int32_t error = 1;
  kl::open_text_output("/dev/full", error);
  ASSERT_EQ(error, 0);
  const std::string line(100, 'z');
  for (int i = 0; i < 30; ++i) kl::write_text_line(line.data(), static_cast<int32_t>(line.size()));
  int failures = 0;
  for (const auto& l : kltest::captured_lines()) {
    if (l.text == "? 83 Fatal error on write to file") {
      ++failures;
      EXPECT_EQ(l.kind, 1);
    }
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(kl::text_file_stack.output_level, 0);
  for (const kl::Unit& u : kl::unit_table) EXPECT_EQ(u.kind, kl::UNIT_FREE);
}

// ---------------------------------------------------------------------------
// Console

std::string console_reply;
void console_entry(char* line, int32_t* length) {
  std::memcpy(line, console_reply.data(), console_reply.size());
  *length = static_cast<int32_t>(console_reply.size());
}

TEST_F(TextFiles, ConsoleEntryAnswerIsCutToTheCallersCapacity) {
  kl::define_console_entry(console_entry);
  console_reply = std::string(131, 'c');
  char line[80];
  int32_t length = 0;
  EXPECT_TRUE(kl::read_console_line(line, 80, length));
  EXPECT_EQ(length, 80);
  console_reply = "QUIT";
  EXPECT_TRUE(kl::read_console_line(line, 80, length));
  EXPECT_EQ(std::string(line, length), "QUIT");
}

struct ConsoleRead {
  bool ok;
  std::string line;
};

std::vector<ConsoleRead> read_console_input(const std::string& input, int32_t capacity, std::string& shown) {
  std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  char* out_text = nullptr;
  std::size_t out_size = 0;
  std::FILE* out = open_memstream(&out_text, &out_size);
  std::vector<ConsoleRead> reads;
  std::vector<char> line(static_cast<std::size_t>(capacity) + 8, '#');
  for (;;) {
    int32_t length = -1;
    const bool ok = kl::read_console_stream(in, out, line.data(), capacity, length);
    EXPECT_EQ(line[static_cast<std::size_t>(capacity)], '#');
    reads.push_back({ok, std::string(line.data(), static_cast<std::size_t>(length))});
    if (!ok) break;
  }
  std::fclose(in);
  std::fclose(out);
  shown.assign(out_text, out_size);
  std::free(out_text);
  return reads;
}

TEST(Console, StandardInputLines) {
  std::string shown;
  const std::string longest(200, 'L');
  const auto reads = read_console_input("READ model\r\n\n" + longest + "\nSOLVE\nlast", 80, shown);
  ASSERT_EQ(reads.size(), 6u);
  EXPECT_EQ(reads[0].line, "READ model");
  EXPECT_EQ(reads[1].line, "");
  EXPECT_EQ(reads[2].line, std::string(80, 'L'));  // the rest of that line is dropped
  EXPECT_EQ(reads[3].line, "SOLVE");
  EXPECT_EQ(reads[4].line, "last");  // no line feed: nothing of it is lost
  EXPECT_TRUE(reads[4].ok);
  EXPECT_FALSE(reads[5].ok);
  EXPECT_EQ(reads[5].line, "");
  EXPECT_EQ(shown, ">>>>>>?EOF on read: fatal\n");

  const auto wide = read_console_input(longest + "\nnext\n", 300, shown);
  EXPECT_EQ(wide[0].line, std::string(kl::kConsoleLineMax, 'L'));
  EXPECT_EQ(wide[1].line, "next");
}

TEST_F(TextFiles, PageBreakPromptsAndPrintsTheSectionHeadings) {
  kl::define_console_entry(console_entry);
  console_reply = "";
  int32_t stop = -1;
  kl::report_search_status(7, stop);
  EXPECT_EQ(stop, 0);
  const auto lines = kltest::text_lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].kind, 0);
  EXPECT_NE(lines[0].text.find("type c/r to continue"), std::string::npos);
  EXPECT_EQ(lines[1].text, "Rows Section");
  EXPECT_EQ(lines[2].text, "Ranging Section");
  EXPECT_NE(lines[3].text.find("Row "), std::string::npos);

  kltest::captured_lines().clear();
  console_reply = "q";
  kl::report_search_status(7, stop);
  EXPECT_EQ(stop, 1);
  EXPECT_EQ(kltest::text_lines().size(), 1u);  // the prompt only
}

TEST_F(TextFiles, PageBreakIntoAFileNeedsNoAnswer) {
  int32_t error = 1;
  kl::open_text_output(dir_.file("report.txt").c_str(), error);
  ASSERT_EQ(error, 0);
  int32_t stop = -1;
  kl::report_search_status(12, stop);
  EXPECT_EQ(stop, 0);
  EXPECT_FALSE(kltest::any_line_contains("type c/r"));
  EXPECT_TRUE(kltest::any_line_contains("Columns Section"));
  EXPECT_TRUE(kltest::any_line_contains("Ranging Section (limits)"));
}

// ---------------------------------------------------------------------------
// Number fields of the text layer

TEST(TextFields, IntegerFields) {
  char field[12];
  kl::format_int_field(-42, field);
  EXPECT_EQ(std::string(field, 12), "         -42");
  kl::format_int_field(INT32_MIN, field);
  EXPECT_EQ(std::string(field, 12), " -2147483648");
  kl::format_int_field(0, field);
  EXPECT_EQ(std::string(field, 12), "           0");

  kl::format_int_2_digits(7, field);
  EXPECT_EQ(std::string(field, 2), "07");
  kl::format_int_2_digits(123, field);
  EXPECT_EQ(std::string(field, 2), "23");
  kl::format_int_4_digits(98765, field);
  EXPECT_EQ(std::string(field, 4), "8765");
  kl::format_int_zero_padded(42, 6, field);
  EXPECT_EQ(std::string(field, 6), "000042");

  char digits[12] = "##########";
  int32_t count = 0;
  kl::format_int_digits_backward(3071, digits + 9, count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(std::string(digits, 10), "######3071");

  kl::format_hex8(0xDEADBEEFu, field);
  EXPECT_EQ(std::string(field, 8), "DEADBEEF");
  kl::format_hex8(26u, field);
  EXPECT_EQ(std::string(field, 8), "0000001A");

  EXPECT_EQ(kl::parse_int_field("        1234"), 1234);
  EXPECT_EQ(kl::parse_int_field("-   12   34 "), -1234);
  EXPECT_EQ(kl::parse_int_field("+         9"), 9);
  EXPECT_EQ(kl::parse_int_field(" -2147483648"), INT32_MIN);
}

class RealFields : public ::testing::Test {
 protected:
  void SetUp() override {
    kept_width_ = kl::icv(kl::ic::LENDBL);
    kept_status_ = kl::status_code;
    kl::icv(kl::ic::LENDBL) = 23;
  }
  void TearDown() override {
    kl::icv(kl::ic::LENDBL) = kept_width_;
    kl::status_code = kept_status_;
  }
  // The text padded with blanks to the field width.
  static double parse(const std::string& text) {
    std::string field = text;
    field.resize(23, ' ');
    return kl::parse_real_field(field.c_str());
  }
  int32_t kept_width_ = 0;
  int32_t kept_status_ = 0;
};

TEST_F(RealFields, ReadsAndRejects) {
  struct Case {
    const char* text;
    double value;
  };
  const Case good[] = {
      {"  -1.5D+2", -150.0}, {"12", 12.0},         {"", 0.0},          {"+ 3.25", 3.25},   {"1e3", 1000.0},
      {".5", 0.5},           {"-0.125E-1", -0.0125}, {"7 trailing", 7.0}, {"2.5E", 2.5},     {"-", 0.0},
      {"0.1234567890123456789012345678", 0.12345678901234568},
  };
  for (const Case& c : good) {
    kl::status_code = 0;
    EXPECT_DOUBLE_EQ(parse(c.text), c.value) << c.text;
    EXPECT_EQ(kl::status_code, 0) << c.text;
  }
  for (const char* bad : {"1.2.3", "12x", "1e+2x", "abc", "1,5"}) {
    kl::status_code = 0;
    EXPECT_EQ(parse(bad), 0.0) << bad;
    EXPECT_EQ(kl::status_code, kl::STATUS_REPORTED) << bad;
  }
  // A NUL ends the field early.
  kl::status_code = 0;
  EXPECT_DOUBLE_EQ(kl::parse_real_field("42"), 42.0);
  EXPECT_EQ(kl::status_code, 0);
}

TEST_F(RealFields, FieldWidthBoundsTheNumber) {
  kl::icv(kl::ic::LENDBL) = 4;
  EXPECT_DOUBLE_EQ(kl::parse_real_field("123456"), 1234.0);
  EXPECT_DOUBLE_EQ(kl::parse_real_field("    5"), 0.0);  // all blank within the width
}

// ---------------------------------------------------------------------------
// Text utilities

TEST(TextUtilities, PathsCaseLettersAndEnvironment) {
  EXPECT_EQ(kl::make_path("kl-run.msg", "/opt/kl"), "/opt/kl/kl-run.msg");
  EXPECT_EQ(kl::make_path("kl-run.msg", "/opt/kl/"), "/opt/kl/kl-run.msg");
  EXPECT_EQ(kl::make_path("kl-run.msg", "C:\\kl\\"), "C:\\kl\\kl-run.msg");
  EXPECT_EQ(kl::make_path("Model.MPS", ""), "Model.MPS");

  char text[] = "model.lp-9z";
  kl::upper_case(text, 8);
  EXPECT_STREQ(text, "MODEL.LP-9z");

  EXPECT_EQ(kl::letter_class_index('A'), 1);
  EXPECT_EQ(kl::letter_class_index('Z'), 26);
  EXPECT_EQ(kl::letter_class_index('a'), 27);
  EXPECT_EQ(kl::letter_class_index('z'), 52);
  EXPECT_EQ(kl::letter_class_index('5'), -1);
  EXPECT_EQ(kl::letter_class_index('['), -1);

  char blanks[202];
  std::memset(blanks, '#', sizeof blanks);
  kl::fill_blanks_200(blanks);
  EXPECT_EQ(std::string(blanks, 200), std::string(200, ' '));
  EXPECT_EQ(blanks[200], '#');

  std::string value = "unchanged";
  unsetenv("KLSOL_TEST_UNSET");
  EXPECT_FALSE(kl::read_environment_text("KLSOL_TEST_UNSET", value));
  EXPECT_EQ(value, "unchanged");
  setenv("KLSOL_TEST_SET", "/data/kl", 1);
  EXPECT_TRUE(kl::read_environment_text("KLSOL_TEST_SET", value));
  EXPECT_EQ(value, "/data/kl");
  unsetenv("KLSOL_TEST_SET");
}

}  // namespace
