// The native channel interface, register convention. Only ea, ead and pead
// talk to the meter; this meter has no outputs and no on/off channels.
#include "deliverable.h"
#include "exports.h"
#include "fpu.h"
#include "reading.h"
#include "reply.h"

namespace {

const char NoName[] = "";

// pead and psad hand out the address of their latest result.
double PeadResult;
double PsadResult;

} // namespace

extern "C" {

double REGISTER_CALL ead(int32_t n) {
    const uint16_t fpu = FpuEnter();
    const double value = ReadMeter(n);
    FpuLeave(fpu);
    return value;
}

int32_t REGISTER_CALL ea(int32_t n) {
    if (n < 0 || n > 2)
        return NOT_AVAILABLE_INT;
    const double value = ead(n); // channel 2 waits for a line and consumes it
    if (n == 2 || value == NOT_AVAILABLE)
        return NOT_AVAILABLE_INT;
    const uint16_t fpu = FpuEnter();
    int64_t rounded = NOT_AVAILABLE_INT;
    RoundHalfEven(n == 0 ? value * 100.0 : value, &rounded); // pH in hundredths
    FpuLeave(fpu);
    return static_cast<int32_t>(rounded);
}

const char *REGISTER_CALL nea(int32_t n) { return n == 0 ? "pH*100" : n == 1 ? "mV" : NoName; }

const char *REGISTER_CALL nead(int32_t n) { return n == 0 ? "pH" : n == 1 ? "mV" : NoName; }

int32_t REGISTER_CALL sa(int32_t, int32_t) { return NOT_AVAILABLE_INT; }
const char *REGISTER_CALL nsa(int32_t) { return NoName; }
double REGISTER_CALL sad(int32_t, double) { return NOT_AVAILABLE; }
const char *REGISTER_CALL nsad(int32_t) { return NoName; }
int32_t REGISTER_CALL rsa(int32_t) { return NOT_AVAILABLE_INT; }
double REGISTER_CALL rsad(int32_t) { return NOT_AVAILABLE; }
int32_t REGISTER_CALL eb(int32_t) { return NOT_AVAILABLE_INT; }
const char *REGISTER_CALL neb(int32_t) { return NoName; }
int32_t REGISTER_CALL sb(int32_t, int32_t) { return NOT_AVAILABLE_INT; }
const char *REGISTER_CALL nsb(int32_t) { return NoName; }
int32_t REGISTER_CALL rsb(int32_t) { return NOT_AVAILABLE_INT; }

const char *REGISTER_CALL titre() { return DeliverableTitle; }
const char *REGISTER_CALL detail() { return DeliverableDetail; }

const double *REGISTER_CALL pead(int32_t n) {
    PeadResult = ead(n);
    return &PeadResult;
}

const double *REGISTER_CALL psad(int32_t n, const double *value) {
    // sad ignores its value; a host passing no address must not crash.
    const uint16_t fpu = FpuEnter();
    PsadResult = sad(n, value != nullptr ? *value : 0.0);
    FpuLeave(fpu);
    return &PsadResult;
}

} // extern "C"
