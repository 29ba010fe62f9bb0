#include "nouns.h"

#include <mecab.h>

#include <stdexcept>

#include "text_normalise.h"

namespace oneseg::archive {

namespace {

// "名詞,固有名詞,…": the kinds of noun that name something.
bool is_naming_noun(const char* feature)
{
  const std::string_view f(feature);
  return f.starts_with("名詞,一般,") || f.starts_with("名詞,固有名詞,") || f.starts_with("名詞,サ変接続,");
}

// A single kana, letter or sign says nothing on its own; a single Kanji (雪, 党) does.
bool worth_counting(const std::string& word)
{
  std::vector<NormalisedChar> chars;
  normalise_chars(word, chars);
  std::size_t word_chars = 0;
  for (const NormalisedChar& c : chars) word_chars += is_word_char(c.code) ? 1 : 0;
  if (word_chars == 0 || word_chars < chars.size()) return false;
  return chars.size() > 1 || (chars[0].code >= 0x4E00 && chars[0].code <= 0x9FFF);
}

}  // namespace

struct NounReader::Impl {
  MeCab::Model* model = nullptr;
  MeCab::Tagger* tagger = nullptr;
  MeCab::Lattice* lattice = nullptr;
};

NounReader::NounReader() : impl_(std::make_unique<Impl>())
{
  impl_->model = MeCab::createModel("");
  if (impl_->model == nullptr) throw std::runtime_error(std::string("MeCab cannot start: ") + MeCab::getLastError());
  impl_->tagger = impl_->model->createTagger();
  impl_->lattice = impl_->model->createLattice();
}

NounReader::~NounReader()
{
  delete impl_->lattice;
  delete impl_->tagger;
  delete impl_->model;
}

std::vector<std::string> NounReader::nouns(std::string_view line)
{
  std::vector<std::string> out;
  impl_->lattice->set_sentence(line.data(), line.size());
  if (!impl_->tagger->parse(impl_->lattice)) return out;
  for (const MeCab::Node* node = impl_->lattice->bos_node(); node != nullptr; node = node->next) {
    if (node->stat != MECAB_NOR_NODE || !is_naming_noun(node->feature)) continue;
    std::string word(node->surface, node->length);
    if (worth_counting(word)) out.push_back(std::move(word));
  }
  return out;
}

}  // namespace oneseg::archive
