#include "quorl/clocale.h"

namespace quorl {
namespace {
locale_t CLocale() {
  // Made once and never freed: uselocale needs it for the process lifetime.
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}
}  // namespace

ScopedCLocale::ScopedCLocale() : previous_(uselocale(CLocale())) {}

ScopedCLocale::~ScopedCLocale() { uselocale(previous_); }

}  // namespace quorl
