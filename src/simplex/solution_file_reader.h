// The solution file as the access bodies read it back: the header items they
// need and the records, item by item. Every failure is reported once, as
// message 122 with status 2, so that a body never takes a file that was cut
// short, or that belongs to a problem of other dimensions, for an answer.
#ifndef KLSOL_SIMPLEX_SOLUTION_FILE_READER_H
#define KLSOL_SIMPLEX_SOLUTION_FILE_READER_H

#include <cstdint>

namespace kl {

// One record as written (files/solution_file.h): a row's value is its slack
// (negated for a G row), its bounds the limits of its activity; a column's
// value and bounds are its own. dual is the dual value or reduced cost as
// stored, in the optimiser's orientation. All unscaled.
struct SolutionFileRecord {
  int32_t type_word = 0;    // row type code, or the column's element count
  int32_t status_word = 0;  // record status word (PS_* bits, RS_OUTSIDE_BOUNDS)
  double value = 0.0;
  double lower = 0.0;
  double upper = 0.0;
  double dual = 0.0;
};

class SolutionFileReader {
 public:
  SolutionFileReader() = default;
  SolutionFileReader(const SolutionFileReader&) = delete;
  SolutionFileReader& operator=(const SolutionFileReader&) = delete;
  ~SolutionFileReader() { close(); }

  // Opens the problem's solution file and reads its header; checks that it
  // holds expected_rows row records and expected_columns column records.
  // False after the failure has been reported.
  bool open(int32_t expected_rows, int32_t expected_columns);
  // Reads the next record; false after a read failure has been reported.
  bool next(SolutionFileRecord& record);
  void close();

  int32_t rows() const { return rows_; }
  int32_t columns() const { return columns_; }
  // 1 minimise, 2 maximise, anything else unknown (header item 3, byte 5).
  int32_t sense_code() const { return sense_code_; }
  // Header item 8, byte 2: the kind of the solution; 0 means no basis.
  bool has_basis() const { return solution_kind_ != 0; }

 private:
  bool open_ = false;
  int32_t rows_ = 0;
  int32_t columns_ = 0;
  int32_t sense_code_ = 0;
  int32_t solution_kind_ = 0;
};

// Row and column records the plain forms expect: those of the original
// problem when it is presolved, else the problem's rows less the cut rows of
// the global search (the writer leaves them out) and its structural columns.
int32_t expected_file_rows();
int32_t expected_file_columns();

}  // namespace kl

#endif
