// The platform layer: clock, interrupt flag, floating-point mode, the
// module's directory, the private random generator and the by-reference
// mathematical helpers. The library never ends the process itself.
#ifndef KLSOL_RUNTIME_PLATFORM_H
#define KLSOL_RUNTIME_PLATFORM_H

#include <csignal>
#include <cstdint>
#include <string>

namespace kl {

// 1 after SIGINT or a "quit" answer at a pager stop.
extern volatile std::sig_atomic_t interrupt_flag;

// Calendar time in whole seconds, times 100.
int32_t clock_hundredths();
void arm_interrupt();
void clear_interrupt();
// Returns the flag and clears it.
int32_t poll_interrupt();
// "Press RETURN ..." and one answer; returns 1 (and sets the interrupt
// flag) for anything but an empty answer.
int32_t pager_prompt();

// Mode 1: save the floating-point environment and set the library's mode
// (exceptions masked, round to nearest, 53-bit x87 precision); any other
// mode restores the environment saved by the last mode 1. Sticky flags are
// cleared first in both cases.
void set_fpu_mode(int32_t mode);
// The host's environment as it was when KLINITLZ was entered; KLFREEXO
// restores it.
void save_host_fpu_environment();
void restore_host_fpu_environment();
void clear_fpu_flags();

// Memory of the machine in bytes: the physical memory installed, and what a
// new allocation can have without pushing other pages out (the kernel's
// MemAvailable estimate). False when the system does not say.
bool read_memory_status(uint64_t& total_physical, uint64_t& available);

// Directory of the loaded library module (cut at its last separator), or
// false when it cannot be found.
bool module_directory(std::string& directory);

// Pseudo-random numbers: a private 15-bit generator, seeded with 1.
double random_unit();
void seed_random();
int32_t random_15bit();

double log_by_ref(const double& x);
double log10_by_ref(const double& x);
double sqrt_by_ref(const double& x);

}  // namespace kl

#endif
