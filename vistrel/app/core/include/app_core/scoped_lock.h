#pragma once
// The workbench's critical-section helpers, for the data shared with video
// and rendering threads.
#include "win/sync.h"

// Enters the section when made and leaves it when destroyed. A null section
// is allowed and locks nothing.
class CScopedLock {
 public:
  explicit CScopedLock(CRITICAL_SECTION* section) : section_(section) {
    if (section_) EnterCriticalSection(section_);
  }
  ~CScopedLock() {
    if (section_) LeaveCriticalSection(section_);
  }
  CScopedLock(const CScopedLock&) = delete;
  CScopedLock& operator=(const CScopedLock&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

void DeleteLock(CRITICAL_SECTION* section);
