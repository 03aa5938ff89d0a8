// What the two problem writers (MPS and LP format) share: the caller's
// terms of the stored values, the names of the positions as the loaded
// problem had them, numbers that read back exactly, and the table of the
// names as they are written.
#ifndef KLSOL_FILES_PROBLEM_WRITER_SUPPORT_H
#define KLSOL_FILES_PROBLEM_WRITER_SUPPORT_H

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace kl {

// Bounds at or beyond this magnitude are written as infinite (a tenth of
// the library's infinity, so that a bound a little short of it is not
// written as a huge finite number).
inline constexpr double kWriterInfinity = 1e19;

// Factor that turns a stored value of position p into the caller's terms:
// 2^(64 - e) for costs, right-hand sides, slack bounds and (with both
// positions) matrix elements; 2^(e - 64) for column bounds. 1 when the
// stored values are asked for.
double inverse_scale_of(int32_t p, bool stored);
double scale_of(int32_t p, bool stored);

// The stored name of position p with its trailing blanks dropped. A
// presolved problem names its positions after the original problem's.
std::string position_name(int32_t p);
// The stored name of set s (from 1), trailing blanks dropped.
std::string set_name(int32_t s);

// The shortest text that reads back as exactly x (C locale, "e" exponent).
std::string round_trip_number(double x);

// True when the problem is presolved (its positions are the presolved ones).
bool writing_presolved_problem();

// The objective constant in the caller's terms: the constant of the loaded
// problem, plus the share of the columns presolve took out when the problem
// is presolved. A problem that is not presolved still holds its fixed
// columns, which carry their share of the objective themselves.
double written_objective_constant();

// The names of one name space (rows, or columns) as a writer puts them in
// the file. A name the file cannot carry is rewritten by the writer's rule
// and, when the rewritten name is taken, numbered until it is free; every
// name written is distinct within its space. The names that stand as they
// are enter first, so a rewritten name never takes one of theirs.
class WrittenNames {
 public:
  // acceptable: whether a name can be written as it stands; rewrite: the
  // form it takes otherwise (before the numbering that makes it unique).
  using Acceptable = bool (*)(const std::string&);
  using Rewrite = std::string (*)(const std::string&);

  // names[k] for k = 0 .. n-1.
  void build(const std::vector<std::string>& names, Acceptable acceptable, Rewrite rewrite);
  const std::string& operator[](std::size_t k) const { return written_[k]; }
  std::size_t size() const { return written_.size(); }
  // Names written in another form than they are stored.
  int32_t rewritten() const { return rewritten_; }
  // The first name rewritten, as stored, for the message.
  const std::string& first_rewritten() const { return first_rewritten_; }

 private:
  std::vector<std::string> written_;
  int32_t rewritten_ = 0;
  std::string first_rewritten_;
};

// Message 1010 when a writer wrote names in another form: their count and
// the first of them.
void report_rewritten_names(int32_t count, const std::string& first);

}  // namespace kl

#endif
