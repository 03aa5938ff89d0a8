// Reader of the directives file.
#include "files/directives_file.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "files/record_fields.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/names.h"
#include "runtime/options.h"
#include "runtime/text_io.h"

namespace kl {
namespace {

// Records in the order the codes are compared.
enum DirectiveRecord : int32_t {
  REC_PRIORITY = 0,
  REC_UP,
  REC_DOWN,
  REC_UP_COST,
  REC_DOWN_COST,
  REC_MODEL_CUT,
  REC_COUNT,
};
constexpr const char* kRecordCodes[REC_COUNT] = {" PR ", " UP ", " DN ", " PU ", " PD ", " MC "};

// Fixed fields start in these columns (1-based); the sixth is the line end.
constexpr int32_t kFixedFieldStart[7] = {0, 2, 5, 15, 25, 40, 200};
constexpr int32_t kMaxFields = 6;
constexpr int32_t kLineColumns = 200;
constexpr int32_t kMaxPriority = 1000;
constexpr int32_t kDirectionBits = 0xF;

enum class ListKind { kNone, kEntities, kRows };

// A line split into fields: field k is line[start[k]-1 .. start[k+1]-2].
struct SplitLine {
  std::string line;  // the columns from 1, blank padded
  int32_t start[kMaxFields + 2] = {};
  int32_t fields = 0;

  std::string field(int32_t k) const {
    if (k < 1 || k > fields) return std::string();
    const int32_t from = start[k] - 1;
    const int32_t to = std::min<int32_t>(start[k + 1] - 1, static_cast<int32_t>(line.size()));
    return from < to ? line.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)) : std::string();
  }
};

const char* row_name(int32_t i) {
  return name_array(ARR_NAME_TABLE) + static_cast<size_t>(i - 1) * 8 * static_cast<size_t>(name_words);
}

bool is_set_type(int32_t word) {
  const int32_t t = word & ENT_TYPE_MASK;
  return t == ENT_SET1 || t == ENT_SET2;
}

// A one-word name with a non-blank after a blank (a leading blank counts).
bool has_inner_blank(const char* name) {
  bool blank_seen = false;
  for (int32_t k = 0; k < 8; ++k) {
    if (name[k] == ' ') blank_seen = true;
    else if (blank_seen) return true;
  }
  return false;
}

void split_fixed(SplitLine& s) {
  s.line.resize(kLineColumns, ' ');
  s.fields = 5;
  for (int32_t k = 1; k <= kMaxFields + 1 && k <= 6; ++k) s.start[k] = kFixedFieldStart[k];
}

// Free fields: runs of non-blanks, at most six. A first field that does not
// start in column 2 has its code moved there, so "PR X 5" and "   PR X 5"
// read like " PR X 5"; a line starting in column 1 is read as if indented
// by one column, which keeps its other fields whole.
void split_free(SplitLine& s) {
  s.fields = split_free_record(s.line, s.start, kMaxFields);
}

class DirectivesReader {
 public:
  explicit DirectivesReader(bool fixed) : fixed_(fixed), key_length_(8 * name_words) {}

  // false when the name hash cannot be had.
  bool begin() {
    saved_hash_size_ = name_hash_size;
    const int32_t needed = 2 * std::max(nrow, nglent) + 1;
    if (name_hash_size < needed) name_hash_size = needed;
    if (!allocate_name_hash()) {
      set_message_mode(0);
      begin_message(MSG_ARRAY_NO_MEMORY);
      insert_message_int(kNameHashArrayId);
      emit_message();
      status_code = STATUS_REPORTED;
      name_hash_size = saved_hash_size_;
      return false;
    }
    set_defaults();
    return true;
  }

  void read_all() {
    for (;;) {
      char buffer[kTextLineMax + 1];
      std::memset(buffer, ' ', sizeof buffer);
      int32_t count = 0;
      int32_t error = 0;
      const int32_t status_before = status_code;
      read_text_line(buffer, count, error);
      if (error < 0) return;
      ++line_number_;
      if (error > 0) {
        status_code = status_before;
        begin_message(MSG_DIRECTIVES_READ_FAILED);
        insert_message_int(line_number_ - 1);
        emit_message();
        return;
      }
      SplitLine s;
      s.line.assign(buffer, static_cast<size_t>(count));
      if (s.line.find_first_not_of(' ') == std::string::npos) continue;
      if (fixed_) split_fixed(s);
      else split_free(s);
      if (!read_line(s)) return;
    }
  }

  void end() {
    command_line.text.clear();
    command_line.length = 0;
    command_line.position = 1;
    free_name_list();
    free_name_hash();
    name_hash_size = saved_hash_size_;
  }

 private:
  // The id the registry would have given the reader's name hash table.
  static constexpr int32_t kNameHashArrayId = 53;

  void set_defaults() {
    const float cost = static_cast<float>(dcv(dc::RTOLPS) * dcv(kObjectiveScaleSlot));
    for (int32_t e = 1; e <= nglent; ++e) {
      int_array(ARR_DIRECTIVE_WORD)[e] = kDefaultDirectiveWord;
      float_array(ARR_PSEUDO_COST_UP)[e] = cost;
      float_array(ARR_PSEUDO_COST_DOWN)[e] = cost;
    }
  }

  // The names the record's kind needs, in entity or row order, each entered
  // in the hash at its own number.
  bool build_list(ListKind kind) {
    if (kind == list_) return true;
    list_ = ListKind::kNone;
    reset_name_hash();
    const int32_t count = kind == ListKind::kRows ? nrow : nglent;
    if (!allocate_name_list(count)) {
      set_message_mode(0);
      begin_message(MSG_ARRAY_NO_MEMORY);
      insert_message_int(kNameHashArrayId);
      emit_message();
      status_code = STATUS_REPORTED;
      return false;
    }
    int32_t set_index = 0;
    for (int32_t v = 1; v <= count; ++v) {
      const char* name = nullptr;
      if (kind == ListKind::kRows) {
        name = row_name(v);
      } else if (is_set_type(int_array(ARR_ENTITY_TYPE)[v])) {
        // The k-th set entity takes the k-th set name.
        ++set_index;
        name = name_array(ARR_SET_NAME) + static_cast<size_t>(set_index - 1) * static_cast<size_t>(key_length_);
      } else {
        name = row_name(int_array(ARR_ENTITY_COLUMN)[v]);
      }
      char* slot = listed_name_slot(v);
      std::memcpy(slot, name, static_cast<size_t>(key_length_));
      std::string key(slot, static_cast<size_t>(key_length_));
      find_or_add_listed_name(key.c_str());
      if (status_code != 0) return false;
    }
    list_ = kind;
    list_count_ = count;
    return true;
  }

  // Field 2 as a pattern: "*" and everything after it become "?"; a pattern
  // with "?" is blank padded behind the field.
  std::string make_pattern(const std::string& field2, bool& wild) const {
    std::string pattern(static_cast<size_t>(key_length_), ' ');
    for (size_t k = 0; k < field2.size() && k < pattern.size(); ++k) pattern[k] = field2[k];
    wild = false;
    for (size_t k = 0; k < pattern.size(); ++k) {
      if (pattern[k] == '*') {
        for (size_t j = k; j < pattern.size(); ++j) pattern[j] = '?';
        wild = true;
        break;
      }
      if (pattern[k] == '?') wild = true;
    }
    return pattern;
  }

  bool matches(const std::string& pattern, int32_t v) const {
    const char* name = listed_name_slot(v);
    for (size_t k = 0; k < pattern.size(); ++k)
      if (pattern[k] != '?' && pattern[k] != name[k]) return false;
    return true;
  }

  // false when the read must stop.
  bool read_line(const SplitLine& s) {
    int32_t record = -1;
    for (int32_t r = 0; r < REC_COUNT; ++r)
      if (std::memcmp(s.line.data(), kRecordCodes[r], 4) == 0) record = r;
    if (record < 0) {
      begin_message(MSG_DIRECTIVES_UNKNOWN_CODE);
      insert_message_chars(s.line.data() + 1, 2);
      insert_message_int(line_number_);
      emit_message();
      return true;
    }
    if (!build_list(record == REC_MODEL_CUT ? ListKind::kRows : ListKind::kEntities)) return false;
    const std::string field2 = s.field(2);
    bool wild = false;
    const std::string pattern = make_pattern(field2, wild);
    value_field_ = s.field(fixed_ ? 4 : 3);
    bool matched = false;
    if (!wild) {
      const int32_t v = find_listed_name(pattern.c_str());
      if (v > 0) {
        matched = true;
        if (!apply(static_cast<DirectiveRecord>(record), v, field2)) return false;
      }
    } else {
      for (int32_t v = 1; v <= list_count_; ++v) {
        if (!matches(pattern, v)) continue;
        matched = true;
        if (!apply(static_cast<DirectiveRecord>(record), v, field2)) return false;
      }
    }
    if (!matched) {
      begin_message(MSG_DIRECTIVES_NO_MATCH);
      insert_message_chars(field2.data(), std::min<int32_t>(static_cast<int32_t>(field2.size()), key_length_));
      insert_message_int(line_number_);
      emit_message();
    }
    return true;
  }

  // false on a bad number: message 314, the status word as the parser left it.
  bool read_value(double& value) {
    std::string field = value_field_;
    field.resize(std::max<size_t>(field.size(), 16), ' ');
    status_code = 0;
    value = parse_real_field(field.c_str());
    if (status_code == 0) return true;
    const int32_t status = status_code;
    begin_message(MSG_BAD_REAL_VALUE);
    insert_message_string(value_field_.c_str());
    emit_message();
    status_code = status;
    return false;
  }

  bool apply(DirectiveRecord record, int32_t v, const std::string& field2) {
    double value = 0.0;
    if ((record == REC_PRIORITY || record == REC_UP_COST || record == REC_DOWN_COST) && !read_value(value))
      return false;
    OneBased<int32_t> word = int_array(ARR_DIRECTIVE_WORD);
    switch (record) {
      case REC_PRIORITY: {
        // Truncated toward zero; anything outside 0..1000, negative values
        // included, keeps the entity's priority.
        const bool representable = std::fabs(value) < 2147483648.0;
        const int32_t priority = representable ? static_cast<int32_t>(value) : -1;
        if (!representable || static_cast<uint32_t>(priority) > static_cast<uint32_t>(kMaxPriority)) {
          begin_message(MSG_PRIORITY_OUT_OF_RANGE);
          insert_message_chars(field2.data(), std::min<int32_t>(static_cast<int32_t>(field2.size()), key_length_));
          insert_message_int(priority);
          emit_message();
          break;
        }
        word[v] = priority * 16 + (word[v] & kDirectionBits);
        break;
      }
      case REC_UP: word[v] = (word[v] & ~kDirectionBits) | 1; break;
      case REC_DOWN: word[v] = (word[v] & ~kDirectionBits) | 2; break;
      case REC_UP_COST: float_array(ARR_PSEUDO_COST_UP)[v] = static_cast<float>(value); break;
      case REC_DOWN_COST: float_array(ARR_PSEUDO_COST_DOWN)[v] = static_cast<float>(value); break;
      case REC_MODEL_CUT:
        int_array(ARR_ROW_TYPE)[v] |= static_cast<int32_t>(RF_MODEL_CUT);
        ++model_cut_count;
        break;
      case REC_COUNT: break;
    }
    return true;
  }

  bool fixed_;
  int32_t key_length_;
  int32_t saved_hash_size_ = 0;
  int32_t line_number_ = 0;
  ListKind list_ = ListKind::kNone;
  int32_t list_count_ = 0;
  std::string value_field_;
};

}  // namespace

bool directives_fixed_format() {
  const int32_t frefmt = icv(ic::FREFMT);
  if (frefmt == 0) return true;
  if (frefmt != -1) return false;
  if (name_words > 1) return false;
  for (int32_t p = 1; p <= nseq; ++p)
    if ((p <= nrow || p >= store.first_col) && has_inner_blank(row_name(p))) return true;
  for (int32_t s = 1; s <= nsets; ++s)
    if (has_inner_blank(name_array(ARR_SET_NAME) + static_cast<size_t>(s - 1) * 8)) return true;
  return false;
}

void read_directives() {
  DirectivesReader reader(directives_fixed_format());
  if (reader.begin()) reader.read_all();
  reader.end();
}

}  // namespace kl
