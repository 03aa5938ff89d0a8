#include "runtime/options.h"

#include <cstring>

namespace kl {

uint8_t option_flags[26] = {};
CommandLine command_line;

void set_option_letters(const char* text) {
  if (text == nullptr) return;
  for (const char* c = text; *c != '\0'; ++c)
    if (*c >= 'a' && *c <= 'z') option_flags[*c - 'a'] = 1;
}

void clear_option_letters() { std::memset(option_flags, 0, sizeof option_flags); }

void set_command_argument(const char* text) {
  command_line.text = text != nullptr ? text : "";
  command_line.length = static_cast<int32_t>(command_line.text.size());
  command_line.position = 1;
}

std::string command_argument() {
  const int32_t first = command_line.position - 1;
  if (first < 0 || command_line.length <= first || static_cast<std::size_t>(first) >= command_line.text.size())
    return std::string();
  const std::size_t end = std::min<std::size_t>(static_cast<std::size_t>(command_line.length), command_line.text.size());
  return command_line.text.substr(static_cast<std::size_t>(first), end - static_cast<std::size_t>(first));
}

}  // namespace kl
