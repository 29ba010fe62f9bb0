// ARIB 8-unit character code (the text fields of the service information)
// to EUC-JP, and the Shift-JIS to EUC-JP converter for built-in texts.
#pragma once

#include <cstddef>
#include <string>

#include "text_writer.h"

namespace skerrow {

// Decodes exactly `length` bytes (no terminator needed, 0 allowed) and writes
// the EUC-JP result to `stream`, without a line end. The decoder state starts
// afresh on every call.
void decode_arib_text(const unsigned char* bytes, std::size_t length, text_writer& stream);

// The same decoding appended to a string (used where the text is kept, such
// as the provider name).
void decode_arib_text(const unsigned char* bytes, std::size_t length, std::string& out);

// Converts the NUL-terminated Shift-JIS `source` into `destination`, which
// must hold strlen(source) + 1 bytes. A lead byte with nothing after it is
// dropped, so the conversion never reads past the terminator.
void sjis_to_euc(const char* source, char* destination);

// Converts one Shift-JIS double-byte character in place to its EUC-JP pair.
void sjis_pair_to_euc(unsigned char& first, unsigned char& second);

}  // namespace skerrow
