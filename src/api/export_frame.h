// Helpers shared by the exports.
#ifndef KLSOL_API_EXPORT_FRAME_H
#define KLSOL_API_EXPORT_FRAME_H

#include <cstdint>

#include "runtime/frame.h"

namespace kl {

// Exports that need the library started return 8 before KLINITLZ (and after
// KLFREEXO) instead of running on zeroed state.
inline bool refused_before_start() {
  if (library_initialised) return false;
  status_code = STATUS_FATAL;
  return true;
}

}  // namespace kl

#endif
