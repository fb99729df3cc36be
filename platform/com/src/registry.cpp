#include <cstdlib>
#include <map>
#include <mutex>

#include "com/com.h"

namespace {

thread_local int t_initCount = 0;

std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}
std::map<CLSID, com::ClassInfo>& Registry() {
  static std::map<CLSID, com::ClassInfo> r;
  return r;
}

com::ClassResolver& Resolver() {
  static com::ClassResolver r;
  return r;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

int CoInitializeCountForThread() { return t_initCount; }

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  com::ClassFactory factory;
  for (int attempt = 0; attempt < 2 && !factory; ++attempt) {
    com::ClassResolver resolver;
    {
      std::lock_guard<std::mutex> guard(RegistryLock());
      auto it = Registry().find(clsid);
      if (it != Registry().end() && it->second.factory) {
        factory = it->second.factory;
        break;
      }
      resolver = Resolver();
    }
    if (attempt == 0 && resolver && resolver(clsid)) continue;
    return REGDB_E_CLASSNOTREG;
  }
  IUnknown* made = factory();
  if (!made) return E_OUTOFMEMORY;
  const HRESULT hr = made->QueryInterface(riid, object);
  made->Release();
  return hr;
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(void* p) { std::free(p); }

namespace com {

void RegisterClass(REFCLSID clsid, ClassInfo info) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  if (!info.factory) Registry().erase(clsid);
  else Registry()[clsid] = std::move(info);
}

void SetClassResolver(ClassResolver resolver) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  Resolver() = std::move(resolver);
}

bool IsClassRegistered(REFCLSID clsid) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  return Registry().count(clsid) != 0;
}

bool GetClassInfo(REFCLSID clsid, ClassInfo* out) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Registry().find(clsid);
  if (it == Registry().end()) return false;
  if (out) *out = it->second;
  return true;
}

}  // namespace com
