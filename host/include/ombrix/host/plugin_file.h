// Plug-in files on disk: their registration and version block, read
// without running them, and the folders they are found in.
#pragma once

#include <ombrix/host/pipl.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix {

struct PluginFile {
  std::filesystem::path path;
  std::string short_name;  // file name without ".aex": "flatwash"
  PiplInfo pipl;
  std::map<std::string, std::string> version;  // version block fields
};

// Reads a plug-in's registration and version block from its ELF sections
// without running any of its code, after checking everything the dynamic
// loader would follow (header, program headers, dynamic section and the
// tables it names) against the file's bounds. Throws HostError naming the
// file and the fault for anything that is not a well-formed plug-in.
PluginFile ReadPluginFile(const std::filesystem::path& path);
// The same for a file's bytes already in memory; `path` names it.
PluginFile ParsePluginFile(std::span<const uint8_t> bytes, const std::filesystem::path& path);

struct PluginScan {
  std::vector<PluginFile> plugins;  // sorted by category, then display name
  std::vector<std::string> errors;  // one line per rejected file
  // Files that cannot be used, with the line saying why (the file's
  // registration is filled in when it could be read).
  std::vector<std::pair<PluginFile, std::string>> refused;
};
PluginScan ScanPluginFolder(const std::filesystem::path& folder);

// The folder searched when none is given: $OMBRIX_PLUGIN_PATH, else the
// build's plugin folder, else the installed lib/ombrix/plugins beside the executable.
std::filesystem::path DefaultPluginFolder();

// Finds an effect by short name, display name or match name (exact, then
// case-insensitive). Throws HostError listing nothing found.
const PluginFile& FindPlugin(const PluginScan& scan, std::string_view name);

}  // namespace ombrix
