// Start-up of the control library as it is loaded: the extension module,
// its one CDynLinkLibrary, sockets, and the library's dialog template 1008
// in the process-wide template table. None of these can fail here, so the
// library never refuses to load.
#include "quorlmfc/dialog_x.h"
#include "win/app.h"

namespace {

AFX_EXTENSION_MODULE g_module;

win::DialogTemplate MessageBoxTemplate() {
  win::DialogTemplate t;
  t.id = CDialogXMsgBox::kTemplateId;
  t.style = 0x80880040;  // WS_POPUP | WS_BORDER | WS_SYSMENU | DS_SETFONT: no system caption
  t.x = 0;
  t.y = 0;
  t.cx = 204;
  t.cy = 142;
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.items = {
      {"BUTTON", IDOK, "OK", 96, 119, 50, 16, 0x50010001},
      {"BUTTON", IDCANCEL, "Cancel", 147, 119, 50, 16, 0x50010000},
  };
  return t;
}

struct LibraryStartup {
  LibraryStartup() {
    AfxInitExtensionModule(g_module, nullptr);
    static CDynLinkLibrary library(g_module);
    AfxSocketInit();
    win::RegisterDialogTemplate(MessageBoxTemplate());
  }
  ~LibraryStartup() { AfxTermExtensionModule(g_module); }
};
const LibraryStartup g_startup;

}  // namespace
