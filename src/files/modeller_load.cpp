#include "files/modeller_load.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/change_problem.h"
#include "problem/loader.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/problem_name.h"
#include "runtime/work_files.h"

namespace kl {
namespace {

constexpr int64_t kHeaderItems = 32;
constexpr int64_t kRecordItems = 8;
constexpr int32_t kKindCount = 17;
// Branching priorities run from 0 to this; none given means the default.
constexpr int32_t kMaxPriority = 1000;
constexpr int32_t kDefaultPriority = 500;

// Kind numbers of the header's kind keys.
enum Kind : int32_t {
  K_IF = 1, K_LO, K_UP, K_FX, K_MN, K_FR, K_MC, K_UI, K_BV, K_SC, K_PI, K_PR, K_BRANCH_UP, K_BRANCH_DOWN, K_PU,
  K_PD, K_AS_LO,
};
const char* const kKindCode[kKindCount + 1] = {"", "IF", "LO", "UP", "FX", "MN", "FR", "MC", "UI",
                                               "BV", "SC", "PI", "PR", "UP", "DN", "PU", "PD", "  "};

// A whole file of 8-byte items, decoded little-endian whatever the host.
struct ItemFile {
  std::vector<unsigned char> bytes;
  int64_t items() const { return static_cast<int64_t>(bytes.size() / 8); }
  // Word w (0 first, 1 second) of item n (from 1).
  int32_t word(int64_t n, int w) const {
    const unsigned char* b = bytes.data() + (n - 1) * 8 + w * 4;
    const uint32_t u = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                       static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return static_cast<int32_t>(u);
  }
  double real(int64_t n) const {
    uint64_t u = 0;
    for (int k = 7; k >= 0; --k) u = u << 8 | bytes[static_cast<size_t>((n - 1) * 8 + k)];
    double x = 0.0;
    std::memcpy(&x, &u, sizeof x);
    return x;
  }
  std::string chars(int64_t n) const {
    std::string s(reinterpret_cast<const char*>(bytes.data() + (n - 1) * 8), 8);
    for (char& c : s)
      if (c == '\0') c = ' ';
    return s;
  }
};

bool read_items(const std::string& path, ItemFile& file) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void report_file(const char* which) {
  begin_message(MSG_FILE_ERROR);
  insert_message_chars(which, 3);
  emit_message();
  status_code = STATUS_REPORTED;
}

struct Column {
  std::string name;
  int32_t reserved = 0;
  int32_t read = 0;  // element records taken, kept or not
  double lower = -kInfinity;
  double upper = kInfinity;
  double cost = 0.0;
  uint32_t bits = 0;  // PS_FREE, PS_FINITE_LOWER/UPPER, PS_FIXED, PS_INTEGER, PS_BINARY, PS_SEMICONTINUOUS, PS_PARTIAL_INTEGER
  std::vector<std::pair<int32_t, double>> elements;  // (row from 1, value)
  int32_t priority = 0;  // 0: none given
  char direction = 'N';
  bool has_directive = false;
  double up_cost = 0.0;
  double down_cost = 0.0;
  int32_t limit = 0;
  bool entity() const { return (bits & (PS_INTEGER | PS_BINARY | PS_SEMICONTINUOUS | PS_PARTIAL_INTEGER)) != 0; }
};

struct Set {
  std::string name;
  int32_t count = 0;
  int32_t type = 1;
  int32_t reference_row = 0;  // from 1; 0: none
  // Branching directives of the set, as for a column.
  int32_t priority = 0;
  char direction = 'N';
  bool has_directive = false;
  double up_cost = 0.0;
  double down_cost = 0.0;
  std::vector<std::pair<double, int32_t>> members;  // (weight, column from 0)
};

class ModellerLoad {
 public:
  explicit ModellerLoad(ModellerDirectives& after) : after_(&after) {}
  bool run() {
    if (!read_sol()) return false;
    if (!read_bif()) return false;
    return build();
  }
  int32_t rejected = 0;

 private:
  // ---- the "sol" file

  bool read_sol() {
    ItemFile f;
    if (!read_items(make_work_file_name("sol"), f) || f.items() < kHeaderItems) {
      report_file("SOL");
      return false;
    }
    for (int32_t n = 0; n < 3; ++n) vector_names_[n] = f.chars(11 + n);
    R_ = f.word(2, 0);
    C_ = f.word(2, 1);
    S_ = f.word(7, 0);
    intmax_ = f.word(7, 1);
    const int64_t entity_estimate = int64_t{f.word(5, 1)} + f.word(6, 0) + f.word(6, 1) + f.word(7, 0) + f.word(8, 1);
    if (fixed(ic::NGEMAX) && entity_estimate + icv(ic::NGXTRA) > icv(ic::NGEMAX))
      return too_small(MSG_MPS_TOO_MANY_ENTITIES, icv(ic::NGEMAX));
    const int32_t version = static_cast<int32_t>(static_cast<uint32_t>(f.word(8, 0)) >> 24);
    const int32_t expected = icv(ic::VERNO) / 100;
    if (version != expected) {
      if (version < expected - 1) {
        begin_message(MSG_MODELLER_VERSION_OLD);
        insert_message_int(version);
        insert_message_int(expected);
        emit_message();
        report_file("SOL");
        return false;
      }
      begin_message(MSG_MODELLER_VERSION_OTHER);
      insert_message_int(version);
      insert_message_int(expected);
      emit_message();
    }
    if (R_ < 0 || C_ < 0 || S_ < 0 || static_cast<int64_t>(R_) + C_ + S_ > (f.items() - kHeaderItems) / kRecordItems) {
      begin_message(MSG_LOAD_BAD_COUNT);
      insert_message_string("vornin    ");
      insert_message_int(2);
      insert_message_int(R_ < 0 ? 1 : C_ < 0 ? 2 : 3);
      insert_message_int(R_ < 0 ? R_ : C_ < 0 ? C_ : S_);
      emit_message();
      status_code = STATUS_INVALID_DATA;
      return false;
    }
    // Capacities the user fixed must hold the problem with its spare rows,
    // columns and elements.
    const int64_t spare_elements = std::max<int64_t>(icv(ic::NMXTRA), 2 * int64_t{icv(ic::NRXTRA)} + icv(ic::NCXTRA));
    if (fixed(ic::M_R) && int64_t{R_} + icv(ic::NRXTRA) > icv(ic::M_R))
      return too_small(MSG_MPS_TOO_MANY_ROWS, icv(ic::M_R));
    if (fixed(ic::M_C) && int64_t{R_} + C_ + icv(ic::NRXTRA) + icv(ic::NCXTRA) > int64_t{icv(ic::M_C)} - 5)
      return too_small(MSG_MPS_TOO_MANY_COLUMNS, icv(ic::M_C) - 5);
    if (fixed(ic::M_M) && int64_t{f.word(5, 0)} + spare_elements > icv(ic::M_M))
      return too_small(MSG_MPS_ELEMENT_SPACE, icv(ic::M_M));
    const int32_t objective_key = f.word(14, 0);
    kind_key_[1] = f.word(14, 1);
    for (int32_t d = 2; d <= kKindCount; ++d) kind_key_[d] = f.word(15 + (d - 2) / 2, (d - 2) % 2);
    if (kind_key_[K_MC] == kind_key_[K_MN]) kind_key_[K_MC] = -3;

    int64_t item = kHeaderItems + 1;
    rows_.resize(static_cast<size_t>(R_));
    for (int32_t i = 0; i < R_; ++i, item += kRecordItems) {
      rows_[static_cast<size_t>(i)].name = f.chars(item);
      const int32_t code = f.word(item + 1, 0);
      if (code != ROW_E && code != ROW_G && code != ROW_L && code != ROW_N) return bad_sol();
      rows_[static_cast<size_t>(i)].code = code;
      if (!enter_key(f.word(item + 6, 1), i + 1)) return bad_sol();
    }
    columns_.resize(static_cast<size_t>(C_));
    for (int32_t j = 0; j < C_; ++j, item += kRecordItems) {
      Column& c = columns_[static_cast<size_t>(j)];
      c.name = f.chars(item);
      c.reserved = f.word(item + 6, 0);
      if (c.reserved < 0) return bad_sol();
      if (!enter_key(f.word(item + 6, 1), R_ + j + 1)) return bad_sol();
    }
    sets_.resize(static_cast<size_t>(S_));
    for (int32_t k = 0; k < S_; ++k, item += kRecordItems) {
      Set& s = sets_[static_cast<size_t>(k)];
      s.name = f.chars(item);
      s.count = f.word(item + 1, 0);
      s.type = f.word(item + 1, 1);
      if (s.count < 0 || (s.type != 1 && s.type != 2)) return bad_sol();
      if (!enter_key(f.word(item + 2, 1), R_ + C_ + k + 1)) return bad_sol();
      reference_keys_.push_back(f.word(item + 4, 0));
    }
    for (int32_t d = 1; d <= kKindCount; ++d) {
      // A kind key the modeller does not use is 0; one that names a row,
      // column or set is a malformed header.
      const int32_t key = kind_key_[d];
      if (key == 0 || key == -3) continue;
      auto it = keys_.find(key);
      if (it != keys_.end() && it->second <= R_ + C_ + S_) return bad_sol();
      keys_.emplace(key, R_ + C_ + S_ + d);
    }
    // A set's reference row: a key that names no row leaves the set
    // without one, as the modeller's 0 does.
    for (int32_t k = 0; k < S_; ++k) {
      const auto it = keys_.find(reference_keys_[static_cast<size_t>(k)]);
      if (it != keys_.end() && it->second <= R_) sets_[static_cast<size_t>(k)].reference_row = it->second;
    }
    if (objective_key != 0) {
      auto it = keys_.find(objective_key);
      if (it == keys_.end() || it->second > R_) return bad_sol();
      objective_row_ = it->second;
    }
    return true;
  }

  static bool fixed(int control) { return integer_set_flags[control] < 0; }

  // A capacity the user fixed is too small for the file.
  static bool too_small(int message, int32_t capacity) {
    begin_message(message);
    insert_message_int(capacity);
    insert_message_string("");
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }

  bool bad_sol() {
    report_file("SOL");
    return false;
  }

  // A row, column or set key: unique and not 0.
  bool enter_key(int32_t key, int32_t number) {
    if (key == 0) return false;
    return keys_.emplace(key, number).second;
  }

  // ---- the "bif" file

  bool read_bif() {
    ItemFile f;
    if (!read_items(make_work_file_name("bif"), f)) {
      report_file("BIF");
      return false;
    }
    const int32_t K = R_ + C_ + S_;
    for (int64_t item = 1;; item += 2) {
      if (item + 1 > f.items()) {
        // No end record: the file was cut short.
        report_file("BIF");
        return false;
      }
      const int32_t first_key = f.word(item, 0);
      if (first_key == 0) break;
      const int32_t second_key = f.word(item, 1);
      const double v = f.real(item + 1);
      const auto a = keys_.find(first_key);
      const auto b = keys_.find(second_key);
      if (a == keys_.end() || b == keys_.end() || !std::isfinite(v)) {
        reject("  ", v, "?");
        continue;
      }
      const int32_t first = a->second;
      const int32_t second = b->second;
      if (first > R_ && first <= R_ + C_) {
        Column& c = columns_[static_cast<size_t>(first - R_ - 1)];
        if (second <= R_) add_element(c, second, v);
        else if (second > K) column_record(c, second - K, v);
        else reject("  ", v, c.name);
      } else if (first > R_ + C_ && first <= K) {
        Set& s = sets_[static_cast<size_t>(first - R_ - C_ - 1)];
        if (second > R_ && second <= R_ + C_ && static_cast<int32_t>(s.members.size()) < s.count &&
            std::none_of(s.members.begin(), s.members.end(),
                         [&](const auto& m) { return m.second == second - R_ - 1; })) {
          s.members.emplace_back(v, second - R_ - 1);
        } else if (second <= R_) {
          s.reference_row = second;
        } else if (second > K && (second - K) >= K_PR && (second - K) <= K_PD) {
          set_directive(s, second - K, v);
        } else {
          reject("  ", v, "set");
        }
      } else if (first == K + K_IF && second <= R_) {
        rows_[static_cast<size_t>(second - 1)].rhs = v;
      } else if (first == K + K_MC && second <= R_) {
        rows_[static_cast<size_t>(second - 1)].model_cut = true;
      } else if (first <= R_) {
        reject("  ", v, rows_[static_cast<size_t>(first - 1)].name);
      }
    }
    return true;
  }

  void set_directive(Set& s, int32_t kind, double v) {
    switch (kind) {
      case K_PR:
        if (!(v >= 0.0) || v > kMaxPriority) return reject(kKindCode[kind], v, s.name);
        s.priority = static_cast<int32_t>(v);
        break;
      case K_BRANCH_UP: s.direction = 'U'; break;
      case K_BRANCH_DOWN: s.direction = 'D'; break;
      case K_PU: s.up_cost = v; break;
      default: s.down_cost = v; break;
    }
    s.has_directive = true;
  }

  void reject(const char* code, double v, const std::string& name) {
    begin_message_limited(MSG_MODELLER_RECORD_REJECTED);
    insert_message_chars(code, 2);
    insert_message_real(v);
    insert_message_string(name.c_str());
    emit_message();
    ++rejected;
  }

  void add_element(Column& c, int32_t row, double v) {
    if (c.read >= c.reserved ||
        std::any_of(c.elements.begin(), c.elements.end(), [&](const auto& e) { return e.first == row; })) {
      reject("  ", v, c.name);
      return;
    }
    if (row == objective_row_) c.cost += v;
    if (std::fabs(v) > dcv(dc::ZTOLDA)) c.elements.emplace_back(row, v);
    ++c.read;  // the reservation counts a dropped element too
  }

  void column_record(Column& c, int32_t kind, double v) {
    const bool free = (c.bits & PS_FREE) != 0;
    auto bad = [&] { reject(kind >= 1 && kind <= kKindCount ? kKindCode[kind] : "  ", v, c.name); };
    switch (kind) {
      case K_IF:
      case K_LO:
      case K_AS_LO:
        if (free || v > c.upper) return bad();
        c.lower = std::max(v, c.lower);
        c.bits |= PS_FINITE_LOWER;
        return;
      case K_UP:
        if (free || v < c.lower) return bad();
        c.upper = std::min(v, c.upper);
        c.bits |= PS_FINITE_UPPER;
        return;
      case K_FX:
        if (free || v > c.upper || v < c.lower) return bad();
        c.lower = c.upper = v;
        c.bits |= PS_EQUALITY_ROW;
        return;
      case K_MN:
        return bad();
      case K_FR:
        if ((c.bits & PS_BOTH_FINITE) != 0) return bad();
        c.bits |= PS_FREE;
        c.lower = -kInfinity;
        c.upper = kInfinity;
        return;
      case K_MC:
        return;
      case K_UI:
        if (free || v < c.lower || c.entity()) return bad();
        c.bits |= PS_INTEGER | PS_FINITE_UPPER;
        c.upper = std::min(v, c.upper);
        return;
      case K_BV:
        if (free || c.entity() || 1.0 < c.lower || c.upper < 0.0) return bad();
        c.bits |= PS_BINARY | PS_BOTH_FINITE;
        c.lower = std::max(c.lower, 0.0);
        c.upper = std::min(1.0, c.upper);
        return;
      case K_SC:
        if (free || v < c.lower || c.entity()) return bad();
        c.bits |= PS_SEMICONTINUOUS | PS_FINITE_UPPER;
        c.upper = std::min(v, c.upper);
        return;
      case K_PI:
        if (c.entity() || !(v >= 0.0) || v > static_cast<double>(INT32_MAX)) return bad();
        c.bits |= PS_PARTIAL_INTEGER | PS_FINITE_UPPER;
        c.limit = static_cast<int32_t>(v);
        c.upper = std::min(static_cast<double>(std::max(icv(ic::INTMAX), intmax_)), c.upper);
        return;
      case K_PR:
        if (!(v >= 0.0) || v > kMaxPriority) return bad();
        c.priority = static_cast<int32_t>(v);
        c.has_directive = true;
        return;
      case K_BRANCH_UP:
        c.direction = 'U';
        c.has_directive = true;
        return;
      case K_BRANCH_DOWN:
        c.direction = 'D';
        c.has_directive = true;
        return;
      case K_PU:
        c.up_cost = v;
        c.has_directive = true;
        return;
      case K_PD:
        c.down_cost = v;
        c.has_directive = true;
        return;
      default:
        return bad();
    }
  }

  // ---- the problem

  bool build() {
    std::vector<char> types;
    std::vector<double> rhs;
    for (const Row& r : rows_) {
      types.push_back(r.code == ROW_E ? 'E' : r.code == ROW_G ? 'G' : r.code == ROW_L ? 'L' : 'N');
      rhs.push_back(r.rhs);
    }
    std::vector<double> cost, lower, upper, values;
    std::vector<int32_t> starts{0}, row_index;
    std::vector<char> entity_types;
    std::vector<int32_t> entity_columns;
    std::vector<double> limits;
    for (int32_t j = 0; j < C_; ++j) {
      Column& c = columns_[static_cast<size_t>(j)];
      if ((c.bits & PS_FREE) == 0 && c.lower <= -kInfiniteBound) c.lower = 0.0;
      double low = c.lower;
      if ((c.bits & PS_SEMICONTINUOUS) != 0) {
        limits.push_back(c.lower != 0.0 ? c.lower : 1.0);
        entity_types.push_back('S');
        low = 0.0;
      } else if ((c.bits & PS_PARTIAL_INTEGER) != 0) {
        limits.push_back(c.limit);
        entity_types.push_back('P');
      } else if ((c.bits & PS_BINARY) != 0) {
        limits.push_back(0.0);
        entity_types.push_back('B');
      } else if ((c.bits & PS_INTEGER) != 0) {
        limits.push_back(0.0);
        entity_types.push_back('I');
      }
      if (c.entity()) entity_columns.push_back(j);
      cost.push_back(c.cost);
      lower.push_back(low);
      upper.push_back(c.upper);
      std::sort(c.elements.begin(), c.elements.end());
      for (const auto& e : c.elements) {
        row_index.push_back(e.first - 1);
        values.push_back(e.second);
      }
      starts.push_back(static_cast<int32_t>(row_index.size()));
    }
    std::vector<char> set_types;
    std::vector<int32_t> set_starts{0}, set_columns;
    std::vector<double> set_refs;
    for (Set& s : sets_) {
      std::sort(s.members.begin(), s.members.end());
      set_types.push_back(s.type == 1 ? '1' : '2');
      for (const auto& m : s.members) {
        set_columns.push_back(m.second);
        set_refs.push_back(m.first);
      }
      set_starts.push_back(static_cast<int32_t>(set_columns.size()));
    }

    const std::string name = get_problem_name();
    LoadArguments call;
    call.name = name.c_str();
    call.ncols = C_;
    call.nrows = R_;
    call.row_types = types.data();
    call.rhs = rhs.data();
    call.objective = cost.data();
    call.starts = starts.data();
    call.rows = row_index.data();
    call.values = values.data();
    call.lower = lower.data();
    call.upper = upper.data();
    call.global = !entity_columns.empty() || S_ > 0;
    call.nentities = static_cast<int32_t>(entity_columns.size());
    call.nsets = S_;
    call.entity_types = entity_types.data();
    call.entity_columns = entity_columns.data();
    call.entity_limits = limits.data();
    call.set_types = set_types.data();
    call.set_starts = set_starts.data();
    call.set_columns = set_columns.data();
    call.set_refs = set_refs.data();

    // Caller indices of the arrays above count from 0.
    const int32_t base = icv(ic::IFDBG);
    icv(ic::IFDBG) = 1;
    const int32_t kept_intmax = icv(ic::INTMAX);
    if (intmax_ > kept_intmax) icv(ic::INTMAX) = intmax_;
    load_problem(call);
    bool ok = status_code == 0;
    if (ok) ok = finish_load();
    icv(ic::IFDBG) = base;
    return ok;
  }

  bool finish_load() {
    std::string names;
    for (const Row& r : rows_) names += r.name + std::string(1, '\0');
    if (R_ > 0) addnames(1, names.c_str(), 0, R_ - 1);
    names.clear();
    for (const Column& c : columns_) names += c.name + std::string(1, '\0');
    if (status_code == 0 && C_ > 0) addnames(2, names.c_str(), 0, C_ - 1);
    if (status_code != 0) return false;
    // Character attributes 3003, 3004 and 3002: the writers name their
    // vectors with them, and ALTER finds right-hand sides by the second.
    std::memcpy(character_attributes[3], vector_names_[0].data(), 8);
    std::memcpy(character_attributes[4], vector_names_[1].data(), 8);
    std::memcpy(character_attributes[2], vector_names_[2].data(), 8);
    if (objective_row_ > 0) {
      store.objective_row = objective_row_;
      const int32_t constant_column = -1;
      const double constant = -rows_[static_cast<size_t>(objective_row_ - 1)].rhs;
      chgobj(1, &constant_column, &constant);
    }
    // Set names and reference rows (-1: none), which the load from arrays
    // does not take.
    if (S_ > 0) {
      char* set_names = name_array(ARR_SET_NAME);
      OneBased<int32_t> set_word = int_array(ARR_SET_WORD);
      for (int32_t k = 1; k <= S_; ++k) {
        const Set& s = sets_[static_cast<size_t>(k - 1)];
        std::memcpy(set_names + static_cast<size_t>(k - 1) * 8, s.name.data(), 8);
        set_word[k] = s.reference_row > 0 ? s.reference_row : -1;
      }
    }
    for (int32_t k = 1; k <= S_; ++k) {
      const Set& s = sets_[static_cast<size_t>(k - 1)];
      if (!s.has_directive) continue;
      // A negative item names set k to the directive loader.
      after_->columns.push_back(-k);
      after_->priorities.push_back(s.priority > 0 ? s.priority : kDefaultPriority);
      after_->directions.push_back(s.direction);
      after_->up_costs.push_back(s.up_cost != 0.0 ? s.up_cost : dcv(dc::PSEUDO));
      after_->down_costs.push_back(s.down_cost != 0.0 ? s.down_cost : dcv(dc::PSEUDO));
    }
    for (int32_t i = 0; i < R_; ++i)
      if (rows_[static_cast<size_t>(i)].model_cut) after_->model_cut_rows.push_back(i);
    for (int32_t j = 0; j < C_; ++j) {
      const Column& c = columns_[static_cast<size_t>(j)];
      if (!c.has_directive) continue;
      if (!c.entity()) {
        begin_message(MSG_DIRECTIVE_NOT_ENTITY);
        insert_message_string(c.name.c_str());
        emit_message();
        continue;
      }
      after_->columns.push_back(j);
      after_->priorities.push_back(c.priority > 0 ? c.priority : kDefaultPriority);
      after_->directions.push_back(c.direction);
      after_->up_costs.push_back(c.up_cost != 0.0 ? c.up_cost : dcv(dc::PSEUDO));
      after_->down_costs.push_back(c.down_cost != 0.0 ? c.down_cost : dcv(dc::PSEUDO));
    }
    status_code = 0;
    return true;
  }

  struct Row {
    std::string name;
    int32_t code = ROW_N;
    double rhs = 0.0;
    bool model_cut = false;
  };

  ModellerDirectives* after_;
  // Objective row, right-hand-side and bound vector names (items 11-13).
  std::string vector_names_[3];
  int32_t R_ = 0;
  int32_t C_ = 0;
  int32_t S_ = 0;
  int32_t intmax_ = 0;
  int32_t objective_row_ = 0;
  int32_t kind_key_[kKindCount + 1] = {};
  std::map<int32_t, int32_t> keys_;
  std::vector<int32_t> reference_keys_;
  std::vector<Row> rows_;
  std::vector<Column> columns_;
  std::vector<Set> sets_;
};

}  // namespace

void vornin_load(int32_t& result, ModellerDirectives& after) {
  after = ModellerDirectives{};
  ModellerLoad load(after);
  result = 1;
  if (!load.run()) {
    if (status_code == 0) status_code = STATUS_REPORTED;
    return;
  }
  if (load.rejected > icv(ic::IGNORE)) {
    status_code = STATUS_REPORTED;
    return;
  }
  result = 0;
}

}  // namespace kl
