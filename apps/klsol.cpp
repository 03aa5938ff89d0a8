// klsol: the optimiser's command line. Starts the library and hands standard
// input to its command loop; the process exits with the loop's exit code.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "klsol32.h"

namespace {

// A line read from standard input and not yet delivered: the library asks
// again, with room enough, for a line longer than the room it offered.
std::string pending_line;
bool line_pending = false;
bool interactive = false;

constexpr const char* kEndOfInputText = "?EOF on read: fatal\n";

void print_line(const char* text, int32_t length, int32_t kind) {
  if (kind < 0 || text == nullptr) {
    std::fflush(stdout);
    return;
  }
  std::fwrite(text, 1, static_cast<std::size_t>(length), stdout);
  std::fputc('\n', stdout);
}

// The start-up banner arrives only through the wide entry, one byte of the
// text per character.
void print_wide_line(KLWideString text, int32_t length, int32_t kind) {
  if (kind < 0 || text == nullptr) return;
  for (int32_t k = 0; k < length; ++k) std::fputc(static_cast<char>(text[k]), stdout);
  std::fputc('\n', stdout);
}

// One whole line of standard input without its line end, however long.
// False at the end of input.
bool read_standard_input_line(std::string& line) {
  line.clear();
  bool any = false;
  int c;
  while ((c = std::getchar()) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// The answer at a page break of a report on the screen: at a terminal the
// user's line (empty goes on); from a script nothing is taken, so no
// command is eaten as an answer, and the report goes on.
void answer_page_break(int32_t* length) {
  *length = 0;
  if (!interactive) return;
  std::string answer;
  if (!read_standard_input_line(answer) || !answer.empty()) *length = 1;
}

// The console entry (see KLCONTROL in klsol32.h).
void read_console(char* line, int32_t* length) {
  std::fflush(stdout);
  if (*length == 0) {
    answer_page_break(length);
    return;
  }
  if (!line_pending) {
    if (interactive) {
      std::fputs(">", stdout);
      std::fflush(stdout);
    }
    if (!read_standard_input_line(pending_line)) {
      std::fputs(kEndOfInputText, stdout);
      std::fflush(stdout);
      *length = -1;
      return;
    }
    line_pending = true;
  }
  const int32_t count = static_cast<int32_t>(pending_line.size());
  if (count > *length) {
    *length = count;
    return;
  }
  std::memcpy(line, pending_line.data(), pending_line.size());
  *length = count;
  line_pending = false;
}

}  // namespace

int main() {
  KLDEFINEUOPVBENTRY(print_wide_line);
  const int32_t started = KLINITLZ(nullptr, nullptr);
  KLDEFINEUOPVBENTRY(nullptr);
  KLDEFINEUOPENTRY(print_line);
  if (started != KL_STATUS_OK) {
    KLFREEXO();
    std::fflush(stdout);
    return started;
  }
  interactive = isatty(STDIN_FILENO) != 0;
  const int32_t exit_code = KLCONTROL(read_console);
  KLFREEXO();
  std::fflush(stdout);
  return exit_code;
}
