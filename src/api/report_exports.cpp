// Solution reports: comma-separated text files and the print file.
#include "api/export_frame.h"
#include "runtime/options.h"
#include "files/solution_report.h"
#include "files/solution_text.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLTOASC(const char* name, const char* options) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
  if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
  kl::write_solution_ascii();
  kl::clear_option_letters();
  // A body that stopped before taking its file name must not hand it on to
  // the next export that reads one.
  kl::set_command_argument("");
  return kl::status_code;
}

KLAPI int32_t KLFPRINT(void) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::print_solution_file();
  return kl::status_code;
}

KLAPI int32_t KLRTOASC(const char* name, const char* options) {
  if (kl::refused_before_start()) return kl::status_code;
  if (name != nullptr && name[0] != '\0') kl::set_command_argument(name);
  if (options != nullptr && options[0] != '\0') kl::set_option_letters(options);
  kl::write_ranging_ascii();
  kl::clear_option_letters();
  kl::set_command_argument("");
  return kl::status_code;
}

KLAPI int32_t KLFRPRINT(void) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::print_ranging_file();
  return kl::status_code;
}

}  // extern "C"
