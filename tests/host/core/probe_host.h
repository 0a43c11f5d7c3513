// A host with the probe plug-in loaded, for tests that call services the
// way a plug-in does.
#pragma once

#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe_record.h"

namespace ombrix::testing {

inline std::filesystem::path ProbeDir() { return OMBRIX_PROBE_DIR; }
inline std::filesystem::path ProbePath() { return ProbeDir() / "probe.aex"; }
inline std::filesystem::path FlatProbePath() { return ProbeDir() / "flatprobe.aex"; }

class ProbeHost : public ::testing::Test {
 protected:
  ProbeHost() : file(ReadPluginFile(ProbePath())) {
    host.on_message = [this](std::string_view m) { messages.emplace_back(m); };
  }

  Host host;
  PluginFile file;
  std::vector<std::string> messages;
};

inline probe::Record RecordOf(Instance& inst) {
  std::vector<uint8_t> bytes = inst.SequenceDataBytes();
  probe::Record r{};
  EXPECT_EQ(bytes.size(), sizeof r);
  if (bytes.size() == sizeof r) std::memcpy(&r, bytes.data(), sizeof r);
  return r;
}

}  // namespace ombrix::testing
