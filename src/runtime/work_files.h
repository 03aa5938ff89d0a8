// Work files: binary files of 8-byte items read and written through one
// buffered record of 8192 words, and a second such file, the scratch file.
#ifndef KLSOL_RUNTIME_WORK_FILES_H
#define KLSOL_RUNTIME_WORK_FILES_H

#include <cstdint>
#include <string>

namespace kl {

// File name of the current problem with one of the extensions of the
// file-name table (by its slot number).
std::string make_work_file_name(int extension_slot);

}  // namespace kl

#endif
