// Writing the current problem as an MPS or LP-format file.
#include "api/export_frame.h"
#include "files/mps_writer.h"
#include "klsol32.h"
#include "runtime/options.h"

extern "C" {

KLAPI int32_t KLOUTPUT(const char* name, const char* options) {
  return kl::run_export(__func__, [&] {
    if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
    if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
    kl::write_mps_file();
    kl::clear_option_letters();
    // A body that stopped before taking its file name must not hand it on to
    // the next export that reads one.
    kl::set_command_argument("");
  });
}

}  // extern "C"
