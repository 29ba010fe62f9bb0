#include "indexer.h"

#include <algorithm>
#include <map>
#include <optional>

#include "broadcast_clock.h"
#include "eucjp.h"
#include "health.h"
#include "recording_files.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

// Caption rows are numbered by broadcast time (the second, then the channel,
// then the line), so the full-text index, which keeps its hits in row order,
// hands out the newest first and a page of hits stops early instead of
// sorting every match. A second holds 1024 lines per channel; more (a stream
// without time packets stamps every line alike) spill into the following
// numbers, and a number already taken moves on to the next free one: order
// then bends by a second, uniqueness never does.
std::int64_t caption_key(std::int64_t time, int channel) { return time * 65536 + (channel & 63) * 1024; }

struct IndexedRecording {
  std::int64_t id = 0;
  std::string fingerprint;
  std::int64_t ts_size = 0;
  std::int64_t ts_mtime = 0;
  std::optional<StreamHealth> health;
};

class IndexWriter {
 public:
  IndexWriter(ArchiveDb& db, const fs::path& root, const IndexOptions& options)
      : db_(db), root_(root), options_(options),
        remove_captions_(db.prepare("DELETE FROM captions WHERE recording = ?1")),
        remove_programmes_(db.prepare("DELETE FROM programmes WHERE recording = ?1")),
        remove_recording_(db.prepare("DELETE FROM recordings WHERE id = ?1")),
        add_recording_(db.prepare(
            "INSERT INTO recordings(day, name, channel, station, start, end, fingerprint, ts_size, ts_mtime,"
            " has_ts, has_idx, has_sub, has_eit, has_html, thumbnails, health_measured, packets,"
            " continuity_errors, transport_errors, sync_losses, first_time, last_time, longest_gap, health)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20,"
            " ?21, ?22, ?23, ?24)")),
        add_caption_(db.prepare("INSERT INTO captions(id, recording, time, text) VALUES (?1, ?2, ?3, ?4)")),
        next_free_key_(db.prepare(
            "SELECT min(id) + 1 FROM captions AS c WHERE id >= ?1 AND NOT EXISTS"
            " (SELECT 1 FROM captions WHERE id = c.id + 1)")),
        add_programme_(db.prepare(
            "INSERT INTO programmes(recording, start, duration, title, description, genres)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6)")),
        neighbour_station_(db.prepare(
            "SELECT station FROM recordings WHERE channel = ?1 AND has_eit = 1 ORDER BY abs(start - ?2) LIMIT 1")),
        stored_health_(db.prepare(
            "SELECT packets, continuity_errors, transport_errors, sync_losses, first_time, last_time, longest_gap"
            " FROM recordings WHERE id = ?1 AND health_measured = 1")) {}

  std::map<std::string, IndexedRecording> indexed_day(const std::string& day)
  {
    std::map<std::string, IndexedRecording> rows;
    Statement s = db_.prepare("SELECT id, name, fingerprint, ts_size, ts_mtime FROM recordings WHERE day = ?1");
    s.bind(1, day);
    while (s.step()) rows[s.text(1)] = {s.integer(0), s.text(2), s.integer(3), s.integer(4), std::nullopt};
    return rows;
  }

  void remove(std::int64_t id)
  {
    remove_captions_.bind(1, id).run();
    remove_programmes_.bind(1, id).run();
    remove_recording_.bind(1, id).run();
  }

  // Reads the recording's files and replaces its rows in one transaction.
  void write(const RecordingOnDisk& r, const IndexedRecording* old, IndexReport& report);

 private:
  std::optional<StreamHealth> health_of(const RecordingOnDisk& r, const IndexedRecording* old);
  std::string station_of(const RecordingOnDisk& r, const std::vector<ListingEntry>& listing);
  std::int64_t insert_recording(const RecordingOnDisk& r, const std::string& station,
                                const std::optional<StreamHealth>& health);
  std::int64_t insert_captions(std::int64_t id, int channel, const std::vector<CaptionRecord>& captions);

  ArchiveDb& db_;
  fs::path root_;
  IndexOptions options_;
  EucJpDecoder decoder_;
  Statement remove_captions_, remove_programmes_, remove_recording_, add_recording_, add_caption_, next_free_key_,
      add_programme_, neighbour_station_, stored_health_;
};

std::optional<StreamHealth> IndexWriter::health_of(const RecordingOnDisk& r, const IndexedRecording* old)
{
  if (!r.ts.exists || !options_.health) return std::nullopt;
  // Reading 31 MB again only because a page or caption file appeared is waste.
  if (old != nullptr && old->ts_size == r.ts.size && old->ts_mtime == r.ts.mtime_ns) {
    stored_health_.bind(1, old->id);
    std::optional<StreamHealth> h;
    if (stored_health_.step()) {
      h = StreamHealth{stored_health_.integer(0), stored_health_.integer(1), stored_health_.integer(2),
                       stored_health_.integer(3), std::nullopt, std::nullopt,
                       static_cast<int>(stored_health_.integer(6)), 0};
      if (!stored_health_.is_null(4)) h->first_time = stored_health_.integer(4);
      if (!stored_health_.is_null(5)) h->last_time = stored_health_.integer(5);
    }
    stored_health_.reset();
    if (h) return h;
  }
  return measure_health(root_ / r.id.day / (r.id.name + ".ts"));
}

std::string IndexWriter::station_of(const RecordingOnDisk& r, const std::vector<ListingEntry>& listing)
{
  for (const ListingEntry& e : listing)
    if (!e.provider.empty()) return e.provider;
  // Not analysed yet: the name the station has in the listings nearest in time.
  neighbour_station_.bind(1, r.id.channel).bind(2, r.id.start);
  std::string station = neighbour_station_.step() ? neighbour_station_.text(0) : "Ch" + std::to_string(r.id.channel);
  neighbour_station_.reset();
  return station;
}

std::int64_t IndexWriter::insert_recording(const RecordingOnDisk& r, const std::string& station,
                                           const std::optional<StreamHealth>& health)
{
  std::string thumbnails;
  for (const std::string& t : r.thumbnails) thumbnails += (thumbnails.empty() ? "" : "\n") + t;
  const bool timed = health && health->first_time;
  const std::int64_t start = timed ? *health->first_time : r.id.start;
  const std::int64_t end = timed ? *health->last_time : r.id.start + recording_length_s;
  Statement& s = add_recording_;
  s.bind(1, r.id.day).bind(2, r.id.name).bind(3, r.id.channel).bind(4, station).bind(5, start).bind(6, end);
  s.bind(7, r.fingerprint()).bind(8, r.ts.size).bind(9, r.ts.mtime_ns).bind(10, int{r.ts.exists});
  s.bind(11, int{r.idx}).bind(12, int{r.sub.exists}).bind(13, int{r.eit.exists}).bind(14, int{r.html});
  s.bind(15, thumbnails).bind(16, int{health.has_value()});
  const StreamHealth h = health.value_or(StreamHealth{});
  s.bind(17, h.packets).bind(18, h.continuity_errors).bind(19, h.transport_errors).bind(20, h.sync_losses);
  if (h.first_time) s.bind(21, *h.first_time), s.bind(22, *h.last_time);
  s.bind(23, h.longest_gap_s).bind(24, health ? health_mark(h) : "");
  s.run();
  return db_.last_insert_id();
}

std::int64_t IndexWriter::insert_captions(std::int64_t id, int channel, const std::vector<CaptionRecord>& captions)
{
  std::int64_t previous = -1;
  for (const CaptionRecord& c : captions) {
    std::int64_t key = std::max(caption_key(c.time, channel), previous + 1);
    add_caption_.bind(1, key).bind(2, id).bind(3, c.time).bind(4, c.text);
    while (!add_caption_.try_run()) {
      next_free_key_.bind(1, key);
      next_free_key_.step();
      key = next_free_key_.integer(0);
      next_free_key_.reset();
      add_caption_.bind(1, key).bind(2, id).bind(3, c.time).bind(4, c.text);
    }
    previous = key;
  }
  return static_cast<std::int64_t>(captions.size());
}

void IndexWriter::write(const RecordingOnDisk& r, const IndexedRecording* old, IndexReport& report)
{
  const fs::path base = root_ / r.id.day / r.id.name;
  std::vector<CaptionRecord> captions;
  std::vector<ListingEntry> listing;
  if (r.sub.exists) {
    const auto file = read_whole_file(base.string() + ".sub");
    if (!file) return report.errors.push_back(base.string() + ".sub: cannot be read");
    captions = parse_captions(*file, r.id.start, decoder_);
  }
  if (r.eit.exists) {
    const auto file = read_whole_file(base.string() + ".eit");
    if (!file) return report.errors.push_back(base.string() + ".eit: cannot be read");
    listing = parse_listing(*file, decoder_);
  }
  const std::optional<StreamHealth> health = health_of(r, old);

  ArchiveDb::Transaction transaction(db_);
  if (old != nullptr) remove(old->id);
  const std::int64_t id = insert_recording(r, station_of(r, listing), health);
  report.captions += insert_captions(id, r.id.channel, captions);
  for (const ListingEntry& e : listing) {
    if (!e.start) continue;
    add_programme_.bind(1, id).bind(2, *e.start).bind(3, e.duration_s).bind(4, e.title).bind(5, e.description);
    add_programme_.bind(6, e.genres).run();
  }
  transaction.commit();
  ++(old != nullptr ? report.updated : report.added);
}

void index_day_with(IndexWriter& writer, ArchiveDb& db, const fs::path& root, const std::string& day,
                    IndexReport& report)
{
  std::map<std::string, IndexedRecording> indexed = writer.indexed_day(day);
  for (const RecordingOnDisk& r : scan_day(root / day, day)) {
    const auto found = indexed.find(r.id.name);
    const IndexedRecording* old = found == indexed.end() ? nullptr : &found->second;
    if (old != nullptr && old->fingerprint == r.fingerprint()) {
      ++report.unchanged;
    } else {
      try {
        writer.write(r, old, report);
      } catch (const DbError&) {
        throw;
      } catch (const std::exception& e) {
        report.errors.push_back(r.id.name + ": " + e.what());
      }
    }
    if (found != indexed.end()) indexed.erase(found);
  }
  // What is left was deleted (by retention, or by hand).
  if (indexed.empty()) return;
  ArchiveDb::Transaction transaction(db);
  for (const auto& [name, row] : indexed) writer.remove(row.id);
  transaction.commit();
  report.removed += static_cast<int>(indexed.size());
}

}  // namespace

IndexReport index_day(ArchiveDb& db, const fs::path& root, const std::string& day, const IndexOptions& options)
{
  IndexWriter writer(db, root, options);
  IndexReport report;
  index_day_with(writer, db, root, day, report);
  return report;
}

IndexReport index_root(ArchiveDb& db, const fs::path& root, const IndexOptions& options)
{
  IndexWriter writer(db, root, options);
  IndexReport report;
  const std::vector<std::string> days = list_day_folders(root);
  for (const std::string& day : days) index_day_with(writer, db, root, day, report);

  // Day folders retention removed as a whole.
  std::vector<std::string> gone;
  Statement indexed_days = db.prepare("SELECT DISTINCT day FROM recordings");
  while (indexed_days.step())
    if (!std::binary_search(days.begin(), days.end(), indexed_days.text(0))) gone.push_back(indexed_days.text(0));
  indexed_days.reset();
  for (const std::string& day : gone) index_day_with(writer, db, root, day, report);
  return report;
}

}  // namespace oneseg::archive
