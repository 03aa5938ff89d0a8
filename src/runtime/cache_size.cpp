// Level-2 cache size from the operating system.
#include "runtime/cache_size.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kl {

int32_t parse_cache_size_kb(const char* text) {
  if (text == nullptr) return -1;
  while (*text == ' ' || *text == '\t') ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text))) return -1;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  while (*end == ' ') ++end;
  long long kb = -1;
  switch (*end) {
    case 'K':
    case 'k':
      kb = value;
      break;
    case 'M':
    case 'm':
      kb = value * 1024;
      break;
    case 'G':
    case 'g':
      kb = value * 1024 * 1024;
      break;
    case '\0':
    case '\n':
      kb = value / 1024;
      break;
    default:
      return -1;
  }
  if (kb < 0 || kb > 2147483647LL) return -1;
  return static_cast<int32_t>(kb);
}

namespace {

// Reads the first line of a small text file; false when it cannot.
bool read_first_line(const std::string& path, char* line, int size) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  const bool ok = std::fgets(line, size, file) != nullptr;
  std::fclose(file);
  return ok;
}

int32_t l2_from_sysfs() {
  const std::string base = "/sys/devices/system/cpu/cpu0/cache/index";
  for (int index = 0; index < 16; ++index) {
    const std::string dir = base + std::to_string(index) + "/";
    char line[64];
    if (!read_first_line(dir + "level", line, sizeof line)) continue;
    if (std::atoi(line) != 2) continue;
    if (!read_first_line(dir + "size", line, sizeof line)) continue;
    const int32_t kb = parse_cache_size_kb(line);
    if (kb > 0) return kb;
  }
  return -1;
}

}  // namespace

int32_t read_l2_cache_kb() {
#ifdef _SC_LEVEL2_CACHE_SIZE
  const long bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
  if (bytes > 0) return static_cast<int32_t>(bytes / 1024);
#endif
  const int32_t kb = l2_from_sysfs();
  return kb > 0 ? kb : -1;
}

int32_t detect_l2_cache_kb() {
  const int32_t kb = read_l2_cache_kb();
  return kb > 0 ? kb : kDefaultL2CacheKb;
}

}  // namespace kl
