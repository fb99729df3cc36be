#pragma once
// The main dialog's Save project command and its Open of a project file:
// the save dialog, the project writer and reader, the data view's columns
// and the messages. The main dialog owns the store and the data view and
// hands them in; messages are boxes owned by `owner` (may be null).
#include <string>

#include "data_view_columns.h"

class CalibrationDataStore;
class CWnd;

// Asks for the project's path (default extension ".txt", hide-read-only and
// overwrite-prompt) and writes the whole workbench there, images in the
// options' format ("bmp", "png", "tif", "jpg" or "gif"). Every file goes to
// the chosen file's folder, whatever the working directory. True when
// saved; false when cancelled (silently) or refused or failed (with a
// message, the earlier project left as it was).
bool SaveProject(const CalibrationDataStore& store, CWnd* owner, const char* extension);

// Reads the project at path and appends its entries behind the workbench's
// own: one column per new entry in order, then every panel rewritten
// (RefreshPanels(1000)). A bad project gives its message and changes neither
// the store nor the view. Files the load had to do without are listed in
// one message afterwards. True when the project was loaded.
bool LoadProject(const std::string& path, CalibrationDataStore& store, IDataViewColumns& view, CWnd* owner);
