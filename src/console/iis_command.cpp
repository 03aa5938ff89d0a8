#include "console/iis_command.h"

#include "runtime/options.h"
#include "simplex/iis.h"

namespace kl {

void iis_command() {
  const bool keep_output = option_set('o');
  const bool to_file = option_set('f');
  option_flags['o' - 'a'] = 0;
  option_flags['f' - 'a'] = 0;
  find_iis(keep_output, to_file);
}

}  // namespace kl
