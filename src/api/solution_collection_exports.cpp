// The solution collection SOLFILE.
#include "api/export_frame.h"
#include "files/solution_collection.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLOMNIOUT(void) {
  return kl::run_export(__func__, [&] { kl::append_solfile(); });
}

}  // extern "C"
