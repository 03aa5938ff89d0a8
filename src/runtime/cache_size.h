// The processor's second-level cache size, as the operating system reports
// it.
#ifndef KLSOL_RUNTIME_CACHE_SIZE_H
#define KLSOL_RUNTIME_CACHE_SIZE_H

#include <cstdint>

namespace kl {

// The level-2 cache in KB: sysconf first, then the cache descriptions under
// /sys/devices/system/cpu/cpu0/cache; kDefaultL2CacheKb when neither says.
inline constexpr int32_t kDefaultL2CacheKb = 512;
int32_t detect_l2_cache_kb();

// The same reading without the fall-back: -1 when neither source says, so
// a caller can tell an unknown cache from one of the default size.
int32_t read_l2_cache_kb();

// Parses a cache size text of the kernel's cache description ("1024K",
// "2M", "524288"); -1 when it is not one.
int32_t parse_cache_size_kb(const char* text);

}  // namespace kl

#endif
