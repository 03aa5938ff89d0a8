// Page encoding of the message file. The file is written by the message
// compiler and read by the library one 2048-byte page at a time; both sides
// apply the same involution to every page so the texts are not plain in the
// shipped file.
#ifndef KLSOL_MESSAGES_PAGE_CODE_H
#define KLSOL_MESSAGES_PAGE_CODE_H

#include <cstddef>
#include <cstdint>

namespace kl {

inline constexpr std::size_t kMessagePageBytes = 2048;
inline constexpr int kMessageIndexEntries = 1024;

// XOR with a key that depends on the byte's offset in the page; applying it
// twice gives the original page back.
inline void code_message_page(unsigned char* page) {
  for (std::size_t i = 0; i < kMessagePageBytes; ++i)
    page[i] = static_cast<unsigned char>(page[i] ^ ((i * 7u + 0x3Du) & 0xFFu));
}

}  // namespace kl

#endif
