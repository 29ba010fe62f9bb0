#pragma once
// The command line of `oneseg-archive serve`, and who may use the server.
#include <optional>
#include <string>
#include <vector>

namespace oneseg::archive::web {

// --root and --db are the archive's shared options (cli.h).
struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8470;
  std::string token;         // empty: no token (loopback only)
  int ffmpeg_runs = 4;
  std::string on_alert;      // program run for each alert (alert_delivery.h); "" = none
  int thumbnail_cache_mb = 500;  // --thumbnail-cache MB: pictures made, oldest removed beyond it
};

struct ParsedServeOptions {
  std::optional<ServeOptions> options;
  std::string error;  // when options is empty: what was wrong, for standard error
};

// The arguments left after the shared options. Listening on an address
// other than the loopback needs a token; when none is given, `make_token`
// makes one (the caller prints it).
ParsedServeOptions parse_serve_options(const std::vector<std::string>& args,
                                       std::string (*make_token)());

bool is_loopback(const std::string& host);

// 32 random hexadecimal digits from the system's random source.
std::string random_token();

// The token a request carries, from its "token" parameter, its
// "Authorization: Bearer" header or its "oneseg_token" cookie.
std::string presented_token(const std::string& token_parameter, const std::string& authorization,
                            const std::string& cookie);

// Whether a Host header names the loopback ("127.0.0.1:8470",
// "localhost", "[::1]:8470"); an empty one (HTTP/1.0) passes.
bool host_allowed(const std::string& host_header);

// Compares in time independent of where the strings differ.
bool token_matches(const std::string& expected, const std::string& presented);

}  // namespace oneseg::archive::web
