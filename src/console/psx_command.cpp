// The export conversions of the console.
#include "console/psx_command.h"

#include <string>

#include "files/solution_export.h"
#include "klsol/message_ids.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/units.h"
#include "runtime/work_files.h"

namespace kl {

void psx_command(int32_t kind) {
  begin_body();
  const bool ranging = kind == PSX_RANGING;
  int32_t error = 0;
  open_work_file(make_work_file_name(ranging ? EXT_RNG : EXT_SOL).c_str(), WORK_READ, error);
  if (error != WORK_OPEN_OK) {
    // The work-file layer has named the file.
    if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
    return;
  }
  const std::string name = make_work_file_name(ranging ? "sfr" : "sfs");
  int32_t unit = -1;
  create_unit_words(name.c_str(), unit, error);
  if (error != 0) {
    begin_message(MSG_OPEN_WRITE_FAILED);
    insert_message_string(name.c_str());
    emit_message();
    status_code = STATUS_REPORTED;
    close_work_file();
    return;
  }
  int32_t status = 0;
  if (ranging) {
    write_psx_ranging(unit, status);
  } else {
    write_psx_solution(unit, status);
  }
  // A failed export is closed as well: the unit must not stay taken.
  int32_t close_error = 0;
  close_unit(unit, close_error);
  close_work_file();
}

}  // namespace kl
