#include "dshow/property_frames.h"

#include <cstdio>
#include <mutex>

#include "com/bstr.h"
#include "win/controls.h"
#include "win/dialog.h"

namespace dshow {

namespace {

std::string FormatText(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat) return "Unknown format";
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  char code[5] = {};
  if (mt.subtype == MEDIASUBTYPE_RGB24) {
    std::snprintf(code, sizeof(code), "RGB");
  } else {
    for (int i = 0; i < 4; ++i) code[i] = static_cast<char>((mt.subtype.Data1 >> (8 * i)) & 0xFF);
  }
  const double fps = vih->AvgTimePerFrame > 0 ? 1e7 / static_cast<double>(vih->AvgTimePerFrame) : 0.0;
  char text[96];
  std::snprintf(text, sizeof(text), "%d x %d, %s, %.0f fps", static_cast<int>(vih->bmiHeader.biWidth),
                static_cast<int>(std::abs(vih->bmiHeader.biHeight)), code, fps);
  return text;
}

class PropertyFrame : public CDialog {
 public:
  PropertyFrame(IAMStreamConfig* config, IDeviceControls* controls, CWnd* parent)
      : CDialog(kPropertyFrameTemplate, parent), config_(config), controls_(controls) {}

  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kPropertyFrameFormats, formatList_);
    DDX_Control(dx, kPropertyFrameControls, controlList_);
  }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetWindowText(caption_.c_str());
    CComboBox* formats = &formatList_;
    CComboBox* controls = &controlList_;
    if (config_ && formats) {
      int count = 0, size = 0;
      config_->GetNumberOfCapabilities(&count, &size);
      AM_MEDIA_TYPE* current = nullptr;
      config_->GetFormat(&current);
      for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (config_->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)) != S_OK || !mt) continue;
        const int item = formats->AddString(FormatText(*mt).c_str());
        formats->SetItemData(item, static_cast<DWORD_PTR>(i));
        if (current && FormatText(*current) == FormatText(*mt)) formats->SetCurSel(item);
        DeleteMediaType(mt);
      }
      if (current) DeleteMediaType(current);
    }
    if (controls_ && controls) {
      std::vector<std::string> names;
      controls_->GetControlNames(&names);
      for (const std::string& name : names) controls->AddString(name.c_str());
      if (!names.empty()) controls->SetCurSel(0);
    }
    return TRUE;
  }

  void OnOK() override {
    CComboBox* formats = &formatList_;
    if (config_ && formats->GetCurSel() >= 0) {
      const int index = static_cast<int>(formats->GetItemData(formats->GetCurSel()));
      AM_MEDIA_TYPE* mt = nullptr;
      VIDEO_STREAM_CONFIG_CAPS caps;
      if (config_->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)) == S_OK && mt) {
        applied_ = config_->SetFormat(mt);
        DeleteMediaType(mt);
      }
    }
    CDialog::OnOK();
  }

  std::string caption_;
  HRESULT applied_ = S_OK;

 private:
  IAMStreamConfig* config_;
  IDeviceControls* controls_;
  CComboBox formatList_, controlList_;
};

HRESULT ShowFrame(const PropertyFrameRequest& request) {
  if (request.objects.empty() || !request.objects[0]) return E_POINTER;
  IUnknown* object = request.objects[0];
  CComPtr<IAMStreamConfig> config;
  CComPtr<IDeviceControls> controls;
  for (const CLSID& page : request.pages) {
    if (page == CLSID_CapturePinPropertyPage)
      object->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    if (page == CLSID_CaptureFilterPropertyPage)
      object->QueryInterface(IID_IDeviceControls, reinterpret_cast<void**>(&controls));
  }
  if (!config && !controls) return E_NOINTERFACE;
  PropertyFrame frame(config, controls, CWnd::FromHandle(request.owner));
  frame.caption_ = request.caption;
  const INT_PTR result = frame.DoModal();
  if (result < 0) return E_FAIL;
  return result == IDOK ? frame.applied_ : S_OK;
}

}  // namespace

void InstallPropertyFrames() {
  static std::once_flag once;
  std::call_once(once, [] {
    win::RegisterDialogTemplate({kPropertyFrameTemplate,
                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
                                 0,
                                 0,
                                 220,
                                 110,
                                 "Properties",
                                 "MS Shell Dlg",
                                 8,
                                 {{"STATIC", 0xFFFF, "Output format:", 7, 9, 60, 8, 0},
                                  {"COMBOBOX", kPropertyFrameFormats, "", 70, 7, 143, 80, WS_TABSTOP | CBS_DROPDOWNLIST},
                                  {"STATIC", 0xFFFF, "Controls:", 7, 31, 60, 8, 0},
                                  {"COMBOBOX", kPropertyFrameControls, "", 70, 29, 143, 80, WS_TABSTOP | CBS_DROPDOWNLIST},
                                  {"BUTTON", IDOK, "OK", 106, 89, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON},
                                  {"BUTTON", IDCANCEL, "Cancel", 163, 89, 50, 14, WS_TABSTOP}}});
    SetPropertyFrameHandler(&ShowFrame);
  });
}

}  // namespace dshow
