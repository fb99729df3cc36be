#include "com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

struct BstrHeader {
  UINT length;
};

}  // namespace

BSTR SysAllocStringLen(const wchar_t* text, UINT length) {
  void* block = std::malloc(sizeof(BstrHeader) + (static_cast<std::size_t>(length) + 1) * sizeof(wchar_t));
  if (!block) return nullptr;
  static_cast<BstrHeader*>(block)->length = length;
  auto* chars = reinterpret_cast<wchar_t*>(static_cast<char*>(block) + sizeof(BstrHeader));
  if (text) std::wmemcpy(chars, text, length);
  else std::wmemset(chars, L'\0', length);
  chars[length] = L'\0';
  return chars;
}

BSTR SysAllocString(const wchar_t* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - sizeof(BstrHeader));
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  return reinterpret_cast<const BstrHeader*>(reinterpret_cast<const char*>(text) - sizeof(BstrHeader))->length;
}

void VariantInit(VARIANT* v) {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_POINTER;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  VariantInit(v);
  return S_OK;
}

namespace com {

std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    auto c = static_cast<std::uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const char* text) {
  std::wstring out;
  if (!text) return out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    std::uint32_t c = *s;
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0) {
      out += L'\uFFFD';
      ++s;
      continue;
    }
    c &= extra == 0 ? 0x7F : (0x3F >> extra);
    ++s;
    bool ok = true;
    for (int i = 0; i < extra; ++i, ++s) {
      if ((*s & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (*s & 0x3F);
    }
    out += ok ? static_cast<wchar_t>(c) : L'\uFFFD';
  }
  return out;
}

}  // namespace com
