#pragma once
// An enumerator over a snapshot of references: the one shape that the pin,
// filter and moniker enumerators share.
#include <cstddef>
#include <utility>
#include <vector>

#include "com/unknown.h"

namespace dshow {

template <class Item, class Interface>
class VectorEnum : public ComObject<VectorEnum<Item, Interface>, Interface> {
 public:
  explicit VectorEnum(std::vector<CComPtr<Item>> items) : items_(std::move(items)) {}
  HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG n = 0;
    while (n < count && next_ < items_.size()) {
      out[n] = items_[next_++];
      out[n++]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    next_ += count;
    return next_ <= items_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  std::vector<CComPtr<Item>> items_;
  std::size_t next_ = 0;
};

}  // namespace dshow
