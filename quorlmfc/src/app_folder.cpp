#include "quorlmfc/app_folder.h"

#include "win/window.h"

namespace QuorlMFC {

CString ApplicationFolder() {
  char path[_MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, _MAX_PATH);
  char drive[_MAX_DRIVE], dir[_MAX_DIR], name[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, name, ext);
  CString folder(drive);
  folder += dir;
  return folder;
}

}  // namespace QuorlMFC
