// The cut-manager exports on a small problem: listing and reading cuts back,
// dropping the caller's cuts, bound records, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "global/cut_rows.h"
#include "global/node_cut_lists.h"
#include "klsol/message_ids.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"

namespace {

using namespace kl;
using namespace kltest;

// maximise 2x + 3y: x + 2y <= 4, 3x + y <= 6, 0 <= x, y <= 10, x integer.
// The LP optimum is x = 1.6, y = 1.2, objective 6.8.
ArrayProblem two_row_problem() {
  ArrayProblem p;
  p.row('L', 4.0);
  p.row('L', 6.0);
  p.column(2.0, 0.0, 10.0, {{0, 1.0}, {1, 3.0}});
  p.column(3.0, 0.0, 10.0, {{0, 2.0}, {1, 1.0}});
  p.entity('I', 0);
  return p;
}

class CutInterface : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFSCAL, 0);  // bounds read back in the caller's units
    KLSETICV(KLIC_MXCPOL, 20);
    KLSETICV(KLIC_MXCPEL, 40);
    KLSETICV(KLIC_NRXTRA, 4);
    KLSETICV(KLIC_NMXTRA, 10);
    ASSERT_EQ(two_row_problem().load_global(), 0);
    ASSERT_EQ(KLMAXIM("l"), 0);
    model_rows = nrow;
  }

  // One cut a x + b y (sense) rhs through KLSTORECUTS; the pool index.
  int32_t put(double a, double b, char sense, double rhs, int32_t type = 1, int32_t duplicate_mode = 0) {
    std::vector<int32_t> columns;
    std::vector<double> values;
    if (a != 0.0) columns.push_back(0), values.push_back(a);
    if (b != 0.0) columns.push_back(1), values.push_back(b);
    const int32_t start[2] = {0, static_cast<int32_t>(columns.size())};
    int32_t index = -7;
    EXPECT_EQ(KLSTORECUTS(1, duplicate_mode, &type, &sense, &rhs, start, &index, columns.data(), values.data()), 0);
    return index;
  }

  // The same cut as the library stores its own (positions, flag 0x80).
  int32_t store_as_library(double a, double b, double rhs, int32_t type) {
    const int32_t columns[2] = {store.first_col, store.first_col + 1};
    const double values[2] = {a, b};
    const int32_t start[2] = {0, 2};
    const char sense = 'L';
    int32_t index = 0;
    status_code = STATUS_OK;
    storecut(1, 0, &type, &sense, &rhs, start, &index, columns, values, -1);
    EXPECT_EQ(status_code, STATUS_OK);
    return index;
  }

  int32_t record_field(int32_t index, int32_t field) { return cut_record_field(index + icv(ic::IFDBG), field); }

  int32_t model_rows = 0;
};

// The listings and the reading back, with the edge cases of each: a count
// beyond the capacity, a row added straight into the LP, violations within
// the pool's own tolerance, and elements beyond the capacity.
TEST_F(CutInterface, ListsAndReadsBackTheCallersCuts) {
  // At x = 1.6, y = 1.2: x + y = 2.8, y = 1.2, x = 1.6.
  double ztolda = 0.0;
  KLGETDCV(KLDC_ZTOLDA, &ztolda);
  const int32_t sum = put(1.0, 1.0, 'L', 2.5, 1);             // violated by 0.3
  const int32_t cap = put(0.0, 2.0, 'L', 2.0, 2);             // 2y <= 2: violated by 0.4, 0.2 per unit of y
  const int32_t floor = put(1.0, 0.0, 'G', 0.5, 4);           // holds
  const int32_t close = put(1.0, 1.0, 'L', 2.8 - ztolda / 2, 8);  // within ZTOLDA: not violated
  const int32_t library = store_as_library(1.0, 1.0, 2.0, 1);  // violated, but the library's
  EXPECT_EQ((std::vector<int32_t>{sum, cap, floor, close}), (std::vector<int32_t>{0, 1, 2, 3}));

  int32_t count = -1;
  int32_t list[6] = {-9, -9, -9, -9, -9, -9};
  double violation[6] = {};
  ASSERT_EQ(KLGETCPLIST(0, 0, 0.0, &count, 6, list, violation), 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(list[0], sum);
  EXPECT_NEAR(violation[0], 0.3, 1e-9);
  EXPECT_EQ(list[1], cap);
  EXPECT_NEAR(violation[1], 0.2, 1e-9);
  // The tolerance is on the activity: 2y <= 2 is off by 0.4.
  ASSERT_EQ(KLGETCPLIST(0, 0, 0.35, &count, 6, list, violation), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(list[0], cap);
  ASSERT_EQ(KLGETCPLIST(2, 1, 0.0, &count, 0, nullptr, nullptr), 0);  // type 2 only, no room
  EXPECT_EQ(count, 1);

  // Two pool cuts and one row straight into the LP.
  const int32_t loaded[2] = {sum, cap};
  ASSERT_EQ(KLLOADCUTS(0, 0, 2, loaded), 0);
  const int32_t direct_type = 16;
  const char direct_sense = 'L';
  const double direct_rhs = 1.5;
  const int32_t direct_start[2] = {0, 1};
  const int32_t direct_column = 0;
  const double direct_value = 1.0;
  ASSERT_EQ(KLADDCUTS(1, &direct_type, &direct_sense, &direct_rhs, direct_start, &direct_column, &direct_value), 0);
  ASSERT_EQ(cut_row_count, 3);
  EXPECT_EQ(nrow, model_rows + 3);
  // The library's own cut loaded too is no cut of the caller's listing.
  const int32_t library_list[1] = {library};
  status_code = STATUS_OK;
  loadcut(0, 0, 1, library_list, LOAD_INTERNAL_LIST);
  ASSERT_EQ(cut_row_count, 4);

  for (int32_t k = 0; k < 6; ++k) list[k] = -9;
  ASSERT_EQ(KLGETCNLIST(0, 0, &count, 0, list), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(list[0], -9);  // capacity 0: the count only
  ASSERT_EQ(KLGETCNLIST(0, 0, &count, 2, list), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ((std::vector<int32_t>{list[0], list[1], list[2]}), (std::vector<int32_t>{sum, cap, -9}));
  ASSERT_EQ(KLGETCMLIST(16, 1, &count, 6, list), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(list[0], -1);  // a direct row: 0 less the index base

  // The LP with the four cuts: x <= 1.5, y <= 1 and x + y <= 2 give
  // x = y = 1.
  ASSERT_EQ(KLMAXIM("l"), 0);
  EXPECT_NEAR(objective_value(), 5.0, 1e-9);

  // Reading back: the library's cut is passed over; three elements of room
  // hold the first two cuts, the third's go and the starts carry on.
  const int32_t wanted[4] = {sum, library, cap, floor};
  int32_t types[4] = {-1, -1, -1, -1};
  char senses[4] = {'?', '?', '?', '?'};
  int32_t starts[5] = {};
  int32_t columns[4] = {-1, -1, -1, -1};
  double values[4] = {};
  double rhs[4] = {};
  ASSERT_EQ(KLGETCUTS(wanted, 4, 3, types, senses, starts, columns, values, rhs), 0);
  EXPECT_EQ((std::vector<int32_t>(starts, starts + 5)), (std::vector<int32_t>{0, 2, 2, 3, 4}));
  EXPECT_EQ((std::vector<int32_t>(types, types + 4)), (std::vector<int32_t>{1, -1, 2, 4}));
  EXPECT_EQ(std::string(senses, 4), "L?LG");
  EXPECT_EQ((std::vector<double>(rhs, rhs + 4)), (std::vector<double>{2.5, 0.0, 2.0, 0.5}));
  EXPECT_EQ((std::vector<int32_t>(columns, columns + 4)), (std::vector<int32_t>{0, 1, 1, -1}));
  EXPECT_EQ((std::vector<double>(values, values + 3)), (std::vector<double>{1.0, 1.0, 2.0}));
  // Only the starts asked for.
  ASSERT_EQ(KLGETCUTS(wanted, 4, 0, nullptr, nullptr, starts, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(starts[4], 4);
}

// Dropping frees what the caller stored and nothing else: the library's own
// cuts (the model cuts presolve moves into the pool among them) stay, and
// cuts still in the LP stay; the elements close up behind a freed cut.
TEST_F(CutInterface, DropFreesOnlyTheCallersUnusedCuts) {
  const int32_t first = put(1.0, 1.0, 'L', 2.5, 1);  // 2 elements
  const int32_t second = put(0.0, 2.0, 'L', 2.0, 1);
  const int32_t third = put(3.0, 0.0, 'G', 0.5, 1);
  const int32_t model = store_as_library(1.0, 2.0, 4.0, kModelCutType);
  ASSERT_EQ(search_record.stored_cut_count, 4);
  const int32_t second_first = record_field(second, CUT_FIELD_FIRST);
  const int32_t third_first = record_field(third, CUT_FIELD_FIRST);
  const int32_t model_first = record_field(model, CUT_FIELD_FIRST);

  ASSERT_EQ(KLDROPCUTS(0, 0, 1, &first), 0);
  EXPECT_EQ(search_record.stored_cut_count, 3);
  EXPECT_EQ(record_field(second, CUT_FIELD_FIRST), second_first - 2);
  EXPECT_EQ(record_field(third, CUT_FIELD_FIRST), third_first - 2);
  EXPECT_EQ(record_field(model, CUT_FIELD_FIRST), model_first - 2);
  const int32_t wanted[3] = {second, third, model};
  int32_t columns[4] = {};
  double values[4] = {};
  int32_t starts[4] = {};
  ASSERT_EQ(KLGETCUTS(wanted, 3, 4, nullptr, nullptr, starts, columns, values, nullptr), 0);
  EXPECT_EQ((std::vector<int32_t>(starts, starts + 4)), (std::vector<int32_t>{0, 1, 2, 2}));
  EXPECT_EQ((std::vector<int32_t>{columns[0], columns[1]}), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ((std::vector<double>{values[0], values[1]}), (std::vector<double>{2.0, 3.0}));

  // The freed record is the next one handed out.
  EXPECT_EQ(put(1.0, 0.0, 'L', 9.0, 2), first);

  // A library cut named in the list: message 418, nothing freed.
  EXPECT_EQ(KLDROPCUTS(0, 0, 1, &model), 32);
  EXPECT_EQ(error_number, MSG_CUT_RECORD_INVALID);
  EXPECT_EQ(search_record.stored_cut_count, 4);

  // Every cut: the library's stays, as does the caller's cut in the LP.
  ASSERT_EQ(KLLOADCUTS(0, 0, 1, &second), 0);
  ASSERT_EQ(KLDROPCUTS(0, 0, -1, nullptr), 0);
  EXPECT_EQ(search_record.stored_cut_count, 2);
  EXPECT_EQ(record_field(second, CUT_FIELD_REFERENCES), 1);
  EXPECT_EQ(record_field(model, CUT_FIELD_TYPE), kModelCutType);
  EXPECT_EQ(search_record.pool_elements_used, 1 + 2);
  // The survivors read back as stored.
  int32_t count = 0;
  ASSERT_EQ(KLGETCNLIST(0, 0, &count, 0, nullptr), 0);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(KLGETCUTS(&second, 1, 4, nullptr, nullptr, starts, columns, values, nullptr), 0);
  EXPECT_EQ(columns[0], 1);
  EXPECT_EQ(values[0], 2.0);
}

// Bound records: the same one twice is one record; another value is a
// second record, and the column's own bound is saved once.
TEST_F(CutInterface, BoundRecordsAndTheirSavedBound) {
  const int32_t column = 1;  // y, no entity
  const char upper = 'U';
  int32_t index[2] = {-1, -1};
  double value = 1.0;
  ASSERT_EQ(KLSTOREBNDS(1, &column, &upper, &value, &index[0]), 0);
  ASSERT_EQ(KLSTOREBNDS(1, &column, &upper, &value, &index[1]), 0);
  EXPECT_EQ(index[0], index[1]);
  EXPECT_EQ(search_record.saved_bound_count, 1);
  const int32_t top = icv(ic::MXCPOL);
  EXPECT_EQ(cut_record_field(top, CUT_FIELD_FLAGS), 16);
  EXPECT_EQ(real_array(ARR_CUT_RHS)[top], 10.0);
  value = 0.5;
  ASSERT_EQ(KLSTOREBNDS(1, &column, &upper, &value, &index[1]), 0);
  EXPECT_NE(index[0], index[1]);
  EXPECT_EQ(search_record.saved_bound_count, 1);
  EXPECT_EQ(search_record.stored_cut_count, 2);
  // A lower bound of an entity column saves nothing: its states do.
  const int32_t x = 0;
  const char lower = 'L';
  value = 1.0;
  ASSERT_EQ(KLSTOREBNDS(1, &x, &lower, &value, &index[0]), 0);
  EXPECT_EQ(search_record.saved_bound_count, 1);
  // Bound records are no cuts: the listings and dropping pass them over.
  int32_t count = -1;
  ASSERT_EQ(KLGETCPLIST(0, 0, 0.0, &count, 0, nullptr, nullptr), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(KLDROPCUTS(0, 0, 1, &index[0]), 32);
  ASSERT_EQ(KLDROPCUTS(0, 0, -1, nullptr), 0);
  EXPECT_EQ(search_record.stored_cut_count, 3);
}

// A cut without elements needs no element arrays, and the caller's rule -2
// means every cut like any other rule beyond 1 to 3: the rows it loads get
// their slacks basic, as every caller's row does.
TEST_F(CutInterface, EmptyCutAndEveryRule) {
  const int32_t type = 6;
  const char sense = 'G';
  const double rhs = -1.0;
  const int32_t start[2] = {4, 4};
  int32_t index = -1;
  ASSERT_EQ(KLSTORECUTS(1, 0, &type, &sense, &rhs, start, &index, nullptr, nullptr), 0);
  EXPECT_EQ(record_field(index, CUT_FIELD_LENGTH), 0);
  ASSERT_EQ(KLLOADCUTS(0, -2, -1, nullptr), 0);
  ASSERT_EQ(cut_row_count, 1);
  EXPECT_NE(int_array(ARR_POS_STATUS)[nrow] & PS_BASIC, 0);
  ASSERT_EQ(KLMAXIM("l"), 0);
  EXPECT_NEAR(objective_value(), 6.8, 1e-9);
}

// Bad input: the status word 32 and a numbered message; nothing added.
TEST_F(CutInterface, BadInputGetsItsMessage) {
  const int32_t type = 1;
  const double rhs = 1.0;
  const int32_t start[2] = {0, 2};
  const int32_t backwards[2] = {2, 0};
  const int32_t columns[2] = {0, 1};
  const int32_t repeated[2] = {1, 1};
  const int32_t outside[2] = {0, 7};
  const double values[2] = {1.0, 1.0};
  int32_t index = 0;
  int32_t count = 0;
  double up = 0.0, down = 0.0;
  const int32_t huge = 999;
  const int32_t negative = -5;
  const char bad_letter = 'X';
  const char sense = 'L';
  struct Case {
    const char* what;
    std::function<int32_t()> call;
    int32_t message;
  };
  const std::vector<Case> cases = {
      {"add: negative count", [&] { return KLADDCUTS(-1, &type, &sense, &rhs, start, columns, values); },
       MSG_LOAD_BAD_COUNT},
      {"add: no types", [&] { return KLADDCUTS(1, nullptr, &sense, &rhs, start, columns, values); },
       MSG_NULL_ARGUMENT},
      {"add: no columns", [&] { return KLADDCUTS(1, &type, &sense, &rhs, start, nullptr, values); },
       MSG_NULL_ARGUMENT},
      {"add: starts fall", [&] { return KLADDCUTS(1, &type, &sense, &rhs, backwards, columns, values); },
       MSG_LOAD_BAD_COUNT},
      {"add: bad sense", [&] { return KLADDCUTS(1, &type, &bad_letter, &rhs, start, columns, values); },
       MSG_LOAD_BAD_ROW_TYPE},
      {"add: column outside", [&] { return KLADDCUTS(1, &type, &sense, &rhs, start, outside, values); },
       MSG_COLUMN_INDEX_INVALID},
      {"add: column repeated", [&] { return KLADDCUTS(1, &type, &sense, &rhs, start, repeated, values); },
       MSG_INDEX_REPEATED},
      {"store: no index out",
       [&] { return KLSTORECUTS(1, 0, &type, &sense, &rhs, start, nullptr, columns, values); }, MSG_NULL_ARGUMENT},
      {"store: column outside",
       [&] { return KLSTORECUTS(1, 0, &type, &sense, &rhs, start, &index, outside, values); },
       MSG_COLUMN_INDEX_INVALID},
      {"store: starts fall",
       [&] { return KLSTORECUTS(1, 0, &type, &sense, &rhs, backwards, &index, columns, values); },
       MSG_LOAD_BAD_COUNT},
      {"load: no list", [&] { return KLLOADCUTS(0, 0, 1, nullptr); }, MSG_NULL_ARGUMENT},
      {"load: no such record", [&] { return KLLOADCUTS(0, 0, 1, &huge); }, MSG_CUT_RECORD_INVALID},
      {"load: count below -1", [&] { return KLLOADCUTS(0, 0, -2, &huge); }, MSG_LOAD_BAD_COUNT},
      {"delete: no such cut row", [&] { return KLDELCUTS(0, 0, 0, -1.0, 1, &huge); }, MSG_ROW_INDEX_INVALID},
      {"drop: no such record", [&] { return KLDROPCUTS(0, 0, 1, &negative); }, MSG_CUT_RECORD_INVALID},
      {"drop: no list", [&] { return KLDROPCUTS(0, 0, 2, nullptr); }, MSG_NULL_ARGUMENT},
      {"list: no count", [&] { return KLGETCNLIST(0, 0, nullptr, 0, nullptr); }, MSG_NULL_ARGUMENT},
      {"list: negative capacity", [&] { return KLGETCNLIST(0, 0, &count, -1, nullptr); }, MSG_LOAD_BAD_COUNT},
      {"list: room but no list", [&] { return KLGETCMLIST(0, 0, &count, 3, nullptr); }, MSG_NULL_ARGUMENT},
      {"violated: room but no violations",
       [&] { return KLGETCPLIST(0, 0, 0.0, &count, 3, &index, nullptr); }, MSG_NULL_ARGUMENT},
      {"get: no such record",
       [&] { return KLGETCUTS(&huge, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
       MSG_CUT_RECORD_INVALID},
      {"get: no list", [&] { return KLGETCUTS(nullptr, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
       MSG_NULL_ARGUMENT},
      {"bounds: bad letter", [&] { return KLSTOREBNDS(1, columns, &bad_letter, &rhs, &index); },
       MSG_CHG_BAD_BOUND_LETTER},
      {"bounds: column outside", [&] { return KLSTOREBNDS(1, &huge, "U", &rhs, &index); }, MSG_COLUMN_INDEX_INVALID},
      {"bounds: no values", [&] { return KLSTOREBNDS(1, columns, "U", nullptr, &index); }, MSG_NULL_ARGUMENT},
      {"branch: no such record", [&] { return KLBRANCHCUT(1, &huge); }, MSG_CUT_RECORD_INVALID},
      {"branch: no list", [&] { return KLBRANCHCUT(1, nullptr); }, MSG_NULL_ARGUMENT},
      {"estimate: column outside", [&] { return KLGETEST(7, &up, &down); }, MSG_COLUMN_INDEX_INVALID},
      {"estimate: no output", [&] { return KLGETEST(0, nullptr, &down); }, MSG_NULL_ARGUMENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), 32);
    EXPECT_EQ(error_number, c.message);
    EXPECT_EQ(cut_row_count, 0);
    EXPECT_EQ(search_record.stored_cut_count, 0);
  }
  EXPECT_TRUE(pending_branch_cuts.empty());
  // Without a problem every one of them says so.
  ASSERT_EQ(KLFREEXO(), 0);
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(KLADDCUTS(1, &type, &sense, &rhs, start, columns, values), 32);
  EXPECT_EQ(error_number, MSG_NO_PROBLEM);
  EXPECT_EQ(KLGETCUTS(&huge, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 32);
  EXPECT_EQ(error_number, MSG_NO_PROBLEM);
}

// The degradation rates of a column at the row prices of the last duals:
// y's up rate is positive, its down rate no smaller (a maximisation moving
// y down loses at least its cost).
TEST_F(CutInterface, EstimatesOfAColumn) {
  double up = -1.0, down = -1.0;
  ASSERT_EQ(KLGETEST(1, &up, &down), 0);
  EXPECT_GE(up, 0.0);
  EXPECT_GE(down, 0.0);
}

}  // namespace
