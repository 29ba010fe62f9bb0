#include "bigram_tokenizer.h"

#include <sqlite3.h>

#include <string>
#include <vector>

#include "archive_db.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace {

// Calls back once per token; a run is [first, last) of chars.
int tokenize_run(const std::vector<NormalisedChar>& chars, std::size_t first, std::size_t last, bool document,
                 void* context, int (*emit)(void*, int, const char*, int, int, int))
{
  // Every line of a year passes here: tokens are built on the stack, not in a string.
  char token[8];
  const auto send = [&](std::size_t from, std::size_t count, int flags) {
    std::size_t size = 0;
    for (std::size_t i = from; i < from + count; ++i) size += encode_utf8(chars[i].code, token + size);
    return emit(context, flags, token, static_cast<int>(size), static_cast<int>(chars[from].begin),
                static_cast<int>(chars[from + count - 1].end));
  };
  if (last - first == 1) return send(first, 1, 0);
  for (std::size_t i = first; i + 1 < last; ++i)
    if (const int rc = send(i, 2, 0); rc != SQLITE_OK) return rc;
  return document ? send(last - 1, 1, FTS5_TOKEN_COLOCATED) : SQLITE_OK;
}

int tokenize(Fts5Tokenizer*, void* context, int flags, const char* text, int length,
             int (*emit)(void*, int, const char*, int, int, int))
{
  thread_local std::vector<NormalisedChar> chars;
  normalise_chars(std::string_view(text, static_cast<std::size_t>(length)), chars);
  const bool document = (flags & FTS5_TOKENIZE_DOCUMENT) != 0;
  std::size_t i = 0;
  while (i < chars.size()) {
    if (!is_word_char(chars[i].code)) {
      if (is_index_mark(chars[i].code))
        if (const int rc = tokenize_run(chars, i, i + 1, document, context, emit); rc != SQLITE_OK) return rc;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < chars.size() && is_word_char(chars[end].code)) ++end;
    if (const int rc = tokenize_run(chars, i, end, document, context, emit); rc != SQLITE_OK) return rc;
    i = end;
  }
  return SQLITE_OK;
}

// The tokenizer keeps no state: every instance is the same dummy pointer.
int create(void*, const char**, int, Fts5Tokenizer** out)
{
  static int instance;
  *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
  return SQLITE_OK;
}

void destroy(Fts5Tokenizer*) {}

fts5_api* fts5_of(sqlite3* db)
{
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK) return nullptr;
  sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
  return api;
}

}  // namespace

void register_bigram_tokenizer(sqlite3* db)
{
  fts5_api* api = fts5_of(db);
  if (api == nullptr || api->iVersion < 2) throw DbError("this SQLite has no full-text search (FTS5)");
  static fts5_tokenizer methods{create, destroy, tokenize};
  if (api->xCreateTokenizer(api, "oneseg_bigram", nullptr, &methods, nullptr) != SQLITE_OK)
    throw DbError(std::string("cannot register the caption tokenizer: ") + sqlite3_errmsg(db));
}

}  // namespace oneseg::archive
