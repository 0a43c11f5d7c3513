// Commands sent straight to the built plug-ins through a minimal loader, so
// that every byte a command writes into the records is visible.
#include "shell/plugin_harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const std::string kFlatwash = std::string(OMBRIX_TEST_PLUGIN_DIR) + "/flatwash.aex";
const std::string kProbeA = std::string(PROBE_PLUGIN_DIR) + "/probe_a.aex";
const std::string kProbeB = std::string(PROBE_PLUGIN_DIR) + "/probe_b.aex";

// Sends `cmd` with patterned records and reports whether any byte changed.
struct Untouched {
  harness::Calls calls;
  PF_OutData out = harness::PatternedOut();
  PF_ParamDef defs[3];
  PF_ParamDef* params[3] = {&defs[0], &defs[1], &defs[2]};
  PF_LayerDef output;
  uint8_t pixels[4 * 4 * 3];

  Untouched() {
    std::memset(defs, 0x5A, sizeof defs);
    std::memset(&output, 0x3C, sizeof output);
    std::memset(pixels, 0x77, sizeof pixels);
    output.data = reinterpret_cast<PF_Pixel*>(pixels);
    output.width = 4;
    output.height = 3;
    output.rowbytes = 16;
  }

  ::testing::AssertionResult Send(PF_EntryFunc entry, PF_Cmd cmd) {
    const PF_InData in_before = calls.in;
    const PF_OutData out_before = out;
    PF_ParamDef defs_before[3];
    std::memcpy(defs_before, defs, sizeof defs);
    const PF_LayerDef output_before = output;
    uint8_t pixels_before[sizeof pixels];
    std::memcpy(pixels_before, pixels, sizeof pixels);

    const PF_Err err = entry(cmd, &calls.in, &out, params, &output, nullptr);
    if (err != PF_Err_NONE) return ::testing::AssertionFailure() << "command " << cmd << " returned " << err;
    if (!harness::SameBytes(out, out_before))
      return ::testing::AssertionFailure() << "command " << cmd << " wrote out_data";
    if (std::memcmp(&calls.in, &in_before, sizeof in_before) != 0 || std::memcmp(defs, defs_before, sizeof defs) != 0 ||
        std::memcmp(&output, &output_before, sizeof output) != 0 ||
        std::memcmp(pixels, pixels_before, sizeof pixels) != 0)
      return ::testing::AssertionFailure() << "command " << cmd << " wrote its inputs";
    if (calls.registry.calls != 0) return ::testing::AssertionFailure() << "command " << cmd << " called add_param";
    return ::testing::AssertionSuccess();
  }
};

TEST(ShellCommands, UnhandledAndOutOfRangeCommandsReturnZeroAndWriteNothing) {
  for (const std::string& path : {kFlatwash, kProbeA, kProbeB}) {
    SCOPED_TRACE(path);
    harness::Module m(path);
    ASSERT_NE(m.entry, nullptr) << dlerror();
    Untouched u;
    for (PF_Cmd cmd : {2, 3, 7, 12, 13, 15, 16, 1000, 0x7FFFFFFF, -1, -12}) EXPECT_TRUE(u.Send(m.entry, cmd));
  }
  // Flatwash also leaves every sequence and dialog command alone.
  harness::Module flatwash(kFlatwash);
  Untouched u;
  for (PF_Cmd cmd : {5, 6, 8, 9}) EXPECT_TRUE(u.Send(flatwash.entry, cmd));
}

TEST(ShellCommands, AboutWritesTheAboutText) {
  harness::Module m(kFlatwash);
  harness::Calls calls;
  PF_OutData out = harness::PatternedOut(0);
  EXPECT_EQ(m.entry(PF_Cmd_ABOUT, &calls.in, &out, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(out.return_msg,
               "OB Flatwash, v1.0  Copyright 2026 Kestrane. All rights reserved.\r\r\r"
               "Alt-click <About> to go to web page.");
  // Each probe names itself: the shell reads its own module's row.
  harness::Module a(kProbeA), b(kProbeB);
  a.entry(PF_Cmd_ABOUT, &calls.in, &out, nullptr, nullptr, nullptr);
  EXPECT_EQ(std::string(out.return_msg).substr(0, 20), "OB Probe probe_a, v1");
  b.entry(PF_Cmd_ABOUT, &calls.in, &out, nullptr, nullptr, nullptr);
  EXPECT_EQ(std::string(out.return_msg).substr(0, 20), "OB Probe probe_b, v1");
}

TEST(ShellCommands, FlatwashRegistersItsTwoParameters) {
  harness::Module m(kFlatwash);
  harness::Calls calls;
  PF_OutData out = harness::PatternedOut();
  PF_OutData expected = out;
  expected.num_params = 3;
  ASSERT_EQ(m.entry(PF_Cmd_PARAMS_SETUP, &calls.in, &out, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(harness::SameBytes(out, expected));
  EXPECT_EQ(calls.registry.last_index, -1);
  ASSERT_EQ(calls.registry.defs.size(), 2u);

  const PF_ParamDef& color = calls.registry.defs[0];
  EXPECT_EQ(color.param_type, PF_Param_COLOR);
  EXPECT_STREQ(color.name, "Color");
  EXPECT_EQ(color.flags, 0);
  EXPECT_EQ(color.ui_flags, 0);
  const uint8_t white[4] = {255, 255, 255, 255};
  EXPECT_EQ(std::memcmp(&color.u.cd.value, white, 4), 0);
  EXPECT_EQ(std::memcmp(&color.u.cd.dephault, white, 4), 0);

  const PF_ParamDef& blend = calls.registry.defs[1];
  EXPECT_EQ(blend.param_type, PF_Param_FIX_SLIDER);
  EXPECT_STREQ(blend.name, "Blend With Original");
  EXPECT_EQ(blend.flags, 0x20);
  EXPECT_EQ(blend.u.fd.value, 0);
  EXPECT_EQ(blend.u.fd.dephault, 0);
  EXPECT_EQ(blend.u.fd.valid_min, 0);
  EXPECT_EQ(blend.u.fd.valid_max, 0x10000);
  EXPECT_EQ(blend.u.fd.slider_min, 0);
  EXPECT_EQ(blend.u.fd.slider_max, 0x10000);
  EXPECT_EQ(blend.u.fd.precision, 1);
  EXPECT_EQ(blend.u.fd.display_flags, 1);
  EXPECT_STREQ(blend.u.fd.value_str, "");
  EXPECT_STREQ(blend.u.fd.value_desc, "");
  // One record reused: the colour's default (bytes 4..7 of the union) is
  // still there behind value_str's terminator.
  EXPECT_EQ(uint8_t(blend.u.fd.value_str[1]), 255);
  EXPECT_EQ(uint8_t(blend.u.fd.value_str[3]), 255);
}

TEST(ShellCommands, AddParamFailureEndsRegistrationWithThatError) {
  for (PF_Err err : {PF_Err(PF_Err_OUT_OF_MEMORY), PF_Err(PF_Err_INVALID_INDEX)}) {
    for (const std::string& path : {kFlatwash, kProbeA, kProbeB}) {
      SCOPED_TRACE(path);
      harness::Module m(path);
      harness::Calls calls;
      calls.registry.fail_on_call = 2;
      calls.registry.fail_with = err;
      PF_OutData out = harness::PatternedOut();
      const PF_OutData before = out;
      EXPECT_EQ(m.entry(PF_Cmd_PARAMS_SETUP, &calls.in, &out, nullptr, nullptr, nullptr), err);
      EXPECT_EQ(calls.registry.calls, 2);            // nothing after the failure
      EXPECT_TRUE(harness::SameBytes(out, before));  // num_params as passed
    }
  }
}

TEST(ShellCommands, ReusedRecordCarriesFieldsOverAndClearedRecordDoesNot) {
  harness::Module a(kProbeA), b(kProbeB);
  harness::Calls ca, cb;
  PF_OutData out = harness::PatternedOut();
  ASSERT_EQ(a.entry(PF_Cmd_PARAMS_SETUP, &ca.in, &out, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(out.num_params, 8);
  ASSERT_EQ(b.entry(PF_Cmd_PARAMS_SETUP, &cb.in, &out, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(out.num_params, 8);
  ASSERT_EQ(ca.registry.defs.size(), 7u);
  ASSERT_EQ(cb.registry.defs.size(), 7u);

  for (const harness::Registry* r : {&ca.registry, &cb.registry}) {
    const auto& d = r->defs;
    EXPECT_EQ(d[1].u.fd.value, 0x8000);
    EXPECT_EQ(d[1].u.fd.dephault, 0x8000);
    EXPECT_EQ(d[2].param_type, PF_Param_POPUP);
    EXPECT_EQ(d[2].u.pd.num_choices, 3);  // the separator counts
    EXPECT_EQ(d[2].u.pd.value, 3);
    EXPECT_EQ(d[2].u.pd.dephault, 3);
    EXPECT_STREQ(d[2].u.pd.u.namesptr, "One|(-|Two");
    EXPECT_STREQ(d[3].name, "");
    EXPECT_EQ(d[3].u.bd.value, 1);
    EXPECT_EQ(d[3].u.bd.dephault, 1);
    EXPECT_STREQ(d[3].u.bd.u.nameptr, "Invert");
    EXPECT_EQ(d[4].flags, 0x20);
    EXPECT_EQ(d[4].u.td.x_value, 50 << 16);
    EXPECT_EQ(d[4].u.td.y_dephault, 25 << 16);
    EXPECT_EQ(d[4].u.td.restrict_bounds, 1);
    EXPECT_EQ(d[5].u.sd.value, 7);
    EXPECT_EQ(d[5].u.sd.valid_max, 100);
    EXPECT_EQ(d[5].u.sd.slider_max, 20);
    EXPECT_EQ(d[6].u.ad.value, 90 << 16);
    EXPECT_EQ(d[6].u.ad.dephault, 90 << 16);
  }
  // The fixed slider after the colour: the colour's default red, green, blue
  // remain behind value_str's terminator only when the record is reused.
  EXPECT_EQ(ca.registry.defs[1].u.fd.value_str[1], 10);
  EXPECT_EQ(ca.registry.defs[1].u.fd.value_str[3], 30);
  EXPECT_EQ(cb.registry.defs[1].u.fd.value_str[1], 0);
  EXPECT_EQ(cb.registry.defs[1].u.fd.value_str[3], 0);
  // The angle's range fields (union bytes 8..15) lie in the slider's
  // value_str, which registration leaves alone past its first byte; reused,
  // they still hold the point's restrict_bounds byte (byte 11) and x default.
  EXPECT_EQ(uint32_t(ca.registry.defs[6].u.ad.valid_min) >> 24, 1u);
  EXPECT_EQ(ca.registry.defs[6].u.ad.valid_max, 50 << 16);
  EXPECT_EQ(cb.registry.defs[6].u.ad.valid_min, 0);
  EXPECT_EQ(cb.registry.defs[6].u.ad.valid_max, 0);
}

}  // namespace
