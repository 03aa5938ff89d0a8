// Free fields of the short record files (directives, basis): the records
// carry a code in columns 2 and 3 and names after it.
#ifndef KLSOL_FILES_RECORD_FIELDS_H
#define KLSOL_FILES_RECORD_FIELDS_H

#include <cstdint>
#include <string>

namespace kl {

// Splits line into runs of non-blanks, at most max_fields of them; start[k]
// is the 1-based column of field k and start[fields + 1] the end mark. A
// line starting in column 1 is read as if indented by one column, and a
// first field that does not start in column 2 has its code moved there, so
// "PR X 5" and "   PR X 5" read like " PR X 5" with the other fields whole.
// Returns the number of fields; start needs max_fields + 2 entries.
int32_t split_free_record(std::string& line, int32_t* start, int32_t max_fields);

}  // namespace kl

#endif
