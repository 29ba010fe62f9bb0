// Built-in symbol texts of the ARIB decoder, stored as Shift-JIS.
#pragma once

namespace skerrow {

// Additional symbols 0x7A 0x4D .. 0x7A 0x74.
inline constexpr int additional_7a_first = 0x4D;
inline constexpr int additional_7a_count = 40;
extern const char* const additional_7a[additional_7a_count];

// Additional symbols 0x7E 0x61 .. 0x7E 0x70: "(1)" .. "(16)".
inline constexpr int additional_7e_first = 0x61;
inline constexpr int additional_7e_count = 16;
extern const char* const additional_7e[additional_7e_count];

// Additional symbols 0x7D 0x6E and 0x7D 0x6F.
inline constexpr int additional_7d_first = 0x6E;
inline constexpr int additional_7d_count = 2;
extern const char* const additional_7d[additional_7d_count];

// Codes 0x77 .. 0x7F of the one-byte hiragana and katakana sets.
inline constexpr int kana_symbol_first = 0x77;
inline constexpr int kana_symbol_count = 9;
extern const char* const hiragana_symbols[kana_symbol_count];
extern const char* const katakana_symbols[kana_symbol_count];

}  // namespace skerrow
