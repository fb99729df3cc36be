#pragma once
// Critical sections are recursive mutexes, as on the platform.
#include <mutex>

#include "win/types.h"

struct CRITICAL_SECTION {
  std::recursive_mutex* mutex = nullptr;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

inline void InitializeCriticalSection(CRITICAL_SECTION* cs) {
  if (cs) cs->mutex = new std::recursive_mutex;
}
inline BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* cs, DWORD) {
  InitializeCriticalSection(cs);
  return cs ? TRUE : FALSE;
}
inline void DeleteCriticalSection(CRITICAL_SECTION* cs) {
  if (!cs) return;
  delete cs->mutex;
  cs->mutex = nullptr;
}
inline void EnterCriticalSection(CRITICAL_SECTION* cs) { cs->mutex->lock(); }
inline BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) { return cs->mutex->try_lock() ? TRUE : FALSE; }
inline void LeaveCriticalSection(CRITICAL_SECTION* cs) { cs->mutex->unlock(); }

class CCriticalSection {
 public:
  BOOL Lock() {
    m_.lock();
    return TRUE;
  }
  BOOL Unlock() {
    m_.unlock();
    return TRUE;
  }

 private:
  std::recursive_mutex m_;
};
