// Running object table, graph-file container, registry view, error texts.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "com/bstr.h"
#include "dshow/platform.h"
#include "quorl/paths.h"

namespace {

class ItemMoniker : public ComObject<ItemMoniker, IMoniker> {
 public:
  explicit ItemMoniker(std::wstring name) : name_(std::move(name)) {}
  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetDisplayName(IBindCtx*, IMoniker*, wchar_t** name) override {
    if (!name) return E_POINTER;
    const std::wstring text = L"!" + name_;
    *name = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(*name, text.c_str(), text.size() + 1);
    return S_OK;
  }
  const std::wstring& Item() const { return name_; }

 private:
  std::wstring name_;
};

struct RotEntry {
  CComPtr<IUnknown> object;
  std::string name;
};

class RunningObjectTable : public ComObject<RunningObjectTable, IRunningObjectTable> {
 public:
  HRESULT Register(DWORD, IUnknown* object, IMoniker* name, DWORD* cookie) override {
    if (!object || !name || !cookie) return E_POINTER;
    wchar_t* display = nullptr;
    if (FAILED(name->GetDisplayName(nullptr, nullptr, &display))) return E_FAIL;
    std::string text = com::WideToUtf8(display + (display[0] == L'!' ? 1 : 0));
    CoTaskMemFree(display);
    std::lock_guard<std::mutex> guard(lock_);
    *cookie = ++lastCookie_;
    entries_[*cookie] = RotEntry{CComPtr<IUnknown>(object), text};
    return S_OK;
  }
  HRESULT Revoke(DWORD cookie) override {
    RotEntry gone;
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      gone = std::move(it->second);
      entries_.erase(it);
    }
    return S_OK;  // the reference goes outside the lock
  }
  CComPtr<IUnknown> Find(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& [cookie, entry] : entries_)
      if (entry.name == name) return entry.object;
    return nullptr;
  }
  std::vector<std::string> Names() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> names;
    for (auto& [cookie, entry] : entries_) names.push_back(entry.name);
    return names;
  }

 private:
  std::mutex lock_;
  DWORD lastCookie_ = 0;
  std::map<DWORD, RotEntry> entries_;
};

RunningObjectTable* Rot() {
  // Lives as long as the process; entries left registered are the caller's leak.
  static RunningObjectTable* table = new RunningObjectTable;
  return table;
}

// Graph files: "QUORLSTORAGE 1\n", then per stream its name line, its byte
// count line and the bytes.
constexpr char kStorageMagic[] = "QUORLSTORAGE 1\n";

class MemoryStream : public ComObject<MemoryStream, IStream> {
 public:
  explicit MemoryStream(std::string* data) : data_(data) {}
  HRESULT Read(void* out, ULONG size, ULONG* read) override {
    const std::size_t n = std::min<std::size_t>(size, data_->size() - position_);
    std::memcpy(out, data_->data() + position_, n);
    position_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n == size ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* in, ULONG size, ULONG* written) override {
    data_->append(static_cast<const char*>(in), size);
    if (written) *written = size;
    return S_OK;
  }

 private:
  std::string* data_;
  std::size_t position_ = 0;
};

class FileStorage : public ComObject<FileStorage, IStorage> {
 public:
  FileStorage(std::string path, bool writable) : path_(std::move(path)), writable_(writable) {}
  HRESULT CreateStream(const wchar_t* name, DWORD, DWORD, DWORD, IStream** stream) override {
    if (!name || !stream) return E_POINTER;
    if (!writable_) return E_ACCESSDENIED;
    std::string& data = streams_[com::WideToUtf8(name)];
    data.clear();
    *stream = new MemoryStream(&data);
    return S_OK;
  }
  HRESULT OpenStream(const wchar_t* name, void*, DWORD, DWORD, IStream** stream) override {
    if (!name || !stream) return E_POINTER;
    *stream = nullptr;
    auto it = streams_.find(com::WideToUtf8(name));
    if (it == streams_.end()) return STG_E_FILENOTFOUND;
    *stream = new MemoryStream(&it->second);
    return S_OK;
  }
  HRESULT Commit(DWORD) override {
    if (!writable_) return E_ACCESSDENIED;
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    if (!out) return E_ACCESSDENIED;
    out << kStorageMagic;
    for (auto& [name, data] : streams_) out << name << '\n' << data.size() << '\n' << data;
    return out.good() ? S_OK : E_FAIL;
  }
  bool Parse() {
    // A named pipe or a device would never end; a regular file is read up
    // to the size it had when opened.
    if (!quorl::IsReadableFile(path_)) return false;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_, error);
    if (error) return false;
    std::ifstream in(path_, std::ios::binary);
    std::string magic(sizeof(kStorageMagic) - 1, '\0');
    if (!in.read(magic.data(), static_cast<std::streamsize>(magic.size())) || magic != kStorageMagic) return false;
    std::string name, count;
    while (std::getline(in, name)) {
      if (!std::getline(in, count)) return false;
      char* end = nullptr;
      const unsigned long long n = std::strtoull(count.c_str(), &end, 10);
      if (end == count.c_str() || *end || count[0] == '-' || n > (1ull << 30)) return false;
      // A byte count the rest of the file cannot hold is refused before
      // anything is allocated for it.
      const std::streamoff here = in.tellg();
      if (here < 0 || static_cast<std::uintmax_t>(here) > size || n > size - static_cast<std::uintmax_t>(here))
        return false;
      std::string data(n, '\0');
      if (!in.read(data.data(), static_cast<std::streamsize>(n))) return false;
      streams_[name] = std::move(data);
    }
    return true;
  }

 private:
  std::string path_;
  bool writable_;
  std::map<std::string, std::string> streams_;
};

struct RegistryKey {
  std::string value;
};

std::mutex g_frameLock;
dshow::PropertyFrameHandler g_frameHandler;

std::mutex g_errorLock;
std::string g_lastPipelineError;

}  // namespace

HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** table) {
  if (!table) return E_POINTER;
  *table = Rot();
  (*table)->AddRef();
  return S_OK;
}

HRESULT CreateItemMoniker(const wchar_t* delimiter, const wchar_t* item, IMoniker** moniker) {
  if (!item || !moniker) return E_POINTER;
  *moniker = new ItemMoniker(item);
  return S_OK;
}

HRESULT StgCreateDocfile(const wchar_t* path, DWORD, DWORD, IStorage** storage) {
  if (!path || !storage) return E_POINTER;
  *storage = nullptr;
  const std::string file = quorl::MapPath(com::WideToUtf8(path));
  {
    std::ofstream probe(file, std::ios::binary | std::ios::app);
    if (!probe) return E_ACCESSDENIED;
  }
  *storage = new FileStorage(file, true);
  return S_OK;
}

HRESULT StgOpenStorage(const wchar_t* path, IStorage*, DWORD, void*, DWORD, IStorage** storage) {
  if (!path || !storage) return E_POINTER;
  *storage = nullptr;
  auto* opened = new FileStorage(quorl::MapPath(com::WideToUtf8(path)), false);
  if (!opened->Parse()) {
    opened->Release();
    return STG_E_INVALIDHEADER;
  }
  *storage = opened;
  return S_OK;
}

HRESULT StgIsStorageFile(const wchar_t* path) {
  if (!path) return E_POINTER;
  const std::string file = quorl::MapPath(com::WideToUtf8(path));
  if (!quorl::IsReadableFile(file)) return STG_E_FILENOTFOUND;
  std::ifstream in(file, std::ios::binary);
  if (!in) return STG_E_FILENOTFOUND;
  std::string magic(sizeof(kStorageMagic) - 1, '\0');
  in.read(magic.data(), static_cast<std::streamsize>(magic.size()));
  return in && magic == kStorageMagic ? S_OK : S_FALSE;
}

LSTATUS RegOpenKeyExA(HKEY root, const char* subKey, DWORD, DWORD, HKEY* key) {
  if (!key) return 87;  // invalid parameter
  *key = nullptr;
  if (root != HKEY_CLASSES_ROOT || !subKey) return ERROR_FILE_NOT_FOUND_STATUS;
  const std::string path = subKey;
  static const std::string prefix = "CLSID\\", suffix = "\\InprocServer32";
  if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
    return ERROR_FILE_NOT_FOUND_STATUS;
  GUID clsid;
  if (!GuidFromString(path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()), &clsid))
    return ERROR_FILE_NOT_FOUND_STATUS;
  com::ClassInfo info;
  if (!com::GetClassInfo(clsid, &info)) return ERROR_FILE_NOT_FOUND_STATUS;
  *key = reinterpret_cast<HKEY>(new RegistryKey{info.serverFile});
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  if (!key || key == HKEY_CLASSES_ROOT) return 6;  // invalid handle
  if (valueName && *valueName) return ERROR_FILE_NOT_FOUND_STATUS;
  const std::string& value = reinterpret_cast<RegistryKey*>(key)->value;
  if (type) *type = REG_SZ;
  const DWORD need = static_cast<DWORD>(value.size() + 1);
  if (!size) return data ? 87 : ERROR_SUCCESS;
  if (data) {
    if (*size < need) {
      *size = need;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.c_str(), need);
  }
  *size = need;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  if (key && key != HKEY_CLASSES_ROOT) delete reinterpret_cast<RegistryKey*>(key);
  return ERROR_SUCCESS;
}

DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  struct Text {
    HRESULT hr;
    const char* text;
  };
  static const Text kTexts[] = {
      {E_POINTER, "Invalid pointer."},
      {E_NOINTERFACE, "No such interface supported."},
      {E_OUTOFMEMORY, "Not enough memory."},
      {E_INVALIDARG, "An argument is not valid."},
      {E_UNEXPECTED, "Unexpected failure."},
      {E_NOTIMPL, "Not implemented."},
      {REGDB_E_CLASSNOTREG, "Class not registered."},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
      {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected."},
      {VFW_E_ALREADY_CONNECTED, "The pin is already connected."},
      {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the connection."},
      {VFW_E_NOT_FOUND, "An object or name was not found."},
      {VFW_E_WRONG_STATE, "The operation could not be performed in the graph's current state."},
      {VFW_E_UNSUPPORTED_STREAM, "The stream cannot be played: no decoder for it is installed."},
      {VFW_E_INVALID_FILE_FORMAT, "The file format is invalid."},
      {VFW_E_TYPE_NOT_ACCEPTED, "The media type is not accepted."},
  };
  std::string text;
  for (const Text& t : kTexts)
    if (t.hr == hr) text = t.text;
  if (text.empty() && hr == E_FAIL) {
    std::lock_guard<std::mutex> guard(g_errorLock);
    text = g_lastPipelineError;
  }
  if (text.empty()) return 0;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

HRESULT OleCreatePropertyFrame(HWND owner, UINT, UINT, const wchar_t* caption, ULONG objectCount, IUnknown** objects,
                               ULONG pageCount, const CLSID* pages, LCID, DWORD, void*) {
  if ((objectCount && !objects) || (pageCount && !pages)) return E_POINTER;
  dshow::PropertyFrameHandler handler;
  {
    std::lock_guard<std::mutex> guard(g_frameLock);
    handler = g_frameHandler;
  }
  if (!handler) return E_NOTIMPL;
  dshow::PropertyFrameRequest request;
  request.owner = owner;
  request.caption = com::WideToUtf8(caption);
  request.objects.assign(objects, objects + objectCount);
  request.pages.assign(pages, pages + pageCount);
  return handler(request);
}

namespace dshow {

std::vector<std::string> RunningObjectNames() { return Rot()->Names(); }

CComPtr<IUnknown> RunningObject(const std::string& name) { return Rot()->Find(name); }

void SetPropertyFrameHandler(PropertyFrameHandler handler) {
  std::lock_guard<std::mutex> guard(g_frameLock);
  g_frameHandler = std::move(handler);
}

void SetLastPipelineError(const std::string& text) {
  std::lock_guard<std::mutex> guard(g_errorLock);
  g_lastPipelineError = text;
}

}  // namespace dshow
