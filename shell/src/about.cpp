// The about command and the web-page launcher.
//
// The launcher keeps a small record in the registry, shared by every plug-in
// of the family, and opens the vendor's page in the browser the system
// associates with HTML files. The association is asked about a real file,
// made for the purpose and removed again; it lives in a fresh directory
// private to the user and is created exclusively, so nothing another user
// prepared under that name can be followed or reused.
#include <pf/shell.h>

#include <ombrix/platform/files.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/launch.h>
#include <ombrix/platform/registry.h>

#include <cstring>

namespace pf {

namespace plat = ombrix::platform;

namespace {

constexpr char kLocalRoot[] = "file:///[root]/OBX_WWW/";
static_assert(sizeof kLocalRoot - 1 == 23);

bool AltDown() { return (plat::GetKeyState(plat::kVkAlt) & plat::kKeyDownBit) != 0; }

// Alt-click: the page, or the failure message; the about text is not written.
void OpenPage(PF_InData* in_data, PF_OutData* out_data) {
  if (LaunchWebPage() == -1) in_data->utils->ansi.sprintf(out_data->return_msg, "%s", kMsgLaunchFailed);
}

}  // namespace

void WriteAboutText(PF_InData* in_data, PF_OutData* out_data, const char* display_name) {
  in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d  %s\r\r%s", display_name, 1, 0, kLegalNotice,
                               kAboutHint);
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (AltDown())
    OpenPage(in_data, out_data);
  else
    WriteAboutText(in_data, out_data, kPluginRow.display_name);
  return PF_Err_NONE;
}

uint16_t MacKeyState(int mac_key_code) {
  int vk = mac_key_code;
  switch (mac_key_code) {
    case 53:
      vk = plat::kVkEscape;
      break;
    case 55:
      vk = plat::kVkControl;
      break;
    case 56:
      vk = plat::kVkShift;
      break;
    case 58:
      vk = plat::kVkAlt;
      break;
    default:
      break;
  }
  return plat::GetKeyState(vk);
}

PF_Err AboutMacKey(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (MacKeyState(58) & plat::kKeyDownBit)
    OpenPage(in_data, out_data);
  else
    WriteAboutText(in_data, out_data, kPluginRow.display_name);
  return PF_Err_NONE;
}

PF_Err AboutPrechecked(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (!(MacKeyState(58) & plat::kKeyDownBit)) {
    WriteAboutText(in_data, out_data, kPluginRow.display_name);
    return PF_Err_NONE;
  }
  // A missing or damaged record is the launcher's to replace (with mode 2),
  // so only a valid record can make this skip it.
  HelpPrefs prefs;
  if (ReadHelpPrefs(&prefs)) {
    const uint32_t mode = HelpPrefsMode(prefs);
    if (mode != 1 && mode != 2) return PF_Err_NONE;
  }
  OpenPage(in_data, out_data);
  return PF_Err_NONE;
}

HelpPrefs DefaultHelpPrefs() {
  HelpPrefs p{};
  p.bytes[0] = 2;  // mode, little-endian
  p.bytes[4] = uint8_t(sizeof kLocalRoot - 1);
  std::memcpy(p.bytes + 5, kLocalRoot, sizeof kLocalRoot - 1);
  return p;
}

uint32_t HelpPrefsMode(const HelpPrefs& prefs) {
  return uint32_t(prefs.bytes[0]) | uint32_t(prefs.bytes[1]) << 8 | uint32_t(prefs.bytes[2]) << 16 |
         uint32_t(prefs.bytes[3]) << 24;
}

bool ReadHelpPrefs(HelpPrefs* prefs) {
  plat::RegKeyHandle key = nullptr;
  if (plat::RegOpenKey(plat::kRegCurrentUser, kHelpPrefsKey, plat::kKeyAllAccess, &key) != plat::kOk) return false;
  uint32_t type = 0, size = kHelpPrefsSize;
  const bool valid = plat::RegQueryValue(key, nullptr, &type, prefs->bytes, &size) == plat::kOk &&
                     type == plat::kRegBinary && size == kHelpPrefsSize;
  plat::RegCloseKey(key);
  return valid;
}

int16_t LaunchWebPage() {
  HelpPrefs prefs;
  if (!ReadHelpPrefs(&prefs)) {
    prefs = DefaultHelpPrefs();
    plat::RegKeyHandle key = nullptr;
    uint32_t disposition = 0;
    bool written = plat::RegCreateKey(plat::kRegCurrentUser, kHelpPrefsKey, plat::kRegOptionNonVolatile,
                                      plat::kKeyAllAccess, &key, &disposition) == plat::kOk;
    if (written) {
      written = plat::RegSetValue(key, nullptr, plat::kRegBinary, prefs.bytes, kHelpPrefsSize) == plat::kOk;
      plat::RegCloseKey(key);
    }
    if (!written) plat::MessageBeep(plat::kBeepSimple);
  }
  const uint32_t mode = HelpPrefsMode(prefs);
  if (mode != 1 && mode != 2) return 0;

  const char* address = kWebAddress;

  static constexpr char kFileName[] = "/a.html";
  char dir[plat::kMaxPath];
  if (plat::MakePrivateDirectory(dir, plat::kMaxPath - (sizeof kFileName - 1)) != plat::kOk) return -1;
  char file[plat::kMaxPath];
  std::strcpy(file, dir);
  std::strcat(file, kFileName);

  bool launched = false;
  if (plat::CreateNewFile(file, nullptr) == plat::kOk) {
    char program[plat::kMaxPath];
    if (plat::FindExecutable(file, nullptr, program, plat::kMaxPath) > 32) {
      const char* const argv[] = {program, address, nullptr};
      plat::StartProgram(program, argv);  // requested is enough; its answer is not examined
      launched = true;
    }
    plat::DeleteFile(file);
  }
  plat::RemoveDirectory(dir);
  return launched ? 0 : -1;
}

}  // namespace pf
