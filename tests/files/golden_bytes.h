// Hand-made expected bytes of the binary result files: a little-endian
// builder written independently of the library's serialisers.
#ifndef KLSOL_TESTS_FILES_GOLDEN_BYTES_H
#define KLSOL_TESTS_FILES_GOLDEN_BYTES_H

#include <cstdint>
#include <cstring>
#include <string>

namespace kltest {

struct Bytes {
  std::string b;
  Bytes& text(const std::string& s, std::size_t width) {
    std::string t = s.substr(0, width);
    t.resize(width, ' ');
    b += t;
    return *this;
  }
  Bytes& zeros(std::size_t n) {
    b.append(n, '\0');
    return *this;
  }
  Bytes& blanks(std::size_t n) {
    b.append(n, ' ');
    return *this;
  }
  Bytes& raw(std::initializer_list<unsigned char> bytes) {
    for (unsigned char c : bytes) b.push_back(static_cast<char>(c));
    return *this;
  }
  Bytes& i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
    return *this;
  }
  Bytes& i16(int32_t v) {
    const auto u = static_cast<uint16_t>(v);
    b.push_back(static_cast<char>(u & 0xFF));
    b.push_back(static_cast<char>(u >> 8));
    return *this;
  }
  Bytes& f32(float x) {
    uint32_t u;
    std::memcpy(&u, &x, 4);
    return i32(static_cast<int32_t>(u));
  }
  Bytes& f64(double x) {
    uint64_t u;
    std::memcpy(&u, &x, 8);
    for (int k = 0; k < 8; ++k) b.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
    return *this;
  }
  Bytes& add(const Bytes& other) {
    b += other.b;
    return *this;
  }
  std::size_t size() const { return b.size(); }
};

// A record of the solution collection: tag, used length, payload, zeros up
// to the record size.
inline std::string collection_record(const std::string& tag, const Bytes& payload, std::size_t record_size) {
  Bytes r;
  r.text(tag, 4).i32(static_cast<int32_t>(payload.size() + 8)).add(payload);
  r.zeros(record_size - r.size());
  return r.b;
}

// The first byte where two byte strings differ, for a readable failure.
inline std::string first_difference(const std::string& got, const std::string& want) {
  const std::size_t n = std::min(got.size(), want.size());
  for (std::size_t k = 0; k < n; ++k)
    if (got[k] != want[k]) return "first difference at byte " + std::to_string(k);
  if (got.size() != want.size())
    return "sizes differ: " + std::to_string(got.size()) + " against " + std::to_string(want.size());
  return "equal";
}

}  // namespace kltest

#endif
