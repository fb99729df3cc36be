// Property pages of capture devices, answered through the dialog seam.
#include <gtest/gtest.h>

#include <cstdlib>

#include "com/com.h"
#include "dshow/devices.h"
#include "dshow/property_frames.h"
#include "quorl_dshow/crossbar.h"
#include "quorl_dshow/graph_functions.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace {

class PropertyPages : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QUORL_NO_DEVICE_MONITOR", "1", 1);
    dshow::ClearFakeDevices();
    dshow::FakeDevice d;
    d.name = "Paged camera";
    d.formats = {{MEDIASUBTYPE_YUY2, 160, 120, 30}, {MEDIASUBTYPE_YUY2, 320, 240, 15}};
    d.controls = {"Brightness", "Contrast", "Saturation"};
    dshow::AddFakeDevice(d);
    dshow::InstallPropertyFrames();
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    IBaseFilter* raw = nullptr;
    DShow::CCrossbar* crossbar = nullptr;
    int inputs = 0;
    ASSERT_EQ(DShow::BuildLiveUpstream(graph, 1, &raw, &crossbar, &inputs), S_OK);
    capture.Attach(raw);
    pin.Attach(DShow::FindCategoryPin(capture, PIN_CATEGORY_CAPTURE));
    ASSERT_NE(pin.p(), nullptr);
  }
  void TearDown() override {
    win::SetNextModalHook(nullptr);
    dshow::ClearFakeDevices();
  }

  int ConnectedWidth() {
    CComPtr<IBaseFilter> grabberFilter;
    DShow::AddFilterByCLSID(graph, CLSID_SampleGrabber, L"Sample Gabber", &grabberFilter);
    EXPECT_EQ(DShow::ConnectFilters(graph, pin, grabberFilter), S_OK);
    CComPtr<ISampleGrabber> grabber;
    grabberFilter.QueryInterface(&grabber);
    AM_MEDIA_TYPE mt{};
    grabber->GetConnectedMediaType(&mt);
    const int width = mt.pbFormat ? reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth : -1;
    FreeMediaType(mt);
    DShow::NukeDownstream(graph, capture);
    return width;
  }

  CComPtr<IGraphBuilder> graph;
  CComPtr<IBaseFilter> capture;
  CComPtr<IPin> pin;
};

TEST_F(PropertyPages, CapturePinPageAppliesTheChosenFormat) {
  EXPECT_EQ(ConnectedWidth(), 160);
  int listed = 0, selected = -1;
  std::string caption;
  win::SetNextModalHook([&](CDialog& dlg) {
    CWnd* formats = dlg.GetDlgItem(dshow::kPropertyFrameFormats);
    listed = static_cast<int>(formats->SendMessage(CB_GETCOUNT));
    selected = static_cast<int>(formats->SendMessage(CB_GETCURSEL));
    CString text;
    dlg.GetWindowText(text);
    caption = static_cast<const char*>(text);
    formats->SendMessage(CB_SETCURSEL, 1);
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(DShow::ShowPropertyPage(pin, L"Capture Pin Properties", nullptr), S_OK);
  EXPECT_EQ(listed, 2);
  EXPECT_EQ(selected, 0);  // the current format
  EXPECT_EQ(caption, "Capture Pin Properties");
  EXPECT_EQ(ConnectedWidth(), 320);
}

TEST_F(PropertyPages, CancelChangesNothingAndTheFilterPageListsControls) {
  win::SetNextModalHook([&](CDialog& dlg) {
    dlg.GetDlgItem(dshow::kPropertyFrameFormats)->SendMessage(CB_SETCURSEL, 1);
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  EXPECT_EQ(DShow::ShowPropertyPage(pin, L"Capture Pin Properties", nullptr), S_OK);
  EXPECT_EQ(ConnectedWidth(), 160);

  std::vector<std::string> controls;
  win::SetNextModalHook([&](CDialog& dlg) {
    CWnd* list = dlg.GetDlgItem(dshow::kPropertyFrameControls);
    const int count = static_cast<int>(list->SendMessage(CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
      char text[64] = {};
      list->SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      controls.emplace_back(text);
    }
    dlg.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(DShow::ShowPropertyPage(capture, L"Capture Filter Properties", nullptr), S_OK);
  EXPECT_EQ(controls, (std::vector<std::string>{"Brightness", "Contrast", "Saturation"}));
}

TEST_F(PropertyPages, ObjectsWithoutPagesAndNullObjects) {
  CComPtr<IBaseFilter> grabber;
  DShow::AddFilterByCLSID(graph, CLSID_SampleGrabber, L"Sample Gabber", &grabber);
  EXPECT_EQ(DShow::ShowPropertyPage(grabber, L"Grabber", nullptr), E_NOINTERFACE);
  EXPECT_EQ(DShow::ShowPropertyPage(nullptr, L"None", nullptr), E_FAIL);
}

}  // namespace
