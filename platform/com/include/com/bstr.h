#pragma once
// BSTR and VARIANT: length-prefixed wide strings and the tagged value the
// property bags hand out. Wide characters are wchar_t (32-bit here).
#include <cstdint>
#include <string>

#include "com/hresult.h"
#include "win/types.h"

using BSTR = wchar_t*;
using VARTYPE = std::uint16_t;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;

// The length (in characters) is stored in front of the text, which is
// terminated as well, so a BSTR reads as a plain wide string.
BSTR SysAllocString(const wchar_t* text);
BSTR SysAllocStringLen(const wchar_t* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

struct VARIANT {
  VARTYPE vt;
  union {
    LONG lVal;
    BSTR bstrVal;
  };
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);

namespace com {

// UTF-8 is this system's "ANSI code page".
std::string WideToUtf8(const wchar_t* text);
std::wstring Utf8ToWide(const char* text);

}  // namespace com
