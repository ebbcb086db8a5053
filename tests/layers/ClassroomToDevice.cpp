// The classroom reaching for the sensor link: this must not compile (a station publishes the lesson, never a
// device).
#include "device/Device.h"
