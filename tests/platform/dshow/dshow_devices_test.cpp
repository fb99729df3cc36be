// The fake capture devices' variants, the compressor switch, the AVI
// multiplexer's compatibility index and the file writer's name check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "com/com.h"
#include "dshow/devices.h"
#include "dshow/platform.h"
#include "media_fixtures.h"

using namespace dshow_test;

namespace {

class FakeDevices : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("QUORL_NO_DEVICE_MONITOR", "1", 1); }
  void SetUp() override { dshow::ClearFakeDevices(); }
  void TearDown() override {
    dshow::ClearFakeDevices();
    dshow::SetCompressorsHidden(false);
  }

  // Binds the first listed device.
  static CComPtr<IBaseFilter> Bind() {
    CComPtr<ICreateDevEnum> devices;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&devices));
    CComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0) != S_OK) return {};
    CComPtr<IMoniker> moniker;
    ULONG fetched = 0;
    if (monikers->Next(1, &moniker, &fetched) != S_OK) return {};
    CComPtr<IBaseFilter> filter;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return filter;
  }

  struct PinSeen {
    PIN_DIRECTION direction;
    bool tagged;
    GUID category;
  };
  static std::vector<PinSeen> Pins(IBaseFilter* filter) {
    std::vector<PinSeen> seen;
    CComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    CComPtr<IPin> pin;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK) {
      PinSeen s{};
      pin->QueryDirection(&s.direction);
      CComPtr<IKsPropertySet> props;
      pin.QueryInterface(&props);
      DWORD returned = 0;
      s.tagged = props && props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &s.category,
                                     sizeof(GUID), &returned) == S_OK;
      seen.push_back(s);
      pin = nullptr;
    }
    return seen;
  }
};

TEST_F(FakeDevices, OutputPinTagging) {
  using Output = dshow::FakeDevice::Output;
  struct Case {
    Output output;
    int outputs;
    bool tagged;
    GUID category;
  } const cases[] = {
      {Output::Capture, 1, true, PIN_CATEGORY_CAPTURE},
      {Output::PreviewOnly, 1, true, PIN_CATEGORY_PREVIEW},
      {Output::Untagged, 1, false, GUID_NULL},
      {Output::None, 0, false, GUID_NULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.output));
    dshow::ClearFakeDevices();
    dshow::FakeDevice d;
    d.name = "cam";
    d.output = c.output;
    dshow::AddFakeDevice(d);
    CComPtr<IBaseFilter> filter = Bind();
    ASSERT_TRUE(filter);
    int outputs = 0;
    for (const PinSeen& p : Pins(filter)) {
      if (p.direction != PINDIR_OUTPUT) continue;
      ++outputs;
      EXPECT_EQ(p.tagged, c.tagged);
      if (c.tagged) {
        EXPECT_EQ(p.category, c.category);
      }
    }
    EXPECT_EQ(outputs, c.outputs);
  }
}

TEST_F(FakeDevices, AnalogueInputWithoutCrossbarIsUnconnected) {
  dshow::FakeDevice d;
  d.name = "cam";
  d.analogInputWithoutCrossbar = true;
  dshow::AddFakeDevice(d);
  CComPtr<IBaseFilter> filter = Bind();
  ASSERT_TRUE(filter);
  int analogue = 0;
  CComPtr<IEnumPins> pins;
  filter->EnumPins(&pins);
  CComPtr<IPin> pin;
  ULONG fetched = 0;
  while (pins->Next(1, &pin, &fetched) == S_OK) {
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    if (dir == PINDIR_INPUT) {
      ++analogue;
      CComPtr<IPin> peer;
      EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    }
    pin = nullptr;
  }
  EXPECT_EQ(analogue, 1);
}

TEST_F(FakeDevices, DroppedFramesAndVfwDialogsAreOptional) {
  for (const bool dropped : {true, false})
    for (const bool vfw : {true, false}) {
      SCOPED_TRACE(std::to_string(dropped) + std::to_string(vfw));
      dshow::ClearFakeDevices();
      dshow::FakeDevice d;
      d.name = "cam";
      d.droppedFrames = dropped;
      d.vfwDialogs = vfw;
      dshow::AddFakeDevice(d);
      CComPtr<IBaseFilter> filter = Bind();
      ASSERT_TRUE(filter);
      CComPtr<IAMDroppedFrames> onFilter;
      EXPECT_EQ(SUCCEEDED(filter.QueryInterface(&onFilter)), dropped);
      CComPtr<IPin> out = FreePin(filter, PINDIR_OUTPUT);
      CComPtr<IAMDroppedFrames> onPin;
      EXPECT_EQ(SUCCEEDED(out.QueryInterface(&onPin)), dropped);
      CComPtr<IAMVfwCaptureDialogs> dialogs;
      EXPECT_EQ(SUCCEEDED(filter.QueryInterface(&dialogs)), vfw);
    }
}

TEST_F(FakeDevices, DroppedCountIsTheTestsValue) {
  dshow::FakeDevice d;
  d.name = "cam";
  d.droppedCount = std::make_shared<std::atomic<long>>(7);
  dshow::AddFakeDevice(d);
  CComPtr<IBaseFilter> filter = Bind();
  ASSERT_TRUE(filter);
  CComPtr<IAMDroppedFrames> frames;
  ASSERT_EQ(filter.QueryInterface(&frames), S_OK);
  long n = 0;
  EXPECT_EQ(frames->GetNumDropped(&n), S_OK);
  EXPECT_EQ(n, 7);
  d.droppedCount->store(12);
  EXPECT_EQ(frames->GetNumDropped(&n), S_OK);
  EXPECT_EQ(n, 12);
}

TEST_F(FakeDevices, HiddenCompressorsListNothing) {
  CComPtr<ICreateDevEnum> devices;
  CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                   reinterpret_cast<void**>(&devices));
  dshow::SetCompressorsHidden(true);
  IEnumMoniker* monikers = nullptr;
  EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0), S_FALSE);
  EXPECT_EQ(monikers, nullptr);
  CComPtr<IEnumDMO> dmos;
  ASSERT_EQ(DMOEnum(DMOCATEGORY_VIDEO_ENCODER, 0, 0, nullptr, 0, nullptr, &dmos), S_OK);
  CLSID id;
  ULONG fetched = 5;
  EXPECT_EQ(dmos->Next(1, &id, nullptr, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  dshow::SetCompressorsHidden(false);
  if (HasElement("jpegenc")) {
    CComPtr<IEnumMoniker> again;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &again, 0), S_OK);
  }
}

TEST(AviMux, KeepsTheCompatibilityIndex) {
  CComPtr<IBaseFilter> mux = Create(CLSID_AviDest);
  ASSERT_TRUE(mux);
  CComPtr<IConfigAviMux> config;
  ASSERT_EQ(mux.QueryInterface(&config), S_OK);
  BOOL on = TRUE;
  EXPECT_EQ(config->GetOutputCompatibilityIndex(&on), S_OK);
  EXPECT_FALSE(on);
  EXPECT_EQ(config->SetOutputCompatibilityIndex(TRUE), S_OK);
  EXPECT_EQ(config->GetOutputCompatibilityIndex(&on), S_OK);
  EXPECT_TRUE(on);
}

TEST(FileWriter, RefusesNamesThatCannotBeCreatedAndCreatesNothing) {
  const std::string folder = TempPath("writer_names");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder + "/locked");
  chmod((folder + "/locked").c_str(), 0500);
  const bool root = geteuid() == 0;
  struct Case {
    std::string name;
    bool accepted;
  } const cases[] = {
      {"", false},
      {folder, false},
      {folder + "/", false},
      {folder + "/missing/out.avi", false},
      {folder + "/locked/out.avi", root},
      {folder + "/out.avi", true},
  };
  CComPtr<ICaptureGraphBuilder2> builder;
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                   reinterpret_cast<void**>(&builder));
  CComPtr<IGraphBuilder> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                   reinterpret_cast<void**>(&graph));
  builder->SetFiltergraph(graph);
  int accepted = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    accepted += c.accepted ? 1 : 0;
    CComPtr<IBaseFilter> writer = Create(CLSID_FileWriter);
    CComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer.QueryInterface(&sink), S_OK);
    const std::wstring w(c.name.begin(), c.name.end());
    EXPECT_EQ(SUCCEEDED(sink->SetFileName(w.c_str(), nullptr)), c.accepted);
    CComPtr<IBaseFilter> mux;
    const HRESULT hr = builder->SetOutputFileName(&MEDIASUBTYPE_Avi, w.c_str(), &mux, nullptr);
    EXPECT_EQ(SUCCEEDED(hr), c.accepted);
    EXPECT_EQ(mux.p() != nullptr, c.accepted);
  }
  // A refused name leaves no file behind, and no filter in the graph.
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
  if (!root) {
    EXPECT_FALSE(std::filesystem::exists(folder + "/locked/out.avi"));
  }
  CComPtr<IEnumFilters> filters;
  graph->EnumFilters(&filters);
  int count = 0;
  CComPtr<IBaseFilter> f;
  ULONG fetched = 0;
  while (filters->Next(1, &f, &fetched) == S_OK) {
    ++count;
    f = nullptr;
  }
  EXPECT_EQ(count, 2 * accepted);  // each accepted name's multiplexer and writer
  chmod((folder + "/locked").c_str(), 0700);
  std::filesystem::remove_all(folder);
}

}  // namespace
