#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "dshow/testing/fakes.h"
#include "quorl_dshow/crossbar.h"

using namespace dshow::testing;

namespace {

// A copy would destroy the routes twice.
static_assert(!std::is_copy_constructible_v<DShow::CCrossbar> && !std::is_copy_assignable_v<DShow::CCrossbar>);

constexpr long kTuner = 1, kComposite = 2, kSVideo = 3, kDecoder = 12, kAudioTuner = 4096, kAudioDecoder = 4105;

struct SingleCrossbar : ::testing::Test {
  void SetUp() override {
    // Inputs: tuner, composite, audio tuner, S-Video; outputs: video decoder
    // (related to the audio output), audio decoder.
    crossbar.Attach(new FakeCrossbar(L"Crossbar",
                                     {{kTuner, 2}, {kComposite, 2}, {kAudioTuner, 0}, {kSVideo, 2}},
                                     {{kDecoder, 1}, {kAudioDecoder, 0}}));
    capture.Attach(new FakeFilter(L"Capture", 1, 1));
    capture->Input(0)->SetCategory(PIN_CATEGORY_ANALOGVIDEOIN);
    ASSERT_EQ(crossbar->Output(0)->Connect(capture->Input(0), nullptr), S_OK);
  }
  void TearDown() override {
    crossbar->Output(0)->Disconnect();
    capture->Input(0)->Disconnect();
  }
  CComPtr<FakeCrossbar> crossbar;
  CComPtr<FakeFilter> capture;
};

TEST_F(SingleCrossbar, RoutesEveryAcceptedVideoInput) {
  crossbar->RefuseRoute(0);  // the tuner cannot reach the decoder
  HRESULT hr = E_FAIL;
  DShow::CCrossbar routes(capture->Input(0), &hr);
  ASSERT_EQ(hr, S_OK);
  int count = 0;
  ASSERT_EQ(routes.GetInputCount(&count), S_OK);
  ASSERT_EQ(count, 2);
  long type = 0;
  EXPECT_EQ(routes.GetInputType(0, &type), S_OK);
  EXPECT_EQ(type, kComposite);
  EXPECT_EQ(routes.GetInputType(1, &type), S_OK);
  EXPECT_EQ(type, kSVideo);
  char name[64];
  for (long i = 0; i < count; ++i) {
    ASSERT_EQ(routes.GetInputName(i, name, sizeof(name)), S_OK);
    EXPECT_EQ(std::string(name).rfind("Video", 0), 0u) << name;
  }

  ASSERT_EQ(routes.SetInputIndex(1), S_OK);
  // Video S-Video (3) to the decoder (0), then its related audio: tuner audio (2) to audio out (1).
  const std::vector<std::pair<long, long>> expected = {{0, 3}, {1, 2}};
  EXPECT_EQ(crossbar->RouteLog(), expected);
  long index = -1;
  EXPECT_EQ(routes.GetInputIndex(&index), S_OK);
  EXPECT_EQ(index, 1);
}

TEST_F(SingleCrossbar, NamesTruncateAndIndicesAreChecked) {
  HRESULT hr = E_FAIL;
  DShow::CCrossbar routes(capture->Input(0), &hr);
  ASSERT_EQ(hr, S_OK);
  char name[8];
  ASSERT_EQ(routes.GetInputName(1, name, 8), S_OK);
  EXPECT_STREQ(name, "Video C");
  EXPECT_EQ(routes.GetInputName(-1, name, 8), E_FAIL);
  EXPECT_EQ(routes.GetInputName(3, name, 8), E_FAIL);
  EXPECT_EQ(routes.GetInputName(0, nullptr, 8), E_FAIL);
  EXPECT_EQ(routes.GetInputName(0, name, 0), E_FAIL);
  long type;
  EXPECT_EQ(routes.GetInputType(-1, &type), E_FAIL);
  EXPECT_EQ(routes.GetInputType(0, nullptr), E_POINTER);
  EXPECT_EQ(routes.SetInputIndex(-1), E_FAIL);
  EXPECT_EQ(routes.SetInputIndex(3), E_FAIL);
  EXPECT_TRUE(crossbar->RouteLog().empty());
  EXPECT_STREQ(DShow::CCrossbar::StringFromPinType(4242), "Unknown");
}

TEST_F(SingleCrossbar, RoutesHoldOneReferencePerStep) {
  const ULONG before = crossbar->RefCountForTest();
  {
    HRESULT hr = E_FAIL;
    DShow::CCrossbar routes(capture->Input(0), &hr);
    EXPECT_EQ(crossbar->RefCountForTest(), before + 3);  // three routes of one step
  }
  EXPECT_EQ(crossbar->RefCountForTest(), before);
}

TEST(Crossbar, NoCrossbarUpstreamFails) {
  CComPtr<FakeFilter> capture, plain;
  capture.Attach(new FakeFilter(L"Capture", 1, 1));
  plain.Attach(new FakeFilter(L"Plain", 0, 1));
  HRESULT hr = S_OK;
  {
    DShow::CCrossbar unconnected(capture->Input(0), &hr);
    EXPECT_EQ(hr, E_FAIL);
  }
  Link(plain, 0, capture, 0);
  {
    DShow::CCrossbar notCrossbar(capture->Input(0), &hr);
    EXPECT_EQ(hr, E_FAIL);
    int count = -1;
    EXPECT_EQ(notCrossbar.GetInputCount(&count), S_OK);
    EXPECT_EQ(count, 0);
  }
  plain->Output(0)->Disconnect();
  capture->Input(0)->Disconnect();
}

TEST(Crossbar, TwoCrossbarChainRoutesUpstreamFirst) {
  // Tuner crossbar: inputs tuner, composite, audio tuner; its video output
  // feeds the decoder crossbar's input 0, which also has an S-Video input.
  CComPtr<FakeCrossbar> tuner, decoder;
  tuner.Attach(new FakeCrossbar(L"Tuner Crossbar", {{kTuner, 2}, {kComposite, -1}, {kAudioTuner, 0}},
                                {{kDecoder, 1}, {kAudioDecoder, 0}}));
  decoder.Attach(new FakeCrossbar(L"Decoder Crossbar", {{kDecoder, 1}, {kAudioDecoder, 0}, {kSVideo, -1}},
                                  {{kDecoder, 1}, {kAudioDecoder, 0}}));
  CComPtr<FakeFilter> capture;
  capture.Attach(new FakeFilter(L"Capture", 1, 1));
  ASSERT_EQ(Link(tuner, 0, decoder, 0), S_OK);
  ASSERT_EQ(Link(decoder, 0, capture, 0), S_OK);
  std::vector<std::pair<FakeCrossbar*, std::pair<long, long>>> log;
  tuner->ShareLog(&log);
  decoder->ShareLog(&log);

  HRESULT hr = E_FAIL;
  {
    DShow::CCrossbar routes(capture->Input(0), &hr);
    ASSERT_EQ(hr, S_OK);
    int count = 0;
    routes.GetInputCount(&count);
    // Through the tuner crossbar: tuner and composite (two steps each); then
    // the decoder crossbar's own S-Video input (one step).
    ASSERT_EQ(count, 3);
    long type = 0;
    routes.GetInputType(0, &type);
    EXPECT_EQ(type, kTuner);
    routes.GetInputType(1, &type);
    EXPECT_EQ(type, kComposite);
    routes.GetInputType(2, &type);
    EXPECT_EQ(type, kSVideo);

    ASSERT_EQ(routes.SetInputIndex(0), S_OK);
    using Entry = std::pair<FakeCrossbar*, std::pair<long, long>>;
    const std::vector<Entry> expected = {
        {tuner.p(), {0, 0}}, {tuner.p(), {1, 2}},      // tuner video, then its audio
        {decoder.p(), {0, 0}}, {decoder.p(), {1, 1}},  // decoder input from the tuner crossbar, its audio
    };
    EXPECT_EQ(log, expected);
    log.clear();
    ASSERT_EQ(routes.SetInputIndex(1), S_OK);  // composite has no related audio
    const std::vector<Entry> composite = {{tuner.p(), {0, 1}}, {decoder.p(), {0, 0}}, {decoder.p(), {1, 1}}};
    EXPECT_EQ(log, composite);
  }
  tuner->Output(0)->Disconnect();
  decoder->Input(0)->Disconnect();
  decoder->Output(0)->Disconnect();
  capture->Input(0)->Disconnect();
}

}  // namespace
