// The settings record and the options dialogs through the options test
// plug-ins' main and the host.
#include "options_harness.h"

#include <bit>

namespace optprobe {
namespace {

const std::string kCorrupt =
    "Corrupt memory. \xA4"
    "1:1";
const std::string kNoMemorySetup =
    "Not enough memory. \xA4"
    "1:2";
const std::string kCannotRestore =
    "Could not restore settings. \xA4"
    "2:1";
const std::string kNoMemoryRestore =
    "Not enough memory \xA4"
    "2:2";
const std::string kNoResource = "Could not find resource\t(\xA4 3:1)";

const Words kNoiseDefaults = {2, 0, 0, 1, 0, 8, 8};
const Words kFacetryDefaults = {2, 0, 0, 1, 0, 4, 4};
const Words kLightningDefaults = {1, 6, 64, 100, 0, 1, 0x00000000u, 0x3F333333u, 0x3E800000u};

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

TEST_F(OptionsTest, DefaultRecordsPerKind) {
  // The float words are 0.0f, 0.7f and 0.25f.
  EXPECT_EQ(kLightningDefaults[7], Bits(0.7f));
  EXPECT_EQ(kLightningDefaults[8], Bits(0.25f));
  for (const auto& [kind, expected] : {std::pair{"seed", kNoiseDefaults}, std::pair{"facetry", kFacetryDefaults},
                                       std::pair{"lightning", kLightningDefaults}}) {
    Load(kind);
    auto inst = Apply();
    EXPECT_EQ(inst->setup_result().err, PF_Err_NONE) << kind;
    EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), expected) << kind;
    EXPECT_TRUE(messages.empty()) << kind;
    inst.reset();
    EXPECT_EQ(ombrix::LiveHandleCount(), 0u) << "setdown releases the record";
  }
}

TEST_F(OptionsTest, ResetupKeepsConvertsOrReplaces) {
  Load("seed");
  const Words stored = {2, 1234567, 1, 17, 0, 8, 8};
  {
    auto inst = Apply(stored);
    EXPECT_EQ(inst->setup_result().err, PF_Err_NONE);
    EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), stored);
    EXPECT_TRUE(inst->setup_result().message.empty());
  }
  {
    // Written on a machine of the other byte order: the version reads 0x02000000.
    Words reversed;
    for (uint32_t w : stored) reversed.push_back(Swap(w));
    ASSERT_EQ(reversed[0], 0x02000000u);
    auto inst = Apply(reversed);
    EXPECT_EQ(inst->setup_result().err, PF_Err_NONE);
    EXPECT_TRUE(inst->setup_result().message.empty());
    EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), stored);
  }
  for (uint32_t version : {3u, Swap(3u)}) {
    Words v3 = stored;
    v3[0] = version;
    auto inst = Apply(v3);
    EXPECT_EQ(inst->setup_result().err, PF_Err_NONE);
    EXPECT_EQ(inst->setup_result().message, kCannotRestore);
    EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults);
  }
  {
    Words longer = stored;
    longer.push_back(0);  // 32 bytes
    auto inst = Apply(longer);
    EXPECT_EQ(inst->setup_result().message, kCannotRestore);
    EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults);
  }
}

TEST_F(OptionsTest, LightningResetupReversesFloatsToo) {
  Load("lightning");
  const Words stored = {1, 3, 100, 50, 4, 2, Bits(0.125f), Bits(0.5f), Bits(0.875f)};
  Words reversed;
  for (uint32_t w : stored) reversed.push_back(Swap(w));
  auto inst = Apply(reversed);
  EXPECT_TRUE(inst->setup_result().message.empty());
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), stored);
  // A noise record (28 bytes) is not Lightning's.
  auto other = Apply(kNoiseDefaults);
  EXPECT_EQ(other->setup_result().message, kCannotRestore);
  EXPECT_EQ(WordsOf(other->SequenceDataBytes()), kLightningDefaults);
}

TEST_F(OptionsTest, SetupWithARecordPresent) {
  Load("seed");
  auto inst = Apply();
  const auto r = inst->Command(PF_Cmd_SEQUENCE_SETUP);
  EXPECT_EQ(r.err, 517);
  EXPECT_EQ(r.message, kCorrupt);
  EXPECT_EQ(plat::BeepTotal(), 0u);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults) << "the record is left alone";

  // Lightning also beeps with the default sound and lets go of the handle.
  inst.reset();
  Load("lightning");
  auto bolt = Apply();
  const auto l = bolt->Command(PF_Cmd_SEQUENCE_SETUP);
  EXPECT_EQ(l.err, 517);
  EXPECT_EQ(l.message, kCorrupt);
  EXPECT_EQ(plat::BeepCount(0), 1u);
  EXPECT_EQ(bolt->sequence_data(), nullptr);
}

TEST_F(OptionsTest, FailingHandleAllocationGivesEachMessage) {
  Load("seed");
  host->failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  auto inst = Apply();
  EXPECT_EQ(inst->setup_result().err, 517);
  EXPECT_EQ(inst->setup_result().message, kNoMemorySetup);
  EXPECT_EQ(inst->sequence_data(), nullptr);

  // The options command makes the missing record itself, with the same message on failure...
  host->failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  auto r = Dialog(*inst, "ok");
  EXPECT_EQ(r.err, 517);
  EXPECT_EQ(r.message, kNoMemorySetup);
  // ...and edits the record it made when it can.
  r = Dialog(*inst, "text 1002=42; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 42, 0, 1, 0, 8, 8}));

  // A failed restore with no memory for the defaults.
  host->failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  auto bad = ApplyBytes(std::vector<uint8_t>(32, 0));
  EXPECT_EQ(bad->setup_result().err, 517);
  EXPECT_EQ(bad->setup_result().message, kNoMemoryRestore);
  EXPECT_EQ(bad->sequence_data(), nullptr);
}

TEST_F(OptionsTest, SeedAboveTheRangeIsClampedAndTheDialogStaysOpen) {
  Load("seed");
  auto inst = Apply();
  // One OK: the seed is rewritten and selected, and the dialog stays open
  // (the script runs out, so it never ended: nothing is stored).
  auto r = Dialog(*inst, "text 1002=6000000; ok");
  auto d = LastDialog();
  EXPECT_EQ(d.outcome, plat::DialogOutcome::kScriptExhausted);
  EXPECT_EQ(Control(d, 1002).text, "5898239");
  EXPECT_EQ(Control(d, 1002).sel_start, 0);
  EXPECT_EQ(Control(d, 1002).sel_end, 7);
  EXPECT_EQ(d.focus_id, 1002);
  EXPECT_EQ(r.message, kNoResource);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults);
  // Pressing OK again accepts the clamped value.
  r = Dialog(*inst, "text 1002=6000000; ok; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(LastDialog().result, 1);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 5898239, 0, 1, 0, 8, 8}));
}

TEST_F(OptionsTest, RevolutionsTruncatedAndClamped) {
  Load("seed");
  auto inst = Apply();
  auto d0 = Dialog(*inst, "cancel");
  auto opened = LastDialog();
  EXPECT_EQ(opened.title, DisplayName("seed"));
  EXPECT_EQ(Control(opened, 1002).text, "0");
  EXPECT_EQ(Control(opened, 1004).text, "1");
  EXPECT_EQ(Control(opened, 1003).check, 0u);

  // 3.9 revolutions are stored as 3; "1,5" style separators read the same.
  auto r = Dialog(*inst, "check 1003=1; text 1004=3.9; text 1002=12a; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 12, 1, 3, 0, 8, 8}));

  // Revolutions 0 with the box unchecked: rewritten to 1 and accepted.
  r = Dialog(*inst, "check 1003=0; text 1004=0; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(Control(LastDialog(), 1004).text, "1");
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 12, 0, 1, 0, 8, 8}));

  // Checked, the dialog stays open on the rewritten value instead.
  r = Dialog(*inst, "check 1003=1; text 1004=95; ok");
  auto d = LastDialog();
  EXPECT_EQ(d.outcome, plat::DialogOutcome::kScriptExhausted);
  EXPECT_EQ(Control(d, 1004).text, "91");
  EXPECT_EQ(d.focus_id, 1004);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 12, 0, 1, 0, 8, 8}));
}

TEST_F(OptionsTest, CancelReturns517AndKeepsTheRecord) {
  Load("seed");
  auto inst = Apply();
  const auto r = Dialog(*inst, "text 1002=77; check 1003=1; cancel");
  EXPECT_EQ(r.err, 517);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults);
}

TEST_F(OptionsTest, DialogThatCannotBeCreated) {
  Load("seed");
  auto inst = Apply();
  auto r = Dialog(*inst, "fail-create");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, kNoResource);
  // A window that will not keep the working record ends as Cancel.
  r = Dialog(*inst, "refuse-user-data");
  EXPECT_EQ(r.err, 517);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kNoiseDefaults);
}

TEST_F(OptionsTest, NoMainWindowMeansNoParent) {
  Load("seed");
  auto inst = Apply();
  host->failures().Arm("get_platform_data", 1, PF_Err_BAD_CALLBACK_PARAM);
  const auto r = Dialog(*inst, "text 1002=5; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes())[1], 5u);
}

TEST_F(OptionsTest, FacetryClampsEverythingAtOnce) {
  Load("facetry");
  auto inst = Apply();
  auto r = Dialog(*inst, "check 1005=1; text 1006=0; text 1007=70000; text 1002=6000000; ok");
  auto d = LastDialog();
  EXPECT_EQ(d.outcome, plat::DialogOutcome::kScriptExhausted);
  EXPECT_EQ(plat::BeepCount(0), 1u);
  EXPECT_EQ(Control(d, 1006).text, "1");
  EXPECT_EQ(Control(d, 1007).text, "65535");
  EXPECT_EQ(Control(d, 1002).text, "5898239");
  EXPECT_EQ(Control(d, 1004).text, "1");
  EXPECT_EQ(Control(d, 1005).check, 1u);
  EXPECT_EQ(d.focus_id, 1002);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kFacetryDefaults);

  r = Dialog(*inst, "check 1005=1; text 1006=0; text 1007=70000; text 1002=6000000; ok; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(plat::BeepCount(0), 2u);
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), (Words{2, 5898239, 0, 1, 1, 1, 65535}));

  // Revolutions out of range keep it open even with "Repeat Evolution" off.
  r = Dialog(*inst, "text 1004=0; ok");
  EXPECT_EQ(LastDialog().outcome, plat::DialogOutcome::kScriptExhausted);
  // Clicking the tile box moves the focus to X when it turns on.
  Dialog(*inst, "check 1005=0; check 1005=1");
  EXPECT_EQ(LastDialog().focus_id, 1006);
}

TEST_F(OptionsTest, SliderDialogShowsTheRecord) {
  Load("lightning");
  auto inst = Apply();
  Dialog(*inst, "cancel");
  const auto d = LastDialog();
  EXPECT_EQ(d.title, DisplayName("lightning"));
  struct Expect {
    int bar, min, max, pos;
    const char* label;
  };
  const Expect expected[] = {{1040, 1, 8, 6, "6"},      {1042, 16, 256, 64, "64"},    {1044, 1, 100, 100, "100"},
                             {1046, 0, 1000, 0, "0.0"}, {1048, 0, 1000, 700, "70.0"}, {1050, 0, 1000, 250, "25.0"}};
  for (const Expect& e : expected) {
    const auto& bar = Control(d, e.bar);
    EXPECT_EQ(bar.scroll_min, e.min) << e.bar;
    EXPECT_EQ(bar.scroll_max, e.max) << e.bar;
    EXPECT_EQ(bar.scroll_pos, e.pos) << e.bar;
    EXPECT_EQ(Control(d, e.bar + 1).text, e.label) << e.bar;
  }
  EXPECT_EQ(Control(d, 1013).check, 1u);
  EXPECT_EQ(Control(d, 1014).check, 0u);
  EXPECT_EQ(Control(d, 1015).check, 0u);
  EXPECT_EQ(Control(d, 1003).check, 0u);
}

TEST_F(OptionsTest, SliderPageStepsAndEnds) {
  Load("lightning");
  auto inst = Apply();
  // Page steps: 1 for 1..8, 5 for 16..256, 50 for 0..1000; 1..100 (R = 99) steps by 5.
  auto r = Dialog(*inst,
                  "scroll 1040=pageright; scroll 1042=pageright; scroll 1044=pageleft; "
                  "scroll 1046=pageright; scroll 1048=pageleft; scroll 1050=lineright; ok");
  EXPECT_EQ(r.err, PF_Err_NONE);
  auto d = LastDialog();
  EXPECT_EQ(Control(d, 1041).text, "7");
  EXPECT_EQ(Control(d, 1043).text, "69");
  EXPECT_EQ(Control(d, 1045).text, "95");
  EXPECT_EQ(Control(d, 1047).text, "5.0");
  EXPECT_EQ(Control(d, 1049).text, "65.0");
  EXPECT_EQ(Control(d, 1051).text, "25.1");
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()),
            (Words{1, 7, 69, 95, 0, 1, Bits(float(50 * 0.001)), Bits(float(650 * 0.001)), Bits(float(251 * 0.001))}));

  // The far ends, a thumb drag, and a step past the end stopping at the end.
  r = Dialog(*inst, "scroll 1040=right; scroll 1040=lineright; scroll 1042=left; scroll 1046=thumbtrack@333; ok");
  d = LastDialog();
  EXPECT_EQ(Control(d, 1040).scroll_pos, 8);
  EXPECT_EQ(Control(d, 1041).text, "8");
  EXPECT_EQ(Control(d, 1043).text, "16");
  EXPECT_EQ(Control(d, 1047).text, "33.3");
  const Words w = WordsOf(inst->SequenceDataBytes());
  EXPECT_EQ(w[1], 8u);
  EXPECT_EQ(w[2], 16u);
  EXPECT_EQ(w[6], Bits(float(333 * 0.001)));
}

TEST_F(OptionsTest, SliderModelBitsAndDefault) {
  Load("lightning");
  const Words stored = {1, 3, 100, 50, 4, 2, Bits(0.125f), Bits(0.5f), Bits(0.875f)};
  auto inst = Apply(stored);
  // Cancel after "Default" changes nothing.
  auto r = Dialog(*inst, "click 1005; cancel");
  EXPECT_EQ(r.err, 517);
  EXPECT_EQ(Control(LastDialog(), 1049).text, "70.0") << "Default refilled the controls";
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), stored);

  // The stored record shows its own values, and OK without changes keeps them.
  r = Dialog(*inst, "ok");
  auto d = LastDialog();
  EXPECT_EQ(Control(d, 1014).check, 1u);
  EXPECT_EQ(Control(d, 1003).check, 1u);
  EXPECT_EQ(Control(d, 1047).text, "12.5");
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), stored);

  // "Default" then OK stores the default record bit for bit.
  r = Dialog(*inst, "click 1005; ok");
  EXPECT_EQ(WordsOf(inst->SequenceDataBytes()), kLightningDefaults);

  // Radio buttons and the collision box.
  r = Dialog(*inst, "check 1015=1; check 1003=1; ok");
  Words w = WordsOf(inst->SequenceDataBytes());
  EXPECT_EQ(w[5], 4u);
  EXPECT_EQ(w[4], 4u);
  r = Dialog(*inst, "check 1013=1; check 1003=0; ok");
  w = WordsOf(inst->SequenceDataBytes());
  EXPECT_EQ(w[5], 1u);
  EXPECT_EQ(w[4], 0u);
}

}  // namespace
}  // namespace optprobe
