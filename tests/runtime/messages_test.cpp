#include "runtime/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "support/message_file_builder.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kltest::captured_lines;
using kltest::MessageFileBuilder;

constexpr int kLimited = 10;
constexpr int kOther = 11;
constexpr int kError = 20;
constexpr int kFatal = 21;
constexpr int kPlain = 22;
constexpr int kLong = 30;
constexpr int kTilde = 31;
constexpr int kPager = 32;
constexpr int kSplit = 33;
constexpr int kInsert = 41;
constexpr int kNearEnd = 42;
constexpr int kIndexField = 43;
constexpr int kRoutineField = 44;
constexpr int kTwoFields = 45;
constexpr int kPlainString = 46;

// 600 characters; a "." and a "~" start the second and third lines, where
// they must stay plain text.
std::string long_text() {
  std::string text;
  for (int i = 0; i < 600; ++i) text.push_back(static_cast<char>('a' + i % 26));
  text[255] = '.';
  text[510] = '~';
  return text;
}

MessageFileBuilder standard_messages() {
  MessageFileBuilder b;
  b.add(1, 1, "12.35 ")
      .add(59, 1, "banner text")
      .add(265, 1, "Previous message repeated &      more times")
      .add(kLimited, 2, "limited")
      .add(kOther, 1, "other")
      .add(kError, 3, "error & in row")
      .add(kFatal, 4, "fatal &")
      .add(kPlain, 1, "plain &")
      .add(kLong, 2, long_text())
      .add(kTilde, 1, "~tilde line")
      .add(kPager, 1, ".pager stop")
      .add(kSplit, 1, std::string("first\0second", 12))
      .add(kInsert, 1, "<&")
      .add(kNearEnd, 1, std::string(249, 'x') + "&")
      .add(kIndexField, 3, "column index &      outside the columns")
      .add(kRoutineField, 3, "Error in &         : row")
      .add(kTwoFields, 1, "&      iterations, &      rows")
      .add(kPlainString, 1, "&")
      .add(200, 1, "head &")
      .add(201, 1, "help one")
      .add(202, 1, "help two")
      .add(203, 1, "");
  return b;
}

std::vector<std::string> line_texts() {
  std::vector<std::string> out;
  for (const kltest::CapturedLine& line : kltest::text_lines()) out.push_back(line.text);
  return out;
}

std::vector<int32_t> line_kinds() {
  std::vector<int32_t> out;
  for (const kltest::CapturedLine& line : kltest::text_lines()) out.push_back(line.kind);
  return out;
}

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_directories_ = kl::library_directory;
    saved_level_ = kl::icv(kl::ic::IFPMSG);
    kl::close_message_file();
    kl::reset_message_state();
    kl::user_entries = kl::UserEntries{};
    kl::user_entries.uop.set(kltest::capture_plain);
    kl::close_option_log();
    kl::icv(kl::ic::IFPMSG) = 1;
    kl::status_code = 0;
    kl::error_number = 0;
    captured_lines().clear();
  }

  void TearDown() override {
    kl::close_message_file();
    kl::reset_message_state();
    kl::user_entries = kl::UserEntries{};
    kl::library_directory = saved_directories_;
    kl::icv(kl::ic::IFPMSG) = saved_level_;
    kl::status_code = 0;
    kl::error_number = 0;
    captured_lines().clear();
  }

  void open(const MessageFileBuilder& builder) {
    ASSERT_TRUE(builder.write(file_path()));
    kl::library_directory.first = dir_.path();
    kl::library_directory.second.clear();
    std::string path;
    ASSERT_EQ(kl::open_message_file("test.msg", path), 0);
    ASSERT_EQ(path, file_path());
    captured_lines().clear();
  }

  std::string file_path() const { return dir_.file("test.msg"); }

  // Starts message n, lets insert fill it, emits it, and returns the line.
  std::string emitted(int n, const std::function<void()>& insert = [] {}) {
    captured_lines().clear();
    kl::begin_message(n);
    insert();
    kl::emit_message();
    const std::vector<std::string> texts = line_texts();
    return texts.size() == 1 ? texts[0] : "<" + std::to_string(texts.size()) + " lines>";
  }

  kltest::TempDir dir_;
  kl::LibraryDirectories saved_directories_;
  int32_t saved_level_ = 0;
};

TEST_F(MessageTest, RepeatRuleSilencesARunAfter22LinesAndSummarisesTheRest) {
  open(standard_messages());
  struct Case {
    int calls;
    bool summary;
  };
  for (const Case c : {Case{30, true}, Case{23, false}, Case{5, false}}) {
    SCOPED_TRACE(c.calls);
    captured_lines().clear();
    for (int i = 0; i < c.calls; ++i) {
      kl::begin_message_limited(kLimited);
      kl::emit_message();
    }
    kl::begin_message(kOther);
    kl::emit_message();

    std::vector<std::string> expected(static_cast<std::size_t>(std::min(c.calls, kl::kRepeatLimit)), "limited");
    if (c.summary) expected.push_back("Previous message repeated      7 more times");
    expected.push_back("other");
    EXPECT_EQ(line_texts(), expected);
    EXPECT_EQ(kl::icv(kl::ic::IFPMSG), 1);
  }
}

TEST_F(MessageTest, LongTextWrapsIntoFurtherLinesWithoutLosingACharacter) {
  open(standard_messages());
  kl::begin_message(kLong);
  kl::emit_message();
  const std::vector<std::string> texts = line_texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].size(), 255u);
  EXPECT_EQ(texts[1].size(), 255u);
  EXPECT_EQ(texts[0] + texts[1] + texts[2], long_text());
  // The message's severity on the first line, plain lines after it.
  EXPECT_EQ(line_kinds(), (std::vector<int32_t>{2, 1, 1}));
}

TEST_F(MessageTest, InsertsAreCutAtTheEndOfTheLine) {
  open(standard_messages());
  const std::string full = std::string(249, 'x') + "ABCDEF";
  EXPECT_EQ(emitted(kNearEnd, [] { kl::insert_message_chars("ABCDEFGHIJKL", 12); }), full);
  EXPECT_EQ(emitted(kNearEnd,
                    [] {
                      kl::insert_message_chars("ABCDEFGHIJKL", 12);
                      kl::insert_message_chars("Z", 1);
                    }),
            full);
  const std::string long_string(300, 's');
  EXPECT_EQ(emitted(kPlain, [&] { kl::insert_message_string(long_string.c_str()); }),
            "plain " + std::string(249, 's'));
}

TEST_F(MessageTest, InsertsFillThePlaceholderOrAppend) {
  open(standard_messages());
  // A name table of two words per name for the name inserts.
  char names[2][16];
  std::memcpy(names[0], "LONGNAME12345   ", 16);
  std::memcpy(names[1], "X               ", 16);
  void* const saved_cell = kl::array_cells[kl::ARR_NAME_TABLE];
  const int32_t saved_words = kl::name_words;
  kl::array_cells[kl::ARR_NAME_TABLE] = names;
  kl::name_words = 2;

  struct Case {
    const char* label;
    std::function<void()> insert;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"int", [] { kl::insert_message_int(42); }, "<    42"},
      {"int at its width", [] { kl::insert_message_int(-99999); }, "<-99999"},
      {"int wider than 6", [] { kl::insert_message_int(1234567); }, "<1234567"},
      {"int most negative", [] { kl::insert_message_int(INT32_MIN); }, "<-2147483648"},
      {"value12", [] { kl::insert_message_value12(42); }, "<          42"},
      {"value suffix", [] { kl::insert_message_value_suffix(1234567890); }, "<234567890"},
      {"int2", [] { kl::insert_message_int2(7); }, "<07"},
      {"chars", [] { kl::insert_message_chars("abc", 3); }, "<abc"},
      {"chars of no length keep the placeholder",
       [] {
         kl::insert_message_chars("abc", 0);
         kl::insert_message_chars("Z", 1);
       },
       "<Z"},
      {"no & left appends",
       [] {
         kl::insert_message_chars("ab", 2);
         kl::insert_message_chars("cd", 2);
       },
       "<abcd"},
      {"name8", [] { kl::insert_message_name8("ROW1    "); }, "<ROW1    "},
      {"code2", [] { kl::insert_message_code2(static_cast<uint16_t>('L' | ('E' << 8))); }, "<LE"},
      {"string", [] { kl::insert_message_string("text"); }, "<text"},
      {"vector name", [] { kl::insert_message_vector_name(1); }, "<LONGNAME12345   "},
      {"name pair", [] { kl::insert_message_name_pair(2, 1); }, "<X and LONGNAME12345   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(emitted(kInsert, c.insert), c.expected);
  }

  // A tiny real prints as 0 under the zero tolerance, a larger one does not.
  kl::set_message_zero_tolerance(1e-5);
  const std::string zero = emitted(kInsert, [] { kl::insert_message_real(0.0); });
  EXPECT_EQ(emitted(kInsert, [] { kl::insert_message_real(1e-6); }), zero);
  EXPECT_EQ(emitted(kInsert, [] { kl::insert_message_real4(-1e-6f); }), zero);
  EXPECT_NE(emitted(kInsert, [] { kl::insert_message_real(1e-3); }), zero);
  EXPECT_EQ(zero.size(), 13u);

  kl::array_cells[kl::ARR_NAME_TABLE] = saved_cell;
  kl::name_words = saved_words;
}

TEST_F(MessageTest, InsertsWiderThanTheirFieldPushTheTextRight) {
  open(standard_messages());
  struct Case {
    const char* label;
    int message;
    std::function<void()> insert;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"fits", kIndexField, [] { kl::insert_message_int(42); }, "column index     42 outside the columns"},
      {"fills the field", kIndexField, [] { kl::insert_message_int(123456); },
       "column index 123456 outside the columns"},
      {"one wider keeps the blank", kIndexField, [] { kl::insert_message_int(1000000); },
       "column index 1000000 outside the columns"},
      {"far wider", kIndexField, [] { kl::insert_message_int(INT32_MIN); },
       "column index -2147483648 outside the columns"},
      {"long routine name before punctuation", kRoutineField, [] { kl::insert_message_chars("chgcoltype", 10); },
       "Error in chgcoltype: row"},
      {"string wider than the field", kRoutineField, [] { kl::insert_message_string("a_much_longer_name"); },
       "Error in a_much_longer_name: row"},
      {"the next field moves along",
       kTwoFields,
       [] {
         kl::insert_message_int(27447802);
         kl::insert_message_int(5);
       },
       "27447802 iterations,      5 rows"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(emitted(c.message, c.insert), c.expected);
  }
}

TEST_F(MessageTest, EmittedLinesCarryTheSeverityAndDropTheMarks) {
  open(standard_messages());
  kl::begin_message(kLimited);
  kl::emit_message();
  kl::begin_message(kTilde);
  kl::emit_message();
  kl::begin_message(kSplit);
  kl::emit_message();
  EXPECT_EQ(line_texts(), (std::vector<std::string>{"limited", "tilde line", "first", "second"}));
  EXPECT_EQ(line_kinds(), (std::vector<int32_t>{2, 1, 1, 1}));

  // Echo off: nothing reaches the sink; the normal mode brings it back.
  captured_lines().clear();
  kl::set_message_mode(6);
  EXPECT_EQ(emitted(kOther), "<0 lines>");
  kl::set_message_mode(0);
  EXPECT_EQ(emitted(kOther), "other");
}

// A text that starts with its insert (an echoed input line, say) is sent as
// it stands: a leading "." or "~" of the insert is no mark, so a bad line
// echoed from a file never stops at a pager prompt reading the console.
TEST_F(MessageTest, InsertsOpeningTheLineAreNeverMarks) {
  open(standard_messages());
  for (const char* echoed : {".pager-looking line", "~tilde-looking line"}) {
    captured_lines().clear();
    kl::begin_message(kPlainString);
    kl::insert_message_string(echoed);
    kl::emit_message();
    EXPECT_EQ(line_texts(), (std::vector<std::string>{echoed}));
  }
}

TEST_F(MessageTest, CopyModeWritesEmittedPiecesToTheOutputFile) {
  open(standard_messages());
  const std::string output = dir_.file("copy.txt");
  int32_t error = 0;
  kl::open_text_output(output.c_str(), error);
  ASSERT_EQ(error, 0);
  kl::set_message_mode(6);
  EXPECT_EQ(emitted(kOther), "<0 lines>");
  kl::set_message_mode(1);
  kl::begin_message(kSplit);
  kl::emit_message();
  EXPECT_EQ(line_texts(), (std::vector<std::string>{"first", "second"}));
  // After a fault (a quit at a pager stop) nothing more is copied.
  kl::message_line.fault_count = 1;
  EXPECT_EQ(emitted(kOther), "other");
  kl::close_text_output();
  kl::set_message_mode(0);
  kl::message_line.fault_count = 0;

  std::ifstream in(output, std::ios::binary);
  const std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(copied, "other\r\nfirst\r\nsecond\r\n");
}

TEST_F(MessageTest, PagerStopIsNotSentAndCountsAQuit) {
  open(standard_messages());
  struct Case {
    const char* answer;
    int32_t faults;
  };
  for (const Case c : {Case{"\n", 0}, Case{"q\n", 1}}) {
    SCOPED_TRACE(c.answer);
    const std::string answer_file = dir_.file("answer");
    std::FILE* f = std::fopen(answer_file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(c.answer, f);
    std::fclose(f);
    ASSERT_NE(std::freopen(answer_file.c_str(), "r", stdin), nullptr);
    kl::message_line.fault_count = 0;
    EXPECT_EQ(emitted(kPager), "<0 lines>");
    EXPECT_EQ(kl::message_line.fault_count, c.faults);
    EXPECT_EQ(kl::message_line.length, 1);
  }
  kl::clear_interrupt();
  kl::message_line.fault_count = 0;
  std::freopen("/dev/null", "r", stdin);
}

TEST_F(MessageTest, SeveritySetsTheErrorNumberOnlyWhenFetched) {
  open(standard_messages());
  struct Case {
    int message;
    int32_t level;
    int32_t status_before;
    int32_t error_after;
  };
  const Case cases[] = {
      {kError, 1, 0, kError},  // an error while none is pending
      {kError, 1, 32, 7},      // an error already pending keeps its number
      {kFatal, 1, 32, kFatal}, // a fatal one always takes over
      {kPlain, 1, 0, 7},
      {kFatal, 0, 0, 7},       // output level 0: nothing is fetched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    kl::icv(kl::ic::IFPMSG) = c.level;
    kl::status_code = c.status_before;
    kl::error_number = 7;
    captured_lines().clear();
    kl::begin_message(c.message);
    kl::emit_message();
    EXPECT_EQ(kl::error_number, c.error_after);
    EXPECT_EQ(kl::status_code, c.status_before);
    EXPECT_EQ(kltest::text_lines().size(), c.level > 0 ? 1u : 0u);
  }
}

TEST_F(MessageTest, ResumeRestoresTheOutcomeOnlyBackAtLevelZero) {
  open(standard_messages());
  struct Case {
    int32_t level;
    int32_t status_after;
    int32_t error_after;
  };
  for (const Case c : {Case{1, 0, 0}, Case{2, 32, kError}}) {
    SCOPED_TRACE(c.level);
    kl::icv(kl::ic::IFPMSG) = c.level;
    kl::status_code = 0;
    kl::error_number = 0;
    kl::suspend_messages();
    EXPECT_EQ(kl::icv(kl::ic::IFPMSG), c.level - 1);
    kl::begin_message(kError);
    kl::emit_message();
    kl::status_code = 32;
    kl::error_number = kError;
    kl::resume_messages();
    EXPECT_EQ(kl::icv(kl::ic::IFPMSG), c.level);
    EXPECT_EQ(kl::status_code, c.status_after);
    EXPECT_EQ(kl::error_number, c.error_after);
  }
}

TEST_F(MessageTest, MissingTextNamesTheNumberAndLeavesTheOutcomeAlone) {
  MessageFileBuilder builder = standard_messages();
  builder.add(50, 3, "index past the file")
      .index_entry(50, 60001)
      .add(51, 3, "index inside the index page")
      .index_entry(51, 3)
      .add(52, 3, "stored under another number")
      .stored_number(52, 99);
  open(builder);
  for (int n : {412, 0, -1, 1025, 2000, 50, 51, 52}) {
    SCOPED_TRACE(n);
    kl::status_code = 0;
    kl::error_number = 0;
    std::string expected = "?";
    expected += std::to_string(n);
    expected += " message text missing: abc";
    EXPECT_EQ(emitted(n, [] { kl::insert_message_chars("abc", 3); }), expected);
    EXPECT_EQ(kl::status_code, 0);
    EXPECT_EQ(kl::error_number, 0);
    EXPECT_EQ(kl::message_line.fault_count, 0);
  }
  // The file is still in use afterwards.
  EXPECT_EQ(emitted(kOther), "other");
}

TEST_F(MessageTest, ReadFailureOfTheOpenFileIsAMessageFileFailure) {
  open(standard_messages());
  // The file shrinks under the library: the page of the long text is gone.
  std::filesystem::resize_file(file_path(), kl::kMessagePageBytes);
  kl::begin_message(kLong);
  ASSERT_EQ(kltest::text_lines().size(), 2u);
  EXPECT_EQ(kltest::text_lines()[0].text, kl::library_identification());
  EXPECT_EQ(line_kinds(), (std::vector<int32_t>{4, 4}));
  EXPECT_EQ(kl::message_line.fault_count, 8);
  EXPECT_EQ(kl::status_code, kl::STATUS_FATAL);
  EXPECT_EQ(kl::error_number, 278);
  EXPECT_EQ(kl::message_line.length, 1);
}

TEST_F(MessageTest, OpenLooksInTheSecondDirectoryThenTheCurrentOne) {
  ASSERT_TRUE(standard_messages().write(file_path()));
  kltest::TempDir empty;
  std::string path;

  kl::library_directory.first = empty.path();
  kl::library_directory.second = dir_.path();
  EXPECT_EQ(kl::open_message_file("test.msg", path), 0);
  EXPECT_EQ(path, file_path());
  EXPECT_EQ(emitted(kOther), "other");
  kl::close_message_file();

  const std::filesystem::path saved_cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  kl::library_directory.second.clear();
  EXPECT_EQ(kl::open_message_file("test.msg", path), 0);
  EXPECT_EQ(path, "test.msg");
  std::filesystem::current_path(saved_cwd);
  EXPECT_EQ(emitted(kOther), "other");
  EXPECT_EQ(kl::icv(kl::ic::IFPMSG), 1);
}

TEST_F(MessageTest, OpenFailureSendsTheBuiltInLinesAndKeepsTheLineShut) {
  kltest::TempDir empty;
  kl::library_directory.first = empty.path();
  kl::library_directory.second = empty.path();
  std::string path;
  EXPECT_EQ(kl::open_message_file("test.msg", path), 2);
  EXPECT_EQ(line_texts(), (std::vector<std::string>{"?0:error - message file not found",
                                                    "check environment variable KALMIR set correctly"}));
  EXPECT_EQ(line_kinds(), (std::vector<int32_t>{4, 4}));
  EXPECT_EQ(kl::icv(kl::ic::IFPMSG), 1);
  // Nothing can be fetched, and trying does not count as a failure.
  EXPECT_EQ(emitted(kOther), "<0 lines>");
  EXPECT_EQ(kl::status_code, 0);
}

TEST_F(MessageTest, BannerChecksTheVersionOfTheMessageFile) {
  struct Case {
    const char* label;
    const char* version;  // null: message 1 absent
    std::vector<std::string> lines;
    int32_t status;
    int32_t faults;
  };
  const std::string identification = kl::library_identification();
  const std::string unreadable = "?2:error - message file could not be read";
  const std::vector<Case> cases = {
      {"exact", "12.35 ", {identification, "banner text"}, 0, 0},
      {"prefix", "12.35", {identification, "banner text"}, 0, 0},
      {"other version", "12.36 ", {"?1:wrong version of message file"}, 8, 2},
      {"blank start", " 12.35", {"?1:wrong version of message file"}, 8, 2},
      {"not a version", "hello", {identification, unreadable}, 8, 8},
      {"missing", nullptr, {identification, unreadable}, 8, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    kl::close_message_file();
    kl::reset_message_state();
    kl::status_code = 0;
    kl::error_number = 0;
    MessageFileBuilder builder;
    builder.add(59, 1, "banner text");
    if (c.version != nullptr) builder.add(1, 1, c.version);
    open(builder);
    kl::print_startup_banner();
    EXPECT_EQ(line_texts(), c.lines);
    EXPECT_EQ(kl::status_code, c.status);
    EXPECT_EQ(kl::error_number, c.status != 0 ? 278 : 0);
    EXPECT_EQ(kl::message_line.fault_count, c.faults);
  }
}

TEST_F(MessageTest, HelpPutsTheVersionIntoItsHeadAndStopsAtTheEmptyText) {
  open(standard_messages());
  kl::help_command();
  EXPECT_EQ(line_texts(), (std::vector<std::string>{"head 12.35 ", "help one", "help two"}));
}

TEST_F(MessageTest, TheBuiltMessageFilePassesTheStartUpCheck) {
  std::string module;
  ASSERT_TRUE(kl::module_directory(module));
  kl::library_directory.first = module;
  kl::library_directory.second.clear();
  std::string path;
  ASSERT_EQ(kl::open_message_file(kl::kMessageFileName, path), 0);
  kl::print_startup_banner();
  EXPECT_EQ(kl::status_code, 0);
  ASSERT_EQ(kltest::text_lines().size(), 2u);
  EXPECT_EQ(kltest::text_lines()[0].text, kl::library_identification());
}

}  // namespace
