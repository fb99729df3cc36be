#pragma once
// Apartment initialisation and object creation over our class registry.
#include <functional>
#include <string>

#include "com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

// Counted per thread: the first call gives S_OK, later ones S_FALSE.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();
// How many times this thread initialised and has not yet uninitialised.
int CoInitializeCountForThread();

// Unknown class: REGDB_E_CLASSNOTREG with *object null. Aggregation is not
// supported (CLASS_E_NOAGGREGATION).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);

void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* p);

namespace com {

// A factory returns a new object holding one reference, or null.
using ClassFactory = std::function<IUnknown*()>;

struct ClassInfo {
  ClassFactory factory;
  std::string serverFile;  // the library that serves the class (registry view)
  std::string name;
};

// Registers (or replaces) a class; an empty factory removes it.
void RegisterClass(REFCLSID clsid, ClassInfo info);
bool IsClassRegistered(REFCLSID clsid);
bool GetClassInfo(REFCLSID clsid, ClassInfo* out);

// Called once for a class id that is not registered, so that a library can
// register classes it only knows of on demand; true when it registered it.
using ClassResolver = std::function<bool(REFCLSID clsid)>;
void SetClassResolver(ClassResolver resolver);

}  // namespace com
