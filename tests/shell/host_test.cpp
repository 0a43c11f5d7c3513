// The shell through the host runtime: registration read from the files,
// commands sent to the real plug-ins, failures injected into add_param, and
// two builds of one source loaded side by side.
#include <ombrix/host/host.h>
#include <pf/pipl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using ombrix::Effect;
using ombrix::Host;

ombrix::PluginFile Flatwash() { return ombrix::ReadPluginFile(std::string(OMBRIX_TEST_PLUGIN_DIR) + "/flatwash.aex"); }
ombrix::PluginFile Probe(const char* name) {
  return ombrix::ReadPluginFile(std::string(PROBE_PLUGIN_DIR) + "/" + name + ".aex");
}

PF_OutData Patterned() {
  PF_OutData out;
  std::memset(&out, 0xA5, sizeof out);
  return out;
}

bool SameBytes(const PF_OutData& a, const PF_OutData& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ShellThroughHost, RegistrationReadFromTheBinary) {
  const ombrix::PluginFile f = Flatwash();
  constexpr pf::PluginRow row{"OB Flatwash", "obx Flatwash", 11, 0, 0};
  constexpr auto bytes = pf::BuildPipl<pf::PiplSize(row)>(row);
  EXPECT_EQ(f.pipl.bytes, std::vector<uint8_t>(bytes.bytes, bytes.bytes + bytes.size()));
  EXPECT_EQ(f.pipl.kind, "eFKT");
  EXPECT_EQ(f.pipl.display_name, "OB Flatwash");
  EXPECT_EQ(f.pipl.match_name, "obx Flatwash");
  EXPECT_EQ(f.pipl.category, "Ombrix One");
  EXPECT_EQ(f.pipl.entry_point, "main");
  EXPECT_EQ(f.pipl.api_major, 11);
  EXPECT_EQ(f.pipl.api_minor, 0);
  EXPECT_EQ(f.pipl.effect_version, 0x80600u);
  EXPECT_EQ(f.pipl.global_flags, 0u);
  EXPECT_EQ(f.version.at("InternalName"), "flatwash");
  EXPECT_EQ(f.version.at("OriginalFilename"), "flatwash.aex");
  EXPECT_EQ(f.version.at("FileDescription"), "OB Flatwash");
  EXPECT_EQ(f.version.at("FileVersion"), "1, 0, 0, 0");
  EXPECT_EQ(f.version.at("CompanyName"), "Kestrane");

  const ombrix::PluginFile b = Probe("probe_b");
  EXPECT_EQ(b.pipl.display_name, "OB Probe probe_b");
  EXPECT_EQ(b.pipl.global_flags, 0x21u);
  EXPECT_EQ(b.version.at("OriginalFilename"), "probe_b.aex");
}

TEST(ShellThroughHost, UnhandledCommandsWriteNothing) {
  Host host;
  Effect fx(host, Flatwash());
  for (PF_Cmd cmd : {2, 3, 7, 12, 16, 100}) {
    SCOPED_TRACE(cmd);
    PF_InData in = fx.BaseInData();
    PF_OutData out = Patterned();
    const PF_OutData before = out;
    EXPECT_EQ(fx.Send(cmd, in, out, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(SameBytes(out, before));
  }
}

TEST(ShellThroughHost, GlobalSetupKeepsTheHostsFlags) {
  Host host;
  Effect flatwash(host, Flatwash());
  Effect dialog_style(host, Probe("probe_b"));
  EXPECT_EQ(flatwash.my_version(), 0x80600u);
  EXPECT_EQ(flatwash.global_out_flags(), 0);
  EXPECT_EQ(dialog_style.global_out_flags(), 0x21);
  struct Case {
    Effect* fx;
    A_long adds;
  };
  for (const Case& c : {Case{&flatwash, 0}, Case{&dialog_style, 0x21}}) {
    PF_InData in = c.fx->BaseInData();
    PF_OutData out = Patterned();
    out.out_flags = PF_OutFlag_NOP_RENDER | PF_OutFlag_WIDE_TIME_INPUT;
    PF_OutData expected = out;
    expected.my_version = 0x80600;
    expected.out_flags |= c.adds;
    EXPECT_EQ(c.fx->Send(PF_Cmd_GLOBAL_SETUP, in, out, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_TRUE(SameBytes(out, expected));
  }
}

TEST(ShellThroughHost, AddParamFailingOnTheSecondParameter) {
  Host host;
  Effect fx(host, Flatwash());
  const int before = host.failures().Calls("add_param");
  host.failures().Arm("add_param", 2, PF_Err_OUT_OF_MEMORY);
  PF_InData in = fx.BaseInData();
  PF_OutData out = Patterned();
  out.num_params = 77;
  const PF_OutData passed = out;
  EXPECT_EQ(fx.Send(PF_Cmd_PARAMS_SETUP, in, out, nullptr, nullptr, nullptr), PF_Err_OUT_OF_MEMORY);
  EXPECT_TRUE(SameBytes(out, passed));
  EXPECT_EQ(host.failures().Calls("add_param") - before, 2);

  // At load, the same failure stops the effect from loading with that error.
  Host other;
  other.failures().Arm("add_param", 2, PF_Err_INVALID_INDEX);
  try {
    Effect broken(other, Flatwash());
    ADD_FAILURE() << "loaded despite the failing add_param";
  } catch (const ombrix::HostError& e) {
    EXPECT_EQ(e.err, PF_Err_INVALID_INDEX);
  }
}

TEST(ShellThroughHost, TwoBuildsInOneProcessKeepTheirOwnState) {
  Host host;
  Effect a(host, Probe("probe_a"));
  Effect b(host, Probe("probe_b"));
  EXPECT_EQ(a.num_params(), 8);
  EXPECT_EQ(b.num_params(), 8);
  ombrix::Instance ia(a, ombrix::TimeBase{}, 3, 2);
  ombrix::Instance ib(b, ombrix::TimeBase{}, 3, 2);
  ombrix::World in(3, 2), out(3, 2);
  EXPECT_EQ(ia.RenderFrame(0, in.pf(), out.pf()).message, "1");
  EXPECT_EQ(ia.RenderFrame(100, in.pf(), out.pf()).message, "2");
  EXPECT_EQ(ib.RenderFrame(0, in.pf(), out.pf()).message, "1");
  EXPECT_EQ(ia.RenderFrame(200, in.pf(), out.pf()).message, "3");
  // Each module's shell answers with its own identity row.
  EXPECT_EQ(ia.Command(PF_Cmd_ABOUT).message.substr(0, 17), "OB Probe probe_a,");
  EXPECT_EQ(ib.Command(PF_Cmd_ABOUT).message.substr(0, 17), "OB Probe probe_b,");
  // The host keeps definitions as registered: leftovers only where the record is reused.
  EXPECT_EQ(a.params()[2].u.fd.value_str[1], 10);
  EXPECT_EQ(b.params()[2].u.fd.value_str[1], 0);
}

}  // namespace
