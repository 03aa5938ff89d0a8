// The entity sweep of a reduction round inside the global search.
#ifndef KLSOL_PRESOLVE_ENTITY_REDUCTIONS_H
#define KLSOL_PRESOLVE_ENTITY_REDUCTIONS_H

namespace kl {

// One sweep over the global entities, at the end of every pass of the
// round's second loop when the entity sweeps are on: entities of removed
// columns are dropped; implied bounds of integer columns become their
// bounds (a dropped row may have been all that held them); integers bounded
// by 0 and 1 become binaries; semi-continuous columns forced off or above
// zero and partial integers within their integer part or above it become
// plain; a set with a member forced nonzero fixes the members that must be
// zero. Works on round_work; a conflict ends the round as the families do.
void sweep_global_entities();

}  // namespace kl

#endif
