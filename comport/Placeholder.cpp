#include "framework/Exception.h"
