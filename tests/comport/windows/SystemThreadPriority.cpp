#include "SystemThreadPriority.h"

#include <windows.h>

namespace comporttest {

int SystemThreadPriorityOfCallingThread() { return ::GetThreadPriority(::GetCurrentThread()); }

}  // namespace comporttest
