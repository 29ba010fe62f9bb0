#pragma once
// Reading JSON files field by field: every error names the field and where it lies.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jst_clock.h"

namespace oneseg::synth {

// One JSON object and where it lies in its file, so that every error can
// name the field and its place. `Error` is the exception type the reader throws.
template <class Error>
class JsonNode {
 public:
  JsonNode(const nlohmann::json& j, std::string path) : j_(j), path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  std::string place(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  [[noreturn]] void fail(const std::string& key, const std::string& what) const {
    throw Error(place(key) + ": " + what);
  }
  bool has(const std::string& key) const { return j_.contains(key) && !j_.at(key).is_null(); }
  const nlohmann::json& at(const std::string& key) const {
    if (!has(key)) fail(key, "missing");
    return j_.at(key);
  }
  JsonNode object(const std::string& key) const {
    if (!at(key).is_object()) fail(key, "expected an object");
    return JsonNode(at(key), place(key));
  }
  std::vector<JsonNode> array(const std::string& key) const {
    std::vector<JsonNode> out;
    if (!has(key)) return out;
    if (!at(key).is_array()) fail(key, "expected an array");
    for (std::size_t i = 0; i < at(key).size(); ++i) {
      const std::string p = place(key) + "[" + std::to_string(i) + "]";
      if (!at(key)[i].is_object()) throw Error(p + ": expected an object");
      out.emplace_back(at(key)[i], p);
    }
    return out;
  }
  std::string text(const std::string& key) const {
    if (!at(key).is_string()) fail(key, "expected a string");
    return at(key).template get<std::string>();
  }
  std::string text(const std::string& key, const std::string& fallback) const {
    return has(key) ? text(key) : fallback;
  }
  // An integer given as a JSON number or as a "0x..." string.
  std::int64_t integer(const std::string& key, std::int64_t min, std::int64_t max) const {
    const nlohmann::json& v = at(key);
    std::int64_t value = 0;
    if (v.is_number_integer()) {
      value = v.get<std::int64_t>();
    } else if (v.is_string()) {
      const std::string s = v.get<std::string>();
      char* end = nullptr;
      const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
      value = std::strtoll(s.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);  // never octal
      if (s.empty() || *end != '\0') fail(key, "expected an integer, got \"" + s + "\"");
    } else {
      fail(key, "expected an integer");
    }
    if (value < min || value > max)
      fail(key, std::to_string(value) + " is outside " + std::to_string(min) + ".." + std::to_string(max));
    return value;
  }
  std::int64_t integer(const std::string& key, std::int64_t min, std::int64_t max, std::int64_t fallback) const {
    return has(key) ? integer(key, min, max) : fallback;
  }
  double number(const std::string& key, double min, double max, double fallback) const {
    if (!has(key)) return fallback;
    if (!at(key).is_number()) fail(key, "expected a number");
    const double value = at(key).template get<double>();
    if (!(value >= min && value <= max))
      fail(key, "must lie between " + std::to_string(min) + " and " + std::to_string(max));
    return value;
  }
  bool flag(const std::string& key, bool fallback) const {
    if (!has(key)) return fallback;
    if (!at(key).is_boolean()) fail(key, "expected true or false");
    return at(key).template get<bool>();
  }
  JstSeconds time(const std::string& key) const {
    const auto t = parse_jst(text(key));
    if (!t) fail(key, "expected a date-time \"YYYY-MM-DDTHH:MM:SS\", got \"" + text(key) + "\"");
    return *t;
  }
  int duration(const std::string& key) const {
    const std::string s = text(key);
    int h = 0, m = 0, sec = 0, n = 0;
    if (std::sscanf(s.c_str(), "%d:%2d:%2d%n", &h, &m, &sec, &n) != 3 ||
        static_cast<std::size_t>(n) != s.size() || h < 0 || h > 99 || m > 59 || sec > 59 || m < 0 || sec < 0)
      fail(key, "expected a duration \"HH:MM:SS\", got \"" + s + "\"");
    return h * 3600 + m * 60 + sec;
  }

 private:
  const nlohmann::json& j_;
  std::string path_;
};

}  // namespace oneseg::synth
