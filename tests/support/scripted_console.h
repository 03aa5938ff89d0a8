// A console entry that hands out scripted lines, one per call, then the end
// of input; a page break of a report (no room offered) is answered "go on".
#ifndef KLSOL_TESTS_SUPPORT_SCRIPTED_CONSOLE_H
#define KLSOL_TESTS_SUPPORT_SCRIPTED_CONSOLE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kltest {

// The lines still to be read.
inline std::vector<std::string>& console_lines() {
  static std::vector<std::string> lines;
  return lines;
}

inline void scripted_console(char* line, int32_t* length) {
  std::vector<std::string>& lines = console_lines();
  if (*length == 0) return;
  if (lines.empty()) {
    *length = -1;
    return;
  }
  const std::string text = lines.front();
  lines.erase(lines.begin());
  std::memcpy(line, text.data(), text.size());
  *length = static_cast<int32_t>(text.size());
}

}  // namespace kltest

#endif
