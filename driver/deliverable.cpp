// Constants of one deliverable, built once per port: TARVEL_PORT is 1 ... 255
// (1 ... 5 the standard deliverables, the others built on request).
#include "deliverable.h"

#include "ucommw32.h"

#define TARVEL_TEXT_(x) #x
#define TARVEL_TEXT(x) TARVEL_TEXT_(x)
#define PORT_NAME "com" TARVEL_TEXT(TARVEL_PORT) ":"

// Windows knows only COM1 ... COM9 as DOS device names: "com10:" opens
// nothing there, and COM10 and above are reached by their path in the device
// namespace, \\.\COMn. The POSIX line maps that form to ttyS(n-1) as well.
// The texts still name the port "comN:", as the host shows it.
#if TARVEL_PORT >= 10
const char DeliverablePortName[] = "\\\\.\\COM" TARVEL_TEXT(TARVEL_PORT);
#else
const char DeliverablePortName[] = PORT_NAME;
#endif

// 0xE8 is "e grave" in Windows-1252.
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
