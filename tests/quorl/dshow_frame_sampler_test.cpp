// The frame sampler on the test's own samples: its COM face, the frame
// layout it hands over, and the samples it must not hand over.
#include <gtest/gtest.h>

#include <vector>

#include "dshow/testing/fakes.h"
#include "quorl_dshow/frame_sampler.h"
#include "video_frames/video_frames.h"

using dshow::testing::FakeMediaSample;
using video_frames::MakeVideoType;

namespace {

struct Call {
  unsigned char* data;
  int width, height, stride;
};
std::vector<Call> calls;

long Record(unsigned char* data, int width, int height, int stride) {
  calls.push_back({data, width, height, stride});
  return 7;  // ignored
}

class Sampler : public ::testing::Test {
 protected:
  void SetUp() override { calls.clear(); }
  CComPtr<FakeMediaSample> Sample(std::size_t bytes) {
    CComPtr<FakeMediaSample> sample;
    sample.Attach(new FakeMediaSample(bytes));
    return sample;
  }
  // Gives the sampler a type and frees the caller's block at once.
  void SetType(int width, int height, const GUID& format = FORMAT_VideoInfo, ULONG block = 0) {
    AM_MEDIA_TYPE type = MakeVideoType(width, height, format, block);
    sampler.SetMediaType(type);
    FreeMediaType(type);
  }
  DShow::CFrameSampler sampler;
};

TEST_F(Sampler, AnswersItsOwnInterfacesAndLeavesOtherQueriesUntouched) {
  void* const sentinel = reinterpret_cast<void*>(0x5A5A);
  const struct {
    IID iid;
    HRESULT hr;
  } cases[] = {{IID_ISampleGrabberCB, S_OK}, {IID_IUnknown, S_OK}, {IID_IMediaSample, E_NOINTERFACE}};
  for (const auto& c : cases) {
    void* out = sentinel;
    EXPECT_EQ(sampler.QueryInterface(c.iid, &out), c.hr);
    EXPECT_EQ(out, c.hr == S_OK ? static_cast<void*>(static_cast<ISampleGrabberCB*>(&sampler)) : sentinel);
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(sampler.AddRef(), 2u);
    EXPECT_EQ(sampler.Release(), 1u);
    EXPECT_EQ(sampler.Release(), 1u);
  }
  EXPECT_EQ(sampler.BufferCB(0.0, nullptr, 0), E_NOTIMPL);
  // The grabber takes it without a cast.
  ISampleGrabberCB* asCallback = &sampler;
  DShow::ISampleGrabberCB* same = asCallback;
  EXPECT_EQ(same, asCallback);
}

TEST_F(Sampler, HandsOverTheBufferWithThePaddedStride) {
  sampler.SetProcessFunction(Record);
  const struct {
    int width, height, stride;
  } cases[] = {{640, 2, 1920}, {641, 3, 1924}, {1, 1, 4}, {33, -4, 100}};
  for (const auto& c : cases) {
    SetType(c.width, c.height);
    auto sample = Sample(static_cast<std::size_t>(c.stride) * std::abs(c.height));
    calls.clear();
    EXPECT_EQ(sampler.SampleCB(0.5, sample), S_OK);
    ASSERT_EQ(calls.size(), 1u) << c.width;
    EXPECT_EQ(calls[0].data, sample->Data());
    EXPECT_EQ(calls[0].width, c.width);
    EXPECT_EQ(calls[0].height, c.height);
    EXPECT_EQ(calls[0].stride, c.stride);
  }
  sampler.SetProcessFunction(nullptr);
  calls.clear();
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(4 * 33 * 100)), S_OK);
  EXPECT_TRUE(calls.empty());
}

TEST_F(Sampler, DeliversNothingItCannotLayOut) {
  sampler.SetProcessFunction(Record);
  const std::size_t bytes = 1920 * 4;
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(bytes)), S_OK) << "no type yet";
  SetType(640, 4, FORMAT_VideoInfo2);
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(bytes)), S_OK) << "VideoInfo2 places the header elsewhere";
  SetType(640, 4, FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER) - 1);
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(bytes)), S_OK) << "a cut format block";
  SetType(0, 4);
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(bytes)), S_OK) << "zero width";
  SetType(640, 4);
  auto shortSample = Sample(bytes);
  shortSample->SetActualDataLength(static_cast<long>(bytes) - 1);
  EXPECT_EQ(sampler.SampleCB(0.0, shortSample), S_OK) << "one byte short";
  auto noBuffer = Sample(bytes);
  noBuffer->SetNullPointer(true);
  EXPECT_EQ(sampler.SampleCB(0.0, noBuffer), S_OK);
  EXPECT_EQ(sampler.SampleCB(0.0, nullptr), S_OK);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(sampler.SampleCB(0.0, Sample(bytes)), S_OK);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Sampler, KeepsItsOwnCopyOfEachType) {
  sampler.SetProcessFunction(Record);
  // Each block is freed by the caller at once; a kept pointer would be read
  // after free.
  for (int width : {8, 16, 8}) {
    SetType(width, 2);
    calls.clear();
    sampler.SampleCB(0.0, Sample(video_frames::Stride(width) * 2));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].width, width);
  }
}

}  // namespace
