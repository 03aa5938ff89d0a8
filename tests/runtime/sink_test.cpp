#include "runtime/sink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/callbacks.h"
#include "runtime/frame.h"
#include "support/temp_dir.h"

namespace {

struct PlainCall {
  const char* pointer;
  int32_t length;
  int32_t kind;
  bool terminated;
  std::string text;
};

std::vector<PlainCall>& plain_calls() {
  static std::vector<PlainCall> calls;
  return calls;
}

void plain_entry(const char* text, int32_t length, int32_t kind) {
  const bool terminated = text != nullptr && text[length] == '\0';
  plain_calls().push_back({text, length, kind, terminated,
                           text != nullptr ? std::string(text, static_cast<std::size_t>(length)) : ""});
}

struct WideCall {
  uint32_t byte_length;
  int32_t length;
  int32_t kind;
  std::vector<uint16_t> characters;  // with the terminator
};

std::vector<WideCall>& wide_calls() {
  static std::vector<WideCall> calls;
  return calls;
}

void wide_entry(KLWideString text, int32_t length, int32_t kind) {
  uint32_t byte_length = 0;
  std::memcpy(&byte_length, reinterpret_cast<const char*>(text) - sizeof byte_length, sizeof byte_length);
  wide_calls().push_back({byte_length, length, kind, std::vector<uint16_t>(text, text + byte_length / 2 + 1)});
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void send(const char* text) { kl::write_to_sink(text, static_cast<int32_t>(std::strlen(text)), kl::SINK_TEXT); }

class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kl::user_entries = kl::UserEntries{};
    kl::close_option_log();
    plain_calls().clear();
    wide_calls().clear();
  }
  void TearDown() override {
    kl::user_entries = kl::UserEntries{};
    kl::close_option_log();
  }

  kltest::TempDir dir_;
};

TEST_F(SinkTest, PlainEntryGetsATerminatedCopyAndNullForTheEndOfCall) {
  kl::user_entries.uop.set(plain_entry);
  // A literal: writing a terminator into it would fault.
  static const char* const text = "abcdef";
  kl::write_to_sink(text, 3, 2);
  kl::write_to_sink(text, 0, kl::SINK_TEXT);
  kl::write_to_sink(nullptr, 0, kl::SINK_END_OF_CALL);
  ASSERT_EQ(plain_calls().size(), 3u);
  EXPECT_EQ(plain_calls()[0].text, "abc");
  EXPECT_EQ(plain_calls()[0].kind, 2);
  EXPECT_TRUE(plain_calls()[0].terminated);
  EXPECT_NE(plain_calls()[0].pointer, text);
  EXPECT_TRUE(plain_calls()[1].terminated);
  EXPECT_EQ(plain_calls()[1].length, 0);
  EXPECT_EQ(plain_calls()[2].pointer, nullptr);
  EXPECT_EQ(plain_calls()[2].length, 0);
  EXPECT_EQ(plain_calls()[2].kind, kl::SINK_END_OF_CALL);
  EXPECT_STREQ(text, "abcdef");
}

TEST_F(SinkTest, TextRoutinesSendWholeTextsWithTheirKinds) {
  kl::user_entries.uop.set(plain_entry);
  const std::string long_text(300, 'r');
  kl::write_message_text(long_text.c_str(), 300);
  kl::write_message_text_kind1("echo line", 4);
  kl::write_message_line(3, "error line");
  kl::write_message_line_tilde(1, "tilde line");
  ASSERT_EQ(plain_calls().size(), 4u);
  EXPECT_EQ(plain_calls()[0].text, long_text);
  EXPECT_EQ(plain_calls()[0].kind, kl::SINK_TEXT);
  EXPECT_EQ(plain_calls()[1].text, "echo");
  EXPECT_EQ(plain_calls()[1].kind, kl::SINK_ECHO);
  EXPECT_EQ(plain_calls()[2].text, "error line");
  EXPECT_EQ(plain_calls()[2].kind, 3);
  EXPECT_EQ(plain_calls()[3].text, "tilde line");
  for (const PlainCall& call : plain_calls()) EXPECT_TRUE(call.terminated);
}

TEST_F(SinkTest, WideEntryGetsALengthPrefixedStringOfOneCharacterPerByte) {
  kl::user_entries.uopvb.set(wide_entry);
  kl::write_to_sink("A\xE9z tail", 3, 2);
  kl::write_to_sink(nullptr, 0, kl::SINK_END_OF_CALL);
  ASSERT_EQ(wide_calls().size(), 2u);
  EXPECT_EQ(wide_calls()[0].byte_length, 6u);
  EXPECT_EQ(wide_calls()[0].length, 3);
  EXPECT_EQ(wide_calls()[0].kind, 2);
  EXPECT_EQ(wide_calls()[0].characters, (std::vector<uint16_t>{'A', 0xE9, 'z', 0}));
  EXPECT_EQ(wide_calls()[1].byte_length, 0u);
  EXPECT_EQ(wide_calls()[1].length, 0);
  EXPECT_EQ(wide_calls()[1].kind, kl::SINK_END_OF_CALL);
  EXPECT_EQ(wide_calls()[1].characters, (std::vector<uint16_t>{0}));

  // With both entries set only the plain one is used.
  kl::user_entries.uop.set(plain_entry);
  wide_calls().clear();
  send("both");
  EXPECT_TRUE(wide_calls().empty());
  EXPECT_EQ(plain_calls().size(), 1u);
}

TEST_F(SinkTest, WithNoEntryAndNoLogTextIsDropped) {
  kl::status_code = 0;
  send("nobody listens");
  kl::write_to_sink(nullptr, 0, kl::SINK_END_OF_CALL);
  EXPECT_EQ(kl::status_code, 0);
  EXPECT_EQ(kl::option_log.state, kl::LOG_NONE);
}

TEST_F(SinkTest, OptionLogAppendsEveryLineAcrossCalls) {
  const std::string log = dir_.file("options.log");
  std::ofstream(log) << "earlier\n";
  kl::set_option_log_name(log.c_str());
  EXPECT_EQ(kl::option_log.state, kl::LOG_CLOSED);
  send("one");
  send("two");
  EXPECT_EQ(kl::option_log.state, kl::LOG_OPEN);
  kl::end_of_call();
  EXPECT_EQ(kl::option_log.state, kl::LOG_CLOSED);
  EXPECT_EQ(kl::option_log.file, nullptr);
  EXPECT_EQ(read_file(log), "earlier\none\ntwo\n");
  send("three");
  kl::end_of_call();
  EXPECT_EQ(read_file(log), "earlier\none\ntwo\nthree\n");
}

TEST_F(SinkTest, OptionLogNameChangesCloseTheOpenFile) {
  const std::string first = dir_.file("first.log");
  const std::string second = dir_.file("second.log");
  kl::set_option_log_name(first.c_str());
  send("to first");
  kl::set_option_log_name(second.c_str());
  send("to second");
  kl::set_option_log_name("");
  EXPECT_EQ(kl::option_log.state, kl::LOG_NONE);
  send("to nobody");
  kl::end_of_call();
  EXPECT_EQ(read_file(first), "to first\n");
  EXPECT_EQ(read_file(second), "to second\n");
}

TEST_F(SinkTest, OptionLogThatCannotOpenIsSkippedUntilTheEndOfCall) {
  kl::user_entries.uop.set(plain_entry);
  const std::string log = dir_.file("no-such-directory/options.log");
  kl::set_option_log_name(log.c_str());
  send("still delivered");
  EXPECT_EQ(kl::option_log.state, kl::LOG_OPEN_FAILED);
  ASSERT_EQ(plain_calls().size(), 1u);
  kl::end_of_call();
  EXPECT_EQ(kl::option_log.state, kl::LOG_CLOSED);

  // Once the directory exists, the next call logs.
  std::filesystem::create_directory(dir_.file("no-such-directory"));
  send("logged");
  kl::end_of_call();
  EXPECT_EQ(read_file(log), "logged\n");
}

TEST_F(SinkTest, OptionLogNameHasNoLengthLimit) {
  const std::string directory = dir_.file(std::string(150, 'd'));
  std::filesystem::create_directory(directory);
  const std::string log = directory + "/" + std::string(120, 'n') + ".log";
  ASSERT_GT(log.size(), 199u);
  kl::set_option_log_name(log.c_str());
  send("long name");
  kl::end_of_call();
  EXPECT_EQ(read_file(log), "long name\n");
}

}  // namespace
