#include "files/record_fields.h"

namespace kl {

int32_t split_free_record(std::string& line, int32_t* start, int32_t max_fields) {
  if (!line.empty() && line[0] != ' ') line.insert(line.begin(), ' ');
  line.push_back(' ');
  const int32_t length = static_cast<int32_t>(line.size()) - 1;
  int32_t fields = 0;
  int32_t c = 1;
  while (c <= length && fields < max_fields) {
    while (c <= length && line[static_cast<size_t>(c - 1)] == ' ') ++c;
    if (c > length) break;
    start[++fields] = c;
    while (c <= length && line[static_cast<size_t>(c - 1)] != ' ') ++c;
  }
  start[fields + 1] = length + 2;
  if (fields >= 1 && start[1] != 2) {
    const std::string code = line.substr(static_cast<size_t>(start[1] - 1), 4);
    if (line.size() < 6) line.resize(6, ' ');
    for (size_t k = 0; k < 4; ++k) line[1 + k] = k < code.size() ? code[k] : ' ';
    line[0] = ' ';
  }
  return fields;
}

}  // namespace kl
