// The save file: saving and restoring the whole state of the problem.
#include "api/export_frame.h"
#include "files/save_file.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLSAVE(void) {
  return kl::run_export(__func__, [] { kl::save_state(); });
}

KLAPI int32_t KLRESTORE(void) {
  return kl::run_export(__func__, [] { kl::restore_state(); });
}

}  // extern "C"
