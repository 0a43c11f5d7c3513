// A minimal stand-in host for the shell's own tests: loads one plug-in file
// with dlopen and serves only the services the shell calls (sprintf, strcpy,
// add_param), with a failing add_param on request. The records it passes are
// the test's own, so a test can see every byte a command writes.
#pragma once

#include <pf/api.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace harness {

struct Module {
  void* handle = nullptr;
  PF_EntryFunc entry = nullptr;

  explicit Module(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) entry = reinterpret_cast<PF_EntryFunc>(dlsym(handle, "main"));
  }
  ~Module() {
    if (handle != nullptr) dlclose(handle);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
};

// The registrations one PARAMS_SETUP made, and when add_param should fail.
struct Registry {
  std::vector<PF_ParamDef> defs;
  int fail_on_call = 0;  // 1-based; 0 never
  PF_Err fail_with = PF_Err_OUT_OF_MEMORY;
  int calls = 0;
  A_long last_index = 0;
};

inline PF_Err AddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
  Registry& r = *reinterpret_cast<Registry*>(ref);
  ++r.calls;
  r.last_index = index;
  if (r.calls == r.fail_on_call) return r.fail_with;
  r.defs.push_back(*def);
  return PF_Err_NONE;
}

inline A_char* StrCpy(A_char* dst, const A_char* src) { return std::strcpy(dst, src); }

// in_data with the services above; every other byte cleared.
struct Calls {
  Registry registry;
  PF_UtilCallbacks utils{};
  PF_InData in{};

  Calls() {
    utils.ansi.sprintf = std::sprintf;
    utils.ansi.strcpy = StrCpy;
    in.utils = &utils;
    in.inter.add_param = AddParam;
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(&registry);
  }
};

// out_data filled with a recognisable byte, to see exactly what a command wrote.
inline PF_OutData PatternedOut(uint8_t byte = 0xA5) {
  PF_OutData out;
  std::memset(&out, byte, sizeof out);
  return out;
}

inline bool SameBytes(const PF_OutData& a, const PF_OutData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace harness
