// Writes small message files in the library's paged layout, for tests that
// need texts of their own or a damaged index.
#ifndef KLSOL_TESTS_SUPPORT_MESSAGE_FILE_BUILDER_H
#define KLSOL_TESTS_SUPPORT_MESSAGE_FILE_BUILDER_H

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "page_code.h"

namespace kltest {

struct MessageText {
  int number;
  int severity;
  std::string text;
};

class MessageFileBuilder {
 public:
  MessageFileBuilder& add(int number, int severity, const std::string& text) {
    messages_.push_back({number, severity, text});
    return *this;
  }
  // Forces the index entry of a message (for damaged files); 0 removes it.
  MessageFileBuilder& index_entry(int number, uint32_t position) {
    forced_[number] = position;
    return *this;
  }
  // The record of `number` is written with `stored` as its number.
  MessageFileBuilder& stored_number(int number, int stored) {
    stored_[number] = stored;
    return *this;
  }

  // Lays the file out: the index page, then the records from the second
  // page on, each at an odd 1-based position; the last page is padded.
  std::vector<unsigned char> bytes() const {
    std::vector<unsigned char> file(kl::kMessagePageBytes, 0);
    for (const MessageText& m : messages_) {
      if (file.size() % 2 != 0) file.push_back(0);
      set_index(file, m.number, static_cast<uint32_t>(file.size() + 1));
      auto stored = stored_.find(m.number);
      const int number = stored != stored_.end() ? stored->second : m.number;
      file.push_back(static_cast<unsigned char>(number & 0xFF));
      file.push_back(static_cast<unsigned char>((number >> 8) & 0xFF));
      file.push_back(static_cast<unsigned char>(m.severity));
      file.insert(file.end(), m.text.begin(), m.text.end());
      file.push_back('\n');
    }
    for (const auto& [number, position] : forced_) set_index(file, number, position);
    while (file.size() % kl::kMessagePageBytes != 0) file.push_back(0);
    for (std::size_t page = 0; page < file.size(); page += kl::kMessagePageBytes) kl::code_message_page(&file[page]);
    return file;
  }

  bool write(const std::string& path) const {
    const std::vector<unsigned char> file = bytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
  }

 private:
  static void set_index(std::vector<unsigned char>& file, int number, uint32_t position) {
    file[2 * (number - 1)] = static_cast<unsigned char>(position & 0xFF);
    file[2 * (number - 1) + 1] = static_cast<unsigned char>((position >> 8) & 0xFF);
  }

  std::vector<MessageText> messages_;
  std::map<int, uint32_t> forced_;
  std::map<int, int> stored_;
};

}  // namespace kltest

#endif
