#pragma once
// Caption text as a reader compares it: full-width letters, digits and
// signs are their ASCII forms, capitals are small, half-width katakana are
// full-width (with their sound marks joined on). Both the index and the
// queries go through the same table, so either form finds the other.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace oneseg::archive {

struct NormalisedChar {
  char32_t code = 0;
  std::size_t begin = 0;   // its bytes in the original text
  std::size_t end = 0;
};

// Replaces out with the normalised characters of utf8; bytes that are not
// UTF-8 become U+FFFD, one per byte.
void normalise_chars(std::string_view utf8, std::vector<NormalisedChar>& out);

std::string normalise(std::string_view utf8);

// The private use plane 15 holds the index's own marks (a line's channel,
// match_sql.h), which no caption decoder makes: never part of a word, so no
// query can name one; the index takes each as a token of its own.
inline constexpr char32_t first_index_mark = 0xF0000;
inline bool is_index_mark(char32_t c) { return c >= first_index_mark && c <= 0xFFFFF; }

// Characters words are made of: not spaces, punctuation, brackets or symbols
// (→, ♪), nor the index's marks. Words never run across a non-word character.
bool is_word_char(char32_t c);

// The text without control characters (C0, DEL and C1, which a terminal
// would obey), a tab as a space: caption text from the air as it is printed.
std::string printable(std::string_view utf8);

// Writes c's UTF-8 bytes (at most 4) to out; returns how many.
std::size_t encode_utf8(char32_t c, char* out);
void append_utf8(std::string& out, char32_t c);

}  // namespace oneseg::archive
