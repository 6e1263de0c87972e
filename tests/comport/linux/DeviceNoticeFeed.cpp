// The device notice feed of this system for the component tests.
#include "support/linux/DeviceNoticeFeedImpl.h"
