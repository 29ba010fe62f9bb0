#include "indexer.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "alerts.h"
#include "broadcast_clock.h"
#include "caption_keys.h"
#include "eucjp.h"
#include "health.h"
#include "match_sql.h"
#include "recording_files.h"
#include "roots.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

struct IndexedRecording {
  std::int64_t id = 0;
  std::string fingerprint;
  std::int64_t ts_size = 0;
  std::int64_t ts_mtime = 0;
  std::optional<StreamHealth> health;
};

// One recording's files, read before the transaction that stores them.
struct ReadRecording {
  const RecordingOnDisk* files = nullptr;
  const IndexedRecording* old = nullptr;
  std::vector<CaptionRecord> captions;
  std::vector<ListingEntry> listing;
  std::optional<StreamHealth> health;
  std::int64_t id = 0;
};

class IndexWriter {
 public:
  IndexWriter(ArchiveDb& db, const ArchiveRoot& root, const IndexOptions& options)
      : db_(db), root_(root.path), root_id_(root.id), options_(options),
        unindex_captions_(db.prepare(
            "INSERT INTO caption_index(caption_index, rowid, text, meta) SELECT 'delete', c.id, c.text, "
            ONESEG_CHANNEL_TOKEN("r.channel") " FROM recordings AS r CROSS JOIN captions AS c"
            " WHERE r.id = ?1 AND c.id BETWEEN r.caption_first AND r.caption_last AND c.recording = ?1")),
        remove_captions_(db.prepare(
            "DELETE FROM captions WHERE id BETWEEN (SELECT caption_first FROM recordings WHERE id = ?1)"
            " AND (SELECT caption_last FROM recordings WHERE id = ?1) AND recording = ?1")),
        index_captions_(db.prepare(
            "INSERT INTO caption_index(rowid, text, meta) SELECT c.id, c.text, " ONESEG_CHANNEL_TOKEN("r.channel")
            " FROM captions AS c CROSS JOIN recordings AS r ON r.id = c.recording WHERE c.id BETWEEN ?1 AND ?2"
            " AND c.recording BETWEEN ?3 AND ?4")),
        remove_programmes_(db.prepare("DELETE FROM programmes WHERE recording = ?1")),
        remove_recording_(db.prepare("DELETE FROM recordings WHERE id = ?1")),
        add_recording_(db.prepare(
            "INSERT INTO recordings(day, name, channel, station, start, end, fingerprint, ts_size, ts_mtime,"
            " has_ts, has_idx, has_sub, has_eit, has_html, thumbnails, health_measured, packets,"
            " continuity_errors, transport_errors, sync_losses, first_time, last_time, longest_gap, health, root)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20,"
            " ?21, ?22, ?23, ?24, ?25)")),
        caption_range_(db.prepare(
            "UPDATE recordings SET caption_count = caption_count + ?2,"
            " caption_first = CASE WHEN caption_count = 0 THEN ?3 ELSE min(caption_first, ?3) END,"
            " caption_last = CASE WHEN caption_count = 0 THEN ?4 ELSE max(caption_last, ?4) END WHERE id = ?1")),
        add_caption_(db.prepare("INSERT INTO captions(id, recording, time, text) VALUES (?1, ?2, ?3, ?4)")),
        next_free_key_(db.prepare(
            "SELECT min(id) + 1 FROM captions AS c WHERE id >= ?1 AND NOT EXISTS"
            " (SELECT 1 FROM captions WHERE id = c.id + 1)")),
        add_programme_(db.prepare(
            "INSERT INTO programmes(recording, start, duration, title, description, genres, title_key, genres_key)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")),
        neighbour_station_(db.prepare(
            "SELECT station FROM recordings WHERE channel = ?1 AND root = ?3 AND has_eit = 1"
            " ORDER BY abs(start - ?2) LIMIT 1")),
        stored_health_(db.prepare(
            "SELECT packets, continuity_errors, transport_errors, sync_losses, first_time, last_time, longest_gap"
            " FROM recordings WHERE id = ?1 AND health_measured = 1")),
        live_lines_(db.prepare(
            "SELECT caption_count, caption_first, caption_last, station, has_sub, has_eit FROM recordings WHERE id = ?1")),
        carry_captions_(db.prepare(
            "UPDATE captions SET recording = ?2 WHERE id BETWEEN ?3 AND ?4 AND recording = ?1")),
        carry_programmes_(db.prepare("UPDATE programmes SET recording = ?2 WHERE recording = ?1")),
        index_caption_(db.prepare("INSERT INTO caption_index(rowid, text, meta) VALUES (?1, ?2, ?3)")),
        update_growing_(db.prepare(
            "UPDATE recordings SET fingerprint = ?2, ts_size = ?3, ts_mtime = ?4, health_measured = 1, packets = ?5,"
            " continuity_errors = ?6, transport_errors = ?7, sync_losses = ?8, first_time = ?9, last_time = ?10,"
            " longest_gap = ?11, health = ?12, start = coalesce(?9, start), end = coalesce(?10, end),"
            " station = coalesce(?13, station) WHERE id = ?1")) {}

  std::map<std::string, IndexedRecording> indexed_day(const std::string& day)
  {
    std::map<std::string, IndexedRecording> rows;
    Statement s = db_.prepare(
        "SELECT id, name, fingerprint, ts_size, ts_mtime FROM recordings WHERE day = ?1 AND root = ?2");
    s.bind(1, day).bind(2, root_id_);
    while (s.step()) rows[s.text(1)] = {s.integer(0), s.text(2), s.integer(3), s.integer(4), std::nullopt};
    return rows;
  }

  void remove(std::int64_t id)
  {
    unindex_captions_.bind(1, id).run();
    remove_captions_.bind(1, id).run();
    remove_programmes_.bind(1, id).run();
    remove_recording_.bind(1, id).run();
  }

  // A recording read while it was written: its row, made afresh.
  std::int64_t start_growing(const RecordingOnDisk& files);
  std::optional<RowWindow> append_growing(std::int64_t id, const RecordingOnDisk& files,
                                          const std::vector<CaptionRecord>& lines,
                                          const std::vector<ListingEntry>& listing, const StreamHealth& health);

  // Reads the files of the recordings and replaces their rows, all in one
  // transaction: a crash leaves each of them as it was before or as it is now.
  void write(const std::vector<std::pair<const RecordingOnDisk*, const IndexedRecording*>>& changed,
             IndexReport& report);

 private:
  bool read(ReadRecording& r, IndexReport& report);
  std::optional<StreamHealth> health_of(const RecordingOnDisk& r, const IndexedRecording* old);
  std::string station_of(const RecordingOnDisk& r, const std::vector<ListingEntry>& listing);
  std::int64_t insert_recording(const RecordingOnDisk& r, const std::string& station,
                                const std::optional<StreamHealth>& health);
  std::optional<RowWindow> insert_captions(std::vector<ReadRecording>& recordings);
  std::int64_t insert_line(std::int64_t recording, const CaptionRecord& line, std::int64_t previous);
  std::int64_t free_key_from(std::int64_t key);
  void add_programmes(std::int64_t recording, const std::vector<ListingEntry>& listing);
  // The lines (and programmes) a recording without a .sub (.eit) had from
  // being read while it was written, for its new row.
  struct LiveLines {
    std::int64_t count = 0, first = 0, last = -1;
    std::string station;
    bool captions = false, programmes = false;
  };
  LiveLines live_lines(const IndexedRecording& old, const RecordingOnDisk& files);
  void carry(const LiveLines& lines, std::int64_t from, std::int64_t to);

  ArchiveDb& db_;
  fs::path root_;
  std::int64_t root_id_;
  IndexOptions options_;
  EucJpDecoder decoder_;
  Statement unindex_captions_, remove_captions_, index_captions_, remove_programmes_, remove_recording_, add_recording_, caption_range_, add_caption_,
      next_free_key_, add_programme_, neighbour_station_, stored_health_, live_lines_, carry_captions_, carry_programmes_,
      index_caption_, update_growing_;
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
  neighbour_station_.bind(1, r.id.channel).bind(2, r.id.start).bind(3, root_id_);
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
  if (h.first_time) s.bind(21, *h.first_time).bind(22, *h.last_time);
  s.bind(23, h.longest_gap_s).bind(24, health ? health_mark(h, r.id.start) : "").bind(25, root_id_);
  s.run();
  return db_.last_insert_id();
}

std::int64_t IndexWriter::free_key_from(std::int64_t key)
{
  next_free_key_.bind(1, key);
  next_free_key_.step();
  const std::int64_t free = next_free_key_.is_null(0) ? key : next_free_key_.integer(0);
  next_free_key_.reset();
  return free;
}

// Numbered after previous (INT64_MIN: none) and from its time on; returns its number.
std::int64_t IndexWriter::insert_line(std::int64_t recording, const CaptionRecord& line, std::int64_t previous)
{
  std::int64_t key = std::max(first_caption_key(line.time), previous == INT64_MIN ? INT64_MIN : previous + 1);
  const auto bind = [&] {
    add_caption_.bind(1, key).bind(2, recording).bind(4, line.text);
    if (time_of_caption_key(key) != line.time) add_caption_.bind(3, line.time);
  };
  bind();
  while (!add_caption_.try_run()) {
    key = free_key_from(key);
    bind();
  }
  return key;
}

void IndexWriter::add_programmes(std::int64_t recording, const std::vector<ListingEntry>& listing)
{
  for (const ListingEntry& e : listing) {
    if (!e.start) continue;
    add_programme_.bind(1, recording).bind(2, *e.start).bind(3, e.duration_s).bind(4, e.title).bind(5, e.description);
    add_programme_.bind(6, e.genres).bind(7, normalise(e.title)).bind(8, normalise(e.genres)).run();
  }
}

IndexWriter::LiveLines IndexWriter::live_lines(const IndexedRecording& old, const RecordingOnDisk& files)
{
  LiveLines lines;
  live_lines_.bind(1, old.id);
  if (live_lines_.step()) {
    lines = {live_lines_.integer(0), live_lines_.integer(1), live_lines_.integer(2), live_lines_.text(3),
             live_lines_.integer(4) == 0 && !files.sub.exists, live_lines_.integer(5) == 0 && !files.eit.exists};
  }
  live_lines_.reset();
  return lines;
}

void IndexWriter::carry(const LiveLines& lines, std::int64_t from, std::int64_t to)
{
  if (lines.captions && lines.count > 0) {
    carry_captions_.bind(1, from).bind(2, to).bind(3, lines.first).bind(4, lines.last).run();
    caption_range_.bind(1, to).bind(2, lines.count).bind(3, lines.first).bind(4, lines.last).run();
  }
  if (lines.programmes) carry_programmes_.bind(1, from).bind(2, to).run();
}

// All lines of the batch in order of time, channel and line, so that rows
// are appended rather than wedged between others (which leaves pages half
// full), and numbered as caption_keys.h says.
std::optional<RowWindow> IndexWriter::insert_captions(std::vector<ReadRecording>& recordings)
{
  struct Line {
    std::int64_t time;
    int channel;
    std::size_t recording, line;
  };
  std::vector<Line> lines;
  for (std::size_t r = 0; r < recordings.size(); ++r)
    for (std::size_t i = 0; i < recordings[r].captions.size(); ++i)
      lines.push_back({recordings[r].captions[i].time, recordings[r].files->id.channel, r, i});
  std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
    return std::tie(a.time, a.channel, a.recording, a.line) < std::tie(b.time, b.channel, b.recording, b.line);
  });
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges(recordings.size(), {INT64_MAX, INT64_MIN});
  std::int64_t previous = INT64_MIN, lowest = INT64_MAX;
  for (const Line& l : lines) {
    ReadRecording& r = recordings[l.recording];
    const std::int64_t key = insert_line(r.id, r.captions[l.line], previous);
    lowest = std::min(lowest, key);
    previous = key;
    ranges[l.recording] = {std::min(ranges[l.recording].first, key), std::max(ranges[l.recording].second, key)};
  }
  // The batch's recordings were numbered one after another in this transaction.
  if (!lines.empty())
    index_captions_.bind(1, lowest).bind(2, previous).bind(3, recordings.front().id).bind(4, recordings.back().id).run();
  for (std::size_t r = 0; r < recordings.size(); ++r) {
    if (recordings[r].captions.empty()) continue;
    caption_range_.bind(1, recordings[r].id).bind(2, static_cast<std::int64_t>(recordings[r].captions.size()));
    caption_range_.bind(3, ranges[r].first).bind(4, ranges[r].second).run();
  }
  if (lines.empty()) return std::nullopt;
  return RowWindow{lowest, previous, recordings.front().id, recordings.back().id};
}

bool IndexWriter::read(ReadRecording& r, IndexReport& report)
{
  const RecordingOnDisk& files = *r.files;
  const std::string base = (root_ / files.id.day / files.id.name).string();
  r.health = health_of(files, r.old);
  if (files.sub.exists) {
    const auto text = read_whole_file(base + ".sub");
    if (!text) return report.errors.push_back(base + ".sub: cannot be read"), false;
    // The lines carry the stream's time of day; their date is the stream's
    // too, as the recording's start and so every offset into it are.
    const bool timed = r.health && r.health->first_time;
    r.captions = parse_captions(*text, timed ? *r.health->first_time : files.id.start, decoder_);
  }
  if (files.eit.exists) {
    const auto text = read_whole_file(base + ".eit");
    if (!text) return report.errors.push_back(base + ".eit: cannot be read"), false;
    r.listing = parse_listing(*text, decoder_);
  }
  return true;
}

void IndexWriter::write(const std::vector<std::pair<const RecordingOnDisk*, const IndexedRecording*>>& changed,
                        IndexReport& report)
{
  std::vector<ReadRecording> recordings;
  for (const auto& [files, old] : changed) {
    ReadRecording r;
    r.files = files;
    r.old = old;
    if (read(r, report)) recordings.push_back(std::move(r));
  }
  if (recordings.empty()) return;
  ArchiveDb::Transaction transaction(db_);
  for (ReadRecording& r : recordings) {
    // Until its .sub (.eit) exists, a recording keeps what was read from it
    // while it was written.
    // They are parked under row number 0, which no recording has, while the
    // row is made again.
    const LiveLines kept = r.old != nullptr ? live_lines(*r.old, *r.files) : LiveLines{};
    carry(kept, r.old != nullptr ? r.old->id : 0, 0);
    if (r.old != nullptr) remove(r.old->id);
    const bool read_live = kept.captions && kept.count > 0;
    r.id = insert_recording(*r.files, read_live ? kept.station : station_of(*r.files, r.listing), r.health);
    carry(kept, 0, r.id);
    add_programmes(r.id, r.listing);
  }
  if (const auto window = insert_captions(recordings)) make_alerts(db_, *window);
  transaction.commit();
  for (const ReadRecording& r : recordings) {
    ++(r.old != nullptr ? report.updated : report.added);
    report.captions += static_cast<std::int64_t>(r.captions.size());
  }
}

std::int64_t IndexWriter::start_growing(const RecordingOnDisk& files)
{
  ArchiveDb::Transaction transaction(db_);
  Statement existing = db_.prepare("SELECT id FROM recordings WHERE name = ?1 AND root = ?2");
  existing.bind(1, files.id.name).bind(2, root_id_);
  if (existing.step()) remove(existing.integer(0));
  existing.reset();
  const std::int64_t id = insert_recording(files, station_of(files, {}), std::nullopt);
  transaction.commit();
  return id;
}

std::optional<RowWindow> IndexWriter::append_growing(std::int64_t id, const RecordingOnDisk& files,
                                                     const std::vector<CaptionRecord>& lines,
                                                     const std::vector<ListingEntry>& listing, const StreamHealth& health)
{
  ArchiveDb::Transaction transaction(db_);
  std::int64_t previous = INT64_MIN, lowest = INT64_MAX, highest = INT64_MIN;
  for (const CaptionRecord& line : lines) {
    previous = insert_line(id, line, previous);
    // Row by row: the lines before them in the recording are indexed already.
    index_caption_.bind(1, previous).bind(2, line.text).bind(3, channel_token(files.id.channel)).run();
    lowest = std::min(lowest, previous);
    highest = std::max(highest, previous);
  }
  if (!lines.empty())
    caption_range_.bind(1, id).bind(2, static_cast<std::int64_t>(lines.size())).bind(3, lowest).bind(4, highest).run();
  add_programmes(id, listing);
  Statement& u = update_growing_;
  u.bind(1, id).bind(2, files.fingerprint()).bind(3, files.ts.size).bind(4, files.ts.mtime_ns);
  u.bind(5, health.packets).bind(6, health.continuity_errors).bind(7, health.transport_errors).bind(8, health.sync_losses);
  if (health.first_time) u.bind(9, *health.first_time).bind(10, *health.last_time);
  u.bind(11, health.longest_gap_s).bind(12, health_mark(health, files.id.start));
  for (const ListingEntry& e : listing)
    if (!e.provider.empty()) u.bind(13, e.provider);
  u.run();
  const std::optional<RowWindow> window =
      lines.empty() ? std::nullopt : std::optional<RowWindow>(RowWindow{lowest, highest, id, id});
  if (window) make_alerts(db_, *window);
  transaction.commit();
  return window;
}

// A day's changes are written together; so many recordings' worth of lines
// at most, to bound the memory a batch holds.
constexpr std::size_t batch_captions = 100000;

bool is_mount_point(const fs::path& folder)
{
  struct stat self {}, parent {};
  if (::stat(folder.c_str(), &self) != 0 || ::stat((folder / "..").c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

// A root can be read when its folder lists to its end, unless it was a
// mount point and is now an empty folder (the share is not mounted). A
// folder emptied by retention is read as it is.
bool root_readable(ArchiveDb& db, const ArchiveRoot& root, const std::optional<std::vector<std::string>>& days)
{
  if (!days) return false;
  const bool mounted = is_mount_point(root.path);
  Statement was = db.prepare("SELECT mount_point FROM roots WHERE id = ?1");
  was.bind(1, root.id);
  const bool was_mounted = was.step() && was.integer(0) != 0;
  was.reset();
  if (was_mounted && !mounted && days->empty()) return false;
  if (was_mounted != mounted) db.prepare("UPDATE roots SET mount_point = ?2 WHERE id = ?1").bind(1, root.id).bind(2, int{mounted}).run();
  return true;
}

// Writes the root's state when it changed, and says so.
void note_availability(ArchiveDb& db, const ArchiveRoot& root, bool available, IndexReport& report)
{
  Statement s = db.prepare("SELECT available FROM roots WHERE id = ?1");
  s.bind(1, root.id);
  if (!s.step() || (s.integer(0) != 0) == available) return;
  s.reset();
  db.prepare("UPDATE roots SET available = ?2 WHERE id = ?1").bind(1, root.id).bind(2, int{available}).run();
  report.notices.push_back("root " + root.name + " (" + root.path.string() + ")" +
                           (available ? " is available again"
                                      : " cannot be read: marked unavailable, its recordings stay in the index"));
}

// listed: the day folder's recordings, nullopt when it could not be read.
void index_day_with(IndexWriter& writer, ArchiveDb& db, const ArchiveRoot& root, const std::string& day,
                    const std::optional<std::vector<RecordingOnDisk>>& listed, const IndexOptions& options,
                    IndexReport& report)
{
  std::map<std::string, IndexedRecording> indexed = writer.indexed_day(day);
  // A day folder that cannot be read, or is gone with the whole root, says
  // nothing about its recordings: they stay as they are.
  if (!listed) return;
  if (listed->empty() && !indexed.empty() && !root_readable(db, root, read_day_folders(root.path)))
    return note_availability(db, root, false, report);
  if (!listed->empty()) note_availability(db, root, true, report);
  const std::vector<RecordingOnDisk>& on_disk = *listed;
  if (options.scanned) options.scanned(day, on_disk);
  std::vector<std::pair<const RecordingOnDisk*, const IndexedRecording*>> changed;
  std::int64_t batch_bytes = 0;
  for (const RecordingOnDisk& r : on_disk) {
    const auto found = indexed.find(r.id.name);
    const IndexedRecording* old = found == indexed.end() ? nullptr : &found->second;
    const bool read_live = options.read_live && options.read_live(r.id.name);
    if ((old != nullptr && old->fingerprint == r.fingerprint()) || read_live) ++report.unchanged;
    else changed.emplace_back(&r, old), batch_bytes += r.sub.size;
    if (batch_bytes / 40 > static_cast<std::int64_t>(batch_captions)) {  // about 40 bytes a line
      writer.write(changed, report);
      changed.clear();
      batch_bytes = 0;
    }
  }
  writer.write(changed, report);
  // What is left unmatched was deleted (by retention, or by hand).
  std::set<std::string> names;
  for (const RecordingOnDisk& r : on_disk) names.insert(r.id.name);
  std::vector<std::int64_t> gone;
  for (const auto& [name, row] : indexed)
    if (!names.count(name)) gone.push_back(row.id);
  if (gone.empty()) return;
  ArchiveDb::Transaction transaction(db);
  for (const std::int64_t id : gone) writer.remove(id);
  transaction.commit();
  report.removed += static_cast<int>(gone.size());
}

}  // namespace

IndexReport index_day(ArchiveDb& db, const ArchiveRoot& root, const std::string& day, const IndexOptions& options)
{
  IndexWriter writer(db, root, options);
  IndexReport report;
  index_day_with(writer, db, root, day, read_day(root.path / day, day), options, report);
  return report;
}

struct GrowingRecordingWriter::Impl {
  Impl(ArchiveDb& db, const ArchiveRoot& root) : writer(db, root, {}) {}
  IndexWriter writer;
};

GrowingRecordingWriter::GrowingRecordingWriter(ArchiveDb& db, const ArchiveRoot& root)
    : impl_(std::make_unique<Impl>(db, root)) {}

GrowingRecordingWriter::~GrowingRecordingWriter() = default;

std::int64_t GrowingRecordingWriter::start(const RecordingOnDisk& files) { return impl_->writer.start_growing(files); }

std::optional<RowWindow> GrowingRecordingWriter::append(std::int64_t id, const RecordingOnDisk& files,
                                                        const std::vector<CaptionRecord>& lines,
                                                        const std::vector<ListingEntry>& listing,
                                                        const StreamHealth& health)
{
  return impl_->writer.append_growing(id, files, lines, listing, health);
}

IndexReport index_root(ArchiveDb& db, const ArchiveRoot& root, const IndexOptions& options)
{
  IndexReport report;
  const auto listed = read_day_folders(root.path);
  if (!root_readable(db, root, listed)) {
    note_availability(db, root, false, report);
    return report;
  }
  note_availability(db, root, true, report);
  const std::vector<std::string>& days = *listed;
  // An empty index is built whole, with its merging deferred to the end;
  // a build cut short is merged by the writes of the next run.
  const bool whole_build = !db.prepare("SELECT 1 FROM captions LIMIT 1").step();
  set_bulk_merging(db, whole_build);
  IndexWriter writer(db, root, options);
  for (const std::string& day : days) {
    // Stopped: like a build cut short, merged by the next run's writes.
    if (options.stop && *options.stop) return report;
    index_day_with(writer, db, root, day, read_day(root.path / day, day), options, report);
  }
  if (whole_build) {
    merge_index(db);
    set_bulk_merging(db, false);
  }

  // Day folders retention removed as a whole.
  std::vector<std::string> gone;
  Statement indexed_days = db.prepare("SELECT DISTINCT day FROM recordings WHERE root = ?1");
  indexed_days.bind(1, root.id);
  while (indexed_days.step())
    if (!std::binary_search(days.begin(), days.end(), indexed_days.text(0))) gone.push_back(indexed_days.text(0));
  indexed_days.reset();
  for (const std::string& day : gone)
    index_day_with(writer, db, root, day, std::vector<RecordingOnDisk>{}, options, report);
  return report;
}

IndexReport index_root(ArchiveDb& db, const fs::path& folder, const IndexOptions& options)
{
  return index_root(db, register_root(db, folder), options);
}

void forget_root(ArchiveDb& db, std::int64_t root)
{
  IndexWriter writer(db, {root, {}, {}}, {});
  Statement recordings = db.prepare("SELECT id FROM recordings WHERE root = ?1");
  recordings.bind(1, root);
  std::vector<std::int64_t> ids;
  while (recordings.step()) ids.push_back(recordings.integer(0));
  for (const std::int64_t id : ids) writer.remove(id);
  db.prepare("DELETE FROM roots WHERE id = ?1").bind(1, root).run();
}

}  // namespace oneseg::archive
