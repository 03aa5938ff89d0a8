#include "files/problem_input.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "files/load_support.h"
#include "files/lp_reader.h"
#include "files/mps_prescan.h"
#include "files/mps_reader.h"
#include "problem/loader.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/text_io.h"

namespace kl {

namespace {

// OMNIMAT bit: the problem was read with free fields.
constexpr int32_t kFreeFieldsRead = 0x4;
// M_M leaves room for two elements beyond the counts.
constexpr int32_t kElementMargin = 2;

const char* const kExtensions[] = {"", "mat", "mps", "qps", "lp"};

// The capacity controls one call changes for the read and restores after it.
struct SavedCapacities {
  int32_t m_r = icv(ic::M_R);
  int32_t m_c = icv(ic::M_C);
  int32_t m_m = icv(ic::M_M);
  int32_t ngemax = icv(ic::NGEMAX);
  void restore() const {
    icv(ic::M_R) = m_r;
    icv(ic::M_C) = m_c;
    icv(ic::M_M) = m_m;
    icv(ic::NGEMAX) = ngemax;
  }
};

// What a failed read puts back besides the capacities: every integer
// control (the sizing sets the spare counts, the cut-pool sizes, M_Q,
// NRCRMX and OMNIMAT for the read) and the cut strategy of the sizing.
struct ReadKeeps {
  int32_t controls[kIntControlCount + 1];
  int32_t mode = cut_space_mode;
  ReadKeeps() { std::memcpy(controls, integer_controls, sizeof controls); }
  void restore() const {
    std::memcpy(integer_controls, controls, sizeof controls);
    cut_space_mode = mode;
  }
};

// The new value is taken unless the control is fixed (set-flag below 0) and
// the value would not lower it.
void set_capacity(int control, int64_t value) {
  if (value > INT32_MAX) value = INT32_MAX;
  if (integer_set_flags[control] < 0 && value >= icv(control)) return;
  icv(control) = static_cast<int32_t>(value);
}

// The position (from 0) of the "." of an explicit extension: the last "."
// after the last separator, with at least one character behind it.
size_t extension_dot(const std::string& name) {
  const size_t separator = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return std::string::npos;
  return dot + 1 < name.size() ? dot : std::string::npos;
}

// The problem name becomes the file name given, its length covering the
// stem and the "." of its extension.
void name_problem_after_file(const std::string& name, size_t dot) {
  set_problem_name(name.substr(0, dot).c_str());
  problem_name.text = name;
}

bool try_open(const std::string& name) {
  int32_t error = 0;
  open_text_input(name.c_str(), error);
  return error == 0;
}

std::string upper_case_of(const char* text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// Message 85 names the file as the caller gave it when it had an extension,
// else the stem with the first extension tried; message 990 lists the
// extensions tried after the stem. Status 32.
void report_no_problem_file(const std::string& stem, int32_t first_format, const std::string& as_given) {
  const std::string reported =
      !as_given.empty() ? as_given : stem + "." + kExtensions[first_format < FORMAT_LP ? FORMAT_MAT : FORMAT_LP];
  begin_message(MSG_OPEN_READ_FAILED);
  insert_message_string(reported.c_str());
  emit_message();
  std::string tried;
  for (int32_t f = first_format; f <= FORMAT_LP; ++f) tried += std::string(kExtensions[f]) + " ";
  tried += "after " + stem + ".";
  begin_message(MSG_INPUT_EXTENSIONS_TRIED);
  insert_message_string(tried.c_str());
  emit_message();
  status_code = STATUS_REPORTED;
}

// Tries the extensions from the starting format on; the first file that
// opens is kept open. Messages are silent meanwhile. as_given: the name with
// an extension that did not open itself, empty for a bare stem.
bool search_extensions(const std::string& stem, int32_t first_format, std::string& file, int32_t& format,
                       const std::string& as_given) {
  suspend_messages();
  bool found = false;
  for (int32_t f = first_format; f <= FORMAT_LP && !found; ++f) {
    for (const std::string& extension : {std::string(kExtensions[f]), upper_case_of(kExtensions[f])}) {
      file = stem + "." + extension;
      if (try_open(file)) {
        format = f;
        found = true;
        break;
      }
    }
  }
  resume_messages();
  if (found) return true;
  report_no_problem_file(stem, first_format, as_given);
  return false;
}

// Finds and opens the problem file. Returns false (status 32, reported)
// when none opens.
bool open_problem_file(std::string& file, int32_t& format) {
  const int32_t first_format = option_set('l') ? FORMAT_LP : FORMAT_MAT;
  std::string given;
  const size_t begin = static_cast<size_t>(std::max(command_line.position, 1) - 1);
  const size_t end = std::min(static_cast<size_t>(std::max(command_line.length, 0)), command_line.text.size());
  std::string argument = begin < end ? command_line.text.substr(begin, end - begin) : std::string();
  const size_t first = argument.find_first_not_of(" \t");
  const size_t last = argument.find_last_not_of(" \t");
  argument = first == std::string::npos ? std::string() : argument.substr(first, last - first + 1);
  const bool from_command = !argument.empty();
  given = from_command ? argument : get_problem_name();
  command_line.position = 1;
  command_line.length = 0;

  const size_t dot = extension_dot(given);
  if (dot != std::string::npos) {
    // Only the exact lower-case "lp" chooses the LP format.
    const int32_t explicit_format = given.compare(dot + 1, std::string::npos, "lp") == 0 ? FORMAT_LP : FORMAT_MPS;
    if (from_command) {
      name_problem_after_file(given, dot);
      if (!try_open(given)) {
        status_code = STATUS_REPORTED;
        return false;
      }
      file = given;
      format = explicit_format;
      return true;
    }
    // A problem name with an extension names the file itself when such a
    // file exists; otherwise the extensions are tried after it.
    suspend_messages();
    const bool opened = try_open(given);
    resume_messages();
    if (opened) {
      name_problem_after_file(given, dot);
      file = given;
      format = explicit_format;
      return true;
    }
    return search_extensions(given, first_format, file, format, given);
  }
  if (from_command) set_problem_name(given.c_str());
  return search_extensions(given, first_format, file, format, std::string());
}

// The counts that size the read: from the pre-scan, or from the controls
// when the pre-scan is switched off (IFFSTR).
struct ReadSizes {
  int32_t rows = 0;
  int32_t positions = 0;
  int32_t entities = 0;
  int32_t elements = 0;
  int32_t typed_entries = 0;
};

// size_cut_space works on the problem attributes; the loaded problem keeps
// its own, since a failed read leaves it in place.
void size_cut_space_for(const ReadSizes& sizes) {
  const int32_t kept[] = {nrow, nseq, nglent, nelem, int_attribute(ATTR_NCOLS)};
  nrow = sizes.rows;
  nseq = sizes.positions;
  nglent = sizes.entities;
  nelem = sizes.elements;
  size_cut_space();
  nrow = kept[0];
  nseq = kept[1];
  nglent = kept[2];
  nelem = kept[3];
  int_attribute(ATTR_NCOLS) = kept[4];
}

void set_read_capacities(const ReadSizes& sizes, bool prescanned) {
  if ((icv(ic::FREFMT) != 0)) {
    icv(ic::OMNIMAT) |= kFreeFieldsRead;
  } else {
    icv(ic::OMNIMAT) &= ~kFreeFieldsRead;
  }
  size_cut_space_for(sizes);
  const int64_t spare_rows = icv(ic::NRXTRA);
  const int64_t spare_columns = icv(ic::NCXTRA);
  icv(ic::NMXTRA) = std::max<int32_t>(icv(ic::NMXTRA), static_cast<int32_t>(2 * spare_rows + spare_columns));
  const int64_t typed = sizes.typed_entries;
  if (prescanned) {
    set_capacity(ic::M_R, sizes.rows + spare_rows);
    set_capacity(ic::M_C, sizes.positions + spare_rows + spare_columns);
    set_capacity(ic::M_M, static_cast<int64_t>(sizes.elements) + icv(ic::NMXTRA) + typed + kElementMargin);
    set_capacity(ic::NGEMAX, static_cast<int64_t>(sizes.entities) + icv(ic::NGXTRA));
    icv(ic::M_Q) = mps_prescan.quadratic_entries;
  } else {
    set_capacity(ic::M_R, icv(ic::M_R) + spare_rows);
    set_capacity(ic::M_C, icv(ic::M_C) + spare_rows + spare_columns);
    set_capacity(ic::M_M, static_cast<int64_t>(icv(ic::M_M)) + icv(ic::NMXTRA) + typed + kElementMargin);
    set_capacity(ic::NGEMAX, static_cast<int64_t>(icv(ic::NGEMAX)) + icv(ic::NGXTRA));
  }
  icv(ic::NRCRMX) = sizes.typed_entries;
}

// Pre-scan, sizing and main pass over the open MPS file, which is closed
// afterwards. Returns the reader's result (0: read and loaded).
int32_t read_mps_problem(const std::string& file) {
  const int32_t kept_format = icv(ic::FREFMT);
  const int32_t kept_lendbl = icv(ic::LENDBL);
  const int32_t kept_namlen = icv(ic::NAMLEN);
  mps_source.file_name = file;
  mps_source.line_number = 0;
  ReadSizes sizes;
  const bool prescanned = icv(ic::IFFSTR) == 0;
  int32_t result = 1;
  bool open = true;
  if (prescanned) {
    int32_t status = 0;
    int32_t spare_count = 0;
    prescan_mps_file(status, spare_count);
    close_text_input();
    open = status == 0 && try_open(file);
    if (status != 0) status_code = STATUS_REPORTED;
    sizes = ReadSizes{mps_prescan.rows, mps_prescan.positions, mps_prescan.entities, mps_prescan.elements,
                      mps_prescan.recurse_entries};
  } else {
    sizes = ReadSizes{icv(ic::M_R), icv(ic::M_R) + icv(ic::M_C), icv(ic::NGEMAX), nelem, recurse_entry_count};
  }
  if (open) {
    set_read_capacities(sizes, prescanned);
    mps_source.line_number = 0;
    read_mps_file(result);
    close_text_input();
  } else {
    status_code = STATUS_REPORTED;
  }
  icv(ic::FREFMT) = kept_format;
  icv(ic::LENDBL) = kept_lendbl;
  icv(ic::NAMLEN) = kept_namlen;
  return result;
}

// The LP reader over the open file, which is closed afterwards. The reader
// passes 0-based indices to the loaders, so the index base is 1 meanwhile.
int32_t read_lp_problem() {
  const int32_t kept_base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 1;
  const int32_t result = read_lp_file();
  icv(ic::IFDBG) = kept_base;
  close_text_input();
  if (result != 0) status_code = STATUS_REPORTED;
  return result;
}

}  // namespace

void input_problem() { input_problem_keeping_name(problem_name); }

void input_problem_keeping_name(const ProblemName& name_before) {
  begin_body();
  if (problem_state < 0) {
    begin_message(MSG_INPUT_NOT_STARTED);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  // A failed read leaves the loaded problem as it was: its name and the
  // controls the sizing changed come back too.
  const ProblemName kept_name = name_before;
  const ReadKeeps kept;
  const SavedCapacities saved;
  std::string file;
  int32_t format = FORMAT_MAT;
  bool loaded = false;
  if (open_problem_file(file, format)) {
    const int32_t result = format == FORMAT_LP ? read_lp_problem() : read_mps_problem(file);
    if (result == 0) {
      problem_state = 1;
      problem_flags |= PF_LOADED;
      global_status = 1;
      loaded = true;
    }
  }
  if (!loaded) {
    kept.restore();
    problem_name.text = kept_name.text;
    problem_name.length = kept_name.length;
  }
  if (icv(ic::IFPMSG) > 0) end_of_call();
  saved.restore();
}

bool input_problem_named(const char* name) {
  const ProblemName before = problem_name;
  if (!set_problem_name(name)) return false;
  input_problem_keeping_name(before);
  return true;
}

}  // namespace kl
