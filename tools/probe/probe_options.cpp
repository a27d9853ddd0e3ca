#include "probe_options.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace probe {

namespace {

const char Usage[] =
    "usage: tarvel-probe [--port N | --library PATH] [--count N] [--interval S] [--csv FILE]\n"
    "       tarvel-probe --scan\n"
    "\n"
    "Loads the tarvel driver for port comN: (tarvel_N next to this program or in the\n"
    "more-ports folder there, else in the current directory) or the driver at PATH,\n"
    "prints its title, its detail and its channels, then reads the meter: the pH and\n"
    "the potential, COUNT times (default 1) every S seconds (default 1). -777 from the\n"
    "driver is shown as \"no value\".\n"
    "\n"
    "  --port N       port 1 to 255 (default 1)\n"
    "  --library PATH load this driver file instead\n"
    "  --count N      number of readings\n"
    "  --interval S   seconds from the start of one reading to the next\n"
    "  --csv FILE     append the readings to FILE (time,ph,mv,ms; an empty cell has no\n"
    "                 value); a new file gets a header line\n"
    "  --scan         try tarvel_1 ... tarvel_5 and every other driver next to this\n"
    "                 program (and in its more-ports folder) in turn, and say where a\n"
    "                 meter answers\n"
    "\n"
    "Exit status: 0 when a reading had a value, 1 when none had, 2 for a usage error or\n"
    "a driver that is missing or cannot be used.\n";

// One line on stderr: the message, which may name what was given.
int UsageError(const char *message, const char *given = "", const char *more = "") {
    fprintf(stderr, "tarvel-probe: %s%s%s (see --help)\n", message, given, more);
    return 2;
}

bool ParseNumber(const char *text, double *value) {
    char *end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0' && isfinite(*value);
}

bool Is(const char *option, const char *name) { return strcmp(option, name) == 0; }

} // namespace

int ParseOptions(int argc, char **argv, Options *options) {
    bool byPort = false;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        if (Is(option, "--help") || Is(option, "-h")) {
            fputs(Usage, stdout);
            return 0;
        }
        if (Is(option, "--scan")) {
            options->scan = true;
            continue;
        }
        if (!Is(option, "--port") && !Is(option, "--library") && !Is(option, "--count") &&
            !Is(option, "--interval") && !Is(option, "--csv"))
            return UsageError("unknown option ", option);
        if (i + 1 == argc)
            return UsageError(option, " needs a value");
        const char *value = argv[++i];
        double number = 0;
        if (Is(option, "--library")) {
            options->library = value;
        } else if (Is(option, "--csv")) {
            options->csv = value;
        } else if (!ParseNumber(value, &number)) {
            return UsageError(option, " wants a number, not ", value);
        } else if (Is(option, "--port")) {
            if (number != floor(number) || number < 1 || number > 255)
                return UsageError("--port is 1 to 255, not ", value);
            options->port = static_cast<int>(number);
            byPort = true;
        } else if (Is(option, "--count")) {
            if (number != floor(number) || number < 1 || number > 1e9)
                return UsageError("--count is a whole number from 1, not ", value);
            options->count = static_cast<long>(number);
        } else if (Is(option, "--interval")) {
            if (number < 0 || number > 86400)
                return UsageError("--interval is 0 to 86400 seconds, not ", value);
            options->interval = number;
        }
    }
    const bool byLibrary = options->library[0] != '\0';
    if (byPort && byLibrary)
        return UsageError("give --port or --library, not both");
    if (options->scan && (byPort || byLibrary || options->csv[0] != '\0'))
        return UsageError("--scan tries every port: it takes no --port, --library or --csv");
    return -1;
}

} // namespace probe
