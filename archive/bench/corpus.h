#pragma once
// A generated archive: stations × days × 144 recordings of caption (.sub)
// and listing (.eit) files as the analyser writes them, with Japanese lines
// whose words follow a Zipf distribution, and the same captions in UTF-8
// for grep.
#include <cstdint>
#include <filesystem>
#include <string>

namespace oneseg::archive::bench {

struct CorpusSize {
  int stations = 3;
  int days = 365;
  int captions_per_recording = 50;
};

struct CorpusReport {
  std::int64_t recordings = 0;
  std::int64_t captions = 0;
  std::int64_t caption_text_bytes = 0;   // UTF-8, the lines' text only
};

// Words the benchmark searches for, by how often they occur.
inline constexpr const char* two_character_words[] = {"天気", "地震", "選挙", "台風", "経済", "野球"};
inline constexpr const char* rare_word = "線状降水";       // a handful of lines a year
inline constexpr const char* common_word = "今日";
inline constexpr const char* two_word_query = "首相 会見";

// The broadcast time of the corpus's first day (2025-01-01).
std::int64_t corpus_start();

// Writes root/yymmdd/yymmddhhm_ChNN.sub/.eit (from 2025-01-01) and
// utf8_root/... .txt.
CorpusReport write_corpus(const std::filesystem::path& root, const std::filesystem::path& utf8_root,
                          const CorpusSize& size);

// One more recording, on the day after the corpus.
void write_recording(const std::filesystem::path& root, int day_index, int slot, int station, int captions,
                     std::uint64_t seed);

}  // namespace oneseg::archive::bench
