// Array ids of the numbered arrays of a problem (see store.h for contents)
// and the typed accessors through which every reader reaches them.
#ifndef KLSOL_PROBLEM_ARRAY_IDS_H
#define KLSOL_PROBLEM_ARRAY_IDS_H

#include <cassert>
#include <cstdint>
#include <type_traits>

#include "runtime/arrays.h"

namespace kl {

enum ArrayId : int {
  ARR_ROW_TYPE = 1,
  ARR_POS_STATUS = 2,
  ARR_COL_START = 3,
  ARR_ELEM_ROW = 4,
  ARR_ELEM_VALUE = 5,
  ARR_OBJECTIVE = 6,
  ARR_RHS = 7,
  ARR_LOWER = 8,
  ARR_UPPER = 9,
  ARR_ENTITY_TYPE = 10,
  ARR_ENTITY_COLUMN = 11,
  ARR_DIRECTIVE_WORD = 12,
  ARR_ENTITY_ROOT_UPPER = 13,
  ARR_ENTITY_ROOT_LOWER = 14,
  ARR_PSEUDO_COST_DOWN = 15,
  ARR_PSEUDO_COST_UP = 16,
  ARR_SET_MEMBER_COLUMN = 17,
  ARR_SET_MEMBER_REF = 18,
  ARR_SET_WORD = 19,
  ARR_SET_START = 20,
  ARR_NODE_DEPTH = 21,
  ARR_NODE_ID = 22,
  ARR_SET_WINDOW = 23,  // per entity two reals: a set's window lower, upper end
  ARR_NODE_BOUND = 24,
  ARR_NODE_ESTIMATE = 25,
  ARR_SET_MEMBER_UPPER = 26,
  ARR_NAME_TABLE = 27,
  ARR_PRESOLVE_REALS = 28,
  ARR_PRESOLVE_INTS = 29,
  ARR_POSITION_MAP = 30,
  ARR_WORK_RHS = 31,
  ARR_BASIS_HEADER = 33,
  ARR_BASIC_UPPER = 34,
  ARR_ROW_COPY_COL = 35,
  ARR_ROW_COPY_VAL = 36,
  ARR_ROW_COPY_START = 37,
  ARR_SCALE_WORK = 38,
  ARR_PIVOT_ROW_INDEX = 39,  // ints, in a block of one real per position
  ARR_BASIC_VALUES = 40,
  ARR_PIVOT_ROW = 41,
  ARR_REDUCED_COSTS = 42,
  ARR_WORK_VECTOR = 43,
  ARR_PHASE1_VALUES = 44,
  ARR_ROW_PRICES = 45,  // floats, two per row, in a block of one real per row
  // 46..54 and 69: LU factor and eta file. The name hash of the readers and
  // the slots' save buffers have storage of their own, so freeing the factor
  // never frees a block that belongs to them.
  ARR_FACTOR_FIRST = 46,
  ARR_FACTOR_LAST = 54,
  // LU factor and eta file (see factor/basis.h for their layout).
  ARR_ETA_ROW = 46,         // int per slot
  ARR_ROW_ETA_HEADS = 47,   // int per row (invert: column starts)
  ARR_ETA_VALUE = 48,       // real per slot
  ARR_INVERT_CHAINS = 49,   // int per row (invert: row counts)
  ARR_U_ROW = 50,           // int per slot
  ARR_ROW_ETA_CHAINS = 51,  // int per row (invert: row starts)
  ARR_COLUMN_COUNTS = 52,   // nrow + 500 ints, working counts of the invert
  ARR_U_HIGHEST_SLOT = 53,  // int per row
  ARR_ETA_NEXT = 54,        // int per slot
  ARR_U_CHAINS = 69,        // int per row
  ARR_NODE_CUT_LIST = 55,
  ARR_CUT_RECORD = 56,
  ARR_CUT_RHS = 57,
  ARR_X = 58,
  ARR_CUT_ELEM_COLUMN = 59,
  ARR_CUT_ELEM_VALUE = 60,
  ARR_CUT_ROW_LIST = 61,
  ARR_RECURSE_ENTRY = 63,
  ARR_ROW_WEIGHTS = 64,
  ARR_WORKING_COSTS = 65,
  ARR_ROW_LIST_HEAD = 67,
  ARR_ROW_LIST_NEXT = 68,
  ARR_ROW_LIST_LAST = 70,
  ARR_ROW_LIST_COLUMN = 71,
  ARR_NODE_IMAGE = 74,
  ARR_GOAL_SEARCH_FIRST = 76,
  ARR_GOAL_SEARCH_SECOND = 77,
  ARR_SET_NAME = 79,
  ARR_QUAD_UPPER_START = 82,
  ARR_QUAD_LOWER_START = 83,
  ARR_QUAD_INDEX = 84,
  ARR_QUAD_VALUES = 85,
  ARR_SEMICONT_LIMIT = 86,
  ARR_SEMICONT_UPPER = 88,
  ARR_FACTOR_ROWS = 89,
  ARR_FACTOR_INDEX = 90,
  ARR_INFEAS_HEAP_INDEX = 91,
  ARR_INFEAS_HEAP_POS = 92,
  ARR_INFEAS_HEAP_VALUE = 93,
  ARR_VUB_REF = 95,
  ARR_WORK_UPPER = 96,
  ARR_VLB_REF = 97,
  ARR_WORK_LOWER = 98,
};

// Element type of each array: the only type its accessor hands out.
enum class ArrayElement {
  kUnused,
  kInt,
  kReal,
  kFloat,
  kIntOrFloat,  // ints for entity columns, floats for sets (ids 13, 14)
  kName,        // 8-character words, reached as bytes
  kRecords,     // records of mixed words, reached as ints
};

constexpr ArrayElement array_element(int id) {
  switch (id) {
    case ARR_ROW_TYPE: case ARR_POS_STATUS: case ARR_COL_START: case ARR_ELEM_ROW: case ARR_ENTITY_TYPE:
    case ARR_ENTITY_COLUMN: case ARR_DIRECTIVE_WORD: case ARR_SET_MEMBER_COLUMN: case ARR_SET_WORD:
    case ARR_SET_START: case ARR_NODE_DEPTH: case ARR_NODE_ID: case ARR_PRESOLVE_INTS: case ARR_POSITION_MAP:
    case ARR_BASIS_HEADER: case ARR_ROW_COPY_COL: case ARR_ROW_COPY_START: case ARR_SCALE_WORK:
    case ARR_PIVOT_ROW_INDEX: case ARR_ETA_ROW: case ARR_ROW_ETA_HEADS: case ARR_INVERT_CHAINS: case ARR_U_ROW:
    case ARR_ROW_ETA_CHAINS: case ARR_COLUMN_COUNTS: case ARR_U_HIGHEST_SLOT: case ARR_ETA_NEXT:
    case ARR_NODE_CUT_LIST: case ARR_CUT_RECORD: case ARR_CUT_ELEM_COLUMN: case ARR_CUT_ROW_LIST:
    case ARR_ROW_LIST_HEAD: case ARR_ROW_LIST_NEXT: case ARR_U_CHAINS: case ARR_ROW_LIST_LAST:
    case ARR_ROW_LIST_COLUMN: case ARR_QUAD_UPPER_START: case ARR_QUAD_LOWER_START: case ARR_QUAD_INDEX:
    case ARR_FACTOR_ROWS: case ARR_FACTOR_INDEX: case ARR_INFEAS_HEAP_INDEX: case ARR_INFEAS_HEAP_POS:
    case ARR_VUB_REF: case ARR_VLB_REF:
      return ArrayElement::kInt;
    case ARR_ELEM_VALUE: case ARR_OBJECTIVE: case ARR_RHS: case ARR_LOWER: case ARR_UPPER:
    case ARR_SET_MEMBER_REF: case ARR_SET_MEMBER_UPPER: case ARR_PRESOLVE_REALS: case ARR_WORK_RHS:
    case ARR_BASIC_UPPER: case ARR_ROW_COPY_VAL: case ARR_BASIC_VALUES: case ARR_PIVOT_ROW:
    case ARR_REDUCED_COSTS: case ARR_WORK_VECTOR: case ARR_PHASE1_VALUES:
    case ARR_ETA_VALUE: case ARR_CUT_RHS: case ARR_X: case ARR_ROW_WEIGHTS: case ARR_WORKING_COSTS:
    case ARR_QUAD_VALUES: case ARR_SEMICONT_LIMIT: case ARR_SEMICONT_UPPER: case ARR_INFEAS_HEAP_VALUE:
    case ARR_WORK_UPPER: case ARR_WORK_LOWER: case ARR_CUT_ELEM_VALUE:
    case ARR_SET_WINDOW: case ARR_NODE_BOUND: case ARR_NODE_ESTIMATE:
      return ArrayElement::kReal;
    case ARR_PSEUDO_COST_DOWN: case ARR_PSEUDO_COST_UP: case ARR_ROW_PRICES:
      return ArrayElement::kFloat;
    case ARR_ENTITY_ROOT_UPPER: case ARR_ENTITY_ROOT_LOWER:
      return ArrayElement::kIntOrFloat;
    case ARR_NAME_TABLE: case ARR_SET_NAME:
      return ArrayElement::kName;
    case ARR_NODE_IMAGE: case ARR_RECURSE_ENTRY: case ARR_GOAL_SEARCH_FIRST: case ARR_GOAL_SEARCH_SECOND:
      return ArrayElement::kRecords;
    default:
      return ArrayElement::kUnused;
  }
}

template <class T>
constexpr bool array_holds(int id) {
  const ArrayElement e = array_element(id);
  if constexpr (sizeof(T) == 1) return e == ArrayElement::kName;
  else if constexpr (std::is_same_v<T, int32_t>)
    return e == ArrayElement::kInt || e == ArrayElement::kIntOrFloat || e == ArrayElement::kRecords;
  else if constexpr (std::is_same_v<T, double>) return e == ArrayElement::kReal;
  else if constexpr (std::is_same_v<T, float>) return e == ArrayElement::kFloat || e == ArrayElement::kIntOrFloat;
  else return false;
}

// An array id checked at compile time against the element type it is read
// as: reading a real array through int_array does not compile.
template <class T>
struct TypedArrayId {
  consteval TypedArrayId(ArrayId id) : value(id) {
    if (!array_holds<T>(id)) throw "array id read as the wrong element type";
  }
  int value;
};

inline OneBased<int32_t> int_array(TypedArrayId<int32_t> id) { return OneBased<int32_t>(array_cells[id.value]); }
inline OneBased<double> real_array(TypedArrayId<double> id) { return OneBased<double>(array_cells[id.value]); }
inline OneBased<float> float_array(TypedArrayId<float> id) { return OneBased<float>(array_cells[id.value]); }
inline char* name_array(TypedArrayId<char> id) { return static_cast<char*>(array_cells[id.value]); }

// For loops over a list of ids: the same check, made when the id is read.
template <class T>
OneBased<T> array_of(int id) {
  assert(array_holds<T>(id));
  return OneBased<T>(array_cells[id]);
}

// Whole 4-byte elements of any type, for swaps and copies that move values
// without reading them (per-entity arrays mix ints and floats).
inline OneBased<int32_t> word_array(int id) {
  assert(array_element(id) != ArrayElement::kReal && array_element(id) != ArrayElement::kName &&
         array_element(id) != ArrayElement::kUnused);
  return OneBased<int32_t>(array_cells[id]);
}

// The pivot-row index list (id 39) is allocated one real per position and
// holds no live data while the primal updates prices by the row copy, which
// borrows it as real scratch.
inline OneBased<double> pivot_row_index_as_real_scratch() {
  return OneBased<double>(array_cells[ARR_PIVOT_ROW_INDEX]);
}
// The reduced costs (id 42) are free between solves; the set-up borrows them
// as an int map from column to entity.
inline OneBased<int32_t> reduced_costs_as_int_scratch() { return OneBased<int32_t>(array_cells[ARR_REDUCED_COSTS]); }

}  // namespace kl

#endif
