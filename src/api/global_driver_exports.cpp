// The global search's own exports: running or continuing it, ending it and
// removing nodes from it.
#include "api/export_frame.h"
#include "global/search_driver.h"
#include "klsol32.h"

extern "C" {

KLAPI int32_t KLGLOBAL(void) {
  return kl::run_export(__func__, [] { kl::run_global_command(); });
}

KLAPI int32_t KLINIGLOBAL(void) {
  return kl::run_export(__func__, [] {
    kl::begin_body();
    kl::reset_global_search(0);
  });
}

KLAPI int32_t KLDELNODE(int32_t node, int32_t mode) {
  return kl::run_export(__func__, [&] { kl::delete_node(node, mode); });
}

}  // extern "C"
