// When `ombrix` loads its image library: commands that touch no image file
// start without it and without OpenImageIO, one that writes a file loads
// both, and a library that cannot be loaded fails the command with one
// line naming its file. What the process loaded is read from the dynamic
// loader's own report (LD_DEBUG=libs), one file per process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix_cli_test;

class OmbrixLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "ombrix-loading-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs `env CLI args --plugins DIR`; `loaded` gets the loader's
  // reports of every process of the run, concatenated.
  Result Run(const std::string& env, const std::vector<std::string>& args, std::string* loaded = nullptr,
             const std::string& cli = OMBRIX_CLI) {
    const fs::path trace = dir_ / "trace";
    fs::create_directory(trace);
    std::string cmd = "LD_DEBUG=libs LD_DEBUG_OUTPUT=" + Quote((trace / "ld").string()) + " " + env + " " + Quote(cli);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " --plugins " + Quote(OMBRIX_TEST_PLUGIN_DIR) + " </dev/null >" + Quote((dir_ / "out").string()) + " 2>" +
           Quote((dir_ / "err").string());
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Bytes(dir_ / "out");
    r.err = Bytes(dir_ / "err");
    if (loaded) {
      loaded->clear();
      for (const auto& e : fs::directory_iterator(trace)) *loaded += Bytes(e.path());
    }
    fs::remove_all(trace);
    return r;
  }

  fs::path dir_;
};

bool Mentions(const std::string& text, const std::string& word) { return text.find(word) != std::string::npos; }

TEST_F(OmbrixLoading, OnlyCommandsWithImageFilesLoadTheImageLibrary) {
  const std::string png = (dir_ / "card.png").string();
  struct Case {
    std::vector<std::string> args;
    bool loads;
  };
  const Case cases[] = {
      {{"list"}, false},
      {{"info", "flatwash"}, false},
      {{"about", "flatwash", "--registry", (dir_ / "registry").string()}, false},
      // Raw frames of a generated source touch no image file.
      {{"render", "flatwash", "-i", "testcard:16x9", "-o", "rgba:-"}, false},
      {{"render", "flatwash", "-i", "testcard:16x9", "-o", png}, true},
  };
  for (const Case& c : cases) {
    std::string loaded;
    const Result r = Run("", c.args, &loaded);
    ASSERT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
    // The report is there at all: every run loads the C library.
    ASSERT_TRUE(Mentions(loaded, "libc.so")) << c.args[0];
    EXPECT_EQ(Mentions(loaded, "libOpenImageIO"), c.loads) << c.args[0];
    EXPECT_EQ(Mentions(loaded, "libombrix_image_io.so"), c.loads) << c.args[0];
  }
  EXPECT_TRUE(fs::is_regular_file(png));
}

// Installed, the program loads the library installed beside it, not the
// build tree's.
TEST_F(OmbrixLoading, TheInstalledProgramLoadsTheInstalledLibrary) {
  const fs::path prefix = dir_ / "prefix";
  const std::string install = Quote(OMBRIX_CMAKE) + " --install " + Quote(OMBRIX_TEST_BINARY_DIR) + " --prefix " +
                              Quote(prefix.string()) + " >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0);
  const fs::path installed = fs::canonical(prefix) / OMBRIX_INSTALL_LIBDIR / "ombrix" / "libombrix_image_io.so";
  ASSERT_TRUE(fs::is_regular_file(installed));
  std::string loaded;
  const fs::path png = dir_ / "card.png";
  const Result r = Run("", {"render", "flatwash", "-i", "testcard:16x9", "-o", png.string()}, &loaded,
                       (prefix / "bin" / "ombrix").string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Mentions(loaded, "calling init: " + installed.string() + "\n")) << loaded;
  EXPECT_TRUE(fs::is_regular_file(png));
}

TEST_F(OmbrixLoading, AnUnusableLibraryFailsWithOneLineNamingIt) {
  const std::string missing = (dir_ / "nowhere" / "libombrix_image_io.so").string();
  const std::string garbage = (dir_ / "garbage.so").string();
  {
    std::ofstream f(garbage);
    f << "not a shared object\n";
  }
  struct Case {
    std::string library, why;
  };
  const Case cases[] = {
      {missing, "No such file"},
      {garbage, "garbage.so"},
      // A sound shared object that is not the image library.
      {OMBRIX_PLATFORM_LIBRARY, "undefined symbol: OmbrixImageIoTable"},
      {OMBRIX_STALE_IMAGE_LIBRARY, "it is of version 0, this program needs version"},
  };
  for (const Case& c : cases) {
    const Result r = Run("OMBRIX_IMAGE_IO_LIBRARY=" + Quote(c.library),
                         {"render", "flatwash", "-i", "testcard:16x9", "-o", (dir_ / "out.png").string()});
    EXPECT_NE(r.status, 0) << c.library;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_TRUE(Mentions(r.err, "cannot load the image library '" + c.library + "'")) << r.err;
    EXPECT_TRUE(Mentions(r.err, c.why)) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.png")) << c.library;
  }
}

}  // namespace
