// tarvel-probe: checks the line to a PHN130T pH meter through a tarvel
// deliverable, as a host program would use it, so that a lab can tell
// whether a -777 in the host comes from the cable, the port or the meter.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "probe_host.h"
#include "probe_text.h"

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

struct Options {
    int port = 1;
    std::string library;
    long count = 1;
    double interval = 1.0;
    std::string csv;
    bool scan = false;
};

struct Reading {
    double ph = probe::NoValue;
    double mv = probe::NoValue;
    double ms = 0.0;
    bool HasValue() const { return ph != probe::NoValue || mv != probe::NoValue; }
};

int UsageError(const std::string &message) {
    std::fprintf(stderr, "tarvel-probe: %s (see --help)\n", message.c_str());
    return 2;
}

bool ParseNumber(const char *text, double *value) {
    char *end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

// Returns -1 when the options are good, else the exit status.
int Parse(int argc, char **argv, Options *options) {
    bool byPort = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (option == "--scan") {
            options->scan = true;
            continue;
        }
        if (option != "--port" && option != "--library" && option != "--count" &&
            option != "--interval" && option != "--csv")
            return UsageError("unknown option " + option);
        if (i + 1 == argc)
            return UsageError(option + " needs a value");
        const char *value = argv[++i];
        double number = 0;
        if (option == "--library") {
            options->library = value;
        } else if (option == "--csv") {
            options->csv = value;
        } else if (!ParseNumber(value, &number)) {
            return UsageError(option + " wants a number, not " + value);
        } else if (option == "--port") {
            if (number != std::floor(number) || number < 1 || number > 255)
                return UsageError("--port is 1 to 255, not " + std::string(value));
            options->port = static_cast<int>(number);
            byPort = true;
        } else if (option == "--count") {
            if (number != std::floor(number) || number < 1 || number > 1e9)
                return UsageError("--count is a whole number from 1, not " + std::string(value));
            options->count = static_cast<long>(number);
        } else if (option == "--interval") {
            if (number < 0 || number > 86400)
                return UsageError("--interval is 0 to 86400 seconds, not " + std::string(value));
            options->interval = number;
        }
    }
    if (byPort && !options->library.empty())
        return UsageError("give --port or --library, not both");
    if (options->scan && (byPort || !options->library.empty() || !options->csv.empty()))
        return UsageError("--scan tries every port: it takes no --port, --library or --csv");
    return -1;
}

std::string LocalTime() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    return text;
}

std::string Shown(double value, const char *format) {
    if (value == probe::NoValue)
        return "no value";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

Reading Read(const probe::Deliverable &d) {
    Reading reading;
    const double start = probe::NowMs();
    reading.ph = d.read(0);
    reading.mv = d.read(1);
    reading.ms = probe::NowMs() - start;
    return reading;
}

void Describe(const probe::Deliverable &d) {
    std::fputs("title:    ", stdout);
    probe::PrintText(d.title());
    std::fputs("\ndetail:   ", stdout);
    probe::PrintText(d.detail());
    std::fputs("\n", stdout);
    for (int32_t n = 0; n < 16 && *d.channelName(n) != '\0'; ++n) {
        std::printf("channel %d: ", static_cast<int>(n));
        probe::PrintText(d.channelName(n));
        std::fputs(" (as integer: ", stdout);
        probe::PrintText(d.integerChannel(n));
        std::fputs(")\n", stdout);
    }
}

bool AppendCsv(const std::string &path, const std::string &time, const Reading &reading) {
    FILE *file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return false;
    std::fseek(file, 0, SEEK_END);
    if (std::ftell(file) == 0)
        std::fputs("time,ph,mv,ms\n", file);
    const auto cell = [](double value, const char *format) {
        return value == probe::NoValue ? std::string() : Shown(value, format);
    };
    std::fprintf(file, "%s,%s,%s,%.0f\n", time.c_str(), cell(reading.ph, "%.2f").c_str(),
                 cell(reading.mv, "%.0f").c_str(), reading.ms);
    return std::fclose(file) == 0;
}

int Probe(const Options &options) {
    const std::string path =
        options.library.empty() ? probe::FindLibrary(options.port) : options.library;
    if (path.empty()) {
        std::fprintf(stderr,
                     "tarvel-probe: %s not found next to tarvel-probe or in the current "
                     "directory (nor in more-ports there)\n",
                     probe::LibraryFileName(options.port).c_str());
        return 2;
    }
    probe::Deliverable d;
    std::string error;
    if (!probe::Load(path, &d, &error)) {
        std::fprintf(stderr, "tarvel-probe: %s\n", error.c_str());
        return 2;
    }
    std::printf("driver:   %s\n", path.c_str());
    Describe(d);
    std::fflush(stdout);

    bool anyValue = false;
    int status = -1;
    for (long i = 0; i < options.count; ++i) {
        const double start = probe::NowMs();
        const std::string time = LocalTime();
        const Reading reading = Read(d);
        anyValue = anyValue || reading.HasValue();
        std::printf("%s  pH %-8s  mV %-8s  %4.0f ms\n", time.c_str(),
                    Shown(reading.ph, "%.2f").c_str(), Shown(reading.mv, "%.0f").c_str(),
                    reading.ms);
        std::fflush(stdout);
        if (!options.csv.empty() && !AppendCsv(options.csv, time, reading)) {
            std::fprintf(stderr, "tarvel-probe: cannot write %s\n", options.csv.c_str());
            status = 2;
            break;
        }
        if (i + 1 < options.count)
            probe::SleepMs(options.interval * 1000.0 - (probe::NowMs() - start));
    }
    probe::Unload(&d);
    if (status >= 0)
        return status;
    if (!anyValue)
        std::fprintf(stderr,
                     "tarvel-probe: no value from the meter on %s: check the meter is "
                     "on, its cable, and that this is its port\n",
                     path.c_str());
    return anyValue ? 0 : 1;
}

// Loads each deliverable in turn, the five standard ones whether found or not
// and any other found beside the probe; each holds its port only while loaded.
int Scan() {
    bool anyValue = false;
    bool anyMissing = false;
    for (const int port : probe::PortsToScan()) {
        const std::string path = probe::FindLibrary(port);
        probe::Deliverable d;
        std::string error;
        if (path.empty() || !probe::Load(path, &d, &error)) {
            std::printf("com%d: driver unusable: %s\n", port,
                        path.empty() ? (probe::LibraryFileName(port) + " not found").c_str()
                                     : error.c_str());
            anyMissing = true;
            continue;
        }
        const double ph = d.read(0);
        const double mv = ph == probe::NoValue ? probe::NoValue : d.read(1);
        probe::Unload(&d);
        if (ph == probe::NoValue) {
            std::printf("com%d: no meter answers\n", port);
        } else {
            std::printf("com%d: meter answers: pH %s, %s mV\n", port, Shown(ph, "%.2f").c_str(),
                        Shown(mv, "%.0f").c_str());
            anyValue = true;
        }
        std::fflush(stdout);
    }
    if (anyValue)
        return 0;
    std::fprintf(stderr, anyMissing ? "tarvel-probe: no meter answers, and some drivers are "
                                      "missing or unusable\n"
                                    : "tarvel-probe: no meter answers on any port\n");
    return anyMissing ? 2 : 1;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    const int status = Parse(argc, argv, &options);
    if (status >= 0)
        return status;
    return options.scan ? Scan() : Probe(options);
}
