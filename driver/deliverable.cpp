// Constants of one deliverable, built once per port: TARVEL_PORT is 1 ... 5.
#include "deliverable.h"

#include "ucommw32.h"

#define TARVEL_TEXT_(x) #x
#define TARVEL_TEXT(x) TARVEL_TEXT_(x)
#define PORT_NAME "com" TARVEL_TEXT(TARVEL_PORT) ":"

// 0xE8 is "e grave" in Windows-1252.
const char DeliverablePortName[] = PORT_NAME;
const char DeliverableTitle[] = "phm\xE8"
                                "tre PHN130T," PORT_NAME;
#if TARVEL_PORT == 1
const char DeliverableDetail[] = "DLL pour pHm\xE8"
                                 "tre Radiometer PHN130T, " PORT_NAME ", Orlevan, 26 nov 2007";
#else
const char DeliverableDetail[] =
    "DLL pour pHm\xE8"
    "tre Tacussel Radiometer PHN130T, " PORT_NAME ", Orlevan, 26 nov 2007";
#endif

#ifndef _WIN32
const char DeviceDirectory[] = TARVEL_DEVICE_DIR;
#endif
