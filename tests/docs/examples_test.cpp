// Every `ombrix` command shown in the README and the documentation runs as
// written and succeeds. The commands are read from the fenced code blocks
// of the pages (a line starting with `ombrix`, `$ ombrix` or the build's
// `build/apps/ombrix/ombrix`, with its `\` continuations); each runs in a
// folder of its own, where the test first makes the files the command
// reads (an image for every input path, the frames of every input
// sequence) and the folders it writes into.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct Example {
  std::string page;  // relative to the source tree
  int line = 0;
  std::string command;
};

// The example commands of one page.
std::vector<Example> ReadExamples(const fs::path& root, const std::string& page) {
  std::ifstream in(root / page);
  std::vector<Example> out;
  std::string text;
  bool fenced = false, prompt_block = false;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    if (text.rfind("```", 0) == 0) {
      fenced = !fenced;
      // Synopses and other non-shell blocks carry a language of their own.
      prompt_block = fenced && text.size() > 3 && text.substr(3) != "sh";
      continue;
    }
    if (!fenced || prompt_block) continue;
    std::string line = text;
    if (line.rfind("$ ", 0) == 0) line.erase(0, 2);
    if (line.rfind("build/apps/ombrix/ombrix ", 0) == 0) line.erase(0, std::string("build/apps/ombrix/").size());
    if (line.rfind("ombrix ", 0) != 0) continue;
    Example e{page, number, ""};
    // Continuations: a line ending in a backslash goes on with the next.
    while (!line.empty() && line.back() == '\\' && std::getline(in, text)) {
      ++number;
      line.pop_back();
      line += text;
    }
    e.command = line;
    out.push_back(e);
  }
  return out;
}

std::vector<Example> AllExamples() {
  const fs::path root = OMBRIX_TEST_SOURCE_DIR;
  std::vector<std::string> pages = {"README.md"};
  for (const char* folder : {"docs", "docs/effects"}) {
    for (const auto& entry : fs::directory_iterator(root / folder)) {
      if (entry.path().extension() == ".md") pages.push_back(fs::relative(entry.path(), root).string());
    }
  }
  std::sort(pages.begin(), pages.end());
  std::vector<Example> all;
  for (const std::string& page : pages) {
    for (Example& e : ReadExamples(root, page)) all.push_back(std::move(e));
  }
  return all;
}

// Shell words of a command (quotes removed), enough to find its file names.
std::vector<std::string> Words(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < command.size())
        word += command[++i];
      else
        word += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
      in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '#' && !in_word) {
      break;  // a comment
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// A 320x180 picture with straight alpha: colour ramps, a soft-edged
// transparent corner, so every effect has something to work on.
void WritePicture(const fs::path& path) {
  constexpr int kW = 320, kH = 180;
  std::vector<uint8_t> px(size_t(kW) * kH * 4);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &px[(size_t(y) * kW + x) * 4];
      p[0] = uint8_t(x * 255 / (kW - 1));
      p[1] = uint8_t(y * 255 / (kH - 1));
      p[2] = uint8_t(((x / 20 + y / 20) & 1) ? 200 : 40);
      p[3] = uint8_t(std::min(255, (x + y) * 2));
    }
  }
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << path;
  const int channels = path.extension() == ".jpg" || path.extension() == ".jpeg" ? 3 : 4;
  std::vector<uint8_t> data = px;
  if (channels == 3) {
    data.clear();
    for (size_t i = 0; i < px.size(); i += 4) data.insert(data.end(), px.begin() + i, px.begin() + i + 3);
  }
  OIIO::ImageSpec spec(kW, kH, channels, OIIO::TypeDesc::UINT8);
  ASSERT_TRUE(out->open(path.string(), spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, data.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

// "name.####.ext" or "name.%04d.ext" with frame f filled in; "" for a plain path.
std::string FrameName(const std::string& pattern, int frame) {
  static const std::regex hashes("#+"), printf_form("%0?(\\d*)d");
  std::smatch m;
  if (std::regex_search(pattern, m, hashes)) {
    std::string digits = std::to_string(frame);
    while (digits.size() < size_t(m.length(0))) digits.insert(0, "0");
    return m.prefix().str() + digits + m.suffix().str();
  }
  if (std::regex_search(pattern, m, printf_form)) {
    std::string digits = std::to_string(frame);
    const size_t width = m[1].length() ? std::stoul(m[1].str()) : 0;
    while (digits.size() < width) digits.insert(0, "0");
    return m.prefix().str() + digits + m.suffix().str();
  }
  return "";
}

bool IsGeneratedSource(const std::string& source) {
  return source.rfind("testcard", 0) == 0 || source.rfind("solid:", 0) == 0 || source.rfind("rgba:", 0) == 0 ||
         source == "-" || source == "self" || source == "none";
}

// A strokes file for `ombrix paint import` (docs/paint.md).
void WriteStrokes(const fs::path& path) {
  std::ofstream(path) << R"({"strokes": [{"time": 0.5, "points": [[0, 0.25, 0.5, 1], [0.1, 0.5, 0.5, 0.8]]},
    {"time": 1, "brush": {"radius": 12, "type": 9}, "points": [[0, 0.1, 0.1], [0.2, 0.9, 0.9]]}]})";
}

// A script for `ombrix paint apply` (docs/paint.md) that suits the strokes above.
void WriteEdits(const fs::path& path) {
  std::ofstream(path) << R"({"time": 1, "steps": [{"menu": 40016}, {"menu": 40022}, {"menu": 40009},
    {"menu": 40019}, {"menu": 40043, "value": 50}, {"menu": 40042, "color": "#FF8000"}]})";
}

// A studio project for `ombrix render --project` (docs/studio.md): the test
// card with Mistform over a solid.
void WriteProject(const fs::path& path) {
  std::ofstream(path) << R"({"ombrix_project": 1, "composition": {"width": 64, "height": 36, "fps": "24", "frames": 24},
    "layers": [{"id": "L1", "source": "testcard:64x36", "effects": [{"id": "E1", "effect": "mistform",
      "params": [{"index": 3, "value": "40", "keys": [{"time": 0, "value": "40"}, {"time": 1, "value": "90"}]}]}]},
      {"id": "L2", "source": "solid:64x36:#203040"}]})";
}

// Makes what the command reads and the folders it writes into.
void MakeFixtures(const std::vector<std::string>& words, const fs::path& dir) {
  int first = 0, last = 2;
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == "--frames") {
      const std::string& range = words[i + 1];
      const size_t dash = range.find('-');
      first = std::stoi(range.substr(0, dash));
      last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
    }
  }
  auto make_input = [&](const std::string& source) {
    if (IsGeneratedSource(source)) return;
    const std::string pattern = FrameName(source, 0);
    if (pattern.empty()) {
      if (!fs::exists(dir / source)) WritePicture(dir / source);
      return;
    }
    for (int f = first; f <= last; ++f) WritePicture(dir / FrameName(source, f));
  };
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    const std::string& option = words[i];
    const std::string& value = words[i + 1];
    if (option == "-i" || option == "--input") make_input(value);
    if (option == "import" && i > 0 && words[i - 1] == "paint" && !fs::exists(dir / value)) {
      WriteStrokes(dir / value);
    }
    if (option == "apply" && i > 0 && words[i - 1] == "paint" && i + 2 < words.size() &&
        !fs::exists(dir / words[i + 2])) {
      WriteEdits(dir / words[i + 2]);
    }
    if (option == "--project" && !fs::exists(dir / value)) WriteProject(dir / value);
    if (option == "--layer" && value.find('=') != std::string::npos) make_input(value.substr(value.find('=') + 1));
    if (option == "-o" || option == "--output" || option == "--save-sequence-data") {
      const fs::path parent = fs::path(value).parent_path();
      if (!parent.empty()) fs::create_directories(dir / parent);
    }
  }
}

// Test names say where the example is; failures print the command.
void PrintTo(const Example& e, std::ostream* os) { *os << e.page << ":" << e.line; }

class DocumentedExample : public ::testing::TestWithParam<Example> {};

TEST_P(DocumentedExample, RunsAsShown) {
  const Example& e = GetParam();
  std::string tmpl = (fs::temp_directory_path() / "ombrix-example-XXXXXX").string();
  const fs::path dir = mkdtemp(tmpl.data());
  // Commands joined with && or ; are split for the fixtures, run as one.
  std::vector<std::string> words = Words(e.command);
  MakeFixtures(words, dir);
  const fs::path bin = fs::path(OMBRIX_CLI).parent_path();
  const std::string script = "cd '" + dir.string() + "' && export PATH='" + bin.string() +
                             "':\"$PATH\" OMBRIX_PLUGIN_PATH='" + OMBRIX_TEST_PLUGIN_DIR + "' HOME='" + dir.string() +
                             "' XDG_CONFIG_HOME='" + dir.string() + "/config' BROWSER=true && { " + e.command +
                             "\n} >out.txt 2>err.txt </dev/null";
  const int status = std::system(script.c_str());
  std::ifstream err(dir / "err.txt");
  std::stringstream messages;
  messages << err.rdbuf();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << e.page << ":" << e.line << ": " << e.command << "\nexit " << WEXITSTATUS(status) << "\n"
      << messages.str();
  std::error_code ec;
  fs::remove_all(dir, ec);
}

std::string ExampleName(const ::testing::TestParamInfo<Example>& info) {
  std::string name = info.param.page + "_" + std::to_string(info.param.line);
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Docs, DocumentedExample, ::testing::ValuesIn(AllExamples()), ExampleName);

// The reader finds the examples: a page without any would be a broken fence.
TEST(DocumentedExamples, EveryEffectPageShowsOne) {
  const std::vector<Example> all = AllExamples();
  for (const auto& entry : fs::directory_iterator(fs::path(OMBRIX_TEST_SOURCE_DIR) / "docs/effects")) {
    const std::string page = fs::relative(entry.path(), OMBRIX_TEST_SOURCE_DIR).string();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Example& e) { return e.page == page; })) << page;
  }
}

}  // namespace
