#include <gtest/gtest.h>

#include <cwchar>

#include "com/bstr.h"
#include "com/com.h"

namespace {

struct ICounted : IUnknown {};
constexpr IID IID_ICounted = {0x51515151, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
QUORL_DECLARE_IID(ICounted, IID_ICounted)

int g_live = 0;

class Counted : public ComObject<Counted, ICounted> {
 public:
  Counted() { ++g_live; }

 protected:
  ~Counted() override { --g_live; }
};

TEST(ComPointer, MoveAssignmentBetweenTwoPointersKeepsTheObject) {
  {
    CComPtr<ICounted> a, b;
    a.Attach(new Counted);
    auto* raw = static_cast<Counted*>(a.p());
    b = std::move(a);  // must not go through the out-pointer operator
    EXPECT_EQ(a.p(), nullptr);
    EXPECT_EQ(static_cast<Counted*>(b.p()), raw);
    EXPECT_EQ(raw->RefCountForTest(), 1u);
    CComPtr<ICounted> c;
    c.Attach(new Counted);
    c = std::move(b);  // the old object of c goes, raw stays
    EXPECT_EQ(g_live, 1);
    EXPECT_EQ(raw->RefCountForTest(), 1u);
  }
  EXPECT_EQ(g_live, 0);
}

TEST(ComStrings, BstrKeepsItsLengthAndTerminator) {
  BSTR s = SysAllocString(L"Cam\u00e9ra");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 6u);
  EXPECT_EQ(std::wcscmp(s, L"Cam\u00e9ra"), 0);
  SysFreeString(s);
  BSTR withNul = SysAllocStringLen(L"a\0b", 3);
  EXPECT_EQ(SysStringLen(withNul), 3u);
  SysFreeString(withNul);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(ComStrings, VariantClearFreesTheString) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(L"FriendlyName");
  EXPECT_EQ(VariantClear(&v), S_OK);  // the sanitizer sees a leak otherwise
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(nullptr), E_POINTER);
}

TEST(ComStrings, Utf8IsTheNarrowCodePage) {
  const std::pair<const wchar_t*, const char*> cases[] = {
      {L"", ""}, {L"USB Camera", "USB Camera"}, {L"Cam\u00e9ra", "Cam\xc3\xa9ra"}, {L"\u6444\u50cf", "\xe6\x91\x84\xe5\x83\x8f"},
      {L"\U0001F3A5", "\xf0\x9f\x8e\xa5"},
  };
  for (auto& [wide, narrow] : cases) {
    EXPECT_EQ(com::WideToUtf8(wide), narrow);
    EXPECT_EQ(com::Utf8ToWide(narrow), wide);
  }
  EXPECT_EQ(com::Utf8ToWide("\xff"), L"\uFFFD");  // bad input is replaced, not dropped
  EXPECT_EQ(com::WideToUtf8(nullptr), "");
}

TEST(ComRegistry, ResolverRegistersOnDemandOnce) {
  const CLSID lazy = {0x1A2B3C4D, 0x5, 0x6, {1, 1, 2, 3, 5, 8, 13, 21}};
  int asked = 0;
  com::SetClassResolver([&](REFCLSID clsid) {
    ++asked;
    if (clsid != lazy) return false;
    com::RegisterClass(lazy, {[]() -> IUnknown* { return static_cast<ICounted*>(new Counted); }, "", "lazy"});
    return true;
  });
  CComPtr<ICounted> made;
  EXPECT_EQ(CoCreateInstance(lazy, nullptr, CLSCTX_INPROC_SERVER, IID_ICounted, reinterpret_cast<void**>(&made)), S_OK);
  EXPECT_NE(made.p(), nullptr);
  EXPECT_EQ(asked, 1);
  CComPtr<ICounted> again;
  EXPECT_EQ(CoCreateInstance(lazy, nullptr, CLSCTX_INPROC_SERVER, IID_ICounted, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(asked, 1);
  const CLSID unknown = {0x0BADC0DE, 0, 0, {0}};
  CComPtr<ICounted> none;
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_ICounted, reinterpret_cast<void**>(&none)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(asked, 2);
  com::SetClassResolver(nullptr);
  com::RegisterClass(lazy, {});
}

}  // namespace
