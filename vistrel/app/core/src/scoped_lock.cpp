#include "app_core/scoped_lock.h"

void DeleteLock(CRITICAL_SECTION* section) { DeleteCriticalSection(section); }
