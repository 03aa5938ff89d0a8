// Solution reports: comma-separated text files and the print file.
#include "api/export_frame.h"
#include "runtime/options.h"
#include "files/solution_report.h"
#include "files/solution_text.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLTOASC(const char* name, const char* options) {
  return kl::run_export(__func__, [&] {
    if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
    if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
    kl::write_solution_ascii();
    kl::clear_option_letters();
    // A body that stopped before taking its file name must not hand it on to
    // the next export that reads one.
    kl::set_command_argument("");
  });
}

KLAPI int32_t KLFPRINT(void) {
  return kl::run_export(__func__, [&] {
    kl::print_solution_file();
  });
}

KLAPI int32_t KLRTOASC(const char* name, const char* options) {
  return kl::run_export(__func__, [&] {
    if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
    if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
    kl::write_ranging_ascii();
    kl::clear_option_letters();
    kl::set_command_argument("");
  });
}

KLAPI int32_t KLFRPRINT(void) {
  return kl::run_export(__func__, [&] {
    kl::print_ranging_file();
  });
}

}  // extern "C"
