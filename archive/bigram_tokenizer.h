#pragma once
// The full-text tokenizer "oneseg_bigram" for Japanese captions, which have no
// spaces between words and whose searched words are often one or two
// characters long.
//
// Text is normalised (text_normalise.h) and cut into runs of word
// characters. A run yields every pair of neighbouring characters as a token
// (天気予報: 天気 気予 予報), so any word of two or more characters is a phrase
// of consecutive pairs. When a caption is indexed, the run's last character
// is also a token of its own, at the position of the last pair: every
// character then begins some token, and a one-character query is a prefix
// query ("気"*) over the pairs. That costs one token per run, where emitting
// every character as well would double the index; one-character queries pay
// instead by reading the lists of all pairs that begin with the character.
// A run of one character is a single token.
struct sqlite3;

namespace oneseg::archive {

// Registers the tokenizer with the connection; throws DbError.
void register_bigram_tokenizer(sqlite3* db);

}  // namespace oneseg::archive
