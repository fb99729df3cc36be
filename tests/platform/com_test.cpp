#include <gtest/gtest.h>

#include "com/com.h"

namespace {

struct ITestThing : IUnknown {
  virtual int Value() = 0;
};
constexpr IID IID_ITestThing = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
QUORL_DECLARE_IID(ITestThing, IID_ITestThing)
constexpr CLSID CLSID_TestThing = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {8, 7, 6, 5, 4, 3, 2, 1}};

int g_alive = 0;

class TestThing : public ComObject<TestThing, ITestThing> {
 public:
  TestThing() { ++g_alive; }
  int Value() override { return 42; }

 protected:
  ~TestThing() override { --g_alive; }
};

TEST(Com, SmartPointerCountsCopiesMovesAndAssignment) {
  {
    TestThing* raw = new TestThing;  // one reference, ours
    CComPtr<ITestThing> a;
    a.Attach(raw);
    EXPECT_EQ(raw->RefCountForTest(), 1u);
    CComPtr<ITestThing> b = a;
    EXPECT_EQ(raw->RefCountForTest(), 2u);
    CComPtr<ITestThing> c = std::move(b);
    EXPECT_EQ(raw->RefCountForTest(), 2u);
    EXPECT_EQ(b.p(), nullptr);
    c = c;  // self-assignment keeps the count
    EXPECT_EQ(raw->RefCountForTest(), 2u);
    b = c;
    EXPECT_EQ(raw->RefCountForTest(), 3u);
    b = nullptr;
    c.Release();
    EXPECT_EQ(raw->RefCountForTest(), 1u);
    EXPECT_EQ(a->Value(), 42);
  }
  EXPECT_EQ(g_alive, 0);
}

TEST(Com, QueryInterfaceAnswersKnownIdsAndNullsOnFailure) {
  CComPtr<ITestThing> thing;
  thing.Attach(new TestThing);
  CComPtr<IUnknown> unk;
  EXPECT_EQ(thing.QueryInterface(&unk), S_OK);
  EXPECT_NE(unk.p(), nullptr);
  constexpr IID other = {0x99, 0, 0, {0}};
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(thing->QueryInterface(other, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST(Com, CreateInstanceThroughTheRegistry) {
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_ITestThing, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  com::RegisterClass(CLSID_TestThing, {[]() -> IUnknown* { return new TestThing; }, "libtest.so", "Test"});
  {
    CComPtr<ITestThing> made;
    ASSERT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_ITestThing,
                               reinterpret_cast<void**>(&made)),
              S_OK);
    EXPECT_EQ(made->Value(), 42);
    EXPECT_EQ(g_alive, 1);
  }
  EXPECT_EQ(g_alive, 0);
  com::RegisterClass(CLSID_TestThing, {});
  EXPECT_FALSE(com::IsClassRegistered(CLSID_TestThing));
}

TEST(Com, GuidTextRoundTripAndHResultSign) {
  const std::string s = GuidToString(CLSID_TestThing);
  EXPECT_EQ(s, "{AAAAAAAA-BBBB-CCCC-0807-060504030201}");
  GUID back{};
  ASSERT_TRUE(GuidFromString(s, &back));
  EXPECT_EQ(back, CLSID_TestThing);
  EXPECT_FALSE(GuidFromString("{nonsense}", &back));
  wchar_t buf[39];
  EXPECT_EQ(StringFromGUID2(CLSID_TestThing, buf, 39), 39);
  EXPECT_EQ(StringFromGUID2(CLSID_TestThing, buf, 38), 0);
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_LT(E_FAIL, 0);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), MakeHResult(0x80070002u));
}

TEST(Com, InitialisationIsCountedPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(CoInitializeCountForThread(), 2);
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many is harmless
  EXPECT_EQ(CoInitializeCountForThread(), 0);
}

}  // namespace
