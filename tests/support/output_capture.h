// Collects what the library sends to the plain and the wide output entries.
#ifndef KLSOL_TESTS_SUPPORT_OUTPUT_CAPTURE_H
#define KLSOL_TESTS_SUPPORT_OUTPUT_CAPTURE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "klsol32.h"

namespace kltest {

struct CapturedLine {
  int32_t kind;
  std::string text;
  bool wide;
};

inline std::vector<CapturedLine>& captured_lines() {
  static std::vector<CapturedLine> lines;
  return lines;
}

inline void capture_plain(const char* text, int32_t length, int32_t kind) {
  captured_lines().push_back({kind, text != nullptr ? std::string(text, static_cast<std::size_t>(length)) : "", false});
}

inline void capture_wide(KLWideString text, int32_t length, int32_t kind) {
  std::string narrow;
  for (int32_t i = 0; i < length; ++i) narrow.push_back(static_cast<char>(text[i]));
  captured_lines().push_back({kind, narrow, true});
}

// Lines of kind 0 and above (the end-of-call signals left out).
inline std::vector<CapturedLine> text_lines() {
  std::vector<CapturedLine> out;
  for (const CapturedLine& line : captured_lines())
    if (line.kind >= 0) out.push_back(line);
  return out;
}

inline bool any_line_contains(const std::string& needle) {
  for (const CapturedLine& line : captured_lines())
    if (line.text.find(needle) != std::string::npos) return true;
  return false;
}

}  // namespace kltest

#endif
