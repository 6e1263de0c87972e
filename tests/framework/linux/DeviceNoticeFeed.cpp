// The device notice feed of this system for the framework tests.
#include "support/linux/DeviceNoticeFeedImpl.h"
