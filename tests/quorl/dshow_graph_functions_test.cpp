#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ostream>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>
#include <unistd.h>

#include "com/com.h"
#include "dshow/platform.h"
#include "dshow/testing/fakes.h"
#include "quorl_dshow/graph_functions.h"
#include "win/messagebox.h"

using namespace dshow::testing;

namespace {

CComPtr<FakeFilter> MakeFilter(const wchar_t* name, int inputs, int outputs) {
  CComPtr<FakeFilter> f;
  f.Attach(new FakeFilter(name, inputs, outputs));
  return f;
}

TEST(GraphFunctionsPins, GetPinCountsFromOneAndLeavesThePinOnFailure) {
  auto filter = MakeFilter(L"F", 1, 1);
  IPin* pin = nullptr;
  ASSERT_EQ(DShow::GetPin(filter, PINDIR_OUTPUT, &pin, 1), S_OK);
  EXPECT_EQ(pin, filter->Output(0));
  pin->Release();

  IPin* sentinel = reinterpret_cast<IPin*>(0x1234);
  pin = sentinel;
  EXPECT_EQ(DShow::GetPin(filter, PINDIR_OUTPUT, &pin, 2), E_FAIL);
  EXPECT_EQ(pin, sentinel);

  CComPtr<IPin> first;
  first.Attach(DShow::GetPin(filter, PINDIR_INPUT));
  EXPECT_EQ(first.p(), filter->Input(0));

  filter->SetFailEnumPins(true);
  EXPECT_EQ(DShow::GetPin(filter, PINDIR_OUTPUT, &pin, 1), E_FAIL);
  EXPECT_EQ(pin, sentinel);
}

// The tests below lean on the fake pins refusing what a platform pin
// refuses: a pin of the same direction, and one that cannot say its own.
TEST(GraphFunctionsPins, FakePinsRefuseConnectionsTheyCannotCheck) {
  struct Case {
    const char* what;
    bool sameDirection;
    bool failDirection;
    HRESULT expected;
  };
  for (const Case& c : {Case{"output to input", false, false, S_OK},
                        Case{"output to output", true, false, VFW_E_CANNOT_CONNECT},
                        Case{"direction unreadable", false, true, E_FAIL}}) {
    SCOPED_TRACE(c.what);
    auto a = MakeFilter(L"A", 0, 2);
    auto b = MakeFilter(L"B", 1, 0);
    FakePin* receive = c.sameDirection ? a->Output(1) : b->Input(0);
    receive->SetFailQueryDirection(c.failDirection);
    EXPECT_EQ(a->Output(0)->Connect(receive, nullptr), c.expected);
    const bool linked = c.expected == S_OK;
    EXPECT_EQ(a->Output(0)->Peer(), linked ? receive : nullptr);
    EXPECT_EQ(receive->Peer(), linked ? a->Output(0) : nullptr);
    if (linked) {
      a->Output(0)->Disconnect();
      receive->Disconnect();
    }
  }
}

TEST(GraphFunctionsPins, GetUnconnectedPinSkipsConnectedOnes) {
  auto a = MakeFilter(L"A", 0, 2);
  auto b = MakeFilter(L"B", 1, 0);
  ASSERT_EQ(Link(a, 0, b, 0), S_OK);
  IPin* pin = reinterpret_cast<IPin*>(0x1);
  ASSERT_EQ(DShow::GetUnconnectedPin(a, PINDIR_OUTPUT, &pin), S_OK);
  EXPECT_EQ(pin, a->Output(1));
  pin->Release();
  pin = reinterpret_cast<IPin*>(0x1);
  EXPECT_EQ(DShow::GetUnconnectedPin(b, PINDIR_INPUT, &pin), E_FAIL);
  EXPECT_EQ(pin, nullptr);
  a->Output(0)->Disconnect();
  b->Input(0)->Disconnect();
}

TEST(GraphFunctionsPins, FindCategoryPinSkipsUnreadableCategories) {
  auto f = MakeFilter(L"Cap", 1, 3);
  f->Output(0)->SetCategoryUnreadable();
  f->Output(1)->SetCategory(PIN_CATEGORY_PREVIEW);
  f->Output(2)->SetCategory(PIN_CATEGORY_CAPTURE);
  f->Input(0)->SetCategory(PIN_CATEGORY_CAPTURE);  // inputs never match
  CComPtr<IPin> pin;
  pin.Attach(DShow::FindCategoryPin(f, PIN_CATEGORY_CAPTURE));
  EXPECT_EQ(pin.p(), f->Output(2));
  EXPECT_EQ(DShow::FindCategoryPin(f, PIN_CATEGORY_ANALOGVIDEOIN), nullptr);
  EXPECT_FALSE(DShow::PinMatchesCategory(f->Output(0), PIN_CATEGORY_CAPTURE));
  EXPECT_FALSE(DShow::PinMatchesCategory(nullptr, PIN_CATEGORY_CAPTURE));
}

TEST(GraphFunctionsPins, AddFilterUniqueKeepsOneEntryAndOneReference) {
  auto f = MakeFilter(L"F", 0, 0);
  CGenericList<IBaseFilter> list("peers");
  DShow::AddFilterUnique(list, f);
  DShow::AddFilterUnique(list, f);
  DShow::AddFilterUnique(list, nullptr);
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(f->RefCountForTest(), 2u);
  while (IBaseFilter* p = list.RemoveHead()) p->Release();
  EXPECT_EQ(f->RefCountForTest(), 1u);
}

TEST(GraphFunctionsPins, NextFilterAndPeersFollowConnections) {
  auto a = MakeFilter(L"A", 0, 2);
  auto b = MakeFilter(L"B", 1, 0);
  auto c = MakeFilter(L"C", 1, 0);
  Link(a, 0, b, 0);
  Link(a, 1, c, 0);
  IBaseFilter* next = nullptr;
  ASSERT_EQ(DShow::GetNextFilter(a, PINDIR_OUTPUT, &next), S_OK);
  EXPECT_EQ(next, static_cast<IBaseFilter*>(b.p()));
  next->Release();
  EXPECT_EQ(DShow::GetNextFilter(a, PINDIR_INPUT, &next), E_FAIL);
  CGenericList<IBaseFilter> peers;
  EXPECT_EQ(DShow::GetPeerFilters(a, PINDIR_OUTPUT, peers), S_OK);
  EXPECT_EQ(peers.GetCount(), 2);
  while (IBaseFilter* p = peers.RemoveHead()) p->Release();
  for (int i = 0; i < 2; ++i) a->Output(i)->Disconnect();
  b->Input(0)->Disconnect();
  c->Input(0)->Disconnect();
}

// Nuke topologies: a graph of named filters, links by (from, out, to, in).
struct Topology {
  const char* name;
  std::vector<std::pair<int, int>> shape;  // inputs, outputs per filter
  std::vector<std::array<int, 4>> links;
  enum Call { DownFromFilter, DownFromPin, UpFromFilter, Segment } call;
  int from;
  int stop;
  std::vector<int> survivors;
};

void PrintTo(const Topology& t, std::ostream* os) { *os << t.name; }

class NukeTest : public ::testing::TestWithParam<Topology> {};

TEST_P(NukeTest, RemovesExactlyTheSegment) {
  const Topology& t = GetParam();
  CComPtr<FakeGraph> graph;
  graph.Attach(new FakeGraph);
  std::vector<CComPtr<FakeFilter>> filters;
  for (std::size_t i = 0; i < t.shape.size(); ++i) {
    filters.push_back(MakeFilter((L"F" + std::to_wstring(i)).c_str(), t.shape[i].first, t.shape[i].second));
    ASSERT_EQ(graph->AddFilter(filters.back(), nullptr), S_OK);
  }
  for (auto& l : t.links) ASSERT_EQ(Link(filters[l[0]], l[1], filters[l[2]], l[3]), S_OK);

  switch (t.call) {
    case Topology::DownFromFilter: DShow::NukeDownstream(graph, filters[t.from]); break;
    case Topology::DownFromPin: DShow::NukeDownstream(graph, filters[t.from]->Output(0)); break;
    case Topology::UpFromFilter: DShow::NukeUpstream(graph, filters[t.from]); break;
    case Topology::Segment: DShow::NukeGraphSegment(graph, filters[t.from], filters[t.stop]); break;
  }

  for (std::size_t i = 0; i < filters.size(); ++i) {
    const bool survives = std::find(t.survivors.begin(), t.survivors.end(), static_cast<int>(i)) != t.survivors.end();
    EXPECT_EQ(graph->Contains(filters[i]), survives) << t.name << " filter " << i;
    // Ours and, when still in the graph, the graph's.
    EXPECT_EQ(filters[i]->RefCountForTest(), survives ? 2u : 1u) << t.name << " filter " << i;
  }
  for (auto& l : t.links) {
    const bool kept = std::find(t.survivors.begin(), t.survivors.end(), l[0]) != t.survivors.end() &&
                      std::find(t.survivors.begin(), t.survivors.end(), l[2]) != t.survivors.end();
    EXPECT_EQ(filters[l[0]]->Output(l[1])->Peer() != nullptr, kept) << t.name << " link from " << l[0];
    EXPECT_EQ(filters[l[2]]->Input(l[3])->Peer() != nullptr, kept) << t.name << " link to " << l[2];
  }
}

const std::vector<std::pair<int, int>> kChain = {{0, 1}, {1, 1}, {1, 1}, {1, 0}};
const std::vector<std::array<int, 4>> kChainLinks = {{0, 0, 1, 0}, {1, 0, 2, 0}, {2, 0, 3, 0}};
// 0 -> tee 1 -> {2 -> 3, 4}
const std::vector<std::pair<int, int>> kTee = {{0, 1}, {1, 2}, {1, 1}, {1, 0}, {1, 0}};
const std::vector<std::array<int, 4>> kTeeLinks = {{0, 0, 1, 0}, {1, 0, 2, 0}, {2, 0, 3, 0}, {1, 1, 4, 0}};

INSTANTIATE_TEST_SUITE_P(
    Topologies, NukeTest,
    ::testing::Values(Topology{"chain down from A", kChain, kChainLinks, Topology::DownFromFilter, 0, -1, {0}},
                      Topology{"chain down from B", kChain, kChainLinks, Topology::DownFromFilter, 1, -1, {0, 1}},
                      Topology{"chain down from A's pin", kChain, kChainLinks, Topology::DownFromPin, 0, -1, {0}},
                      Topology{"chain up from D", kChain, kChainLinks, Topology::UpFromFilter, 3, -1, {3}},
                      Topology{"chain up from C", kChain, kChainLinks, Topology::UpFromFilter, 2, -1, {2, 3}},
                      Topology{"tee down from source", kTee, kTeeLinks, Topology::DownFromFilter, 0, -1, {0}},
                      Topology{"tee down from tee", kTee, kTeeLinks, Topology::DownFromFilter, 1, -1, {0, 1}},
                      Topology{"segment A to C", kChain, kChainLinks, Topology::Segment, 0, 2, {0, 2, 3}},
                      Topology{"segment A to B", kChain, kChainLinks, Topology::Segment, 0, 1, {0, 1, 2, 3}},
                      Topology{"segment tee to 3", kTee, kTeeLinks, Topology::Segment, 1, 3, {0, 1, 3}}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(GraphFunctionsBuild, AddFilterByClsidAndConnect) {
  CComPtr<FakeGraph> graph;
  graph.Attach(new FakeGraph);
  IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(0x1);
  EXPECT_EQ(DShow::AddFilterByCLSID(CComPtr<IGraphBuilder>(graph.p()), OurGuid(0xDEAD), L"x", &filter),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(filter, nullptr);
  EXPECT_EQ(DShow::AddFilterByCLSID(nullptr, OurGuid(0xDEAD), L"x", &filter), E_POINTER);

  auto a = MakeFilter(L"A", 0, 1);
  auto b = MakeFilter(L"B", 1, 0);
  graph->AddFilter(a, L"A");
  graph->AddFilter(b, L"B");
  EXPECT_EQ(DShow::ConnectFilters(graph, static_cast<IBaseFilter*>(a.p()), b), S_OK);
  EXPECT_EQ(a->Output(0)->Peer(), static_cast<IPin*>(b->Input(0)));
  // No free input left.
  EXPECT_EQ(DShow::ConnectFilters(graph, static_cast<IBaseFilter*>(a.p()), b), E_FAIL);
  EXPECT_EQ(DShow::ConnectFilters(graph, static_cast<IPin*>(nullptr), b), E_POINTER);
}

TEST(GraphFunctionsBuild, FindInterfacesOnFiltersAndPins) {
  CComPtr<FakeGraph> graph;
  graph.Attach(new FakeGraph);
  CComPtr<IKsPropertySet> props;
  EXPECT_EQ(DShow::FindFilterInterface(graph, IID_IKsPropertySet, reinterpret_cast<void**>(&props)), E_FAIL);
  auto f = MakeFilter(L"F", 0, 1);
  graph->AddFilter(f, L"F");
  EXPECT_EQ(DShow::FindFilterInterface(graph, IID_IKsPropertySet, reinterpret_cast<void**>(&props)),
            E_NOINTERFACE);
  EXPECT_EQ(DShow::FindInterfaceAnywhere(graph, IID_IKsPropertySet, reinterpret_cast<void**>(&props)), S_OK);
  EXPECT_NE(props.p(), nullptr);
  graph->SetFailEnumFilters(true);
  EXPECT_EQ(DShow::FindFilterInterface(graph, IID_IKsPropertySet, reinterpret_cast<void**>(&props)), E_FAIL);
}

struct MediaTypeCase {
  const char* name;
  GUID subtype;
  int width, height;
  float fps;
  bool info2;
  HRESULT hr;
  REFERENCE_TIME timePerFrame;
  ULONG sampleSize;
  DWORD compression;
  WORD bits;
};

void PrintTo(const MediaTypeCase& c, std::ostream* os) { *os << c.name; }

class InitMediaTypeTest : public ::testing::TestWithParam<MediaTypeCase> {};

TEST_P(InitMediaTypeTest, FillsTheHeader) {
  const MediaTypeCase& c = GetParam();
  alignas(8) BYTE block[sizeof(VIDEOINFOHEADER2)];
  std::memset(block, 0xAB, sizeof(block));
  AM_MEDIA_TYPE mt{};
  mt.lSampleSize = 77;
  mt.pbFormat = block;
  const GUID formatType = c.info2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  ASSERT_EQ(DShow::InitMediaType(&mt, &c.subtype, c.width, c.height, c.fps, formatType), c.hr);
  if (FAILED(c.hr)) {
    EXPECT_EQ(mt.lSampleSize, 77u);
    EXPECT_EQ(block[0], 0xAB);
    return;
  }
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.formattype, formatType);
  EXPECT_EQ(mt.lSampleSize, c.sampleSize);
  EXPECT_EQ(mt.cbFormat, c.info2 ? 112u : 88u);
  const BITMAPINFOHEADER* bmi;
  REFERENCE_TIME tpf;
  if (c.info2) {
    auto* v = reinterpret_cast<VIDEOINFOHEADER2*>(block);
    bmi = &v->bmiHeader;
    tpf = v->AvgTimePerFrame;
    EXPECT_EQ(v->dwPictAspectRatioX, 4u);
    EXPECT_EQ(v->dwPictAspectRatioY, 3u);
  } else {
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(block);
    bmi = &v->bmiHeader;
    tpf = v->AvgTimePerFrame;
    EXPECT_EQ(v->rcSource.right, 0);
  }
  EXPECT_EQ(tpf, c.timePerFrame);
  EXPECT_EQ(bmi->biSize, 40u);
  EXPECT_EQ(bmi->biWidth, c.width);
  EXPECT_EQ(bmi->biHeight, c.height);
  EXPECT_EQ(bmi->biBitCount, c.bits);
  EXPECT_EQ(bmi->biCompression, c.compression);
  EXPECT_EQ(bmi->biSizeImage, c.sampleSize);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InitMediaTypeTest,
    ::testing::Values(
        MediaTypeCase{"rgb24_25fps", MEDIASUBTYPE_RGB24, 640, 480, 25.0f, false, S_OK, 400000, 1920 * 480, BI_RGB, 24},
        MediaTypeCase{"rgb24_odd", MEDIASUBTYPE_RGB24, 641, 480, 25.0f, false, S_OK, 400000, 1924 * 480, BI_RGB, 24},
        MediaTypeCase{"top_down", MEDIASUBTYPE_RGB24, 641, -480, 25.0f, false, S_OK, 400000, 1924 * 480, BI_RGB, 24},
        MediaTypeCase{"rgb32_info2", MEDIASUBTYPE_RGB32, 320, 240, 30.0f, true, S_OK, 333333, 1280 * 240, BI_RGB, 32},
        MediaTypeCase{"yuy2", MEDIASUBTYPE_YUY2, 320, 240, 10.0f, false, S_OK, 1000000, 640 * 240,
                      MEDIASUBTYPE_YUY2.Data1, 16},
        MediaTypeCase{"fps_zero", MEDIASUBTYPE_RGB24, 640, 480, 0.0f, false, E_INVALIDARG, 0, 0, 0, 0},
        MediaTypeCase{"fps_negative", MEDIASUBTYPE_RGB24, 640, 480, -5.0f, false, E_INVALIDARG, 0, 0, 0, 0},
        MediaTypeCase{"fps_nan", MEDIASUBTYPE_RGB24, 640, 480, std::numeric_limits<float>::quiet_NaN(), true,
                      E_INVALIDARG, 0, 0, 0, 0},
        MediaTypeCase{"fps_infinite", MEDIASUBTYPE_RGB24, 640, 480, std::numeric_limits<float>::infinity(), false,
                      E_INVALIDARG, 0, 0, 0, 0},
        MediaTypeCase{"fps_tiny", MEDIASUBTYPE_RGB24, 640, 480, std::numeric_limits<float>::denorm_min(), false,
                      E_INVALIDARG, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GraphFunctionsBuild, InitMediaTypeRefusesAMissingFormatBlock) {
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(DShow::InitMediaType(&mt, &MEDIASUBTYPE_RGB24, 8, 8, 25.0f, FORMAT_VideoInfo), E_POINTER);
  EXPECT_EQ(DShow::InitMediaType(nullptr, &MEDIASUBTYPE_RGB24, 8, 8, 25.0f, FORMAT_VideoInfo), E_POINTER);
}

struct DurationCase {
  const char* name;
  LONGLONG duration;
  const char* text;
  const char* frames;
};

void PrintTo(const DurationCase& c, std::ostream* os) { *os << c.name; }

class DurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(DurationTest, FormatsMinutesSecondsAndFrames) {
  const DurationCase& c = GetParam();
  CComPtr<FakeSeeking> seeking;
  seeking.Attach(new FakeSeeking(c.duration, 25.0));
  seeking->format = TIME_FORMAT_FRAME;
  char text[32], frames[32];
  EXPECT_EQ(DShow::GetDurationString(seeking, text, sizeof(text), frames, sizeof(frames)), S_OK);
  EXPECT_STREQ(text, c.text);
  EXPECT_STREQ(frames, c.frames);
  EXPECT_EQ(seeking->format, TIME_FORMAT_FRAME);
}

INSTANTIATE_TEST_SUITE_P(Cases, DurationTest,
                         ::testing::Values(DurationCase{"clip_83_5s", 835000000, "01m:23.500s", "2087"},
                                           DurationCase{"clip_61min", 36600000000LL, "61m:00.000s", "91500"},
                                           DurationCase{"clip_quarter_second", 2500000, "00m:00.250s", "6"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GraphFunctionsStrings, DurationFailuresRestoreTheFormatAndRespectSizes) {
  CComPtr<FakeSeeking> seeking;
  seeking.Attach(new FakeSeeking(835000000, 25.0));
  seeking->format = TIME_FORMAT_FRAME;
  seeking->failDuration = true;
  char text[32];
  EXPECT_EQ(DShow::GetDurationString(seeking, text, sizeof(text), nullptr, 0), E_FAIL);
  EXPECT_EQ(seeking->format, TIME_FORMAT_FRAME);
  EXPECT_STREQ(text, "<00:00.000>");

  seeking->failDuration = false;
  char small[11];
  EXPECT_EQ(DShow::GetDurationString(seeking, small, sizeof(small), nullptr, 0), E_POINTER);
  char exact[12];
  EXPECT_EQ(DShow::GetDurationString(seeking, exact, sizeof(exact), nullptr, 0), S_OK);
  EXPECT_STREQ(exact, "01m:23.500s");
  char frames[3];
  EXPECT_EQ(DShow::GetDurationString(seeking, text, sizeof(text), frames, sizeof(frames)), S_OK);
  EXPECT_STREQ(frames, "20");  // truncated, terminated

  seeking->mediaTimeSupported = false;
  EXPECT_EQ(DShow::GetDurationString(seeking, text, sizeof(text), nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(DShow::GetDurationString(nullptr, text, sizeof(text), nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(DShow::GetDurationString(seeking, nullptr, 0, nullptr, 0), E_POINTER);
}

TEST(GraphFunctionsStrings, WindowsMediaFilesByFinalExtension) {
  const std::pair<const char*, bool> cases[] = {
      {"C:\\clips\\take.WMV", true}, {"take.wmv", true},          {"a/b/song.Wma", true},
      {"movie.asf", true},           {"take.avi", false},         {"x.asf\\take.avi", false},
      {"x.asf/clip", false},         {"noextension", false},      {"take.wmv.avi", false},
      {"", false},
  };
  for (auto& [path, expected] : cases) EXPECT_EQ(DShow::IsWindowsMediaFile(path), expected) << path;
  EXPECT_FALSE(DShow::IsWindowsMediaFile(nullptr));
}

TEST(GraphFunctionsStrings, ValidFileNames) {
  const std::pair<std::string, bool> cases[] = {
      {"clip.avi", true}, {"con", false},  {"Lpt1", false}, {"NUL", false},    {"CONX", true},
      {"a:b", false},     {"a/b", false},  {"a\\b", false}, {"what?", false},  {"a|b", false},
      {"<a>", false},     {"a*", false},   {"\"a\"", false}, {"", false},      {std::string(255, 'x'), true},
      {std::string(256, 'x'), false},
  };
  for (auto& [name, expected] : cases) EXPECT_EQ(DShow::IsValidFileName(name.c_str()), expected) << name;
}

TEST(GraphFunctionsStrings, ShowErrorOnlyForFailures) {
  std::vector<std::string> shown;
  auto previous = win::SetMessageBoxHandler([&](HWND, const std::string& text, const std::string& caption, UINT type) {
    shown.push_back(caption + "|" + text);
    EXPECT_EQ(type & MB_ICONERROR, MB_ICONERROR);
    return IDOK;
  });
  DShow::ShowError(0);
  DShow::ShowError(1);
  EXPECT_TRUE(shown.empty());
  DShow::ShowError(E_FAIL);
  DShow::ShowError(E_POINTER);
  DShow::ShowError(MakeHResult(0x80041234u));
  win::SetMessageBoxHandler(previous);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].rfind("Error!|", 0), 0u);
  EXPECT_EQ(shown[1], "Error!|Invalid pointer.");
  EXPECT_EQ(shown[2], "Error!|Unknown Error: 0x80041234");
}

class TrivialObject : public ComObject<TrivialObject, IUnknown> {};

TEST(GraphFunctionsSystem, RunningObjectTableNamesAndRevoke) {
  CComPtr<TrivialObject> object;
  object.Attach(new TrivialObject);
  DWORD cookie = 0;
  ASSERT_EQ(DShow::AddToRot(object, &cookie), S_OK);
  EXPECT_EQ(object->RefCountForTest(), 2u);  // the table keeps it alive
  char expected[64];
  std::snprintf(expected, sizeof(expected), "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(object.p()) & 0xFFFFFFFFu),
                static_cast<unsigned>(GetCurrentProcessId()));
  auto names = dshow::RunningObjectNames();
  EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end());
  DShow::RemoveFromRot(cookie);
  EXPECT_EQ(object->RefCountForTest(), 1u);
  names = dshow::RunningObjectNames();
  EXPECT_EQ(std::find(names.begin(), names.end(), expected), names.end());
  DShow::RemoveFromRot(cookie);  // twice is harmless
}

TEST(GraphFunctionsSystem, FilterExistsRegChecksTheServerFile) {
  const CLSID present = OurGuid(0xF00D1), missing = OurGuid(0xF00D2), empty = OurGuid(0xF00D3);
  const std::string file = ::testing::TempDir() + "/server_present.so";
  std::fclose(std::fopen(file.c_str(), "w"));
  com::RegisterClass(present, {[]() -> IUnknown* { return new TrivialObject; }, file, "present"});
  com::RegisterClass(missing, {[]() -> IUnknown* { return new TrivialObject; }, file + ".gone", "missing"});
  com::RegisterClass(empty, {[]() -> IUnknown* { return new TrivialObject; }, "", "empty"});
  EXPECT_TRUE(DShow::FilterExistsReg(present));
  EXPECT_FALSE(DShow::FilterExistsReg(missing));
  EXPECT_FALSE(DShow::FilterExistsReg(empty));
  EXPECT_FALSE(DShow::FilterExistsReg(OurGuid(0xF00D4)));
  for (auto id : {present, missing, empty}) com::RegisterClass(id, {});
  std::remove(file.c_str());
}

TEST(GraphFunctionsSystem, FileFunctionsUseStat) {
  const std::string dir = ::testing::TempDir() + "/dshow_files";
  const std::string file = dir + "/a.bin";
  std::system(("mkdir -p '" + dir + "'").c_str());
  FILE* f = std::fopen(file.c_str(), "wb");
  std::fwrite("12345", 1, 5, f);
  std::fclose(f);
  long long size = 0;
  EXPECT_TRUE(DShow::GetFileSize64(file.c_str(), &size));
  EXPECT_EQ(size, 5);
  EXPECT_TRUE(DShow::FileExists(file.c_str()));
  EXPECT_FALSE(DShow::FileExists(dir.c_str()));
  EXPECT_FALSE(DShow::FileExists((dir + "/*.bin").c_str()));
  EXPECT_TRUE(DShow::FolderExists(dir.c_str()));
  EXPECT_FALSE(DShow::FolderExists(file.c_str()));
  EXPECT_FALSE(DShow::GetFileSize64((dir + "/none").c_str(), &size));
  std::remove(file.c_str());
}

TEST(GraphFunctionsSystem, ModuleRelativePathIsOwnedAndUncut) {
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  std::string folder(exe, static_cast<size_t>(n));
  folder.erase(folder.rfind('/') + 1);
  const std::string first = DShow::GetModuleRelativePath("\\Graphics\\button_run.png");
  // Each call owns its text: a later call leaves an earlier one alone, and a
  // name past the old 260-character buffer is kept whole.
  const std::string longName(300, 'n');
  const std::string second = DShow::GetModuleRelativePath(longName.c_str());
  EXPECT_EQ(first, folder + "Graphics/button_run.png");
  EXPECT_EQ(second, folder + longName);
  EXPECT_EQ(DShow::GetModuleRelativePath(nullptr), folder);
}

}  // namespace
