// Exception classes are header-only; this unit anchors the library.
#include "framework/Exception.h"
