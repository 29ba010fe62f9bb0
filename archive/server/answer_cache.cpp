#include "answer_cache.h"

namespace oneseg::archive::web {

std::int64_t AnswerCache::version() {
  if (!db_) db_ = open_();
  Statement changes = db_->prepare("PRAGMA data_version");
  const std::int64_t version = changes.step() ? changes.integer(0) : -1;
  if (version != version_) {
    answers_.clear();
    version_ = version;
  }
  return version;
}

Reply AnswerCache::answer(const std::string& key, const std::function<Reply()>& make) {
  std::unique_lock lock(mutex_);
  const std::int64_t seen = version();
  if (const auto kept = answers_.find(key); kept != answers_.end()) return kept->second;
  if (const auto underway = making_.find(key); underway != making_.end()) {
    const auto pending = underway->second;
    lock.unlock();
    return pending.get();
  }
  std::promise<Reply> promise;
  making_.emplace(key, promise.get_future().share());
  lock.unlock();
  // Made outside the lock. A change committed meanwhile has moved the version
  // on, so the next request makes it again; one seen by another request
  // meanwhile keeps this answer out.
  Reply made;
  try {
    made = make();
  } catch (...) {
    promise.set_exception(std::current_exception());
    lock.lock();
    making_.erase(key);
    throw;
  }
  promise.set_value(made);
  lock.lock();
  making_.erase(key);
  if (made.status == 200 && version_ == seen) {
    if (answers_.size() >= most_answers) answers_.clear();
    answers_.emplace(key, made);
  }
  return made;
}

}  // namespace oneseg::archive::web
