#pragma once
#include <atomic>
#include <memory>
#include <utility>

#include "com/guid.h"
#include "com/hresult.h"
#include "win/types.h"

// IID_IUnknown keeps the platform's value.
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Each interface names its own id, in place of __uuidof: declare it beside
// the interface (found by argument-dependent lookup) and ask IidOf<T>().
#define QUORL_DECLARE_IID(Interface, iid) \
  inline constexpr const IID& QuorlIidOf(const Interface*) { return iid; }

QUORL_DECLARE_IID(IUnknown, IID_IUnknown)

template <class T>
constexpr const IID& IidOf() {
  return QuorlIidOf(static_cast<const T*>(nullptr));
}

// Holds one reference to an interface.
template <class T>
class CComPtr {
 public:
  CComPtr() noexcept = default;
  CComPtr(std::nullptr_t) noexcept {}
  CComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& o) noexcept : CComPtr(o.p_) {}
  CComPtr(CComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* p) noexcept {
    if (p) p->AddRef();
    T* old = std::exchange(p_, p);
    if (old) old->Release();
    return *this;
  }
  CComPtr& operator=(const CComPtr& o) noexcept { return *this = o.p_; }
  CComPtr& operator=(CComPtr&& o) noexcept {
    if (this != std::addressof(o)) {
      T* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }
  CComPtr& operator=(std::nullptr_t) noexcept {
    Release();
    return *this;
  }

  void Release() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Takes over a reference without adding one.
  void Attach(T* p) noexcept {
    Release();
    p_ = p;
  }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  // The out-pointer form: the held reference is released first.
  T** operator&() noexcept {
    Release();
    return &p_;
  }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  operator T*() const noexcept { return p_; }
  T* p() const noexcept { return p_; }
  bool operator!() const noexcept { return p_ == nullptr; }

  template <class Q>
  HRESULT QueryInterface(Q** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!p_) return E_POINTER;
    return p_->QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(out));
  }

  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

 private:
  T* p_ = nullptr;
};

// Atomic reference count for our own objects; the object deletes itself at 0.
class RefCount {
 public:
  ULONG Add() noexcept { return static_cast<ULONG>(++n_); }
  ULONG Sub() noexcept { return static_cast<ULONG>(--n_); }
  ULONG Get() const noexcept { return static_cast<ULONG>(n_.load()); }

 private:
  std::atomic<long> n_{1};
};

// Implements IUnknown for a class with one or more interfaces. Derived
// classes answer QueryInterface through QueryOwn; a new object holds one
// reference for its creator.
template <class Derived, class... Interfaces>
class ComObject : public Interfaces... {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    void* found = nullptr;
    if (riid == IID_IUnknown) {
      found = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
    } else {
      ((found == nullptr && riid == IidOf<Interfaces>()
            ? (found = static_cast<Interfaces*>(this), 0)
            : 0),
       ...);
      if (!found) found = static_cast<Derived*>(this)->QueryOther(riid);
    }
    if (!found) return E_NOINTERFACE;
    AddRef();
    *object = found;
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG n = refs_.Sub();
    if (n == 0) delete this;
    return n;
  }
  ULONG RefCountForTest() const { return refs_.Get(); }

 protected:
  virtual ~ComObject() = default;
  // Extra interfaces (for example ones reached through a member); null if none.
  void* QueryOther(REFIID) { return nullptr; }

 private:
  template <class First, class...>
  struct Head {
    using type = First;
  };
  using FirstInterface = typename Head<Interfaces...>::type;
  RefCount refs_;
};
