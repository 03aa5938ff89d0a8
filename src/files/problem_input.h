// Problem input: the body of KLINPUT and of the INPUT command. It finds the
// problem file by its extensions, sizes the capacity controls from the
// pre-scan and reads it with the MPS reader, or reads an LP-format file with
// the LP reader.
//
// The extensions are tried in the order "mat", "mps", "qps", "lp" (from
// "lp" alone with option letter l), each as given in lower case and then in
// upper case; the stem keeps the caller's case. A name with an explicit
// extension is opened as given; only the exact lower-case extension "lp"
// chooses the LP reader.
//
// A read that fails leaves the problem that was loaded before it in place,
// with its name, its controls and its solution: the reader checks what it
// read and obtains the new problem's storage before it gives up the old
// one. Only a shortage of memory in the set-up that follows the commit
// leaves no problem. The LP reader checks what it read before it hands the
// problem to the loaders, which give up the old problem first: there a
// shortage of memory in the loaders leaves no problem.
#ifndef KLSOL_FILES_PROBLEM_INPUT_H
#define KLSOL_FILES_PROBLEM_INPUT_H

#include <cstdint>

#include "runtime/problem_name.h"

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
// As input_problem, but a failure gives the problem back name_before (the
// name it had before the caller named the file).
void input_problem_keeping_name(const ProblemName& name_before);
// KLINPUT: name becomes the problem name for the read, and stays only when
// the read succeeds. False (nothing done) when the name is longer than
// kProblemNameMax.
bool input_problem_named(const char* name);

}  // namespace kl

#endif
