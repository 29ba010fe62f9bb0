#pragma once
// Answers that change only when the index does (the stats, browse pages, a
// day's recordings), kept until some connection commits to the database:
// SQLite's data_version, read on a connection of the cache's own, says so for
// writers in this process (the follower) and in any other.
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "archive_db.h"
#include "handlers.h"

namespace oneseg::archive::web {

class AnswerCache {
 public:
  // open: the cache's own connection, opened when first needed.
  explicit AnswerCache(std::function<ArchiveDb()> open) : open_(std::move(open)) {}

  // The answer kept for `key` since the last change of the index, else
  // make()'s, kept when it is a 200. Requests for an answer being made wait
  // for it rather than make it again (20 clients at a cold start).
  Reply answer(const std::string& key, const std::function<Reply()>& make);

 private:
  // The index's version now; a new one drops every kept answer. Under the lock.
  std::int64_t version();

  static constexpr std::size_t most_answers = 64;

  std::function<ArchiveDb()> open_;
  std::mutex mutex_;
  std::optional<ArchiveDb> db_;
  std::int64_t version_ = -1;
  std::map<std::string, Reply> answers_;
  std::map<std::string, std::shared_future<Reply>> making_;
};

}  // namespace oneseg::archive::web
