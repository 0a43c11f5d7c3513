// `ombrix` under faults and hostile files: a full disk, damaged and
// oversized images, devices and folders where files belong, times beyond
// the tick range, links and read-only files at the outputs, signals. Limits
// are set in the shell that runs the binary (ulimit), so the product needs
// no test hooks. Fixture images are written with OpenImageIO directly or
// built byte by byte here.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix_cli_test;

// The address-space limit of the runs that must not allocate much. Under
// AddressSanitizer, whose shadow memory reserves terabytes of address
// space, the binary cannot start with any such limit; there the runs are
// only checked for their outcome.
#if defined(__SANITIZE_ADDRESS__)
#define OMBRIX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMBRIX_TEST_ASAN 1
#endif
#endif
#ifdef OMBRIX_TEST_ASAN
const std::string kAddressLimit = "true";
#else
const std::string kAddressLimit = "ulimit -v 1048576";
#endif

void Put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// A w x h RGB image with detail on every row, so that no format can shrink it much.
void WriteNoise(const fs::path& path, int w, int h, const std::string& compression = "") {
  std::vector<uint8_t> px(size_t(w) * h * 3);
  uint32_t s = 12345;
  for (uint8_t& v : px) v = uint8_t((s = s * 1103515245u + 12345u) >> 24);
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::UINT8);
  if (!compression.empty()) spec.attribute("compression", compression);
  ASSERT_TRUE(out->open(path.string(), spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, px.data()));
  ASSERT_TRUE(out->close());
}

void PutBe32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += char((v >> shift) & 0xFF);
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// A valid PNG (correct CRCs) declaring a 16384 x 16384 grey image whose
// only image data is an 11-byte zlib stream: 68 bytes in all.
std::string PngBomb() {
  auto chunk = [](const std::string& type, const std::string& data) {
    std::string c;
    PutBe32(c, uint32_t(data.size()));
    std::string body = type + data;
    c += body;
    PutBe32(c, Crc32(body));
    return c;
  };
  std::string ihdr;
  PutBe32(ihdr, 16384);
  PutBe32(ihdr, 16384);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
  const std::string zlib("\x78\xda\x63\x60\x60\x00\x00\x00\x03\x00\x01", 11);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", zlib) + chunk("IEND", "");
}

// A 240-byte little-endian TIFF declaring one uncompressed 65535 x 4096
// grey strip; `strip_bytes` is what it claims the strip holds.
std::string TiffBomb(uint32_t strip_bytes) {
  std::string t("II*\0\x08\0\0\0", 8);
  auto u16 = [&](uint32_t v) { t += char(v & 0xFF), t += char(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t tags[][3] = {{256, 4, 65535}, {257, 4, 4096}, {258, 3, 8},    {259, 3, 1},          {262, 3, 1},
                              {273, 4, 200},   {277, 3, 1},    {278, 4, 4096}, {279, 4, strip_bytes}};
  u16(std::size(tags));
  for (const auto& tag : tags) {
    u16(tag[0]), u16(tag[1]), u32(1);
    if (tag[1] == 3)
      u16(tag[2]), u16(0);
    else
      u32(tag[2]);
  }
  u32(0);
  t.resize(240, '\x5a');
  return t;
}

class OmbrixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-files-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec)) {
      if (!e.is_symlink()) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir_, ec);
  }
  fs::path Path(const std::string& name) const { return dir_ / name; }

  // Runs ombrix through the shell; `limits` is shell text run first
  // (ulimit, trap), and the run is cut off after 60 seconds.
  Result Run(std::vector<std::string> args, const std::string& limits = "") {
    std::string cmd = limits + (limits.empty() ? "" : "; ") + "exec timeout 60 " + Quote(OMBRIX_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " --plugins " + Quote(OMBRIX_TEST_PLUGIN_DIR);
    cmd += " >/dev/null 2>" + Quote(Path("stderr.txt").string()) + " </dev/null";
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = Bytes(Path("stderr.txt"));
    fs::remove(Path("stderr.txt"));
    return r;
  }

  // Names in the test folder, sorted.
  std::vector<std::string> Names(const fs::path& folder = {}) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder.empty() ? dir_ : folder)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // One "ombrix: " line naming `mentions`, status `status`, and the folder
  // holding exactly `names` afterwards.
  void ExpectRefused(const Result& r, int status, const std::string& mentions, std::vector<std::string> names) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("ombrix: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(Names(), names);
  }

  fs::path dir_;
};

// A full disk (writes failing with EFBIG past the file-size limit) fails
// the run with one line, leaves the old file as it was and no temporary.
TEST_F(OmbrixFiles, FullDiskKeepsTheOldFile) {
  for (const std::string ext : {"png", "jpg", "tif", "exr"}) {
    SCOPED_TRACE(ext);
    const std::string out = Path("big." + ext).string();
    ASSERT_EQ(Run({"render", "flatwash", "-i", "testcard:640x480", "-o", out, "-q"}).status, 0);
    const std::string before = Bytes(out);
    const Result r = Run({"render", "flatwash", "-i", "testcard:640x480", "-p", "Blend With Original=0.5", "-o", out},
                         "ulimit -f 2; trap '' XFSZ");
    ExpectRefused(r, 1, "cannot write", {"big." + ext});
    EXPECT_EQ(Bytes(out), before);
    fs::remove(out);
  }
}

// The same on a real full file system, where the test may mount one.
TEST_F(OmbrixFiles, FullTmpfsKeepsTheOldFile) {
  const fs::path mnt = Path("mnt");
  fs::create_directory(mnt);
  const std::string mount = "mount -t tmpfs -o size=64k tmpfs " + Quote(mnt.string()) + " 2>/dev/null";
  if (geteuid() != 0 || std::system(mount.c_str()) != 0) {
    GTEST_SKIP() << "needs root and a tmpfs mount";
  }
  const std::string out = (mnt / "big.png").string();
  const Result good = Run({"render", "flatwash", "-i", "testcard:640x480", "-o", out, "-q"});
  const std::string before = Bytes(out);
  std::system(("dd if=/dev/zero of=" + Quote((mnt / "fill").string()) + " bs=1k 2>/dev/null").c_str());
  const Result r = Run({"render", "flatwash", "-i", "testcard:640x480", "-p", "Blend With Original=0.5", "-o", out});
  const std::string after = Bytes(out);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(mnt)) names.push_back(e.path().filename().string());
  std::system(("umount " + Quote(mnt.string())).c_str());
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_EQ(r.err.rfind("ombrix: cannot write", 0), 0u) << r.err;
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(after, before);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.png", "fill"}));
}

// Damaged, oversized and non-file inputs are refused at once, before any
// large allocation (the address space is limited to 1 GiB, less than any
// of the declared images needs), with nothing written.
TEST_F(OmbrixFiles, HostileInputsAreRefusedAtOnce) {
  for (const std::string ext : {"png", "jpg", "tif", "exr"}) {
    WriteNoise(Path("whole." + ext), 256, 256);
    const std::string whole = Bytes(Path("whole." + ext));
    Put(Path("cut." + ext), whole.substr(0, whole.size() / 2));
    if (ext == "png") {  // whole, but with damaged image data (libpng would print a line of its own)
      std::string damaged = whole;
      for (size_t k = damaged.find("IDAT") + 100; k < damaged.find("IDAT") + 140; ++k) damaged[k] ^= 0x55;
      Put(Path("damaged.png"), damaged);
    }
    fs::remove(Path("whole." + ext));
  }
  Put(Path("bomb.png"), PngBomb());
  ASSERT_EQ(Bytes(Path("bomb.png")).size(), 68u);
  Put(Path("bomb.tif"), TiffBomb(65535u * 4096u));
  Put(Path("bomb-short.tif"), TiffBomb(40));
  fs::create_directory(Path("folder"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  Put(Path("huge.bin"), std::string(1 << 20, '\0'));
  const std::vector<std::string> fixtures = Names();

  const std::string out = Path("out.png").string();
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  std::vector<Case> cases;
  for (const std::string input : {"cut.png", "damaged.png", "cut.jpg", "cut.tif", "cut.exr", "bomb.png", "bomb.tif",
                                  "bomb-short.tif", "folder", "fifo"}) {
    cases.push_back({{"-i", Path(input).string()}, input});
  }
  for (const std::string device : {"/dev/zero", "/dev/urandom"}) cases.push_back({{"-i", device}, device});
  for (const std::string& data :
       {std::string("/dev/zero"), Path("folder").string(), Path("huge.bin").string(), Path("fifo").string()}) {
    cases.push_back({{"--sequence-data", data}, "--sequence-data '" + data});
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = {"render", "flatwash", "-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectRefused(Run(args, kAddressLimit), 2, c.mentions, fixtures);
  }
}

TEST_F(OmbrixFiles, TimesBeyondTheTickRangeAreRefused) {
  // 24 fps: 100 ticks a frame, so frame 21474836 is the last whose time fits 32 bits.
  const std::string out = Path("o.png").string(), frames = Path("o.####.png").string();
  const std::vector<std::vector<std::string>> cases = {
      {"-o", out, "--frame", "21474837"},
      {"-o", out, "--frame", "44739243"},
      {"-o", out, "--frame", "99999999999999999999"},
      {"-o", frames, "--frames", "21474836-21474837"},
      {"-o", out, "--time", "894785"},
      {"-o", out, "--fps", "1", "--frame", "21474837"},
      {"-o", out, "-k", "Blend With Original@894785=0.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[2] + " " + c[3]);
    std::vector<std::string> args = {"render", "flatwash", "-i", "solid:4x4"};
    args.insert(args.end(), c.begin(), c.end());
    ExpectRefused(Run(args), 2, "out of range", {});
  }
  EXPECT_EQ(Run({"render", "flatwash", "-i", "solid:4x4", "-o", out, "--frame", "21474836", "-q"}).status, 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"o.png"});
}

// A hundred million frames (at one tick each, so that their times fit)
// start rendering at once, with no list built first in the limited address
// space; SIGTERM or SIGINT end the run with 143 or 130, every frame written
// whole and no temporary left.
TEST_F(OmbrixFiles, LongRangesStartAtOnceAndStopOnSignals) {
  for (const auto& [signal, status] : {std::pair<std::string, int>{"TERM", 143}, {"INT", 130}}) {
    SCOPED_TRACE(signal);
    const fs::path folder = Path(signal);
    fs::create_directory(folder);
    const std::string script =
        kAddressLimit + "; " + Quote(OMBRIX_CLI) + " render flatwash -i solid:64x64 -q --plugins " +
        Quote(OMBRIX_TEST_PLUGIN_DIR) + " --fps 1 --time-scale 1 --frames 0-100000000 -o " +
        Quote((folder / "f.#########.png").string()) + " & pid=$!; i=0; while [ ! -e " +
        Quote((folder / "f.000000003.png").string()) + " ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; kill -" +
        signal + " $pid; wait $pid; exit $?";
    const int raw = std::system(script.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), status);
    const std::vector<std::string> names = Names(folder);
    ASSERT_GE(names.size(), 4u);
    for (const std::string& name : names) {
      EXPECT_EQ(name.rfind("f.", 0), 0u) << name;
      auto in = OIIO::ImageInput::open((folder / name).string());
      ASSERT_TRUE(in) << name;
      std::vector<uint8_t> px(64 * 64 * 4);
      EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, px.data())) << name;
      EXPECT_EQ(in->geterror(), "") << name;
    }
  }
}

// Links at an output are replaced, never followed; an existing output keeps
// its permissions, and a read-only one is refused before anything is
// rendered; so is a --save-sequence-data path that cannot be written.
TEST_F(OmbrixFiles, OutputsKeepPermissionsAndLinksAreReplaced) {
  Put(Path("victim"), "keep me");
  Put(Path("private.png"), "old");
  fs::permissions(Path("private.png"), fs::perms(0600));
  Put(Path("readonly.png"), "old");
  fs::permissions(Path("readonly.png"), fs::perms(0444));
  fs::create_symlink(Path("victim"), Path("link.png"));
  fs::create_symlink(Path("victim"), Path("link.bin"));
  fs::create_directory(Path("registry"));

  auto render = [&](const std::string& out, const std::string& saved) {
    return Run({"render", "mistform", "-i", "solid:8x8", "-o", Path(out).string(), "--registry",
                Path("registry").string(), "--save-sequence-data", Path(saved).string(), "-q"});
  };
  ASSERT_EQ(render("private.png", "link.bin").status, 0);
  ASSERT_EQ(render("link.png", "saved.bin").status, 0);
  EXPECT_EQ(Bytes(Path("victim")), "keep me");
  for (const std::string name : {"private.png", "link.png", "link.bin"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Path(name)))) << name;
  }
  EXPECT_EQ(Bytes(Path("link.bin")), Bytes(Path("saved.bin")));
  EXPECT_EQ(fs::status(Path("private.png")).permissions(), fs::perms(0600));
  EXPECT_EQ(Bytes(Path("private.png")).substr(1, 3), "PNG");

  const std::vector<std::string> before = Names();
  ExpectRefused(render("readonly.png", "s.bin"), 2, "read-only", before);
  EXPECT_EQ(Bytes(Path("readonly.png")), "old");
  ExpectRefused(render("new.png", "nofolder/s.bin"), 2, "--save-sequence-data", before);
  ExpectRefused(render("new.png", "registry"), 2, "--save-sequence-data", before);

  // In a range, every existing name is checked before the first frame.
  fs::create_directory(Path("f.0003.png"));
  const std::vector<std::string> with_folder = Names();
  const Result r = Run({"render", "flatwash", "-i", "solid:8x8", "-o", Path("f.####.png").string(), "--frames", "1-4"});
  ExpectRefused(r, 2, "f.0003.png", with_folder);
}

// Every input frame is checked before the first output is written, an
// output may not replace an input frame, and names near the 255-byte limit
// work (the temporary's name is short).
TEST_F(OmbrixFiles, SequencesAreCheckedBeforeAnythingIsWritten) {
  const fs::path in = Path("in");
  auto reset = [&](int second_width) {
    fs::remove_all(in);
    fs::create_directory(in);
    WriteNoise(in / "s.0001.png", 8, 4);
    WriteNoise(in / "s.0002.png", second_width, 4);
    WriteNoise(in / "s.0004.png", 8, 4);
  };
  const std::string pattern = (in / "s.####.png").string();
  struct Case {
    const char* what;
    int second_width;
    bool cut_second;
    std::string output;
    std::string mentions;
  };
  const Case cases[] = {
      {"second frame cut short", 8, true, Path("o.####.png").string(), "s.0002.png"},
      {"second frame of another size", 9, false, Path("o.####.png").string(), "s.0002.png"},
      {"output replaces the input", 8, false, pattern, "input sequence"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset(c.second_width);
    if (c.cut_second) {
      const std::string whole = Bytes(in / "s.0002.png");
      Put(in / "s.0002.png", whole.substr(0, whole.size() - 20));
    }
    const std::string second = Bytes(in / "s.0002.png");
    ExpectRefused(Run({"render", "flatwash", "-i", pattern, "-o", c.output}), 2, c.mentions, {"in"});
    EXPECT_EQ(Names(in), (std::vector<std::string>{"s.0001.png", "s.0002.png", "s.0004.png"}));
    EXPECT_EQ(Bytes(in / "s.0002.png"), second);
  }

  reset(8);
  const std::string long_name = std::string(240, 'n') + ".####.png";  // 249 bytes per file name
  const Result r = Run({"render", "flatwash", "-i", pattern, "-o", Path(long_name).string(), "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Names().size(), 5u);  // "in" and frames 1 to 4
}

TEST_F(OmbrixFiles, ListJsonSurvivesFolderNamesThatAreNotUtf8) {
  const fs::path plugins = Path("plug\xff\xfe-ins");
  fs::create_directory(plugins);
  fs::copy_file(fs::path(OMBRIX_TEST_PLUGIN_DIR) / "flatwash.aex", plugins / "flatwash.aex");
  const std::string cmd = Quote(OMBRIX_CLI) + " list --json --plugins " + Quote(plugins.string()) + " >" +
                          Quote(Path("out.json").string()) + " 2>/dev/null";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  const auto list = nlohmann::json::parse(Bytes(Path("out.json")));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["display_name"], "OB Flatwash");
  EXPECT_NE(list[0]["file"].get<std::string>().find("plug\xef\xbf\xbd"), std::string::npos);
}

}  // namespace
