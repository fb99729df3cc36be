#include "gdiplus/draw_string_observer.h"

#include <atomic>

namespace gdiplus {
namespace {
std::atomic<DrawStringObserver*> g_observer{nullptr};
}

DrawStringObserver* SetDrawStringObserver(DrawStringObserver* observer) { return g_observer.exchange(observer); }
DrawStringObserver* GetDrawStringObserver() { return g_observer.load(); }

}  // namespace gdiplus
