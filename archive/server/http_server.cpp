#include "http_server.h"

#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "answer_cache.h"
#include "api_json.h"
#include "archive_db.h"
#include "ffmpeg_commands.h"
#include "ffmpeg_slots.h"
#include "alert_pages.h"
#include "handlers.h"
#include "pages.h"
#include "http_core.h"
#include "insight_pages.h"
#include "live_pages.h"
#include "live_stream.h"
#include "programme_pages.h"
#include "recordings.h"
#include "serve_options.h"
#include "thumbnails.h"
#include "viewer_http.h"
#include "viewer_replies.h"

namespace oneseg::archive::web {
namespace {

// SQLite connections are for one thread at a time; each request borrows one
// and gives it back, so a busy server keeps as many as it has threads.
class DbPool {
 public:
  DbPool(std::filesystem::path file, bool read_only) : file_(std::move(file)), read_only_(read_only) {}

  class Lease {
   public:
    Lease(DbPool& pool, ArchiveDb db) : pool_(pool), db_(std::move(db)) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { pool_.give_back(std::move(*db_)); }
    ArchiveDb& operator*() { return *db_; }

   private:
    DbPool& pool_;
    std::optional<ArchiveDb> db_;
  };

  Lease take() {
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        ArchiveDb db = std::move(free_.back());
        free_.pop_back();
        return Lease(*this, std::move(db));
      }
    }
    return Lease(*this, read_only_ ? ArchiveDb::open_to_read(file_) : ArchiveDb::open(file_));
  }

 private:
  void give_back(ArchiveDb db) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(db));
  }

  std::filesystem::path file_;
  bool read_only_;
  std::mutex mutex_;
  std::vector<ArchiveDb> free_;
};

void send(HttpResponse& response, const Reply& reply) {
  response.status = reply.status;
  response.set_content(reply.body, reply.content_type.c_str());
}

// The requests that change saved searches, the only ones posted.
bool changes_watches(const std::string& path) {
  const auto found = route(path);
  return found && (found->page == Page::api_watches || found->page == Page::watch_change);
}

bool wants_json(const std::string& path) { return path.starts_with("/api/"); }

// Every value of a parameter given more than once (the timeline's queries).
std::vector<std::string> values_of(const Fields& params, const char* name) {
  std::vector<std::string> values;
  for (const auto& [key, value] : params)
    if (key == name) values.push_back(value);
  return values;
}

// Sends what `next` makes while it makes it (as Child::read_output: -1 none
// yet, 0 the end); `end` runs when it is done or the client went away, so a
// child ends with the answer.
void send_made(HttpResponse& response, std::function<long(char*, std::size_t, std::chrono::milliseconds)> next,
               std::function<void()> end) {
  // A media element asks with a range; the answer is made as it is sent, so
  // it is the whole of it.
  response.status = 200;
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider(
      "video/mp4",
      [next = std::move(next)](std::size_t, DataSink& sink) {
        char buffer[64 * 1024];
        const long got = next(buffer, sizeof buffer, std::chrono::milliseconds(200));
        if (got < 0) return true;  // nothing yet; the core checks the client before asking again
        if (got == 0) {
          sink.done();
          return true;
        }
        return sink.write(buffer, static_cast<std::size_t>(got));
      },
      [end = std::move(end)](bool) { end(); });
}

Reply busy_reply() { return {503, "text/plain; charset=UTF-8", "busy: too many clips and thumbnails at once\n"}; }

HttpLimits limits_of(const ServerSetup& setup) {
  HttpLimits limits;
  limits.workers = setup.threads;
  return limits;
}

}  // namespace

struct ArchiveServer::Impl {
  Impl(ServerSetup s, ChildStarter& child_starter)
      : setup(std::move(s)),
        starter(child_starter),
        slots(setup.ffmpeg_runs),
        thumbnails(setup.thumbnail_folder, starter, slots, setup.thumbnail_bytes),
        viewer(setup.roots, setup.thumbnail_folder.parent_path() / ("clips-" + setup.db.stem().string()), starter, slots),
        pool(setup.db, setup.read_only),
        answers([this] { return ArchiveDb::open_to_read(setup.db); }),
        server([this](const HttpRequest& request, HttpResponse& response) { handle(request, response); },
               limits_of(setup)) {}

  void handle(const HttpRequest& request, HttpResponse& response);
  bool admitted(const HttpRequest& request, HttpResponse& response);
  void dispatch(const HttpRequest& request, HttpResponse& response);
  void dispatch_post(const HttpRequest& request, HttpResponse& response);
  void send_clip(const Route& route, int t, ArchiveDb& db, HttpResponse& response);
  void send_live(const Route& route, ArchiveDb& db, HttpResponse& response);
  void send_thumbnail(const Route& route, int t, ArchiveDb& db, HttpResponse& response);
  void send_file(const std::filesystem::path& file, HttpResponse& response);
  std::vector<std::string> stations(ArchiveDb& db);

  ServerSetup setup;
  ChildStarter& starter;
  FfmpegSlots slots;
  ThumbnailCache thumbnails;
  ViewerHttp viewer;
  DbPool pool;
  AnswerCache answers;
  HttpCore server;
  std::mutex stations_mutex;
  std::vector<std::string> station_names;
  std::chrono::steady_clock::time_point stations_read{};
};

// The form's suggestions change with the day, not with each search: read
// once a minute rather than on every page.
std::vector<std::string> ArchiveServer::Impl::stations(ArchiveDb& db) {
  std::lock_guard lock(stations_mutex);
  const auto now = std::chrono::steady_clock::now();
  if (stations_read == std::chrono::steady_clock::time_point{} || now - stations_read > std::chrono::minutes(1)) {
    station_names = recent_stations(db);
    stations_read = now;
  }
  return station_names;
}

void ArchiveServer::Impl::handle(const HttpRequest& request, HttpResponse& response) {
  const bool json = wants_json(request.path);
  const bool post = request.method == "POST" && (changes_watches(request.path) || ViewerHttp::is_change(request));
  if (request.method != "GET" && request.method != "HEAD" && !post) {
    response.set_header("Allow", changes_watches(request.path) || request.path.starts_with("/api/clips") ? "POST" : "GET, HEAD");
    return send(response, json ? Reply{405, "application/json; charset=UTF-8", error_json("GET で問い合わせてください")}
                               : Reply{405, "text/plain; charset=UTF-8", "GET or HEAD only\n"});
  }
  try {
    if (admitted(request, response)) post ? dispatch_post(request, response) : dispatch(request, response);
  } catch (const std::exception& error) {
    // The index could not answer (a broken or busy database): said as the
    // request's failure, in the form the request expects.
    response = HttpResponse{};
    send(response, json ? Reply{500, "application/json; charset=UTF-8", error_json(std::string("索引を読めません: ") + error.what())}
                        : Reply{500, "text/plain; charset=UTF-8", std::string("the index could not be read: ") + error.what() + "\n"});
  }
}

bool ArchiveServer::Impl::admitted(const HttpRequest& request, HttpResponse& response) {
  const bool json = wants_json(request.path);
  if (setup.token.empty()) {
    // Served on the loopback only: a page elsewhere that points a name of its
    // own at 127.0.0.1 must not read the archive through the browser.
    if (host_allowed(request.get_header_value("Host"))) return true;
    send(response, {403, "text/plain; charset=UTF-8", "forbidden host\n"});
    return false;
  }
  const std::string parameter = request.get_param_value("token");
  const std::string presented =
      presented_token(parameter, request.get_header_value("Authorization"), request.get_header_value("Cookie"));
  if (!token_matches(setup.token, presented)) {
    Reply reply = json ? Reply{401, "application/json; charset=UTF-8", R"({"error": "token required"})"}
                       : Reply{401, "text/plain; charset=UTF-8", "token required: open the address oneseg-archive printed\n"};
    send(response, reply);
    return false;
  }
  // The page's own links, pictures and clips then carry it as a cookie.
  if (!parameter.empty()) {
    response.set_header("Set-Cookie", "oneseg_token=" + setup.token + "; Path=/; HttpOnly; SameSite=Strict");
  }
  return true;
}

void ArchiveServer::Impl::dispatch(const HttpRequest& request, HttpResponse& response) {
  const auto found = route(request.path);
  const bool json = wants_json(request.path);
  if (!found) return send(response, not_found_reply(json));
  const Parameters parameters = [&request](const char* name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
  };
  if (found->page == Page::asset) {
    response.set_header("Cache-Control", "max-age=300");
    return send(response, asset_reply(found->file));
  }
  auto db = pool.take();
  switch (found->page) {
    case Page::search:
      return send(response, search_reply(*db, parameters, false, stations(*db),
                                         [this](const std::string& key, const std::function<Reply()>& make) {
                                           return answers.answer(key, make);
                                         }));
    case Page::api_search: return send(response, search_reply(*db, parameters, true));
    case Page::browse:
      return send(response, answers.answer("browse?" + parameters("day") + "&" + parameters("date"),
                                           [&] { return browse_reply(*db, parameters); }));
    case Page::recording: return send(response, recording_reply(*db, *found, parameters));
    case Page::api_recordings:
      return send(response, answers.answer("recordings?" + parameters("day"),
                                           [&] { return recordings_api_reply(*db, parameters); }));
    case Page::api_stats: return send(response, answers.answer("stats", [&] { return stats_api_reply(*db); }));
    case Page::trends: return send(response, trends_reply(*db, parameters));
    case Page::api_timeline: return send(response, timeline_api_reply(*db, parameters, values_of(request.params, "q")));
    case Page::live: return send(response, live_reply(*db, written_on_disk(*db, setup.roots), std::chrono::system_clock::now()));
    case Page::live_station:
      return send(response, live_station_reply(*db, *found, written_on_disk(*db, setup.roots), std::chrono::system_clock::now()));
    case Page::api_live_captions: return send(response, live_captions_reply(*db, *found, parameters));
    case Page::live_stream: return send_live(*found, *db, response);
    case Page::programme: return send(response, programme_reply(*db, *found));
    case Page::programmes: return send(response, programmes_reply(*db, parameters));
    case Page::alerts: return send(response, alerts_page_reply(*db, parameters));
    case Page::watches: return send(response, watches_page_reply(*db));
    case Page::api_alerts: return send(response, alerts_api_reply(*db, parameters));
    case Page::api_watches: return send(response, watches_api_reply(*db));
    case Page::feed:
      return send(response, feed_reply(*db, *found, "http://" + request.get_header_value("Host"), parameters("token")));
    case Page::watch_change:
      response.set_header("Allow", "POST");
      return send(response, {405, "application/json; charset=UTF-8", error_json("POST で送ってください")});
    case Page::asset: return;
    case Page::clips: return send(response, clips_page_reply(*db));
    case Page::api_clips: return send(response, clips_api_reply(*db));
    case Page::export_clip: return viewer.export_clip(*db, *found, parameters, response);
    case Page::file: {
      const auto file = served_file(*db, setup.roots, found->root, found->file);
      return file ? send_file(*file, response) : send(response, not_found_reply(false));
    }
    case Page::clip:
    case Page::captions:
    case Page::thumbnail: {
      const auto t = moment_parameter(parameters("t"));
      if (!t) return send(response, {400, "text/plain; charset=UTF-8", "t: whole seconds into the recording\n"});
      if (found->page == Page::captions) return viewer.captions(*db, *found, *t, response);
      return found->page == Page::clip ? send_clip(*found, *t, *db, response) : send_thumbnail(*found, *t, *db, response);
    }
  }
}

// Saving, renaming and removing a watch or a saved clip. A page of another
// site may post a form here through the user's browser: only the archive's
// own pages may.
void ArchiveServer::Impl::dispatch_post(const HttpRequest& request, HttpResponse& response) {
  const std::string origin = request.get_header_value("Origin");
  if (!origin.empty() && origin != "http://" + request.get_header_value("Host")) {
    return send(response, {403, "application/json; charset=UTF-8", error_json("forbidden origin")});
  }
  const Parameters parameters = [&request](const char* name) {
    return request.has_param(name) ? request.get_param_value(name) : std::string();
  };
  auto db = pool.take();
  if (ViewerHttp::is_change(request)) return viewer.change(*db, request.path, parameters, response);
  send(response, watch_change_reply(*db, *route(request.path), parameters));
}

void ArchiveServer::Impl::send_clip(const Route& route, int t, ArchiveDb& db, HttpResponse& response) {
  const auto source = clip_source(db, setup.roots, route);
  if (!source) return send(response, not_found_reply(false));
  auto slot = slots.acquire(std::chrono::seconds(3));
  if (!slot) {
    response.set_header("Retry-After", "5");
    return send(response, busy_reply());
  }
  std::shared_ptr<Child> child = starter.start(clip_command(source->recording, source->next, t));
  if (!child) return send(response, {500, "text/plain; charset=UTF-8", "ffmpeg could not be started\n"});
  auto held = std::make_shared<FfmpegSlots::Slot>(std::move(slot));
  send_made(
      response,
      [child](char* buffer, std::size_t n, std::chrono::milliseconds wait) { return child->read_output(buffer, n, wait); },
      [child, held] { child->finish(); });
}

// A live station holds an ffmpeg slot like a clip, for as long as it is watched.
void ArchiveServer::Impl::send_live(const Route& route, ArchiveDb& db, HttpResponse& response) {
  const auto file = live_file(db, setup.roots, route.channel, std::chrono::system_clock::now());
  if (!file) return send(response, not_found_reply(false));
  auto slot = slots.acquire(std::chrono::seconds(3));
  if (!slot) {
    response.set_header("Retry-After", "5");
    return send(response, busy_reply());
  }
  auto child = starter.start(live_command(), ChildInput::pipe);
  if (!child) return send(response, {500, "text/plain; charset=UTF-8", "ffmpeg could not be started\n"});
  auto feed = std::make_unique<LiveFeed>(*file, live_delay_s * live_bytes_per_second, [this](const std::filesystem::path& current) {
    auto lease = pool.take();
    return following_file(*lease, setup.roots, current);
  });
  auto pump = std::make_shared<LivePump>(std::move(feed), std::move(child));
  auto held = std::make_shared<FfmpegSlots::Slot>(std::move(slot));
  send_made(
      response,
      [pump](char* buffer, std::size_t n, std::chrono::milliseconds wait) { return pump->next(buffer, n, wait); },
      [pump, held] { pump->finish(); });
}

void ArchiveServer::Impl::send_thumbnail(const Route& route, int t, ArchiveDb& db, HttpResponse& response) {
  const auto detail = recording_detail(db, route.name, route.root, no_lines);
  // Past what the recording covers there is no picture to make.
  if (!detail || t > covered_seconds(detail->summary) + strip_step_s) return send(response, not_found_reply(false));
  if (const auto picture = page_builder_picture(detail->files.thumbnails, t)) {
    if (const auto file = served_file(db, setup.roots, route.root, route.day + "/" + route.name + "thm/" + *picture)) {
      return send_file(*file, response);
    }
  }
  const auto recording = served_file(db, setup.roots, route.root, route.day + "/" + route.name + ".ts");
  if (!recording) return send(response, not_found_reply(false));
  // Two roots may hold recordings of one name: each root's pictures apart.
  const auto made = thumbnails.picture(*recording, route.root.empty() ? route.day : route.root + "/" + route.day,
                                       route.name, t);
  if (made.outcome == ThumbnailCache::Outcome::busy) {
    response.set_header("Retry-After", "2");
    return send(response, {503, "text/plain; charset=UTF-8", "busy\n"});
  }
  if (made.outcome == ThumbnailCache::Outcome::failed) {
    return send(response, {404, "text/plain; charset=UTF-8", "no picture at that moment\n"});
  }
  send_file(made.file, response);
}

void ArchiveServer::Impl::send_file(const std::filesystem::path& file, HttpResponse& response) {
  // Players seek in a .ts: the core answers byte ranges.
  response.set_header("Cache-Control", "max-age=60");
  response.set_file(file, content_type_of(file));
}

ArchiveServer::ArchiveServer(ServerSetup setup, ChildStarter& starter)
    : impl_(std::make_unique<Impl>(std::move(setup), starter)) {}

ArchiveServer::~ArchiveServer() { impl_->server.stop(); }

HttpCore& ArchiveServer::http() { return impl_->server; }

}  // namespace oneseg::archive::web
