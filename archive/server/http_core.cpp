#include "http_core.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <thread>

#include "byte_ranges.h"

namespace oneseg::archive::web {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Message = http::request<http::string_body>;

constexpr const char* text_type = "text/plain; charset=UTF-8";

std::string_view view(beast::string_view text) { return {text.data(), text.size()}; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// What every connection shares: the handler, the limits, who holds how many
// connections, and the workers.
struct CoreState {
  CoreState(HttpHandler h, HttpLimits l) : handler(std::move(h)), limits(l) {}

  bool admit(const std::string& address) {
    std::lock_guard lock(mutex);
    int& held = per_address[address];
    if (open >= limits.connections || held >= limits.connections_per_address) {
      if (held == 0) per_address.erase(address);
      return false;
    }
    ++held;
    ++open;
    return true;
  }

  void release(const std::string& address) {
    std::lock_guard lock(mutex);
    --open;
    if (--per_address[address] <= 0) per_address.erase(address);
  }

  HttpHandler handler;
  HttpLimits limits;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::map<std::string, int> per_address;
  int open = 0;
};

// An answer's bytes onto a non-blocking socket, waiting at most the write
// time for the client to take more each time its buffer is full.
class Wire {
 public:
  Wire(int fd, const CoreState& state) : fd_(fd), state_(state) {}

  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      } else if (!(sent < 0 && errno == EINTR) && !(sent < 0 && would_block() && writable())) {
        return false;
      }
    }
    return true;
  }

  bool send_file(int file, std::uint64_t offset, std::uint64_t length) {
    auto at = static_cast<off_t>(offset);
    while (length > 0) {
      const auto sent = ::sendfile(fd_, file, &at, std::min<std::uint64_t>(length, 1 << 20));
      if (sent > 0) {
        length -= static_cast<std::uint64_t>(sent);
      } else if (sent == 0 || (errno != EINTR && !(would_block() && writable()))) {
        return false;  // the file shrank, or the client is gone
      }
    }
    return true;
  }

  // Whether the client has closed its side (bytes it sent ahead do not count).
  bool client_gone() const {
    if (state_.stopping) return true;
    char byte;
    const auto got = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && !would_block());
  }

 private:
  static bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

  bool writable() const {
    const auto deadline = std::chrono::steady_clock::now() + state_.limits.write_time;
    while (!state_.stopping && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, 250);  // short waits, so that a stop is seen
      if (ready > 0) return (p.revents & (POLLERR | POLLHUP)) == 0;
      if (ready < 0 && errno != EINTR) return false;
    }
    return false;
  }

  int fd_;
  const CoreState& state_;
};

class FileHandle {
 public:
  explicit FileHandle(const std::filesystem::path& file) : fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A stream's chunks as they are made.
class StreamSink : public DataSink {
 public:
  StreamSink(Wire& wire, bool chunked) : wire_(wire), chunked_(chunked) {}

  bool write(const char* data, std::size_t length) override {
    if (failed) return false;
    if (length == 0) return true;
    wrote = true;
    std::string piece;
    if (chunked_) {
      char size[24];
      piece.reserve(length + 32);
      piece.append(size, static_cast<std::size_t>(std::snprintf(size, sizeof size, "%zx\r\n", length)));
    }
    piece.append(data, length);
    if (chunked_) piece.append("\r\n");
    failed = !wire_.send(piece);
    if (!failed) sent += length;
    return !failed;
  }
  void done() override { finished = true; }

  bool wrote = false, finished = false, failed = false;
  std::size_t sent = 0;

 private:
  Wire& wire_;
  bool chunked_;
};

std::string boundary() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "oneseg-%016llx", static_cast<unsigned long long>(random()));
  return text;
}

HttpRequest request_of(const Message& message, const std::string& address) {
  HttpRequest request;
  request.method = std::string(view(message.method_string()));
  request.remote_address = address;
  const std::string_view target = view(message.target());
  const auto question = target.find('?');
  request.path = percent_decoded(target.substr(0, question), false);
  std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  while (!query.empty()) {
    const auto amp = query.find('&');
    const auto pair = query.substr(0, amp);
    if (!pair.empty()) {
      const auto equals = pair.find('=');
      request.params.emplace_back(percent_decoded(pair.substr(0, equals), true),
                                  equals == std::string_view::npos ? "" : percent_decoded(pair.substr(equals + 1), true));
    }
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
  }
  for (const auto& field : message) request.headers.emplace_back(view(field.name_string()), view(field.value()));
  return request;
}

// One client connection: its request heads are read by the I/O threads, its
// answers made and written by a worker.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(CoreState& state, net::thread_pool& workers, tcp::socket socket, std::string address)
      : state_(state), workers_(workers), stream_(std::move(socket)), address_(std::move(address)) {}
  ~Connection() { state_.release(address_); }

  void read_head() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(state_.limits.head_bytes));
    parser_->body_limit(state_.limits.body_bytes);
    // One deadline for the whole head (and body), however it trickles in.
    stream_.expires_after(state_.limits.head_time);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) { self->on_read(error); });
  }

 private:
  void on_read(beast::error_code error) {
    if (error == http::error::header_limit) return refuse(431, "request head too large\n");
    if (error == http::error::body_limit) return refuse(413, "request body too large\n");
    if (error == http::error::end_of_stream || error == beast::error::timeout || error == net::error::eof ||
        error == net::error::connection_reset || error == net::error::operation_aborted) {
      return;  // gone, or too slow: the connection closes with this object
    }
    if (error) return refuse(400, "malformed request\n");
    const unsigned version = parser_->get().version();
    if (version != 10 && version != 11) return refuse(400, "HTTP/1.0 or HTTP/1.1 only\n");
    stream_.expires_never();
    net::post(workers_, [self = shared_from_this()] { self->serve(); });
  }

  // A short answer to a request that goes no further, then the end.
  void refuse(int status, const char* text) {
    auto answer = std::make_shared<std::string>("HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                                                "\r\nContent-Type: " + text_type + "\r\nContent-Length: " +
                                                std::to_string(std::strlen(text)) + "\r\nConnection: close\r\n\r\n" + text);
    stream_.expires_after(std::chrono::seconds(5));
    net::async_write(stream_, net::buffer(*answer), [self = shared_from_this(), answer](beast::error_code, std::size_t) {
      beast::error_code ignored;
      self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    });
  }

  void serve() {
    const Message& message = parser_->get();
    const HttpRequest request = request_of(message, address_);
    HttpResponse response;
    try {
      state_.handler(request, response);
    } catch (const std::exception&) {
      response = HttpResponse{};
      response.status = 500;
      response.set_content("internal error\n", text_type);
    }
    version_ = message.version();
    head_only_ = message.method() == http::verb::head;
    keep_ = message.keep_alive() && !state_.stopping;
    Wire wire(stream_.socket().native_handle(), state_);
    if (answer(wire, request, response)) {
      net::post(stream_.get_executor(), [self = shared_from_this()] { self->read_head(); });
    } else {
      beast::error_code ignored;
      stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    }
  }

  // Whether the connection may carry another request.
  bool answer(Wire& wire, const HttpRequest& request, HttpResponse& response) {
    if (!response.file.empty()) return answer_file(wire, request, response);
    if (response.chunks) return answer_stream(wire, response);
    std::string text = heading(response, response.body.size());
    if (!head_only_) text += response.body;
    return wire.send(text) && keep_;
  }

  // length: none for a stream (chunked, or to the connection's end for HTTP/1.0).
  std::string heading(const HttpResponse& response, std::optional<std::uint64_t> length) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) + "\r\n";
    if (!response.content_type.empty()) text += "Content-Type: " + response.content_type + "\r\n";
    for (const auto& [name, value] : response.headers) {
      if (value.find_first_of("\r\n") == std::string::npos) text += name + ": " + value + "\r\n";
    }
    if (length) {
      text += "Content-Length: " + std::to_string(*length) + "\r\n";
    } else if (version_ == 11) {
      text += "Transfer-Encoding: chunked\r\n";
    } else {
      keep_ = false;
    }
    if (!keep_) {
      text += "Connection: close\r\n";
    } else if (version_ == 10) {
      text += "Connection: keep-alive\r\n";
    }
    return text + "\r\n";
  }

  bool answer_file(Wire& wire, const HttpRequest& request, HttpResponse& response) {
    const FileHandle file(response.file);
    struct stat about {};
    if (file.fd() < 0 || ::fstat(file.fd(), &about) != 0 || !S_ISREG(about.st_mode)) {
      response = HttpResponse{};
      response.status = 404;
      response.set_content("not found\n", text_type);
      return answer(wire, request, response);
    }
    const auto size = static_cast<std::uint64_t>(about.st_size);
    response.set_header("Accept-Ranges", "bytes");
    // A conditional range is not checked here (no validators are sent): the whole file.
    const RangeAnswer ranges = response.status != 200 || !request.get_header_value("If-Range").empty()
                                   ? RangeAnswer{}
                                   : answer_ranges(request.get_header_value("Range"), size);
    if (ranges.kind == RangeAnswer::Kind::unsatisfiable) {
      response.status = 416;
      response.set_header("Content-Range", unsatisfied_range(size));
      response.file.clear();
      response.set_content("range not satisfiable\n", text_type);
      return answer(wire, request, response);
    }
    if (ranges.kind == RangeAnswer::Kind::whole || ranges.ranges.size() == 1) {
      const ByteRange whole{0, size == 0 ? 0 : size - 1};
      const ByteRange part = ranges.kind == RangeAnswer::Kind::whole ? whole : ranges.ranges.front();
      const std::uint64_t length = ranges.kind == RangeAnswer::Kind::whole ? size : part.length();
      if (ranges.kind == RangeAnswer::Kind::partial) {
        response.status = 206;
        response.set_header("Content-Range", content_range(part, size));
      }
      if (!wire.send(heading(response, length))) return false;
      return (head_only_ || wire.send_file(file.fd(), part.first, length)) && keep_;
    }
    const auto body = multipart_body(ranges.ranges, size, response.content_type, boundary());
    response.status = 206;
    response.content_type = "multipart/byteranges; boundary=" + body.closing.substr(4, body.closing.size() - 8);
    if (!wire.send(heading(response, body.length))) return false;
    if (head_only_) return keep_;
    for (const auto& [text, range] : body.parts) {
      if (!wire.send(text) || !wire.send_file(file.fd(), range.first, range.length())) return false;
    }
    return wire.send(body.closing) && keep_;
  }

  bool answer_stream(Wire& wire, HttpResponse& response) {
    const bool chunked = version_ == 11;
    bool complete = false;
    bool sent_head = wire.send(heading(response, std::nullopt));
    if (sent_head && !head_only_) {
      StreamSink sink(wire, chunked);
      while (!sink.finished && !sink.failed) {
        sink.wrote = false;
        if (!response.chunks(sink.sent, sink)) break;
        if (!sink.wrote && !sink.finished && wire.client_gone()) break;
      }
      complete = sink.finished && !sink.failed && (!chunked || wire.send("0\r\n\r\n"));
    }
    if (response.chunks_end) response.chunks_end(complete);
    return (head_only_ ? sent_head : complete) && keep_;
  }

  CoreState& state_;
  net::thread_pool& workers_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string address_;
  unsigned version_ = 11;
  bool head_only_ = false;
  bool keep_ = false;
};

}  // namespace

std::string percent_decoded(std::string_view text, bool plus_is_space) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(plus_is_space && text[i] == '+' ? ' ' : text[i]);
    }
  }
  return decoded;
}

bool HttpRequest::has_param(const char* name) const {
  return std::any_of(params.begin(), params.end(), [name](const auto& p) { return p.first == name; });
}

std::string HttpRequest::get_param_value(const char* name) const {
  const auto found = std::find_if(params.begin(), params.end(), [name](const auto& p) { return p.first == name; });
  return found == params.end() ? std::string() : found->second;
}

std::string HttpRequest::get_header_value(const char* name) const {
  const auto found = std::find_if(headers.begin(), headers.end(), [name](const auto& h) { return same_name(h.first, name); });
  return found == headers.end() ? std::string() : found->second;
}

void HttpResponse::set_header(std::string name, std::string value) {
  headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::set_content(std::string text, std::string type) {
  body = std::move(text);
  content_type = std::move(type);
}

void HttpResponse::set_file(std::filesystem::path path, std::string type) {
  file = std::move(path);
  content_type = std::move(type);
}

void HttpResponse::set_chunked_content_provider(std::string type, ChunkProvider provider, StreamEnd end) {
  content_type = std::move(type);
  chunks = std::move(provider);
  chunks_end = std::move(end);
}

struct HttpCore::Impl {
  Impl(HttpHandler handler, HttpLimits limits)
      : state(std::move(handler), limits), workers(static_cast<std::size_t>(std::max(1, limits.workers))) {}

  void accept() {
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (!error) {
        welcome(std::move(socket));
        return accept();
      }
      // Out of descriptors or the like: try again a little later, not in a tight loop.
      retry.expires_after(std::chrono::milliseconds(100));
      retry.async_wait([this](beast::error_code) { accept(); });
    });
  }

  void welcome(tcp::socket socket) {
    beast::error_code error;
    const auto peer = socket.remote_endpoint(error);
    if (error) return;
    const std::string address = peer.address().to_string();
    if (!state.admit(address)) {
      static constexpr std::string_view busy =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nRetry-After: 5\r\nConnection: close\r\n\r\n";
      ::send(socket.native_handle(), busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      return;
    }
    socket.set_option(tcp::no_delay(true), error);  // heading and body are separate writes
    socket.non_blocking(true, error);
    std::make_shared<Connection>(state, workers, std::move(socket), address)->read_head();
  }

  CoreState state;
  net::io_context io;
  tcp::acceptor acceptor{io};
  net::steady_timer retry{io};
  // Declared last: joined first, while the sockets its work holds can still close.
  net::thread_pool workers;
};

HttpCore::HttpCore(HttpHandler handler, HttpLimits limits)
    : impl_(std::make_unique<Impl>(std::move(handler), limits)) {}

HttpCore::~HttpCore() {
  stop();
  impl_->workers.join();
}

int HttpCore::bind(const std::string& host, int port) {
  beast::error_code error;
  tcp::resolver resolver(impl_->io);
  const auto found = resolver.resolve(host, std::to_string(port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, error);
  if (error || found.empty()) return -1;
  const tcp::endpoint endpoint = found.begin()->endpoint();
  auto& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(512, error);
  if (error) {
    acceptor.close(error);
    return -1;
  }
  return acceptor.local_endpoint().port();
}

bool HttpCore::listen() {
  if (!impl_->acceptor.is_open() || impl_->state.stopping) return false;
  impl_->accept();
  std::thread second([this] { impl_->io.run(); });
  impl_->io.run();
  second.join();
  impl_->workers.join();  // answers under way see the stop and end
  return true;
}

void HttpCore::stop() {
  impl_->state.stopping = true;
  net::post(impl_->io, [this] {
    beast::error_code ignored;
    impl_->acceptor.close(ignored);
    impl_->retry.cancel();
  });
  impl_->io.stop();
}

}  // namespace oneseg::archive::web
