#include "runtime/platform.h"

#include <dlfcn.h>
#include <sys/sysinfo.h>
#include <signal.h>
#include <unistd.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace kl {

volatile std::sig_atomic_t interrupt_flag = 0;

namespace {

std::fenv_t saved_environment;
bool environment_saved = false;
std::fenv_t host_environment;
bool host_environment_saved = false;

// The classic 15-bit linear congruential generator, private to the library
// so runs repeat whatever the host does with its own generator.
uint32_t random_state = 1;

// The handler stays installed (no reset to the default action), so a second
// Ctrl-C interrupts again instead of killing the host.
extern "C" void on_interrupt(int) { interrupt_flag = 1; }

void set_library_mode() {
  std::fesetenv(FE_DFL_ENV);  // every exception masked, round to nearest
  std::fesetround(FE_TONEAREST);
#if defined(__x86_64__) || defined(__i386__)
  // x87: all exceptions masked, 53-bit precision, round to nearest.
  unsigned short control_word = 0x027F;
  __asm__ volatile("fldcw %0" : : "m"(control_word));
#endif
}

}  // namespace

bool read_memory_status(uint64_t& total_physical, uint64_t& available) {
  total_physical = 0;
  available = 0;
  bool have_total = false, have_available = false;
  if (std::FILE* file = std::fopen("/proc/meminfo", "r")) {
    char line[128];
    while (std::fgets(line, sizeof line, file) != nullptr) {
      unsigned long long kb = 0;
      if (std::sscanf(line, "MemTotal: %llu kB", &kb) == 1) {
        total_physical = kb * 1024ULL;
        have_total = true;
      } else if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
        available = kb * 1024ULL;
        have_available = true;
      }
    }
    std::fclose(file);
  }
  if (have_total && have_available) return true;
  // Kernels without MemAvailable: free plus buffer memory is the nearest
  // figure sysinfo gives.
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return false;
  const uint64_t unit = info.mem_unit > 0 ? info.mem_unit : 1;
  if (!have_total) total_physical = static_cast<uint64_t>(info.totalram) * unit;
  if (!have_available) available = (static_cast<uint64_t>(info.freeram) + info.bufferram) * unit;
  return total_physical > 0;
}

int32_t clock_hundredths() { return static_cast<int32_t>(std::time(nullptr) * 100 % 2147483647); }

// SA_RESTART: a console read under way when Ctrl-C arrives goes on reading
// instead of failing, so the interrupt is never taken for the end of input.
void arm_interrupt() {
  interrupt_flag = 0;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void clear_interrupt() { interrupt_flag = 0; }

int32_t poll_interrupt() {
  int32_t value = interrupt_flag;
  interrupt_flag = 0;
  return value;
}

int32_t pager_prompt() {
  std::fputs("Press RETURN to continue or any other character to quit...", stdout);
  std::fflush(stdout);
  int c = std::getchar();
  if (c == '\n') return 0;
  // Drop the rest of the answer so it is not taken as the next input line.
  while (c != '\n' && c != EOF) c = std::getchar();
  interrupt_flag = 1;
  return 1;
}

void clear_fpu_flags() { std::feclearexcept(FE_ALL_EXCEPT); }

void set_fpu_mode(int32_t mode) {
  clear_fpu_flags();
  if (mode == 1) {
    std::fegetenv(&saved_environment);
    environment_saved = true;
    set_library_mode();
  } else if (environment_saved) {
    std::fesetenv(&saved_environment);
  }
}

void save_host_fpu_environment() {
  std::fegetenv(&host_environment);
  host_environment_saved = true;
}

void restore_host_fpu_environment() {
  if (!host_environment_saved) return;
  std::fesetenv(&host_environment);
  host_environment_saved = false;
}

bool module_directory(std::string& directory) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&module_directory), &info) == 0 || info.dli_fname == nullptr) return false;
  std::string path = info.dli_fname;
  // Linked into a program rather than loaded as a library, the loader may
  // give no usable path for the module; the program's own file then is it.
  if (path.find('/') == std::string::npos) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return false;
    path.assign(buffer, static_cast<std::size_t>(n));
  }
  std::size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos) {
    directory.clear();
    return true;
  }
  directory = path.substr(0, cut);
  return true;
}

int32_t random_15bit() {
  random_state = random_state * 1103515245u + 12345u;
  return static_cast<int32_t>((random_state / 65536u) % 32768u);
}

double random_unit() { return random_15bit() / 32767.0; }

void seed_random() { random_state = 1; }

double log_by_ref(const double& x) { return std::log(x); }
double log10_by_ref(const double& x) { return std::log10(x); }
double sqrt_by_ref(const double& x) { return std::sqrt(x); }

}  // namespace kl
