// tarvel-probe's command line.
#pragma once

namespace probe {

struct Options {
    int port = 1;
    const char *library = ""; // the empty text: by port
    long count = 1;
    double interval = 1.0;
    const char *csv = ""; // the empty text: no CSV file
    bool scan = false;
};

// Reads the options (argv[1] on) into *options. Returns -1 when they are
// good, else the exit status: 0 after --help (the usage on stdout), 2 after
// a usage error (one line on stderr).
int ParseOptions(int argc, char **argv, Options *options);

} // namespace probe
