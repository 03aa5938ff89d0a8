// Message compiler: reads the message sources (messages/texts/*.txt) and writes
// the paged message file kl-run.msg and the header of named message numbers.
// Numbers and names must be unique across all sources.
//
// Source lines:   NUMBER SEVERITY NAME "TEXT"
// The text runs to the last double quote of the line, so trailing blanks
// (room for an insert behind an "&") survive. "\0" stands for a NUL byte
// (it splits an emitted line into several), "\\" for a backslash.
// Lines starting with "#" and blank lines are ignored.
//
// File layout: page 1 holds 1024 unsigned 16-bit little-endian positions
// (entry n is the 1-based byte position of message n, 0 for none); records
// follow from position 2049, each starting at an odd position: the number
// as 16 bits, one severity byte, the text bytes and a line feed. Every page
// is coded with code_message_page.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "page_code.h"

namespace {

struct Message {
  int number = 0;
  int severity = 1;
  std::string name;
  std::string text;
};

bool fail(const std::string& file, int line, const std::string& what) {
  std::fprintf(stderr, "%s:%d: %s\n", file.c_str(), line, what.c_str());
  return false;
}

bool parse(const std::string& file, std::vector<Message>& out, std::set<int>& numbers,
           std::set<std::string>& names) {
  std::ifstream in(file);
  if (!in) return fail(file, 0, "cannot open");
  std::string raw;
  int line_no = 0;
  while (std::getline(in, raw)) {
    ++line_no;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    std::size_t first = raw.find_first_not_of(" \t");
    if (first == std::string::npos || raw[first] == '#') continue;
    std::size_t open = raw.find('"');
    std::size_t close = raw.rfind('"');
    if (open == std::string::npos || close == open) return fail(file, line_no, "text must be in double quotes");
    std::istringstream head(raw.substr(0, open));
    Message m;
    if (!(head >> m.number >> m.severity >> m.name)) return fail(file, line_no, "expected NUMBER SEVERITY NAME");
    if (m.number < 1 || m.number > kl::kMessageIndexEntries) return fail(file, line_no, "number out of 1..1024");
    if (m.severity < 0 || m.severity > 9) return fail(file, line_no, "severity out of 0..9");
    if (!numbers.insert(m.number).second) return fail(file, line_no, "duplicate number");
    if (!names.insert(m.name).second) return fail(file, line_no, "duplicate name " + m.name);
    for (char c : m.name)
      if (!(std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '_'))
        return fail(file, line_no, "name must be upper case, digits and _");
    const std::string body = raw.substr(open + 1, close - open - 1);
    for (std::size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\\' && i + 1 < body.size()) {
        char e = body[++i];
        if (e == '0') m.text.push_back('\0');
        else if (e == '\\') m.text.push_back('\\');
        else return fail(file, line_no, "unknown escape");
      } else {
        if (body[i] == '\n') return fail(file, line_no, "line feed in text");
        m.text.push_back(body[i]);
      }
    }
    out.push_back(m);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s kl-run.msg message_ids.h source.txt...\n", argv[0]);
    return 2;
  }
  std::vector<Message> messages;
  std::set<int> numbers;
  std::set<std::string> names;
  for (int k = 3; k < argc; ++k)
    if (!parse(argv[k], messages, numbers, names)) return 1;
  std::sort(messages.begin(), messages.end(), [](const Message& a, const Message& b) { return a.number < b.number; });

  std::vector<unsigned char> file(kl::kMessagePageBytes, 0);
  for (const Message& m : messages) {
    if (file.size() % 2 != 0) file.push_back(0);
    const std::size_t position = file.size() + 1;
    if (position > 0xFFFF) {
      std::fprintf(stderr, "message file passes 65535 bytes at message %d\n", m.number);
      return 1;
    }
    file[2 * (m.number - 1)] = static_cast<unsigned char>(position & 0xFF);
    file[2 * (m.number - 1) + 1] = static_cast<unsigned char>(position >> 8);
    file.push_back(static_cast<unsigned char>(m.number & 0xFF));
    file.push_back(static_cast<unsigned char>(m.number >> 8));
    file.push_back(static_cast<unsigned char>(m.severity));
    file.insert(file.end(), m.text.begin(), m.text.end());
    file.push_back('\n');
  }
  while (file.size() % kl::kMessagePageBytes != 0) file.push_back(0);
  for (std::size_t page = 0; page < file.size(); page += kl::kMessagePageBytes) kl::code_message_page(&file[page]);

  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }

  std::ostringstream header;
  header << "// Generated from messages/texts/*.txt; do not edit.\n"
         << "#ifndef KLSOL_MESSAGE_IDS_H\n#define KLSOL_MESSAGE_IDS_H\n\nnamespace kl {\n\n";
  for (const Message& m : messages) header << "inline constexpr int MSG_" << m.name << " = " << m.number << ";\n";
  header << "\n}  // namespace kl\n\n#endif\n";
  std::ofstream h(argv[2]);
  h << header.str();
  return h ? 0 : 1;
}
