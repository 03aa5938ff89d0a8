// Body of KLIIS and of the IIS command.
#ifndef KLSOL_CONSOLE_IIS_COMMAND_H
#define KLSOL_CONSOLE_IIS_COMMAND_H

namespace kl {

// Takes and clears the option letters o (keep the inner optimisations'
// messages) and f (also write the report to NAME.iis), then runs find_iis.
void iis_command();

}  // namespace kl

#endif
