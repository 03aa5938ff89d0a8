// The save file: the whole state of the current problem written to
// "<problem>.svf" and read back later, so that work can stop and resume.
//
// The file is versioned and written field by field in little-endian order,
// never as images of the library's records:
//
//   header (32 bytes)  magic "KLSOLSVF", u32 version, u32 header bytes,
//                      u64 payload bytes, u32 CRC-32 of the payload,
//                      u32 reserved (0)
//   payload            the scalar records (counts, controls with their
//                      set-flags, attributes, store, presolve, LP driver,
//                      solution-file header and global-search records), the
//                      problem name, every array that belongs to the problem
//                      (both registry tables, so a presolved problem keeps
//                      its original behind it), and the records of the
//                      global search's node and cut files
//
// A restore reads and checks everything (mark, version, sizes, checksum,
// array ids and lengths) into scratch storage before it touches the current
// problem; a file that fails any check leaves that problem as it was.
#ifndef KLSOL_FILES_SAVE_FILE_H
#define KLSOL_FILES_SAVE_FILE_H

#include <cstdint>

namespace kl {

inline constexpr char kSaveFileMagic[8] = {'K', 'L', 'S', 'O', 'L', 'S', 'V', 'F'};
inline constexpr uint32_t kSaveFileVersion = 1;
inline constexpr uint32_t kSaveFileHeaderBytes = 32;

// Modes of save_restore_state.
enum SaveRestoreMode : int32_t {
  SAVE_STATE = 1,
  RESTORE_STATE = 2,
};

// Body of KLSAVE and SAVE. No problem loaded: message 91, status 32. The file
// cannot be created or written: message 5 ("svf"), status 32.
void save_state();
// Body of KLRESTORE and RESTORE. The file cannot be opened: message 5
// ("svf"), status 32. Not a save file of this version: message 1191; short,
// damaged or inconsistent: message 1192; no memory: message 20 with the
// array id; all with status 32 and the current problem unchanged.
void restore_state();
// RESTORE_STATE restores, any other mode saves. Clears the status word and
// the error number first.
void save_restore_state(int32_t mode);

}  // namespace kl

#endif
