#include "serve_options.h"

#include <charconv>
#include <fstream>

namespace oneseg::archive::web {
namespace {

bool parse_listen(const std::string& text, ServeOptions& options) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int port = 0;
  const auto* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data() + colon + 1, end, port);
  if (error != std::errc() || rest != end || port < 0 || port > 65535) return false;
  options.host = host;
  options.port = port;
  return true;
}

}  // namespace

bool is_loopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  return host.starts_with("127.") &&
         host.find_first_not_of("0123456789.") == std::string::npos;
}

ParsedServeOptions parse_serve_options(const std::vector<std::string>& args,
                                       std::string (*make_token)()) {
  ServeOptions options;
  bool token_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--listen" && has_value) {
      if (!parse_listen(args[++i], options)) return {{}, "--listen wants HOST:PORT, e.g. 127.0.0.1:8470"};
    } else if (arg == "--on-alert" && has_value && options.on_alert.empty()) {
      options.on_alert = args[++i];
      if (options.on_alert.empty()) return {{}, "--on-alert wants a program"};
    } else if (arg == "--thumbnail-cache" && has_value) {
      const std::string& mb = args[++i];
      const auto [end, error] = std::from_chars(mb.data(), mb.data() + mb.size(), options.thumbnail_cache_mb);
      if (error != std::errc() || end != mb.data() + mb.size() || options.thumbnail_cache_mb < 1) {
        return {{}, "--thumbnail-cache wants megabytes, 1 or more"};
      }
    } else if (arg == "--token" && has_value) {
      options.token = args[++i];
      token_given = true;
    } else {
      return {{}, "unknown or incomplete option " + arg};
    }
  }
  if (token_given && options.token.size() < 16) return {{}, "--token must be at least 16 characters"};
  if (!token_given && !is_loopback(options.host)) options.token = make_token();
  return {options, {}};
}

std::string random_token() {
  std::ifstream random("/dev/urandom", std::ios::binary);
  unsigned char bytes[16] = {};
  random.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  static constexpr char digits[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

std::string presented_token(const std::string& token_parameter, const std::string& authorization,
                            const std::string& cookie) {
  if (!token_parameter.empty()) return token_parameter;
  static constexpr std::string_view bearer = "Bearer ";
  if (authorization.starts_with(bearer)) return authorization.substr(bearer.size());
  static constexpr std::string_view name = "oneseg_token=";
  std::size_t at = 0;
  while ((at = cookie.find(name, at)) != std::string::npos) {
    if (at == 0 || cookie[at - 1] == ' ' || cookie[at - 1] == ';') {
      const auto begin = at + name.size();
      return cookie.substr(begin, cookie.find(';', begin) - begin);
    }
    at += name.size();
  }
  return {};
}

bool host_allowed(const std::string& host_header) {
  if (host_header.empty()) return true;
  std::string host = host_header;
  if (host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string::npos) return false;
    host = host.substr(1, close - 1);
  } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
    host = host.substr(0, colon);
  }
  return is_loopback(host);
}

bool token_matches(const std::string& expected, const std::string& presented) {
  if (expected.size() != presented.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference |= static_cast<unsigned char>(expected[i] ^ presented[i]);
  }
  return difference == 0;
}

}  // namespace oneseg::archive::web
