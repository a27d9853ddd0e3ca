/* A console host: loads the driver of the port given on the command line,
 * prints its title and one reading of the meter (pH and mV).
 *     tarvel_sample 2      reads the meter on com2: through tarvel_2.dll
 * Exit status: 0 with a value, 1 when the meter gave none, 2 for a wrong
 * argument or a DLL that does not load.
 * Build: i686-w64-mingw32-gcc -I include include/sample/tarvel_sample.c
 *        -o tarvel_sample.exe (or cl /I include tarvel_sample.c); for a 64-bit
 *        host x86_64-w64-mingw32-gcc (or cl of an x64 prompt), run beside the
 *        x64 folder's DLLs. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "tarvel.h"

int main(int argc, char **argv) {
    char *end = NULL;
    const long port = argc == 2 ? strtol(argv[1], &end, 10) : 0;
    if (end == NULL || *end != '\0' || port < 1 || port > 255) {
        fprintf(stderr, "usage: tarvel_sample PORT   (1 to 255: reads comPORT: through "
                        "tarvel_PORT.dll)\n");
        return 2;
    }
    char name[16];
    snprintf(name, sizeof name, "tarvel_%ld.dll", port);
    /* Loading opens the port; the load succeeds even without a meter. */
    HMODULE driver = LoadLibraryA(name);
    tarvel_stdtitre_fn title = driver ? TARVEL_ENTRY(driver, stdtitre) : NULL;
    tarvel_stdead_fn read = driver ? TARVEL_ENTRY(driver, stdead) : NULL;
    if (title == NULL || read == NULL) {
        fprintf(stderr, "%s does not load or is not a tarvel driver\n", name);
        return 2;
    }

    /* The title is the DLL's own Windows-1252 text, written as it is. */
    printf("%s\n", title());
    const double ph = read(0);
    const double mv = read(1);
    const int status = ph == NOT_AVAILABLE || mv == NOT_AVAILABLE ? 1 : 0;
    if (status != 0)
        printf("no value from the meter\n");
    else
        printf("pH %.2f, %.0f mV\n", ph, mv);
    FreeLibrary(driver); /* releases the port */
    return status;
}
