#include "runtime/startup.h"

#include <cstdio>
#include <string>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "factor/basis.h"
#include "problem/factor_arrays.h"
#include "problem/search_state.h"
#include "problem/slots.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/text_io.h"
#include "runtime/units.h"
#include "simplex/solver_reset.h"

namespace kl {

LibraryDirectories library_directory;

const char kCharacterTable[38] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ+- ,\"=*?><";

const char* const kFileExtensions[24] = {
    "",    "mat", "sol", "rng", "bif", "hdr", "asc", "bss", "wrk", "glb", "prt", "dir",
    "alt", "svf", "rsc", "rrt", "cpt", "mps", "ana", "ctp", "gol", "rec", "lp ", "qps",
};

void set_library_directory(const char* directory, bool given) {
  std::string kalmir;
  if (!read_environment_text("KALMIR", kalmir)) kalmir.clear();
  library_directory.second = kalmir;
  std::string module;
  if (!module_directory(module)) module.clear();
  library_directory.first = module;
  if (given && (directory == nullptr || directory[0] == '\0')) given = false;
  if (given) {
    library_directory.second = library_directory.first;
    library_directory.first = directory;
  } else if (!library_directory.second.empty()) {
    std::swap(library_directory.first, library_directory.second);
  }
  library_directory.started_by_host = true;
}

namespace {

// Clears the user entries and fills the tables every later call reads.
void init_common_data() {
  reset_user_entries();
  reset_user_callbacks();
  set_control_startup_values();
  set_search_control_defaults();
  reset_problem_name();
  clear_option_letters();
  command_line = CommandLine{};
  reset_array_registry();
  reset_problem_slots();
  reset_solver_state();
}

// The failure texts went to the output entries and the option log; a host
// that has neither would see status 8 and nothing else, so it gets one line
// on standard error saying where the file was looked for.
void report_missing_message_file() {
  if (user_entries.uop.enabled != 0 || user_entries.uopvb.enabled != 0 || option_log.state != LOG_NONE) return;
  std::string places = library_directory.first.empty() ? "the current directory" : library_directory.first;
  if (!library_directory.second.empty()) places += " and " + library_directory.second;
  std::fprintf(stderr, "%s: message file %s not found or unreadable in %s\n", library_identification(),
               kMessageFileName, places.c_str());
  std::fflush(stderr);
}

}  // namespace

void check_size_controls() {
  int32_t counters[10] = {};
  if (icv(ic::M_R) > icv(ic::M_C)) counters[1] = 1;
  if (icv(ic::NGEMAX) > icv(ic::M_C)) counters[6] = 1;
  bool reported = false;
  for (int32_t k = 1; k <= 9; ++k) {
    if (counters[k] == 0) continue;
    begin_message(MSG_SIZE_CONTROLS);
    insert_message_int(counters[k]);
    insert_message_int(k);
    emit_message();
    reported = true;
  }
  if (reported) status_code = STATUS_FATAL;
}

void initialise_library() {
  status_code = STATUS_OK;
  error_number = 0;
  reset_problem_store();
  set_fpu_mode(1);
  init_common_data();
  set_control_defaults();
  library_initialised = true;
  int32_t memory_flag = 0;
  reset_memory_marks(memory_flag);
  reset_unit_table();
  reset_text_files();
  reset_message_state();

  std::string path;
  if (open_message_file(kMessageFileName, path) != 0) {
    status_code = STATUS_FATAL;
    error_number = MSG_MESSAGE_FILE_UNUSABLE;
    report_missing_message_file();
    return;
  }
  set_message_mode(0);
  set_message_zero_tolerance(dcv(dc::ZTOLPZ));
  print_startup_banner();
  if (status_code == STATUS_FATAL) return;
  check_size_controls();
  if (status_code != STATUS_OK) return;
  problem_state = 0;
  set_fpu_mode(1);
}

int32_t start_library(const char* directory) {
  // A second start-up without a shutdown would strand the first one's
  // arrays and files; release them first. The host is told while its
  // output entries and the message file are still those of the first start:
  // its problem and settings are gone although the call succeeds.
  if (library_initialised) {
    begin_message(MSG_LIBRARY_RESTARTED);
    emit_message();
    end_of_call();
    free_library();
  }
  save_host_fpu_environment();
  set_library_directory(directory, directory != nullptr);
  initialise_library();
  icv(ic::IFDBG) = 1;
  return status_code;
}

void free_library() {
  delete_global_work_files();
  close_message_file();
  set_fpu_mode(0);
  free_factor_arrays();
  if (current_slot >= 1 && current_slot <= kSlotCount) {
    if (slot_save_buffer[current_slot] != nullptr) free_array(0, slot_save_buffer[current_slot]);
    free_problem_registry(current_slot);
  }
  for (int32_t slot = 1; slot <= kSlotCount; ++slot) {
    if (slot_save_buffer[slot] == nullptr) continue;
    current_slot = slot;
    free_array(0, slot_save_buffer[slot]);
    free_problem_registry(slot);
  }
  current_slot = 0;
  release_kept_mappings();
  reset_solver_state();
  free_name_stores();
  close_option_log();
  problem_state = -1;
  library_initialised = false;
  // The host gets back the floating-point environment it had before
  // start-up, not the library's own mode.
  restore_host_fpu_environment();
}

}  // namespace kl
