// The studio's HTTP and WebSocket server on Boost.Beast. All network code
// of the studio is in this file and runs on one I/O thread; renders run on
// the render worker and the render queue (workers.h), whose results come
// back to the I/O thread through posted handlers.
#include "server.h"

#include "requests.h"
#include "session.h"
#include "workers.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/range/iterator_range.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <ombrix/platform/files.h>
#include <ombrix/platform/launch.h>

#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace ombrix::studio {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace fs = std::filesystem;
namespace plat = ombrix::platform;
using tcp = net::ip::tcp;
using nlohmann::json;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

constexpr uint64_t kMaxBody = 8 << 20;            // a request's body
constexpr uint32_t kMaxHeader = 64 << 10;         // a request's header
constexpr size_t kMaxMessage = 1 << 20;           // a message from the page
constexpr size_t kMaxQueued = size_t(512) << 20;  // unsent bytes before a page is dropped
constexpr auto kIdle = std::chrono::seconds(60);  // a connection without traffic
constexpr auto kStopGrace = std::chrono::seconds(1);

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

// JSON text; bytes that are not UTF-8 (a file name, a plug-in's message)
// are replaced rather than failing the answer.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

Response JsonResponse(http::status status, const json& body) {
  Response response{status, 11};
  response.set(http::field::content_type, "application/json");
  response.body() = Dump(body);
  return response;
}

Response ErrorResponse(http::status status, const std::string& message) {
  return JsonResponse(status, {{"error", message}});
}

using Reply = std::function<void(Response)>;

class Socket;

// What every connection shares: the session, the workers, the open sockets.
class Server {
 public:
  Server(net::io_context& ioc, tcp::acceptor acceptor, Session& session, std::string token, fs::path web)
      : ioc_(ioc),
        acceptor_(std::move(acceptor)),
        session_(session),
        queue_(session, [this](const json& job) { QueueChanged(job); }),
        port_(acceptor_.local_endpoint().port()),
        token_(std::move(token)),
        web_(std::move(web)),
        stop_timer_(ioc) {}

  uint16_t port() const { return port_; }
  Session& session() { return session_; }
  RenderWorker& worker() { return worker_; }
  bool stopping() const { return stopping_; }

  void Accept();
  // Runs `f` on the I/O thread.
  void Post(std::function<void()> f) { net::post(ioc_, std::move(f)); }
  // I/O thread only.
  void Broadcast(const json& message);
  // From the queue's thread: a job's new state, to every page.
  void QueueChanged(const json& job) {
    Post([this, job] { Broadcast({{"type", "queue"}, {"job", job}}); });
  }
  void Opened(const std::shared_ptr<Socket>& socket) { sockets_.push_back(socket); }
  void Closed(const Socket* socket);
  // Why a request is refused (wrong Host, a socket from another site, no token), or nothing.
  std::optional<std::string> Refusal(const Request& request, bool upgrade) const;
  void Handle(Request request, Reply reply);
  // Cancels the renders, closes the sockets and ends the I/O loop.
  void Stop();

 private:
  bool CarriesToken(const Request& request) const;
  void Api(const Request& request, std::string_view path, std::string_view query, const Reply& reply);
  void Frame(std::string_view query, const Reply& reply);
  Response StaticFile(std::string_view path) const;

  net::io_context& ioc_;
  tcp::acceptor acceptor_;
  Session& session_;
  RenderWorker worker_;
  RenderQueue queue_;
  uint16_t port_;
  std::string token_;
  fs::path web_;
  std::vector<std::weak_ptr<Socket>> sockets_;
  bool stopping_ = false;
  net::steady_timer stop_timer_;
};

// A page's WebSocket: preview requests in, previews and notices out.
class Socket : public std::enable_shared_from_this<Socket> {
 public:
  Socket(tcp::socket socket, Server& server) : ws_(std::move(socket)), server_(server) {}

  void Accept(Request request) {
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "ombrix studio"); }));
    ws_.read_message_max(kMaxMessage);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (ec || self->server_.stopping()) return;
      self->open_ = true;
      self->server_.Opened(self);
      self->Read();
    });
  }

  // I/O thread only.
  void Send(std::string data, bool binary) {
    if (!open_ || closing_) return;
    if (queued_ + data.size() > kMaxQueued) {
      // A page that stopped reading: drop it rather than hold its frames.
      open_ = false;
      beast::get_lowest_layer(ws_).close();
      return;
    }
    queued_ += data.size();
    outgoing_.push_back({std::move(data), binary});
    if (outgoing_.size() == 1) WriteNext();
  }

  void Close() {
    if (!open_ || closing_) return;
    closing_ = true;
    // Frames not yet started are dropped; the one being written ends first.
    while (outgoing_.size() > 1) outgoing_.pop_back();
    if (outgoing_.empty()) CloseNow();
  }

 private:
  struct Outgoing {
    std::string data;
    bool binary = false;
  };

  void Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (ec) {
      open_ = false;
      server_.worker().Forget(this);
      server_.Closed(this);
      return;
    }
    if (ws_.got_text()) Message(beast::buffers_to_string(buffer_.data()));
    buffer_.consume(buffer_.size());
    Read();
  }

  void Message(const std::string& text) {
    const json message = json::parse(text, nullptr, false);
    if (!message.is_object() || message.value("type", json()) != "preview") return;
    const json id = message.value("id", json());
    const json frame = message.value("frame", json(0));
    const json downsample = message.value("downsample", json("1/1"));
    if (!frame.is_number_integer() || !downsample.is_string()) {
      Send(Dump({{"type", "preview_error"},
                 {"id", id},
                 {"error", "a preview needs a frame number and a downsample such as \"1/2\""}}),
           false);
      return;
    }
    Preview(id, frame.get<int64_t>(), downsample.get<std::string>());
  }

  void Preview(const json& id, int64_t frame, const std::string& downsample) {
    Server& server = server_;
    const std::weak_ptr<Socket> weak = shared_from_this();
    auto deliver = [&server, weak](json head, std::string png) {
      server.Post([weak, head = std::move(head), png = std::move(png)]() mutable {
        const auto socket = weak.lock();
        if (!socket) return;
        socket->Send(Dump(head), false);
        if (!png.empty()) socket->Send(std::move(png), true);
      });
    };
    const json cancelled = {{"type", "preview_cancelled"}, {"id", id}};
    RenderWorker::Task task;
    task.owner = this;
    task.dropped = [deliver, cancelled] { deliver(cancelled, {}); };
    task.run = [&server, deliver, cancelled, id, frame, downsample](const std::atomic<bool>& cancel) {
      const auto start = std::chrono::steady_clock::now();
      try {
        const std::optional<studio::Frame> image = server.session().Render(frame, downsample, &cancel);
        if (!image || cancel) return deliver(cancelled, {});
        const std::vector<uint8_t> png = server.session().EncodePng(*image);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        deliver({{"type", "preview"},
                 {"id", id},
                 {"frame", frame},
                 {"downsample", downsample},
                 {"width", image->width},
                 {"height", image->height},
                 {"ms", ms}},
                std::string(png.begin(), png.end()));
      } catch (const std::exception& e) {
        deliver({{"type", "preview_error"}, {"id", id}, {"error", e.what()}}, {});
      }
    };
    server_.worker().Submit(std::move(task));
  }

  void WriteNext() {
    ws_.binary(outgoing_.front().binary);
    ws_.async_write(net::buffer(outgoing_.front().data), [self = shared_from_this()](beast::error_code ec, size_t) {
      self->queued_ -= self->outgoing_.front().data.size();
      self->outgoing_.pop_front();
      if (ec) return;
      if (!self->outgoing_.empty()) {
        self->WriteNext();
      } else if (self->closing_) {
        self->CloseNow();
      }
    });
  }

  void CloseNow() {
    ws_.async_close(websocket::close_code::going_away, [self = shared_from_this()](beast::error_code) {});
  }

  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
  std::deque<Outgoing> outgoing_;
  size_t queued_ = 0;
  bool open_ = false, closing_ = false;
  Server& server_;
};

// One HTTP connection: requests read one after the other, each answered
// before the next is read; an upgrade hands the socket to a Socket.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}

  void Read() {
    parser_.emplace();
    parser_->body_limit(kMaxBody);
    parser_->header_limit(kMaxHeader);
    stream_.expires_after(kIdle);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
  }

 private:
  void OnRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream) return Drain();
    if (ec == http::error::body_limit) return Refuse(http::status::payload_too_large, "the request is too large");
    if (ec == http::error::header_limit) {
      return Refuse(http::status::request_header_fields_too_large, "the request's header is too large");
    }
    // A malformed request is answered once and the connection closed; other
    // errors (a reset, a timeout, the server stopping) just end it.
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category()) {
      return Refuse(http::status::bad_request, "malformed request");
    }
    if (ec || server_.stopping()) return;
    Request request = parser_->release();
    if (websocket::is_upgrade(request)) return Upgrade(std::move(request));
    const bool keep_alive = request.keep_alive();
    const unsigned version = request.version();
    server_.Handle(std::move(request), [self = shared_from_this(), keep_alive, version](Response response) {
      response.version(version);
      response.keep_alive(keep_alive);
      self->server_.Post([self, response = std::move(response)]() mutable { self->Write(std::move(response)); });
    });
  }

  void Upgrade(Request request) {
    if (SplitTarget(View(request.target())).path != "/ws") {
      return Refuse(http::status::not_found, "no such socket");
    }
    if (const auto why = server_.Refusal(request, true)) return Refuse(http::status::forbidden, *why);
    std::make_shared<Socket>(stream_.release_socket(), server_)->Accept(std::move(request));
  }

  void Refuse(http::status status, const std::string& message) {
    Response response = ErrorResponse(status, message);
    response.keep_alive(false);
    Write(std::move(response));
  }

  void Write(Response response) {
    response.set(http::field::server, "ombrix studio");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set("X-Frame-Options", "DENY");
    response.prepare_payload();
    auto shared = std::make_shared<Response>(std::move(response));
    stream_.expires_after(kIdle);
    http::async_write(stream_, *shared, [self = shared_from_this(), shared](beast::error_code ec, size_t) {
      if (ec) return;
      if (shared->need_eof() || self->server_.stopping()) return self->Drain();
      self->Read();
    });
  }

  // Ends the connection after an answer. What the client is still sending
  // is read and dropped first: closing with unread bytes resets the
  // connection, and the client could lose the answer.
  void Drain() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return;
    stream_.expires_after(std::chrono::seconds(2));
    drained_ = 0;
    DrainMore();
  }
  void DrainMore() {
    stream_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, size_t n) {
      self->drained_ += n;
      if (!ec && self->drained_ < kMaxBody) self->DrainMore();
    });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::array<char, 4096> scratch_{};
  size_t drained_ = 0;
  Server& server_;
};

void Server::Accept() {
  acceptor_.async_accept(ioc_, [this](beast::error_code ec, tcp::socket socket) {
    if (stopping_) return;
    if (!ec) std::make_shared<Connection>(std::move(socket), *this)->Read();
    Accept();
  });
}

void Server::Broadcast(const json& message) {
  const std::string text = Dump(message);
  for (const auto& weak : sockets_) {
    if (const auto socket = weak.lock()) socket->Send(text, false);
  }
}

void Server::Closed(const Socket* closed) {
  std::erase_if(sockets_, [closed](const std::weak_ptr<Socket>& s) {
    const auto socket = s.lock();
    return !socket || socket.get() == closed;
  });
  // Stopping: the loop ends once the last page has been told.
  if (stopping_ && sockets_.empty()) ioc_.stop();
}

bool Server::CarriesToken(const Request& request) const {
  const Target target = SplitTarget(View(request.target()));
  if (const auto token = QueryValue(target.query, "token"); token && SameToken(*token, token_)) return true;
  if (const auto header = request.find("X-Ombrix-Token"); header != request.end()) {
    if (SameToken(View(header->value()), token_)) return true;
  }
  const std::string cookie_name = "ombrix_studio_" + std::to_string(port_);
  const auto [first, last] = request.equal_range(http::field::cookie);
  for (const auto& field : boost::make_iterator_range(first, last)) {
    if (const auto cookie = CookieValue(View(field.value()), cookie_name); cookie && SameToken(*cookie, token_)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> Server::Refusal(const Request& request, bool upgrade) const {
  if (!HostAllowed(View(request[http::field::host]), port_)) return "the request's Host is not this server";
  if (upgrade) {
    const auto origin = request.find(http::field::origin);
    if (origin != request.end() && !OriginAllowed(View(origin->value()), port_)) {
      return "the socket was opened by a page of another site";
    }
  }
  if (!CarriesToken(request)) return "the request does not carry the studio's token";
  return std::nullopt;
}

void Server::Handle(Request request, Reply reply) {
  if (const auto why = Refusal(request, false)) return reply(ErrorResponse(http::status::forbidden, *why));
  const Target target = SplitTarget(View(request.target()));
  // The page was opened with the token in its address: later requests
  // (its scripts, its socket) carry it in the cookie.
  if (const auto token = QueryValue(target.query, "token"); token && SameToken(*token, token_)) {
    reply = [reply, cookie = "ombrix_studio_" + std::to_string(port_) + "=" + token_ +
                             "; Path=/; HttpOnly; SameSite=Strict"](Response response) {
      response.set(http::field::set_cookie, cookie);
      reply(std::move(response));
    };
  }
  if (target.path.substr(0, 5) == "/api/") {
    Api(request, target.path, target.query, reply);
  } else if (request.method() == http::verb::get) {
    reply(StaticFile(target.path));
  } else {
    reply(ErrorResponse(http::status::not_found, "no such page"));
  }
}

// The routes that read or change the project; `changes` ones tell every
// page the new revision.
struct Route {
  http::verb verb;
  std::string_view path;
  bool changes;
  json (*run)(Session& session, const json& body);
};

std::optional<std::string> PathField(const json& body) {
  if (!body.contains("path") || body["path"].is_null()) return std::nullopt;
  if (!body["path"].is_string()) throw cli::UsageError("\"path\" must be a text");
  return body["path"].get<std::string>();
}

constexpr Route kRoutes[] = {
    {http::verb::get, "/api/effects", false, [](Session& s, const json&) { return s.Effects(); }},
    {http::verb::get, "/api/project", false, [](Session& s, const json&) { return s.State(); }},
    {http::verb::post, "/api/edit", true, [](Session& s, const json& body) { return s.Edit(body); }},
    {http::verb::post, "/api/undo", true, [](Session& s, const json&) { return s.Undo(); }},
    {http::verb::post, "/api/redo", true, [](Session& s, const json&) { return s.Redo(); }},
    {http::verb::post, "/api/new", true, [](Session& s, const json&) { return s.New(); }},
    {http::verb::post, "/api/open", true,
     [](Session& s, const json& body) {
       const auto path = PathField(body);
       if (!path) throw cli::UsageError("opening a project needs its \"path\"");
       return s.Open(*path);
     }},
    {http::verb::post, "/api/save", true, [](Session& s, const json& body) { return s.Save(PathField(body)); }},
};

// The answer for an exception thrown while serving a request.
Response Failure(std::exception_ptr error, http::status bad_input) {
  try {
    std::rethrow_exception(error);
  } catch (const cli::UsageError& e) {
    return ErrorResponse(bad_input, e.what());
  } catch (const json::exception& e) {
    return ErrorResponse(http::status::bad_request, std::string("bad request: ") + e.what());
  } catch (const std::bad_alloc&) {
    return ErrorResponse(http::status::internal_server_error, "out of memory");
  } catch (const std::exception& e) {
    return ErrorResponse(http::status::internal_server_error, e.what());
  }
}

void Server::Api(const Request& request, std::string_view path, std::string_view query, const Reply& reply) {
  http::status bad_input = http::status::bad_request;
  try {
    const json body = request.body().empty() ? json::object() : json::parse(request.body());
    const http::verb verb = request.method();
    for (const Route& route : kRoutes) {
      if (route.verb != verb || route.path != path) continue;
      Response response = JsonResponse(http::status::ok, route.run(session_, body));
      if (route.changes) Broadcast({{"type", "project"}, {"revision", session_.revision()}});
      return reply(std::move(response));
    }
    if (verb == http::verb::get && path == "/api/frame") return Frame(query, reply);
    if (verb == http::verb::get && path.substr(0, 13) == "/api/effects/") {
      bad_input = http::status::not_found;
      const auto name = PercentDecode(path.substr(13), false);
      if (!name) throw cli::UsageError("malformed effect name");
      return reply(JsonResponse(http::status::ok, session_.EffectDetails(*name)));
    }
    if (path == "/api/queue") {
      if (verb == http::verb::get) return reply(JsonResponse(http::status::ok, queue_.List()));
      if (verb == http::verb::post) return reply(JsonResponse(http::status::ok, queue_.Add(body)));
    }
    constexpr std::string_view kJob = "/api/queue/", kCancel = "/cancel";
    if (verb == http::verb::post && path.substr(0, kJob.size()) == kJob && path.size() > kJob.size() + kCancel.size() &&
        path.substr(path.size() - kCancel.size()) == kCancel) {
      const std::string_view digits = path.substr(kJob.size(), path.size() - kJob.size() - kCancel.size());
      int64_t id = 0;
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
      const RenderQueue::CancelResult result =
          ec == std::errc() && end == digits.data() + digits.size() ? queue_.Cancel(id) : RenderQueue::CancelResult{};
      if (!result.found) return reply(ErrorResponse(http::status::not_found, "no such render"));
      if (result.finished) return reply(ErrorResponse(http::status::conflict, "the render has already ended"));
      return reply(JsonResponse(http::status::ok, result.job));
    }
    reply(ErrorResponse(http::status::not_found, "no such request"));
  } catch (...) {
    reply(Failure(std::current_exception(), bad_input));
  }
}

void Server::Frame(std::string_view query, const Reply& reply) {
  int64_t frame = 0;
  if (const auto text = QueryValue(query, "frame")) {
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), frame);
    if (ec != std::errc() || end != text->data() + text->size() || text->empty()) {
      return reply(ErrorResponse(http::status::bad_request, "the frame must be a whole number"));
    }
  }
  const std::string downsample = QueryValue(query, "downsample").value_or("1/1");
  RenderWorker::Task task;
  task.dropped = [reply] { reply(ErrorResponse(http::status::service_unavailable, "the studio is stopping")); };
  task.run = [this, reply, frame, downsample](const std::atomic<bool>& cancel) {
    try {
      const std::optional<studio::Frame> image = session_.Render(frame, downsample, &cancel);
      if (!image) return reply(ErrorResponse(http::status::service_unavailable, "the studio is stopping"));
      const std::vector<uint8_t> png = session_.EncodePng(*image);
      Response response{http::status::ok, 11};
      response.set(http::field::content_type, "image/png");
      response.body().assign(png.begin(), png.end());
      reply(std::move(response));
    } catch (...) {
      reply(Failure(std::current_exception(), http::status::bad_request));
    }
  };
  worker_.Submit(std::move(task));
}

Response Server::StaticFile(std::string_view path) const {
  const std::optional<fs::path> file = WebFile(web_, path);
  if (!file) return ErrorResponse(http::status::not_found, "no such page");
  std::ifstream in(*file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return ErrorResponse(http::status::internal_server_error, "cannot read the page");
  Response response{http::status::ok, 11};
  response.set(http::field::content_type, std::string(ContentType(*file)));
  response.set(http::field::cache_control, "no-cache");
  response.body() = std::move(bytes);
  return response;
}

void Server::Stop() {
  if (stopping_) return;
  stopping_ = true;
  beast::error_code ignored;
  acceptor_.close(ignored);
  worker_.Stop();
  queue_.Stop();
  for (const auto& weak : sockets_) {
    if (const auto socket = weak.lock()) socket->Close();
  }
  // The sockets have a moment to say goodbye; open HTTP connections are simply dropped.
  if (sockets_.empty()) return ioc_.stop();
  stop_timer_.expires_after(kStopGrace);
  stop_timer_.async_wait([this](beast::error_code) { ioc_.stop(); });
}

// A page that redirects to the address, for the browser: the token then
// never appears in a command line that other users of the machine can read.
class Launcher {
 public:
  ~Launcher() {
    if (!file_.empty()) ::unlink(file_.c_str());
  }

  void Open(const std::string& url) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/ombrix-studio-XXXXXX.html";
    const int fd = ::mkstemps(name.data(), 5);
    if (fd < 0) return Fallback(url);
    file_ = name;
    const std::string page =
        "<!DOCTYPE html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0;url=" + url + "\"><a href=\"" +
        url + "\">Ombrix studio</a>\n";
    const bool written = ::write(fd, page.data(), page.size()) == ssize_t(page.size());
    ::close(fd);
    if (!written) return Fallback(url);
    // The platform finds the browser as the effects' About boxes do ($BROWSER,
    // the desktop's HTML handler, else xdg-open) and starts it detached.
    char program[plat::kMaxPath];
    if (plat::FindExecutable(file_.c_str(), nullptr, program, sizeof program) <= 32) return Fallback(url);
    const char* argv[] = {program, file_.c_str(), nullptr};
    if (plat::StartProgram(program, argv) != plat::kOk) return Fallback(url);
  }

 private:
  static void Fallback(const std::string&) {
    std::cerr << "ombrix: cannot open a browser: open the address above in one\n";
  }
  std::string file_;
};

}  // namespace

int RunStudio(const cli::CommonOptions& common, const StudioOptions& options) {
  const fs::path web = FindWebRoot(options.web);
  if (options.port < 0 || options.port > 65535) throw cli::UsageError("--port must be 0..65535");
  Session session(common, options.project);

  net::io_context ioc{1};
  tcp::acceptor acceptor(ioc);
  const tcp::endpoint endpoint(net::ip::address_v4::loopback(), uint16_t(options.port));
  beast::error_code ec;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + ec.message());
  }
  // A page that goes away mid-answer must not end the program.
  std::signal(SIGPIPE, SIG_IGN);

  const std::string token = MakeToken();
  Server server(ioc, std::move(acceptor), session, token, web);
  net::signal_set signals(ioc, SIGINT, SIGTERM);
  signals.async_wait([&](beast::error_code error, int) {
    if (!error) server.Stop();
  });
  server.Accept();

  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/?token=" + token;
  std::cout << "ombrix studio: " << url << std::endl;
  Launcher launcher;
  if (!options.no_open) launcher.Open(url);
  ioc.run();
  // The loop also ends when everything closed by itself.
  server.Stop();
  return 0;
}

}  // namespace ombrix::studio
