// The VORNIN command.
#include "console/vornin_command.h"

#include "files/modeller_load.h"
#include "global/directives.h"
#include "problem/cut_manager.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"

namespace kl {
namespace {

// Directives and model cuts need the entities of the loaded problem; the
// caller's index base is 0 for the lists of the load.
void apply_directives(const ModellerDirectives& after) {
  if (nglent <= 0) return;
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 1;
  if (!after.model_cut_rows.empty())
    mark_model_cuts(static_cast<int32_t>(after.model_cut_rows.size()), after.model_cut_rows.data());
  if (!after.columns.empty()) {
    loaddir(static_cast<int32_t>(after.columns.size()), after.columns.data(), after.priorities.data(),
            after.directions.data(), after.up_costs.data(), after.down_costs.data(), 0);
  }
  icv(ic::IFDBG) = base;
  status_code = 0;
}

}  // namespace

void vornin_command() {
  const int32_t kept_m_m = icv(ic::M_M);
  begin_body();
  // The caller's cut manager hears that the cuts of the search it followed
  // are about to go with their problem.
  if (node_cut_lists_in_use != 0) invoke_cms_callback();
  if (!command_argument().empty()) problem_command();
  int32_t result = 1;
  ModellerDirectives after;
  vornin_load(result, after);
  if (result == 0) {
    problem_flags |= PF_LOADED;
    problem_state = 1;
    int_attribute(ATTR_GLOBAL_STATUS) = 1;
    apply_directives(after);
  }
  icv(ic::M_M) = kept_m_m;
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
