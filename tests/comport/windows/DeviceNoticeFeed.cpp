// The device notice feed of this system for the component tests.
#include "support/windows/DeviceNoticeFeedImpl.h"
