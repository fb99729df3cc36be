#include <cstdlib>
#include <cstring>

#include "com/com.h"
#include "dshow/interfaces.h"

WORD GetBitCount(const GUID* subtype) {
  if (!subtype) return 0;
  struct Bits {
    const GUID* subtype;
    WORD bits;
  };
  static const Bits kBits[] = {
      {&MEDIASUBTYPE_RGB24, 24}, {&MEDIASUBTYPE_RGB32, 32}, {&MEDIASUBTYPE_RGB565, 16},
      {&MEDIASUBTYPE_RGB555, 16}, {&MEDIASUBTYPE_YUY2, 16}, {&MEDIASUBTYPE_I420, 12},
      {&MEDIASUBTYPE_NV12, 12},
  };
  for (const Bits& b : kBits)
    if (*b.subtype == *subtype) return b.bits;
  return 0;
}

DWORD GetBitmapSize(const BITMAPINFOHEADER* header) {
  if (!header) return 0;
  const long long row = (static_cast<long long>(header->biBitCount) * header->biWidth + 31) / 32 * 4;
  return static_cast<DWORD>(row * std::llabs(static_cast<long long>(header->biHeight)));
}

bool IsRgbSubtype(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32 || subtype == MEDIASUBTYPE_RGB565 ||
         subtype == MEDIASUBTYPE_RGB555;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  *target = *source;
  if (source->cbFormat && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}
