#include "probe.h"

#include <stdio.h>
#include <time.h>

#include "probe_clock.h"
#include "probe_host.h"
#include "probe_options.h"
#include "probe_text.h"

namespace probe {

namespace {

struct Reading {
    double ph = NoValue;
    double mv = NoValue;
    double ms = 0.0;
    bool HasValue() const { return ph != NoValue || mv != NoValue; }
};

// Room for a shown value or a time.
constexpr size_t TextSize = 32;

void LocalTime(char *text) {
    const time_t now = time(nullptr);
    strftime(text, TextSize, "%Y-%m-%d %H:%M:%S", localtime(&now));
}

// The value as format shows it, in text[TextSize]; "no value" for -777.
const char *Shown(double value, const char *format, char *text) {
    if (value == NoValue)
        return "no value";
    snprintf(text, TextSize, format, value);
    return text;
}

// A CSV cell: the empty text for -777.
const char *Cell(double value, const char *format, char *text) {
    return value == NoValue ? "" : Shown(value, format, text);
}

Reading Read(const Deliverable &d) {
    Reading reading;
    const double start = NowMs();
    reading.ph = d.read(0);
    reading.mv = d.read(1);
    reading.ms = NowMs() - start;
    return reading;
}

void Describe(const Deliverable &d) {
    fputs("title:    ", stdout);
    PrintText(d.title());
    fputs("\ndetail:   ", stdout);
    PrintText(d.detail());
    fputs("\n", stdout);
    for (int32_t n = 0; n < 16 && *d.channelName(n) != '\0'; ++n) {
        printf("channel %d: ", static_cast<int>(n));
        PrintText(d.channelName(n));
        fputs(" (as integer: ", stdout);
        PrintText(d.integerChannel(n));
        fputs(")\n", stdout);
    }
}

bool AppendCsv(const char *path, const char *time, const Reading &reading) {
    FILE *file = fopen(path, "ab");
    if (file == nullptr)
        return false;
    fseek(file, 0, SEEK_END);
    if (ftell(file) == 0)
        fputs("time,ph,mv,ms\n", file);
    char ph[TextSize], mv[TextSize];
    fprintf(file, "%s,%s,%s,%.0f\n", time, Cell(reading.ph, "%.2f", ph),
            Cell(reading.mv, "%.0f", mv), reading.ms);
    return fclose(file) == 0;
}

int Probe(const Options &options) {
    char found[PathSize];
    const char *path = options.library;
    if (path[0] == '\0') {
        if (!FindLibrary(options.port, found)) {
            char name[NameSize];
            LibraryFileName(options.port, name);
            fprintf(stderr,
                    "tarvel-probe: %s not found next to tarvel-probe or in the current "
                    "directory (nor in more-ports there)\n",
                    name);
            return 2;
        }
        path = found;
    }
    Deliverable d;
    char error[ErrorSize];
    if (!Load(path, &d, error)) {
        fprintf(stderr, "tarvel-probe: %s\n", error);
        return 2;
    }
    printf("driver:   %s\n", path);
    Describe(d);
    fflush(stdout);

    bool anyValue = false;
    int status = -1;
    for (long i = 0; i < options.count; ++i) {
        const double start = NowMs();
        char time[TextSize], ph[TextSize], mv[TextSize];
        LocalTime(time);
        const Reading reading = Read(d);
        anyValue = anyValue || reading.HasValue();
        printf("%s  pH %-8s  mV %-8s  %4.0f ms\n", time, Shown(reading.ph, "%.2f", ph),
               Shown(reading.mv, "%.0f", mv), reading.ms);
        fflush(stdout);
        if (options.csv[0] != '\0' && !AppendCsv(options.csv, time, reading)) {
            fprintf(stderr, "tarvel-probe: cannot write %s\n", options.csv);
            status = 2;
            break;
        }
        if (i + 1 < options.count)
            SleepMs(options.interval * 1000.0 - (NowMs() - start));
    }
    Unload(&d);
    if (status >= 0)
        return status;
    if (!anyValue)
        fprintf(stderr,
                "tarvel-probe: no value from the meter on %s: check the meter is "
                "on, its cable, and that this is its port\n",
                path);
    return anyValue ? 0 : 1;
}

// Loads each deliverable in turn, the five standard ones whether found or not
// and any other found beside the probe; each holds its port only while loaded.
int Scan() {
    bool anyValue = false;
    bool anyMissing = false;
    int ports[MaxPort];
    const int count = PortsToScan(ports);
    for (int i = 0; i < count; ++i) {
        const int port = ports[i];
        char path[PathSize], error[ErrorSize];
        Deliverable d;
        if (!FindLibrary(port, path)) {
            char name[NameSize];
            LibraryFileName(port, name);
            printf("com%d: driver unusable: %s not found\n", port, name);
            anyMissing = true;
            continue;
        }
        if (!Load(path, &d, error)) {
            printf("com%d: driver unusable: %s\n", port, error);
            anyMissing = true;
            continue;
        }
        const double ph = d.read(0);
        const double mv = ph == NoValue ? NoValue : d.read(1);
        Unload(&d);
        char phText[TextSize], mvText[TextSize];
        if (ph == NoValue) {
            printf("com%d: no meter answers\n", port);
        } else {
            printf("com%d: meter answers: pH %s, %s mV\n", port, Shown(ph, "%.2f", phText),
                   Shown(mv, "%.0f", mvText));
            anyValue = true;
        }
        fflush(stdout);
    }
    if (anyValue)
        return 0;
    fprintf(stderr, anyMissing ? "tarvel-probe: no meter answers, and some drivers are "
                                 "missing or unusable\n"
                               : "tarvel-probe: no meter answers on any port\n");
    return anyMissing ? 2 : 1;
}

} // namespace

int Main(int argc, char **argv) {
    Options options;
    const int status = ParseOptions(argc, argv, &options);
    if (status >= 0)
        return status;
    const int result = options.scan ? Scan() : Probe(options);
    fflush(stdout);
    return result;
}

} // namespace probe
