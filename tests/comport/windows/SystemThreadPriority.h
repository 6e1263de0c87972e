// The calling thread's priority as Windows reports it (GetThreadPriority),
// kept apart from <windows.h>, whose macros take the names of the platform
// layer's constants.
#pragma once

namespace comporttest {

int SystemThreadPriorityOfCallingThread();

}  // namespace comporttest
