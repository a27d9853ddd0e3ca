#include "ucommw32.h"

// The unit's defaults, in place before any code of the library runs: on ELF
// platforms the load-time constructor that replaces them must find them
// constructed, hence the early initialisation priority.
#if defined(_WIN32)
#define EARLY
#else
#define EARLY __attribute__((init_priority(101)))
#endif

std::string PortName EARLY = "Com1:";
std::string PortSettings EARLY = "baud=1200 parity=e data=7 stop=1";
uint16_t TimeoutMs = 1000;
