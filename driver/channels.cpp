// The native channel interface, register convention. Only ea, ead and pead
// talk to the meter; this meter has no outputs and no on/off channels.
#include <string.h>

#include "deliverable.h"
#include "exports.h"
#include "fpu.h"
#include "reading.h"
#include "reply.h"

namespace {

const char NoName[] = "";

// pead and psad hand out the address of their latest result for the channel
// asked: a slot per channel (0, 1, and one for every channel that has no
// value), so that a thread reading one channel through its address never
// sees another thread's reading of the other. psad always answers -777.0,
// so one slot serves every channel.
double PeadResults[3];
double PsadResult;

double *PeadSlot(int32_t n) { return &PeadResults[n == 0 || n == 1 ? n : 2]; }

// The reading in hundredths of pH (channel 0) or whole mV (channel 1).
int32_t ScaledReading(int32_t n) {
    if (n < 0 || n > 2)
        return NOT_AVAILABLE_INT;
    const double value = ReadMeter(n); // channel 2 waits for a line and consumes it
    if (n == 2 || value == NOT_AVAILABLE)
        return NOT_AVAILABLE_INT;
    int64_t rounded = NOT_AVAILABLE_INT;
    RoundHalfEven(BitsOf(n == 0 ? value * 100.0 : value), &rounded);
    return static_cast<int32_t>(rounded);
}

} // namespace

extern "C" {

double REGISTER_CALL ead(int32_t n) {
    return UnderLibraryFpu<double>([n] { return ReadMeter(n); });
}

int32_t REGISTER_CALL ea(int32_t n) {
    return UnderLibraryFpu<int32_t>([n] { return ScaledReading(n); });
}

const char *REGISTER_CALL nea(int32_t n) { return n == 0 ? "pH*100" : n == 1 ? "mV" : NoName; }

const char *REGISTER_CALL nead(int32_t n) { return n == 0 ? "pH" : n == 1 ? "mV" : NoName; }

int32_t REGISTER_CALL sa(int32_t, int32_t) { return NOT_AVAILABLE_INT; }
const char *REGISTER_CALL nsa(int32_t) { return NoName; }
double REGISTER_CALL_WITH_DOUBLES(1) sad(int32_t, DoubleArg) { return NOT_AVAILABLE; }
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
    // Written in the reading's turn: a thread whose reading came earlier
    // cannot overwrite a later one.
    double *slot = PeadSlot(n);
    UnderLibraryFpu<double>([n, slot] { return ReadMeter(n, slot); });
    return slot;
}

const double *REGISTER_CALL psad(int32_t n, const double *value) {
    // The value is read as bits, like every floating-point argument, and
    // read even though sad ignores it: psad(n, &v) is sad(n, v), so an
    // address that cannot be read faults here, in the host's thread, where
    // the host's own handler gets it. No address at all reads as 0.0.
    DoubleArg bits;
    memset(&bits, 0, sizeof bits);
    if (value != nullptr)
        memcpy(&bits, value, sizeof bits);
    __asm__ __volatile__("" : : "m"(bits));
    PsadResult = sad(n, bits);
    return &PsadResult;
}

} // extern "C"
