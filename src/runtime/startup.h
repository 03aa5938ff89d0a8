// Start-up and shutdown of the library.
#ifndef KLSOL_RUNTIME_STARTUP_H
#define KLSOL_RUNTIME_STARTUP_H

#include <cstdint>
#include <string>

namespace kl {

// The two directories of the library's own files: the message file is
// looked for in the first, then in the second (the current directory when
// the second is empty).
struct LibraryDirectories {
  std::string first;
  std::string second;
  bool started_by_host = false;
};
extern LibraryDirectories library_directory;

// The character table: A..Z then + - blank , " = * ? > < (37 characters).
extern const char kCharacterTable[38];
// Three-letter extensions of the work files, by slot 1..23 ("lp " has a
// trailing blank).
extern const char* const kFileExtensions[24];
inline constexpr const char* kIniFileName = "kl-run.ini";
inline constexpr const char* kMessageFileName = "kl-run.msg";

enum FileExtension : int {
  EXT_MAT = 1, EXT_SOL, EXT_RNG, EXT_BIF, EXT_HDR, EXT_ASC, EXT_BSS, EXT_WRK, EXT_GLB, EXT_PRT, EXT_DIR,
  EXT_ALT, EXT_SVF, EXT_RSC, EXT_RRT, EXT_CPT, EXT_MPS, EXT_ANA, EXT_CTP, EXT_GOL, EXT_REC, EXT_LP, EXT_QPS,
};

// Fixes the two directories from the argument, the module's own directory
// and KALMIR.
void set_library_directory(const char* directory, bool given);
// KLINITLZ body; returns status_code.
int32_t start_library(const char* directory);
void initialise_library();
void check_size_controls();
// KLFREEXO body.
void free_library();

}  // namespace kl

#endif
