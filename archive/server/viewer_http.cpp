#include "viewer_http.h"

#include <cstdio>

#include "broadcast_clock.h"
#include "captions_vtt.h"
#include "handlers.h"
#include "recording_files.h"
#include "recordings.h"
#include "saved_clips.h"
#include "viewer_replies.h"

namespace oneseg::archive::web {
namespace {

void send(HttpResponse& response, const Reply& reply) {
  response.status = reply.status;
  response.set_content(reply.body, reply.content_type);
}

// The answer when an ffmpeg run was not done: every slot busy (the client may
// try again) or nothing made. False when the run was done.
bool sent_unmade(HttpResponse& response, ClipMedia::Outcome outcome, const std::string& failure) {
  if (outcome == ClipMedia::Outcome::busy) {
    response.set_header("Retry-After", "5");
    send(response, {503, "text/plain; charset=UTF-8", "busy: too many clips and thumbnails at once\n"});
    return true;
  }
  if (outcome == ClipMedia::Outcome::failed) send(response, {404, "text/plain; charset=UTF-8", failure});
  return outcome == ClipMedia::Outcome::failed;
}

void send_mp4(HttpResponse& response, const std::filesystem::path& file, const std::string& disposition) {
  response.set_header("Content-Disposition", disposition);
  response.set_header("Cache-Control", "no-store");
  response.set_file(file, "video/mp4");
}

}  // namespace

void ViewerHttp::captions(ArchiveDb& db, const Route& route, int t, HttpResponse& response) {
  const auto source = clip_source(db, roots_, route);
  if (!source) return send(response, not_found_reply(false));
  const auto origin = media_.origin(*source, t);
  if (sent_unmade(response, origin.outcome, "no clip at that moment\n")) return;
  // The player reads where its clip begins on the recording's timeline.
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", origin.seconds);
  response.set_header("X-Clip-Origin", seconds);
  response.set_header("Cache-Control", "no-store");
  send(response, {200, "text/vtt; charset=UTF-8", webvtt(clip_lines(db, route.name, route.root, !source->next.empty()), origin.seconds)});
}

void ViewerHttp::export_clip(ArchiveDb& db, const Route& route, const Parameters& parameters, HttpResponse& response) {
  const auto range = clip_range(parameters);
  if (const auto* message = std::get_if<std::string>(&range)) {
    return send(response, {400, "text/plain; charset=UTF-8", *message + "\n"});
  }
  const auto& r = std::get<ClipRange>(range);
  // A saved clip of this range: its export is kept, to outlive the recording.
  const auto id = moment_parameter(parameters("clip"));
  auto saved = id ? saved_clip(db, *id) : std::nullopt;
  if (saved && (saved->name != route.name || saved->root != route.root || saved->range.from_s != r.from_s ||
                saved->range.to_s != r.to_s)) {
    saved.reset();
  }
  const auto source = clip_source(db, roots_, route);
  const auto detail = recording_detail(db, route.name, route.root);
  const auto start = detail ? seconds_of(detail->summary.start) : std::nullopt;
  if (!source || !start) {
    if (!saved || saved->kept_file.empty()) return send(response, not_found_reply(false));
    const auto name = parse_recording_name(route.name);
    return send_mp4(response, media_.kept_folder() / saved->kept_file,
                    export_disposition(saved->station, name ? name->channel : 0, saved->start));
  }
  const auto made = media_.export_range(*source, route.root + route.name, r.from_s, r.to_s);
  if (sent_unmade(response, made.outcome, "nothing to export in that range\n")) return;
  if (saved) {
    if (const auto kept = media_.keep(made.file, saved->id)) set_kept_file(db, saved->id, *kept);
  }
  send_mp4(response, made.file,
           export_disposition(detail->summary.station, detail->summary.channel, format_broadcast_time(*start + r.from_s)));
}

bool ViewerHttp::is_change(const HttpRequest& request) {
  return request.method == "POST" && request.path.starts_with("/api/clips");
}

void ViewerHttp::change(ArchiveDb& db, const std::string& path, const Parameters& parameters, HttpResponse& response) {
  if (path == "/api/clips") return send(response, save_clip_reply(db, parameters));
  send(response, remove_clip_reply(db, path));
}

}  // namespace oneseg::archive::web
