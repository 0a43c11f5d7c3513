// ombrix-paramdoc: keeps the parameter tables of docs/effects/*.md equal to
// what each effect registers.
//
//   ombrix-paramdoc --ombrix PATH [--plugins DIR] [--update] DOCS_DIR
//
// For every effect `ombrix list --json` names, the table is made from
// `ombrix info EFFECT --json` and compared with the text between the two
// marker lines of DOCS_DIR/<short name>.md. Without --update a difference,
// a missing file or missing markers fail (status 1, one line per effect);
// with --update the tables are rewritten and a missing page is created with
// the effect's name and its table, for a person to describe the rest.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

constexpr const char* kBegin =
    "<!-- parameter table: made from the effect's registration by scripts/update-docs; do not edit -->";
constexpr const char* kEnd = "<!-- end of parameter table -->";
constexpr unsigned kStartCollapsed = 0x20;

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The standard output of a command, which must succeed.
std::string Run(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
  return out;
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A 16.16 value (a fixed slider's or angle's) as the shortest decimal that
// the command line turns back into the same 16.16 value (it rounds halves
// away from zero), so 11796479/65536 reads 179.99998 rather than 180.
// With `unit` 0.01 the value is shown in percent: N such that N x 0.01
// gives the same 16.16 value.
std::string Fixed(double v, double unit = 1.0) {
  const double fixed = std::round(v * 65536.0);
  for (int places = 0; places <= 8; ++places) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", places, v / unit);
    if (std::round(std::strtod(buf, nullptr) * unit * 65536.0) == fixed) return buf;
  }
  return Number(v / unit);
}

// Table cells hold no line breaks and no unescaped bars.
std::string Cell(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

bool Blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

std::string Colour(const std::string& rgba) {  // "#RRGGBBAA": alpha shown only when not opaque
  return rgba.size() == 9 && (rgba.substr(7) == "FF" || rgba.substr(7) == "ff") ? rgba.substr(0, 7) : rgba;
}

std::string PopupItems(const json& p) {
  std::string out;
  for (const json& item : p["items"]) {
    if (!out.empty()) out += ", ";
    const std::string number = std::to_string(item["number"].get<int>());
    if (item["separator"].get<bool>())
      out += number + " (separator)";
    else if (item["disabled"].get<bool>())
      out += number + " heading \"" + item["text"].get<std::string>() + "\"";
    else
      out += number + " " + item["text"].get<std::string>();
  }
  return out;
}

std::string Row(const json& p) {
  const std::string kind = p["kind"];
  const std::string name = p["name"];
  const unsigned flags = p["flags"];
  std::string title = name, what, dflt, range;
  if (kind == "slider" || kind == "fixed_slider") {
    what = kind == "slider" ? "slider" : "fixed slider";
    const bool percent = p.value("percent", false);
    auto number = [&](const json& v) { return kind == "slider" ? Number(v) : Fixed(v); };
    dflt = number(p["default"]);
    if (percent) {
      what += ", shown as percent";
      const double unit = p["percent_unit"];
      if (unit != 1.0) dflt += " (" + Fixed(p["default"], unit) + " %)";
    }
    range = number(p["valid_min"]) + ".." + number(p["valid_max"]);
    if (p["slider_min"] != p["valid_min"] || p["slider_max"] != p["valid_max"]) {
      range += " (slider " + number(p["slider_min"]) + ".." + number(p["slider_max"]) + ")";
    }
  } else if (kind == "angle") {
    what = "angle";
    dflt = Fixed(p["default"]) + "°";
    range = "degrees, any number of turns";
  } else if (kind == "checkbox") {
    what = "check box";
    const std::string label = p.value("label", "");
    if (Blank(name))
      title = label;
    else if (!Blank(label))
      what += " labelled \"" + label + "\"";
    dflt = p["default"];
  } else if (kind == "color") {
    what = "colour";
    dflt = Colour(p["default"]);
  } else if (kind == "point") {
    what = "point";
    dflt = Number(p["default_percent"][0]) + " %, " + Number(p["default_percent"][1]) + " %";
    range = p["restrict_bounds"].get<bool>() ? "inside the layer" : "anywhere";
  } else if (kind == "popup") {
    what = "popup";
    dflt = std::to_string(p["default"].get<int>());
    range = PopupItems(p);
  } else if (kind == "layer") {
    what = "layer";
    dflt = p["default"] == "self" ? "the layer itself" : "none";
  } else if (kind == "no_data" && p.value("custom_control", false)) {
    what = "control drawn by the effect";
    range = std::to_string(p["ui_width"].get<int>()) + " x " + std::to_string(p["ui_height"].get<int>()) + " pixels";
  } else {
    what = kind;
  }
  if (flags & kStartCollapsed) what += ", starts folded";
  if (flags & ~kStartCollapsed) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", flags & ~kStartCollapsed);
    what += std::string(", flags ") + hex;
  }
  return "| " + std::to_string(p["index"].get<int>()) + " | " + Cell(title) + " | " + Cell(what) + " | " + Cell(dflt) +
         " |" + (range.empty() ? std::string() : " " + Cell(range) + " ") + "|\n";
}

std::string Table(const json& info) {
  std::string out = std::string(kBegin) + "\n\n| # | Parameter | Kind | Default | Range |\n|---|---|---|---|---|\n";
  for (const json& p : info["params"]) {
    if (p["index"].get<int>() == 0) continue;  // the input layer
    out += Row(p);
  }
  return out + "\n" + kEnd;
}

std::string ReadFile(const std::string& path, bool& found) {
  std::ifstream in(path, std::ios::binary);
  found = bool(in);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return bool(out.flush());
}

// The first line where two texts differ, for the report.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::istringstream sa(a), sb(b);
  std::string la, lb;
  while (true) {
    const bool ga = bool(std::getline(sa, la)), gb = bool(std::getline(sb, lb));
    if (!ga && !gb) return "";
    if (!ga || !gb || la != lb)
      return "documented \"" + (ga ? la : std::string()) + "\", registered \"" + (gb ? lb : std::string()) + "\"";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string ombrix, plugins, docs;
  bool update = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ombrix" && i + 1 < argc)
      ombrix = argv[++i];
    else if (arg == "--plugins" && i + 1 < argc)
      plugins = argv[++i];
    else if (arg == "--update")
      update = true;
    else if (docs.empty() && !arg.empty() && arg[0] != '-')
      docs = arg;
    else {
      std::cerr << "usage: ombrix-paramdoc --ombrix PATH [--plugins DIR] [--update] DOCS_DIR\n";
      return 2;
    }
  }
  if (ombrix.empty() || docs.empty()) {
    std::cerr << "usage: ombrix-paramdoc --ombrix PATH [--plugins DIR] [--update] DOCS_DIR\n";
    return 2;
  }
  // Subcommands take --plugins after their name.
  const std::string base = ShellQuote(ombrix);
  const std::string folder = plugins.empty() ? "" : " --plugins " + ShellQuote(plugins);
  int stale = 0;
  try {
    const json effects = json::parse(Run(base + " list --json" + folder));
    if (effects.empty()) throw std::runtime_error("ombrix lists no effects");
    for (const json& e : effects) {
      const std::string name = e["short_name"];
      const json info = json::parse(Run(base + " info " + ShellQuote(name) + " --json" + folder));
      const std::string table = Table(info);
      const std::string path = docs + "/" + name + ".md";
      bool found = false;
      std::string text = ReadFile(path, found);
      const size_t begin = text.find(kBegin);
      const size_t end = begin == std::string::npos ? std::string::npos : text.find(kEnd, begin);
      if (!found || end == std::string::npos) {
        if (!update) {
          std::cerr << path << ": " << (found ? "no parameter table markers" : "missing") << "\n";
          ++stale;
          continue;
        }
        if (!found)
          text = "# " + info["display_name"].get<std::string>() + "\n\n" + table + "\n";
        else
          text += "\n" + table + "\n";
      } else {
        const std::string current = text.substr(begin, end + std::string(kEnd).size() - begin);
        if (current == table) continue;
        if (!update) {
          std::cerr << path
                    << ": the parameter table differs from the registration (" + FirstDifference(current, table) +
                           "); run scripts/update-docs\n";
          ++stale;
          continue;
        }
        text.replace(begin, current.size(), table);
      }
      if (!WriteFile(path, text)) throw std::runtime_error("cannot write " + path);
      std::cout << "updated " << path << "\n";
    }
  } catch (const std::exception& ex) {
    std::cerr << "ombrix-paramdoc: " << ex.what() << "\n";
    return 1;
  }
  return stale == 0 ? 0 : 1;
}
