// The basis file exports.
#include "api/export_frame.h"
#include "console/basis_command.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/options.h"

namespace {

// The file name goes to the command line and the option letters to their
// flags for the body; neither outlives the call.
template <typename Body>
void run_with_arguments(const char* name, const char* options, Body body) {
  if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
  if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
  body();
  kl::clear_option_letters();
  kl::set_command_argument("");
}

}  // namespace

extern "C" {

KLAPI int32_t KLBASISIN(const char* name, const char* options) {
  return kl::run_export(__func__, [&] { run_with_arguments(name, options, kl::basisin_command); });
}

KLAPI int32_t KLBASISOUT(const char* name, const char* options) {
  return kl::run_export(__func__, [&] {
    run_with_arguments(name, options, [] { kl::basis_file_command(kl::BASIS_FILE_WRITE); });
  });
}

}  // extern "C"
