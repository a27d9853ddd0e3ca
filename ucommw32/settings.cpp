#include "ucommw32.h"

// The unit's defaults, constant data in place before any code of the library
// runs; the library's start-up replaces the name and the settings.
const char *PortName = "Com1:";
const char *PortSettings = "baud=1200 parity=e data=7 stop=1";
uint16_t TimeoutMs = 1000;
