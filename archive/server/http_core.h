#pragma once
// The server's HTTP core. Request heads are read without holding a thread, each
// within a deadline in all (not per read), and each client address may hold
// only so many connections: a client that trickles its head, or many of them,
// never keeps others waiting. A complete request goes to a worker thread,
// whose handler may block (the index, ffmpeg); its answer is written as it is
// made: whole, a file with byte ranges, or a stream of chunks.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace oneseg::archive::web {

struct HttpLimits {
  std::chrono::milliseconds head_time{10000};  // to receive a request's head and body, from its first wait
  std::chrono::milliseconds write_time{30000};  // for the client to take any further bytes of an answer
  int connections_per_address = 32;
  int connections = 512;
  int workers = 32;  // requests answered at once
  std::size_t head_bytes = 16 * 1024;
  std::size_t body_bytes = 64 * 1024;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string path;  // percent-decoded
  std::string remote_address;
  Fields params;   // the query's, percent-decoded, in order
  Fields headers;  // in order

  bool has_param(const char* name) const;
  // The first value, "" when absent.
  std::string get_param_value(const char* name) const;
  // Names compared without regard to case; "" when absent.
  std::string get_header_value(const char* name) const;
};

// Where a streamed answer's bytes go.
class DataSink {
 public:
  virtual ~DataSink() = default;
  // false: the client is gone or the server stops; the stream ends.
  virtual bool write(const char* data, std::size_t length) = 0;
  // The answer is complete.
  virtual void done() = 0;
};

// Called again and again until it calls sink.done() or returns false (the
// stream is cut off); offset: bytes sent so far. It may wait a little for its
// source and return true having written nothing: the core then checks that
// the client is still there before asking again.
using ChunkProvider = std::function<bool(std::size_t offset, DataSink& sink)>;
// Called once, when the stream has ended: true when it was complete.
using StreamEnd = std::function<void(bool complete)>;

struct HttpResponse {
  int status = 200;
  Fields headers;
  std::string content_type;
  std::string body;
  std::filesystem::path file;  // not empty: the body is this file, with byte ranges
  ChunkProvider chunks;        // set: the body is streamed in chunks
  StreamEnd chunks_end;

  void set_header(std::string name, std::string value);
  void set_content(std::string text, std::string type);
  void set_file(std::filesystem::path path, std::string type);
  void set_chunked_content_provider(std::string type, ChunkProvider provider, StreamEnd end = {});
};

using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;

class HttpCore {
 public:
  explicit HttpCore(HttpHandler handler, HttpLimits limits = {});
  ~HttpCore();
  HttpCore(const HttpCore&) = delete;
  HttpCore& operator=(const HttpCore&) = delete;

  // The port bound (port 0: any free one), or -1.
  int bind(const std::string& host, int port);
  // Serves until stop(); false when it could not.
  bool listen();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "%41+b" as "A b" (plus: a query's space); a malformed escape stays as it is.
std::string percent_decoded(std::string_view text, bool plus_is_space);

}  // namespace oneseg::archive::web
