#pragma once
// The player's requests over HTTP: a clip's captions (GET /captions/...),
// the export of a range (GET /export/...) and the saved clips' changes
// (POST /api/clips, POST /api/clips/<id>/delete).
#include <filesystem>
#include <vector>

#include "archive_db.h"
#include "child_process.h"
#include "clip_media.h"
#include "ffmpeg_slots.h"
#include "http_core.h"
#include "request.h"
#include "roots.h"

namespace oneseg::archive::web {

class ViewerHttp {
 public:
  // `work_folder`: beside the database (exports and saved clips' files).
  ViewerHttp(const std::vector<ArchiveRoot>& roots, std::filesystem::path work_folder, ChildStarter& starter,
             FfmpegSlots& slots)
      : roots_(roots), media_(starter, slots, std::move(work_folder)) {}

  void captions(ArchiveDb& db, const Route& route, int t, HttpResponse& response);
  void export_clip(ArchiveDb& db, const Route& route, const Parameters& parameters, HttpResponse& response);
  // Whether this method and path are the saved clips' changes (the caller
  // has checked that the archive's own page made the request).
  static bool is_change(const HttpRequest& request);
  void change(ArchiveDb& db, const std::string& path, const Parameters& parameters, HttpResponse& response);

 private:
  const std::vector<ArchiveRoot>& roots_;
  ClipMedia media_;
};

}  // namespace oneseg::archive::web
