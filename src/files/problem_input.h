// Problem input: the body of KLINPUT and of the INPUT command. It finds the
// problem file by its extensions, sizes the capacity controls from the
// pre-scan and reads it with the MPS reader.
//
// The extensions are tried in the order "mat", "mps", "qps", "lp" (from
// "lp" alone with option letter l), each as given in lower case and then in
// upper case; the stem keeps the caller's case. A name with an explicit
// extension is opened as given. LP-format files cannot be read yet: finding
// one is reported (message 970) and refused.
//
// A read that fails leaves the problem that was loaded before it in place
// (the reader commits only a problem that read without errors); a failure
// after the commit (the set-up) leaves no problem.
#ifndef KLSOL_FILES_PROBLEM_INPUT_H
#define KLSOL_FILES_PROBLEM_INPUT_H

#include <cstdint>

namespace kl {

// File formats in the order they are tried.
enum ProblemFileFormat : int32_t {
  FORMAT_MAT = 1,
  FORMAT_MPS = 2,
  FORMAT_QPS = 3,
  FORMAT_LP = 4,
};

// The body. The file name is the rest of command_line when it holds text,
// else the problem name. Leaves the outcome in status_code: 0, or 32 after
// a reported error.
void input_problem();

}  // namespace kl

#endif
