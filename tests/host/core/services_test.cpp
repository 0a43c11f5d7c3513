// The services handed to plug-ins, called directly with the in_data a
// plug-in would receive.
#include <atomic>
#include <cmath>
#include <cstring>

#include "probe_host.h"

namespace ombrix {
namespace {

using testing::ProbeHost;

// A pure pixel function whose output depends on position and source.
PF_Pixel Expected(A_long x, A_long y, const PF_Pixel& s) {
  return PF_Pixel{uint8_t(x * 7 + y), uint8_t(s.red ^ y), uint8_t(x), uint8_t((x * y) & 0xFF)};
}

struct Counting {
  A_long width;
  std::vector<std::atomic<int>>* calls;
};

PF_Err Pattern(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  auto* c = static_cast<Counting*>(refcon);
  (*c->calls)[size_t(y) * size_t(c->width) + size_t(x)]++;
  *out = Expected(x, y, *in);
  return PF_Err_NONE;
}

void FillSource(World& w) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) w.At(x, y) = PF_Pixel{255, uint8_t(x * 3 + y * 5), 0, 0};
}

class Services : public ProbeHost {
 protected:
  Services() : effect(host, file), in(effect.BaseInData()) {}

  // Runs Pattern over src into a fresh padded dst; checks each pixel in
  // `area` (or all) was visited exactly once and nothing else was touched.
  World RunPattern(const World& src, const PF_Rect* area, A_long pad) {
    World s(src), dst(src.width(), src.height(), pad);
    std::vector<std::atomic<int>> calls(size_t(src.width()) * size_t(src.height()));
    Counting c{src.width(), &calls};
    EXPECT_EQ(in.utils->iterate(&in, 0, src.height(), &s.pf(), area, &c, Pattern, &dst.pf()), PF_Err_NONE);
    PF_Rect r = area ? *area : PF_Rect{0, 0, src.width(), src.height()};
    for (A_long y = 0; y < src.height(); ++y)
      for (A_long x = 0; x < src.width(); ++x) {
        bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        EXPECT_EQ(calls[size_t(y) * size_t(src.width()) + size_t(x)].load(), inside ? 1 : 0) << x << "," << y;
        PF_Pixel want = inside ? Expected(x, y, src.At(x, y)) : PF_Pixel{0, 0, 0, 0};
        EXPECT_EQ(std::memcmp(&dst.At(x, y), &want, 4), 0) << x << "," << y;
      }
    for (A_long y = 0; y < dst.height(); ++y) {
      const uint8_t* pad_bytes = reinterpret_cast<const uint8_t*>(dst.Row(y)) + dst.width() * 4;
      for (A_long i = 0; i < pad; ++i) EXPECT_EQ(pad_bytes[i], 0) << "padding written in row " << y;
    }
    return dst;
  }

  Effect effect;
  PF_InData in;
};

TEST_F(Services, IterateGivesTheSameBytesForAnyThreadCount) {
  World src(37, 53, 12);  // odd sizes, padded rows, several bands
  FillSource(src);
  host.SetThreads(1);
  World one = RunPattern(src, nullptr, 20);
  for (int threads : {2, 3, 8}) {
    host.SetThreads(threads);
    World many = RunPattern(src, nullptr, 20);
    EXPECT_EQ(std::memcmp(one.pf().data, many.pf().data, size_t(one.rowbytes()) * 53), 0) << threads;
  }
}

TEST_F(Services, IterateHonoursTheAreaRect) {
  World src(29, 41);
  FillSource(src);
  const PF_Rect area{3, 5, 20, 38};
  host.SetThreads(1);
  RunPattern(src, &area, 8);
  host.SetThreads(4);
  RunPattern(src, &area, 8);
}

PF_Err FailAtRows(void*, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  out->alpha = 1;
  if (y == 40 && x == 5) return 602;
  if (y == 40 && x == 3) return 601;
  if (y == 70) return 700;
  return PF_Err_NONE;
}

TEST_F(Services, IterateAnswersTheFirstErrorInRowOrder) {
  World src(10, 100), dst(10, 100);
  for (int threads : {1, 2, 4}) {
    host.SetThreads(threads);
    EXPECT_EQ(in.utils->iterate(&in, 0, 100, &src.pf(), nullptr, nullptr, FailAtRows, &dst.pf()), 601) << threads;
    // Rows before the failing one were all processed.
    for (A_long y = 0; y < 40; ++y) ASSERT_EQ(dst.At(9, y).alpha, 1) << y;
  }
}

TEST_F(Services, IterateReportsProgressAndStopsOnAbort) {
  World src(8, 100), dst(8, 100);
  for (int threads : {1, 2}) {
    host.SetThreads(threads);
    std::vector<std::pair<A_long, A_long>> reports;
    host.on_progress = [&](A_long done, A_long total) { reports.emplace_back(done, total); };
    std::vector<std::atomic<int>> calls(800);
    Counting c{8, &calls};
    ASSERT_EQ(in.utils->iterate(&in, 1000, 2000, &src.pf(), nullptr, &c, Pattern, &dst.pf()), PF_Err_NONE);
    ASSERT_FALSE(reports.empty());
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].first, reports[i - 1].first);
    EXPECT_EQ(reports.back(), (std::pair<A_long, A_long>{2000, 2000}));

    // Asked to stop at the first report: cancelled, and not every row was done.
    host.on_progress = [&](A_long, A_long) { host.abort_requested = true; };
    std::vector<std::atomic<int>> calls2(800);
    Counting c2{8, &calls2};
    World dst2(8, 100);
    EXPECT_EQ(in.utils->iterate(&in, 0, 100, &src.pf(), nullptr, &c2, Pattern, &dst2.pf()), PF_Interrupt_CANCEL);
    int visited = 0;
    for (auto& n : calls2) visited += n.load();
    // On one thread the bands after the first never start; workers may
    // already have finished theirs by the time the request is seen.
    if (threads == 1) {
      EXPECT_EQ(visited, 16 * 8);
    }
    host.abort_requested = false;
    host.on_progress = nullptr;
  }
  host.abort_requested = true;
  World untouched(8, 100);
  std::vector<std::atomic<int>> calls3(800);
  Counting c3{8, &calls3};
  EXPECT_EQ(in.utils->iterate(&in, 0, 100, &src.pf(), nullptr, &c3, Pattern, &untouched.pf()), PF_Interrupt_CANCEL);
  EXPECT_TRUE(SamePixels(untouched.pf(), World(8, 100).pf()));
  EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Interrupt_CANCEL);
  host.abort_requested = false;
  EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Err_NONE);
}

TEST_F(Services, IterateRejectsBadArguments) {
  World small(4, 4), big(8, 8);
  std::vector<std::atomic<int>> calls(64);
  Counting c{8, &calls};
  EXPECT_EQ(in.utils->iterate(&in, 0, 8, &small.pf(), nullptr, &c, Pattern, &big.pf()), PF_Err_BAD_CALLBACK_PARAM);
  PF_InData stranger = in;
  stranger.effect_ref = nullptr;
  EXPECT_EQ(in.utils->iterate(&stranger, 0, 8, &big.pf(), nullptr, &c, Pattern, &big.pf()), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(in.utils->iterate(&in, 0, 8, &big.pf(), nullptr, &c, nullptr, &big.pf()), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Services, CopyOfEqualSizesIsExactAndKeepsPadding) {
  World src(6, 5, 4), dst(6, 5, 12);
  FillSource(src);
  src.At(2, 2) = PF_Pixel{0, 77, 88, 99};  // colour under alpha 0 survives
  std::memset(dst.pf().data, 0xEE, size_t(dst.rowbytes()) * 5);
  ASSERT_EQ(in.utils->copy(in.effect_ref, &src.pf(), &dst.pf(), nullptr, nullptr), PF_Err_NONE);
  EXPECT_TRUE(SamePixels(src.pf(), dst.pf()));
  EXPECT_EQ(reinterpret_cast<uint8_t*>(dst.Row(4))[6 * 4 + 11], 0xEE);

  // A rect of the source into a rect of the same size elsewhere.
  World part(3, 3);
  PF_Rect from{2, 1, 4, 3}, to{1, 1, 3, 3};
  ASSERT_EQ(in.utils->copy(in.effect_ref, &src.pf(), &part.pf(), &from, &to), PF_Err_NONE);
  EXPECT_EQ(std::memcmp(&part.At(1, 1), &src.At(2, 1), 4), 0);
  EXPECT_EQ(std::memcmp(&part.At(2, 2), &src.At(3, 2), 4), 0);
  EXPECT_EQ(part.At(0, 0).alpha, 0);
  PF_Rect outside{4, 4, 9, 9};
  EXPECT_EQ(in.utils->copy(in.effect_ref, &src.pf(), &part.pf(), &outside, nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Services, CopyBetweenSizesAveragesPremultiplied) {
  // Two source pixels into one: alpha is the mean, colour weighted by alpha.
  World src(2, 1), dst(1, 1);
  src.At(0, 0) = PF_Pixel{255, 200, 10, 0};
  src.At(1, 0) = PF_Pixel{0, 100, 250, 0};
  ASSERT_EQ(in.utils->copy(in.effect_ref, &src.pf(), &dst.pf(), nullptr, nullptr), PF_Err_NONE);
  EXPECT_EQ(dst.At(0, 0).alpha, 128);  // round(127.5)
  EXPECT_EQ(dst.At(0, 0).red, 200);
  EXPECT_EQ(dst.At(0, 0).green, 10);
}

TEST_F(Services, FillDefaultsToTransparentBlackOverTheWholeWorld) {
  World w(5, 4, 8);
  std::memset(w.pf().data, 0x5A, size_t(w.rowbytes()) * 4);
  ASSERT_EQ(in.utils->fill(in.effect_ref, nullptr, nullptr, &w.pf()), PF_Err_NONE);
  for (A_long y = 0; y < 4; ++y)
    for (A_long x = 0; x < 5; ++x) ASSERT_EQ(std::memcmp(&w.At(x, y), "\0\0\0\0", 4), 0);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(w.Row(3))[20], 0x5A);  // padding untouched
  const PF_Pixel c{255, 1, 2, 3};
  const PF_Rect r{3, 2, 99, 99};  // clipped to the world
  ASSERT_EQ(in.utils->fill(in.effect_ref, &c, &r, &w.pf()), PF_Err_NONE);
  EXPECT_EQ(w.At(4, 3).blue, 3);
  EXPECT_EQ(w.At(3, 2).red, 1);
  EXPECT_EQ(w.At(2, 2).alpha, 0);
  EXPECT_EQ(w.At(4, 1).alpha, 0);
}

TEST(ServicesPadded, NewWorldIsZeroedPaddedAndCounted) {
  HostOptions options;
  options.pad_rows = 12;
  Host host(options);
  Effect effect(host, ReadPluginFile(testing::ProbePath()));
  PF_InData in = effect.BaseInData();
  const size_t before = LiveWorldCount();
  PF_EffectWorld w;
  std::memset(&w, 0x77, sizeof w);
  ASSERT_EQ(in.utils->new_world(in.effect_ref, 7, 3, PF_WorldFlag_NONE, &w), PF_Err_NONE);
  EXPECT_EQ(w.width, 7);
  EXPECT_EQ(w.rowbytes, 7 * 4 + 12);
  for (int i = 0; i < w.rowbytes * 3; ++i) ASSERT_EQ(reinterpret_cast<uint8_t*>(w.data)[i], 0);
  EXPECT_EQ(LiveWorldCount(), before + 1);
  ASSERT_EQ(in.utils->dispose_world(in.effect_ref, &w), PF_Err_NONE);
  EXPECT_EQ(LiveWorldCount(), before);
  EXPECT_EQ(w.data, nullptr);
  World foreign(2, 2);
  EXPECT_EQ(in.utils->dispose_world(in.effect_ref, &foreign.pf()), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(in.utils->new_world(in.effect_ref, 0, 3, PF_WorldFlag_NONE, &w), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Services, HandlesKeepSizeAndContentsAndAreCounted) {
  const size_t before = LiveHandleCount();
  PF_UtilCallbacks* u = in.utils;
  PF_Handle h = u->host_new_handle(6);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LiveHandleCount(), before + 1);
  EXPECT_EQ(u->host_get_handle_size(h), 6u);
  auto* p = static_cast<uint8_t*>(u->host_lock_handle(h));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p[i], 0);
  std::memcpy(p, "abcdef", 6);
  u->host_unlock_handle(h);
  ASSERT_EQ(u->host_resize_handle(10, &h), PF_Err_NONE);
  EXPECT_EQ(u->host_get_handle_size(h), 10u);
  p = static_cast<uint8_t*>(u->host_lock_handle(h));
  EXPECT_EQ(std::memcmp(p, "abcdef\0\0\0\0", 10), 0);
  u->host_dispose_handle(h);
  EXPECT_EQ(LiveHandleCount(), before);
  // A disposed handle is harmless.
  u->host_dispose_handle(h);
  EXPECT_EQ(u->host_lock_handle(h), nullptr);
  EXPECT_EQ(u->host_get_handle_size(h), 0u);
  EXPECT_EQ(u->host_resize_handle(4, &h), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Services, SprintfIsBoundedToAReturnMessage) {
  std::vector<char> buf(400, '#');
  std::string long_text(300, 'x');
  int n = in.utils->ansi.sprintf(buf.data(), "%s", long_text.c_str());
  EXPECT_EQ(n, 255);
  EXPECT_EQ(std::strlen(buf.data()), 255u);
  EXPECT_EQ(buf[256], '#');
  char name[32];
  in.utils->ansi.strcpy(name, "Amount");
  EXPECT_STREQ(name, "Amount");
  EXPECT_DOUBLE_EQ(in.utils->ansi.atan2(1.0, 1.0), std::atan2(1.0, 1.0));
  EXPECT_DOUBLE_EQ(in.utils->ansi.pow(2.0, 10.0), 1024.0);
}

TEST_F(Services, BasicSuiteRefusesUnknownSuitesAndManagesBlocks) {
  SPBasicSuite* b = in.pica_basicP;
  const void* suite = &b;
  EXPECT_EQ(b->AcquireSuite("PF AE App Suite", 4, &suite), kSuiteNotFoundError);
  EXPECT_EQ(suite, nullptr);
  EXPECT_TRUE(b->IsEqual("abc", "abc"));
  EXPECT_FALSE(b->IsEqual("abc", "abd"));
  const size_t before = LiveBlockCount();
  void* block = nullptr;
  ASSERT_EQ(b->AllocateBlock(16, &block), 0);
  std::memcpy(block, "0123456789abcdef", 16);
  void* bigger = nullptr;
  ASSERT_EQ(b->ReallocateBlock(block, 64, &bigger), 0);
  EXPECT_EQ(std::memcmp(bigger, "0123456789abcdef", 16), 0);
  EXPECT_EQ(LiveBlockCount(), before + 1);
  EXPECT_EQ(b->FreeBlock(bigger), 0);
  EXPECT_EQ(LiveBlockCount(), before);
}

TEST_F(Services, CallbackAddressAndCheckoutOutsideAnInstance) {
  void* fn = nullptr;
  EXPECT_EQ(in.utils->get_callback_addr(in.effect_ref, PF_Quality_HI, 0, PF_Callback_SMOOTH, &fn), PF_Err_NONE);
  EXPECT_NE(fn, nullptr);  // the smoothing routine is offered at any time
  fn = &fn;
  EXPECT_EQ(in.utils->get_callback_addr(in.effect_ref, PF_Quality_HI, 0, 7, &fn), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(fn, nullptr);
  void* wnd = nullptr;
  EXPECT_EQ(in.utils->get_platform_data(in.effect_ref, PF_PlatData_EXE_FILE_PATH, &wnd), PF_Err_BAD_CALLBACK_PARAM);
  PF_ParamDef def{};
  // No instance: no values and no layers to give.
  EXPECT_EQ(in.inter.checkout_param(in.effect_ref, probe::kAmount, 0, 100, 2400, &def), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 0, 0, 100, 2400, &def), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(in.inter.checkout_param(in.effect_ref, 99, 0, 100, 2400, &def), PF_Err_INVALID_INDEX);
  // Registration is closed after PARAMS_SETUP.
  EXPECT_EQ(in.inter.add_param(in.effect_ref, -1, &def), PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
}  // namespace ombrix
