// `ombrix studio --no-open` run as a child process and driven over its
// HTTP and WebSocket interface: the token and Host checks, the static
// files, the API, previews and the render queue.
#include "apps/ombrix/cli_support.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using net::ip::tcp;
using nlohmann::json;
using ombrix_cli_test::Bytes;

struct HttpResult {
  int status = 0;
  std::string head, body;
  std::string Header(const std::string& name) const {
    const std::regex re("\r\n" + name + ": ([^\r]*)", std::regex::icase);
    std::smatch m;
    return std::regex_search(head, m, re) ? m[1].str() : "";
  }
};

// A member of a JSON object, null for anything else.
json Field(const json& message, const char* key) {
  return message.is_object() && message.contains(key) ? message[key] : json();
}

const std::string kPng = "\x89PNG\r\n\x1a\n";

// The width and height in a PNG's IHDR chunk.
std::pair<uint32_t, uint32_t> PngSize(const std::string& png) {
  auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
  };
  return png.size() < 24 || png.compare(0, 8, kPng) != 0 ? std::pair<uint32_t, uint32_t>{0, 0}
                                                         : std::pair{be32(16), be32(20)};
}

class StudioServer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("studio_server_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "web" / "assets");
    std::ofstream(dir_ / "web" / "index.html") << "<!DOCTYPE html><title>studio page</title>";
    std::ofstream(dir_ / "web" / "assets" / "app.js") << "console.log('studio')";
    std::ofstream(dir_ / "secret.txt") << "not for the page";
    fs::create_directory_symlink(dir_, dir_ / "web" / "outside");
    Start({"--web", (dir_ / "web").string()});
  }

  void TearDown() override {
    if (pid_ > 0) {
      EXPECT_EQ(Stop(SIGTERM), 0) << "the server's exit status after SIGTERM";
    }
    fs::remove_all(dir_);
  }

  // Starts the server and reads the address it prints.
  void Start(std::vector<std::string> args) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      std::vector<std::string> all = {OMBRIX_CLI, "studio", "--no-open", "--plugins", OMBRIX_TEST_PLUGIN_DIR};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    FILE* stream = ::fdopen(out[0], "r");
    char line[512] = "";
    const bool got = std::fgets(line, sizeof line, stream) != nullptr;
    std::fclose(stream);
    ASSERT_TRUE(got) << "the server printed no address";
    std::cmatch m;
    ASSERT_TRUE(
        std::regex_match(line, m, std::regex("ombrix studio: http://127\\.0\\.0\\.1:(\\d+)/\\?token=([0-9a-f]{32})\n")))
        << line;
    port_ = std::stoi(m[1].str());
    token_ = m[2].str();
  }

  int Stop(int sig) {
    ::kill(pid_, sig);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
  }

  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

  // Sends `raw` as it is and reads the answer up to the server's close.
  HttpResult Raw(const std::string& raw) {
    net::io_context ioc;
    tcp::socket socket(ioc);
    socket.connect({net::ip::address_v4::loopback(), uint16_t(port_)});
    net::write(socket, net::buffer(raw));
    std::string all;
    beast::error_code ec;
    char chunk[65536];
    for (size_t n; (n = socket.read_some(net::buffer(chunk), ec)) > 0 || !ec;) all.append(chunk, n);
    HttpResult r;
    const size_t split = all.find("\r\n\r\n");
    if (all.size() < 12 || split == std::string::npos) return r;
    r.status = std::stoi(all.substr(9, 3));
    r.head = all.substr(0, split);
    r.body = all.substr(split + 4);
    return r;
  }

  HttpResult Request(const std::string& method, const std::string& target, const std::string& body = "",
                     const std::string& headers = "") {
    const std::string auth = headers.empty() ? "X-Ombrix-Token: " + token_ + "\r\n" : headers;
    return Raw(method + " " + target + " HTTP/1.1\r\nHost: " + Host() + "\r\nConnection: close\r\n" + auth +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  json Api(const std::string& method, const std::string& target, const json& body = nullptr, int want = 200) {
    const HttpResult r = Request(method, target, body.is_null() ? "" : body.dump());
    EXPECT_EQ(r.status, want) << method << " " << target << ": " << r.body;
    return json::parse(r.body, nullptr, false);
  }

  // A WebSocket to the server; throws when the handshake is refused.
  struct Page {
    net::io_context ioc;
    websocket::stream<tcp::socket> ws{ioc};
    Page(int port, const std::string& host, const std::string& target, const std::string& origin) {
      ws.next_layer().connect({net::ip::address_v4::loopback(), uint16_t(port)});
      ws.set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
        if (!origin.empty()) req.set(beast::http::field::origin, origin);
      }));
      ws.handshake(host, target);
    }
    void Send(const json& message) { ws.write(net::buffer(message.dump())); }
    // The next message: its text, or for a binary one "<binary>" and the bytes.
    std::pair<json, std::string> Next() {
      beast::flat_buffer buffer;
      ws.read(buffer);
      const std::string data = beast::buffers_to_string(buffer.data());
      if (ws.got_binary()) return {"<binary>", data};
      return {json::parse(data), ""};
    }
    // Messages up to and including the first one `until` accepts.
    template <typename Until>
    std::vector<std::pair<json, std::string>> ReadUntil(Until until) {
      std::vector<std::pair<json, std::string>> all;
      do all.push_back(Next());
      while (!until(all.back()));
      return all;
    }
  };
  std::unique_ptr<Page> Open(const std::string& target, const std::string& origin = "") {
    return std::make_unique<Page>(port_, Host(), target, origin);
  }

  // A small composition with one layer of the test card under Mistform.
  void SmallProject() {
    Api("POST", "/api/edit", {{"op", "set_composition"}, {"width", 64}, {"height", 36}, {"frames", 4}});
    const json layer = Api("POST", "/api/edit", {{"op", "add_layer"}, {"source", "testcard:64x36"}});
    ASSERT_TRUE(layer.contains("added")) << layer;
    layer_ = layer["added"];
    const json entry = Api("POST", "/api/edit", {{"op", "add_effect"}, {"layer", layer_}, {"effect", "mistform"}});
    ASSERT_TRUE(entry.contains("added")) << entry;
  }
  // The same at 1280x720, where a frame takes long enough to be cancelled.
  void LargeProject() {
    SmallProject();
    Api("POST", "/api/edit", {{"op", "set_composition"}, {"width", 1280}, {"height", 720}, {"frames", 200}});
    Api("POST", "/api/edit", {{"op", "set_layer"}, {"layer", layer_}, {"source", "testcard:1280x720"}});
  }

  json WaitForJob(int64_t id) {
    for (int i = 0; i < 600; ++i) {
      for (const json& job : Api("GET", "/api/queue")) {
        if (job["id"] == id && job["state"] != "queued" && job["state"] != "running") return job;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "render " << id << " did not end";
    return nullptr;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string token_;
  json layer_;
};

// Who may ask for what: each request carries the token one way or none,
// with a Host of this server or another.
TEST_F(StudioServer, RequestsNeedTheTokenAndThisServersHost) {
  const std::string wrong(32, token_[0] == 'a' ? 'b' : 'a');
  const std::string cookie = "ombrix_studio_" + std::to_string(port_);
  struct Case {
    const char* what;
    std::string target, host, headers;
    int status;
  };
  const Case cases[] = {
      {"no token", "/", Host(), "", 403},
      {"token in the query", "/?token=" + token_, Host(), "", 200},
      {"token in the header", "/", Host(), "X-Ombrix-Token: " + token_ + "\r\n", 200},
      {"token in the cookie", "/", Host(), "Cookie: a=b; " + cookie + "=" + token_ + "\r\n", 200},
      {"another port's cookie", "/", Host(), "Cookie: ombrix_studio_1=" + token_ + "\r\n", 403},
      {"wrong token", "/?token=" + wrong, Host(), "", 403},
      {"token cut short", "/?token=" + token_.substr(0, 31), Host(), "", 403},
      {"wrong token on the API", "/api/project", Host(), "X-Ombrix-Token: " + wrong + "\r\n", 403},
      {"localhost", "/?token=" + token_, "localhost:" + std::to_string(port_), "", 200},
      {"a rebound name", "/?token=" + token_, "attacker.example:" + std::to_string(port_), "", 403},
      {"another port", "/?token=" + token_, "127.0.0.1:1", "", 403},
      {"no Host", "/?token=" + token_, "", "", 403},
  };
  for (const Case& c : cases) {
    const std::string host = c.host.empty() ? "" : "Host: " + c.host + "\r\n";
    const HttpResult r = Raw("GET " + c.target + " HTTP/1.1\r\n" + host + c.headers + "Connection: close\r\n\r\n");
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.body.find("studio page") != std::string::npos, c.status == 200) << c.what;
  }
  // The page opened from the printed address gets the cookie for the rest.
  const HttpResult first = Request("GET", "/?token=" + token_, "", "X-None: 1\r\n");
  const std::string set = first.Header("Set-Cookie");
  EXPECT_EQ(set.find(cookie + "=" + token_ + ";"), 0u) << set;
  EXPECT_NE(set.find("HttpOnly"), std::string::npos) << set;
  EXPECT_NE(set.find("SameSite=Strict"), std::string::npos) << set;
  EXPECT_EQ(Request("GET", "/").Header("Set-Cookie"), "");
}

TEST_F(StudioServer, ServesTheFrontEndAndNothingOutsideIt) {
  struct Case {
    std::string target;
    int status;
    std::string type;
  };
  const Case cases[] = {
      {"/", 200, "text/html; charset=utf-8"},
      {"/index.html", 200, "text/html; charset=utf-8"},
      {"/assets/app.js", 200, "text/javascript; charset=utf-8"},
      {"/assets/%61pp.js", 200, "text/javascript; charset=utf-8"},
      {"/missing.js", 404, ""},
      {"/../secret.txt", 404, ""},
      {"/assets/../../secret.txt", 404, ""},
      {"/%2e%2e/secret.txt", 404, ""},
      {"/assets/%2e%2e%2f%2e%2e%2fsecret.txt", 404, ""},
      {"/outside/secret.txt", 404, ""},
      {"/assets%00/app.js", 404, ""},
      {"/api/nothing", 404, "application/json"},
  };
  for (const Case& c : cases) {
    const HttpResult r = Request("GET", c.target);
    EXPECT_EQ(r.status, c.status) << c.target;
    if (!c.type.empty()) {
      EXPECT_EQ(r.Header("Content-Type"), c.type) << c.target;
    }
    EXPECT_EQ(r.body.find("not for the page"), std::string::npos) << c.target;
  }
}

// Malformed and oversized requests are answered and the server goes on.
TEST_F(StudioServer, RefusesBadRequestsAndKeepsServing) {
  const std::string host = "Host: " + Host() + "\r\n";
  const std::pair<std::string, int> cases[] = {
      {"GARBAGE\r\n\r\n", 400},
      {"GET / HTTX/1.1\r\n" + host + "\r\n", 400},
      {"GET / HTTP/1.1\r\nBad Header Line\r\n\r\n", 400},
      {"POST /api/edit HTTP/1.1\r\n" + host + "Content-Length: 99999999\r\n\r\n", 413},
      {"GET / HTTP/1.1\r\n" + host + "X-Long: " + std::string(100000, 'x') + "\r\n\r\n", 431},
  };
  for (const auto& [raw, status] : cases) EXPECT_EQ(Raw(raw).status, status) << raw.substr(0, 40);
  const struct {
    std::string body;
    int status;
  } bodies[] = {
      {"{not json", 400}, {R"({"op": "no_such_edit"})", 400}, {R"({"op": "remove_layer", "layer": "L404"})", 400}};
  for (const auto& b : bodies) Api("POST", "/api/edit", json::parse(b.body, nullptr, false), b.status);
  const json state = Api("GET", "/api/project");
  EXPECT_EQ(state["can_undo"], false) << "refused edits changed nothing";
}

TEST_F(StudioServer, SocketsNeedTheTokenAndThisServersPage) {
  const std::string own = "http://127.0.0.1:" + std::to_string(port_);
  EXPECT_ANY_THROW(Open("/ws"));
  EXPECT_ANY_THROW(Open("/ws?token=" + std::string(32, '0')));
  EXPECT_ANY_THROW(Open("/ws?token=" + token_, "http://attacker.example"));
  EXPECT_ANY_THROW(Open("/elsewhere?token=" + token_));
  EXPECT_NO_THROW(Open("/ws?token=" + token_, own));
  EXPECT_NO_THROW(Open("/ws?token=" + token_));
}

TEST_F(StudioServer, ListsTheEffects) {
  const json effects = Api("GET", "/api/effects");
  ASSERT_TRUE(effects.is_array());
  bool mistform = false;
  for (const json& e : effects) {
    EXPECT_TRUE(e.contains("name") && e.contains("display_name") && e.contains("category")) << e;
    mistform = mistform || e["name"] == "mistform";
  }
  EXPECT_TRUE(mistform) << effects;
  EXPECT_TRUE(Api("GET", "/api/effects/mistform").contains("about"));
  Api("GET", "/api/effects/nosuch", nullptr, 404);
}

// An edit is told to every page, and the frame rendered afterwards shows it.
TEST_F(StudioServer, EditsAreBroadcastAndRendered) {
  auto page = Open("/ws?token=" + token_);
  SmallProject();
  const int64_t revision = Api("GET", "/api/project")["revision"];
  const auto seen = page->ReadUntil([&](const auto& m) { return Field(m.first, "revision") == revision; });
  EXPECT_EQ(seen.back().first["type"], "project");
  const HttpResult frame = Request("GET", "/api/frame?frame=1");
  ASSERT_EQ(frame.status, 200) << frame.body;
  EXPECT_EQ(frame.Header("Content-Type"), "image/png");
  EXPECT_EQ(PngSize(frame.body), (std::pair<uint32_t, uint32_t>{64, 36}));
  EXPECT_EQ(Request("GET", "/api/frame?frame=x").status, 400);
  // Undo takes the effect away: the frame is the bare test card again.
  Api("POST", "/api/undo");
  EXPECT_NE(Request("GET", "/api/frame?frame=1").body, frame.body);
}

// Previews sent in a burst: each is answered once, superseded ones may be
// cancelled, and the newest is answered last with its image.
TEST_F(StudioServer, NewerPreviewsSupersedeOlderOnes) {
  LargeProject();
  auto page = Open("/ws?token=" + token_);
  for (int id = 1; id <= 4; ++id) page->Send({{"type", "preview"}, {"id", id}, {"frame", 0}, {"downsample", "1/1"}});
  std::map<int, int> answers;
  std::string png;
  for (;;) {
    const auto [message, bytes] = page->Next();
    if (message == "<binary>") {
      png = bytes;
      if (answers.count(4)) break;
      continue;
    }
    if (message["type"] == "project") continue;
    const int id = message["id"];
    ++answers[id];
    ASSERT_TRUE(message["type"] == "preview" || message["type"] == "preview_cancelled") << message;
    if (id == 4) {
      EXPECT_EQ(message["type"], "preview") << message;
    }
  }
  for (int id = 1; id <= 4; ++id) EXPECT_EQ(answers[id], 1) << id;
  EXPECT_EQ(PngSize(png), (std::pair<uint32_t, uint32_t>{1280, 720}));
}

TEST_F(StudioServer, RenderQueueWritesFramesAndCancels) {
  SmallProject();
  const std::string pattern = (dir_ / "out.####.png").string();
  auto page = Open("/ws?token=" + token_);
  const int64_t id = Api("POST", "/api/queue", {{"first", 1}, {"last", 3}, {"output", pattern}})["id"];
  const json job = WaitForJob(id);
  EXPECT_EQ(job["state"], "done") << job;
  EXPECT_EQ(job["done"], 3);
  EXPECT_EQ(job["total"], 3);
  for (int f = 1; f <= 3; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "out.%04d.png", f);
    EXPECT_EQ(PngSize(Bytes(dir_ / name)), (std::pair<uint32_t, uint32_t>{64, 36})) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.0000.png"));
  const auto progress = page->ReadUntil(
      [&](const auto& m) { return Field(m.first, "type") == "queue" && Field(m.first["job"], "state") == "done"; });
  EXPECT_EQ(progress.back().first["job"]["done"], 3);

  // A long render cancelled: it ends cancelled with only some frames written.
  Api("POST", "/api/edit", {{"op", "set_composition"}, {"width", 1280}, {"height", 720}, {"frames", 200}});
  Api("POST", "/api/edit", {{"op", "set_layer"}, {"layer", layer_}, {"source", "testcard:1280x720"}});
  const int64_t long_id =
      Api("POST", "/api/queue", {{"first", 0}, {"last", 199}, {"output", (dir_ / "long.###.png").string()}})["id"];
  const json cancelling = Api("POST", "/api/queue/" + std::to_string(long_id) + "/cancel");
  EXPECT_EQ(cancelling["id"], long_id);
  const json cancelled = WaitForJob(long_id);
  EXPECT_EQ(cancelled["state"], "cancelled") << cancelled;
  EXPECT_LT(cancelled["done"].get<int>(), 200);
  Api("POST", "/api/queue/" + std::to_string(long_id) + "/cancel", nullptr, 409);
  Api("POST", "/api/queue/999/cancel", nullptr, 404);

  const std::pair<json, const char*> bad[] = {
      {{{"first", 2}, {"last", 1}, {"output", pattern}}, "last before first"},
      {{{"first", 0}, {"last", 1}, {"output", (dir_ / "one.png").string()}}, "a range into one file"},
      {{{"first", 0}, {"last", 0}, {"output", "png:-"}}, "standard output"},
      {{{"first", -1}, {"last", 0}, {"output", pattern}}, "negative frame"},
      {{{"last", 0}, {"output", pattern}}, "no first frame"},
  };
  for (const auto& [request, what] : bad) Api("POST", "/api/queue", request, 400);
}

// SIGINT ends the server as SIGTERM does, with status 0, also while a
// render is running.
TEST_F(StudioServer, InterruptStopsCleanly) {
  LargeProject();
  Api("POST", "/api/queue", {{"first", 0}, {"last", 199}, {"output", (dir_ / "stop.###.png").string()}});
  auto page = Open("/ws?token=" + token_);
  EXPECT_EQ(Stop(SIGINT), 0);
  beast::flat_buffer buffer;
  beast::error_code ec;
  page->ws.read(buffer, ec);
  EXPECT_TRUE(ec) << "the socket was closed";
}

// `ombrix studio ARGS` run to its end, stderr with stdout.
ombrix_cli_test::Result RunToEnd(const std::string& args) {
  ombrix_cli_test::Result result;
  FILE* p = ::popen((ombrix_cli_test::Quote(OMBRIX_CLI) + " studio --no-open " + args + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) result.out.append(buf, n);
  result.status = WEXITSTATUS(::pclose(p));
  return result;
}

// A second server on a port that is taken ends at once with the reason.
TEST_F(StudioServer, RefusesAPortInUse) {
  const auto r =
      RunToEnd("--port " + std::to_string(port_) + " --web " + ombrix_cli_test::Quote((dir_ / "web").string()));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("cannot listen on 127.0.0.1:" + std::to_string(port_)), std::string::npos) << r.out;
  EXPECT_EQ(Request("GET", "/").status, 200) << "the first server goes on";
}

TEST(StudioStart, RefusesAMissingFrontEnd) {
  const fs::path empty = fs::temp_directory_path() / ("studio_empty_web_" + std::to_string(::getpid()));
  fs::create_directories(empty);
  const auto r = RunToEnd("--web " + ombrix_cli_test::Quote(empty.string()));
  fs::remove_all(empty);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no studio front end"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("http://"), std::string::npos) << r.out;
}

}  // namespace
