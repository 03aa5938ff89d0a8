// The command loop: reading, reducing and matching command lines, and the
// table of the 44 commands.
#include "console/command_loop.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "console/alter_command.h"
#include "console/analysis_commands.h"
#include "console/araobj_command.h"
#include "console/basis_command.h"
#include "console/command_handlers.h"
#include "console/control_words.h"
#include "console/fixglobal_command.h"
#include "console/goal_command.h"
#include "console/directives_command.h"
#include "console/iis_command.h"
#include "console/psx_command.h"
#include "console/vornin_command.h"
#include "console/vub_command.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "problem/factor_arrays.h"
#include "factor/scaling.h"
#include "files/problem_input.h"
#include "files/save_file.h"
#include "files/solution_collection.h"
#include "files/solution_report.h"
#include "files/solution_text.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "simplex/lp_driver.h"
#include "simplex/ranging.h"
#include "simplex/successive_lp.h"

namespace kl {

const char command_names[] =
    "INPUT\0?RASH\0MAXIM\0MINIM\0PRINT\0QUIT\0?OUT\0SIZE\0TOASC\0BASISIN\0"
    "BASISOUT\0FPRINT\0INVERT\0OBJECTIVE\0GLOBAL\0DIRECTIVES\0ALTER\0RANGE\0VORNIN\0RPRINT\0"
    "OMNIOUT\0PROBLEM\0SAVE\0RESTORE\0?PSXSOL\0?PSXRNG\0STOP\0RTOASC\0HELP\0USER\0"
    "ANALYSE\0OUTPUT\0RECURSE\0?ARAOBJ\0FRPRINT\0?VUB\0STATS\0ASSERT\0?AXGLOBAL\0?INGLOBAL\0"
    "GOAL\0IIS\0FIXGLOBAL\0SCALE\0";  // the literal's own NUL ends the list

namespace {

// Commands the loop itself treats specially, by index.
enum CommandIndex : int32_t {
  CMD_QUIT = 6,
  CMD_STOP = 27,
};

using CommandBody = void (*)();

// Bodies by command index (entry 0 unused; STOP is run by the loop itself).
const CommandBody kCommandBodies[kCommandCount + 1] = {
    nullptr,
    input_problem,                                       // 1 INPUT
    crash_command,                                       // 2 ?RASH
    maximise_problem,                                    // 3 MAXIM
    minimise_problem,                                    // 4 MINIM
    print_solution_screen,                               // 5 PRINT
    quit_command,                                        // 6 QUIT
    out_command,                                         // 7 ?OUT
    size_command,                                        // 8 SIZE
    write_solution_ascii,                                // 9 TOASC
    basisin_command,                                     // 10 BASISIN
    basisout_command,                                    // 11 BASISOUT
    print_solution_file,                                 // 12 FPRINT
    invert_command,                                      // 13 INVERT
    objective_command,                                   // 14 OBJECTIVE
    run_global_command,                                  // 15 GLOBAL
    directives_command,                                  // 16 DIRECTIVES
    alter_command,                                       // 17 ALTER
    range_problem,                                       // 18 RANGE
    vornin_command,                                      // 19 VORNIN
    print_ranging_screen,                                // 20 RPRINT
    append_solfile,                                      // 21 OMNIOUT
    problem_command,                                     // 22 PROBLEM
    save_state,                                          // 23 SAVE
    restore_state,                                       // 24 RESTORE
    [] { psx_command(PSX_SOLUTION); },                   // 25 ?PSXSOL
    [] { psx_command(PSX_RANGING); },                    // 26 ?PSXRNG
    nullptr,                                             // 27 STOP (run by the loop)
    write_ranging_ascii,                                 // 28 RTOASC
    help_command,                                        // 29 HELP
    user_command,                                        // 30 USER
    analyse_command,                                     // 31 ANALYSE
    output_command,                                      // 32 OUTPUT
    [] {                                                 // 33 RECURSE
      recurse_problem();
      if (icv(ic::IFPMSG) > 0) end_of_call();
    },
    [] { araobj_command(3); },                           // 34 ?ARAOBJ
    print_ranging_file,                                  // 35 FRPRINT
    [] {                                                 // 36 ?VUB
      static int32_t vub_cut_counter = 0;
      vub_command(vub_cut_counter);
    },
    stats_command,                                       // 37 STATS
    assert_command,                                      // 38 ASSERT
    run_global_if_lp_solved,                             // 39 ?AXGLOBAL
    run_global_unconditionally,                          // 40 ?INGLOBAL
    [] { goal_command(GOAL_FROM_COMMAND); },             // 41 GOAL
    iis_command,                                         // 42 IIS
    fixglobal_command,                                   // 43 FIXGLOBAL
    [] { rescale_problem(nullptr, nullptr, 0); },        // 44 SCALE
};

// The next raw line: from the input text file on top of the stack (always
// echoed), else from the console (echoed when IFECHO is set). A file at its
// end is closed and the reader falls back to the level below.
bool read_raw_line(std::string& raw) {
  while (text_file_stack.depth > 0) {
    char line[kTextLineMax];
    int32_t count = 0;
    int32_t error = 0;
    read_text_line(line, count, error);
    if (error != 0) {
      close_text_input();
      continue;
    }
    raw.assign(line, static_cast<std::size_t>(count));
    write_message_text_kind1(raw.data(), count);
    return true;
  }
  if (!read_console_text(raw)) return false;
  if (icv(ic::IFECHO) != 0) write_message_text_kind1(raw.data(), static_cast<int32_t>(raw.size()));
  return true;
}

// Opens kl-run.ini from the current directory, else from the first library
// directory. A missing file is silent and leaves the status word alone.
void open_command_file() {
  suspend_messages();
  int32_t error = 0;
  open_text_input(kIniFileName, error);
  if (error != 0 && !library_directory.first.empty()) {
    const std::string path = make_path(kIniFileName, library_directory.first);
    open_text_input(path.c_str(), error);
  }
  resume_messages();
}

// Runs command index. Returns true when the command ends the loop, with
// its exit code.
bool run_command(int32_t index, int32_t& exit_code) {
  if (index == CMD_QUIT) {
    quit_command();
    exit_code = kExitQuit;
    return true;
  }
  if (index == CMD_STOP) {
    exit_code = stop_command();
    return true;
  }
  kCommandBodies[index]();
  return false;
}

}  // namespace

std::string command_name(int32_t k) {
  if (k < 1 || k > kCommandCount) return std::string();
  const char* name = command_names;
  for (int32_t n = 1; n < k; ++n) name += std::strlen(name) + 1;
  return name;
}

int32_t match_name(const char* names, int32_t& index) {
  index = 0;
  if (names == nullptr) return 0;
  const std::string& text = command_line.text;
  const int32_t start = command_line.position;
  const int32_t length = std::min<int32_t>(command_line.length, static_cast<int32_t>(text.size()));
  int32_t number = 0;
  for (const char* name = names; *name != '\0'; name += std::strlen(name) + 1) {
    ++number;
    const int32_t n = static_cast<int32_t>(std::strlen(name));
    if (start < 1 || start - 1 + n > length) continue;
    bool equal = true;
    for (int32_t k = 0; k < n && equal; ++k) {
      const char wanted = name[k];
      const char typed = text[static_cast<std::size_t>(start - 1 + k)];
      equal = typed == wanted || (wanted >= 'A' && wanted <= 'Z' && typed == wanted - 'A' + 'a');
    }
    if (equal) {
      index = number;
      command_line.position = start + n;
      return index;
    }
  }
  return 0;
}

int32_t reduce_command_line(const char* raw, int32_t n) {
  std::string& text = command_line.text;
  text.clear();
  bool quoted = false;
  bool in_group = false;
  bool blank_seen = false;
  for (int32_t k = 0; k < n; ++k) {
    const char c = raw[k];
    if (c == '\'') {
      quoted = !quoted;
      in_group = false;
      blank_seen = false;
      text.push_back(c);
    } else if (quoted) {
      blank_seen = false;
      text.push_back(c);
    } else if (in_group) {
      if (c == ' ') {
        in_group = false;
        blank_seen = true;
      } else if (c >= 'a' && c <= 'z') {
        option_flags[c - 'a'] = 1;
      } else {
        // The letters already taken stay set; the rest is text again.
        in_group = false;
        blank_seen = false;
        text.push_back('-');
        text.push_back(c);
      }
    } else if (c == '-' && blank_seen) {
      in_group = true;
    } else if (c == ' ') {
      blank_seen = true;
    } else {
      blank_seen = false;
      text.push_back(c);
    }
  }
  command_line.length = static_cast<int32_t>(text.size());
  command_line.position = 1;
  if (command_line.length > 0 && command_line.length < kCommandFillWidth)
    text.resize(static_cast<std::size_t>(kCommandFillWidth), ' ');
  return command_line.length;
}

bool read_command_line() {
  std::string raw;
  for (;;) {
    if (!read_raw_line(raw)) return false;
    if (raw.empty()) continue;
    clear_option_letters();
    // Only the very first character makes a comment.
    if (raw[0] == '!') continue;
    if (reduce_command_line(raw.data(), static_cast<int32_t>(raw.size())) > 0) return true;
  }
}

int32_t run_command_loop() {
  arm_interrupt();
  failed_assertions = 0;
  open_command_file();
  int32_t exit_code = -1;
  while ((status_code & kStatusEndsLoop) == 0) {
    status_code = STATUS_OK;
    if (!read_command_line()) {
      exit_code = kExitEndOfInput;
      break;
    }
    clear_interrupt();
    int32_t index = 0;
    match_name(command_names, index);
    if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) free_factor_arrays();
    if (index > 0) {
      if (run_command(index, exit_code)) break;
    } else {
      int32_t unknown = 0;
      set_or_show_control(unknown);
      if (unknown != 0) {
        begin_message(MSG_UNKNOWN_COMMAND);
        emit_message();
      }
    }
  }
  // The caller goes on after the loop, so no command file may stay open
  // for a later call to read from.
  while (text_file_stack.depth > 0) close_text_input();
  if (exit_code < 0) exit_code = status_code;
  // A script tests its results with ASSERT, which sets no status: the exit
  // code is the only thing a shell sees.
  return failed_assertions > 0 ? exit_code + kExitAssertionFailed : exit_code;
}

}  // namespace kl
