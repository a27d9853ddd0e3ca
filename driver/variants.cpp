// The channel interface again in stdcall (std family), with doubles for every
// argument and numeric result (double family, register convention) and both
// (std-double family). Each entry converts, calls the native entry and
// converts back.
//
// Floating-point arguments arrive as bits (DoubleArg, SingleArg): channels
// and values are rounded from their bits with integer instructions, so no
// argument, however odd, can raise an exception in the host; the native
// entries guard the host's x87 unit wherever they compute.
#include <string.h>

#include "exports.h"
#include "fpu.h"
#include "reply.h"

namespace {

const char NoName[] = "";

uint64_t ArgumentBits(const DoubleArg &x) {
    uint64_t bits;
    memcpy(&bits, &x, sizeof bits);
    return bits;
}

// A channel travels as a double: rounded half to even, the low 32 bits of the
// 64-bit result. False when the double has no such rounding.
bool ChannelOf(const DoubleArg &n, int32_t *channel) {
    int64_t rounded;
    if (!RoundHalfEven(ArgumentBits(n), &rounded))
        return false;
    *channel = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(rounded)));
    return true;
}

// The shared body of a double-family entry with a numeric result: -777.0 at
// once for a channel that is not a number.
template <typename Native> double NumericByDouble(const DoubleArg &n, Native native) {
    int32_t channel;
    return ChannelOf(n, &channel) ? native(channel) : NOT_AVAILABLE;
}

// The same for entries that answer a name: the empty text for a channel that
// is not a number.
template <typename Native> const char *NameByDouble(const DoubleArg &n, Native native) {
    int32_t channel;
    return ChannelOf(n, &channel) ? native(channel) : NoName;
}

// Rounds a double result to single precision, under the library's control
// word: the rounding raises no exception in the host.
float Single(double value) {
    return UnderLibraryFpu<float>([value] {
        volatile float single = static_cast<float>(Guarded(value));
        return single;
    });
}

// A single argument widened to a double, exactly (a signalling NaN comes out
// quiet), under the library's control word.
DoubleArg Widened(const SingleArg &value) {
    return UnderLibraryFpu<DoubleArg>([&value] {
        float single;
        memcpy(&single, &value, sizeof single);
        const double widened = Guarded(single);
        DoubleArg bits;
        memcpy(&bits, &widened, sizeof bits);
        return bits;
    });
}

double SetAnalogByDouble(const DoubleArg &n, const DoubleArg &value) {
    int32_t channel;
    return ChannelOf(n, &channel) ? sad(channel, value) : NOT_AVAILABLE;
}

// The value is rounded like a channel; neither may be a non-number.
double SetBinaryByDouble(const DoubleArg &n, const DoubleArg &value) {
    int32_t channel;
    int32_t rounded;
    return ChannelOf(n, &channel) && ChannelOf(value, &rounded) ? sb(channel, rounded)
                                                                : NOT_AVAILABLE;
}

} // namespace

extern "C" {

int32_t STD_CALL stdea(int32_t n) { return ea(n); }
const char *STD_CALL stdnea(int32_t n) { return nea(n); }
double STD_CALL stdead(int32_t n) { return ead(n); }
const char *STD_CALL stdnead(int32_t n) { return nead(n); }
int32_t STD_CALL stdsa(int32_t n, int32_t value) { return sa(n, value); }
const char *STD_CALL stdnsa(int32_t n) { return nsa(n); }
double STD_CALL stdsad(int32_t n, DoubleArg value) { return sad(n, value); }
const char *STD_CALL stdnsad(int32_t n) { return nsad(n); }
double STD_CALL stdrsad(int32_t n) { return rsad(n); }
int32_t STD_CALL stdeb(int32_t n) { return eb(n); }
const char *STD_CALL stdneb(int32_t n) { return neb(n); }
int32_t STD_CALL stdsb(int32_t n, int32_t value) { return sb(n, value); }
const char *STD_CALL stdnsb(int32_t n) { return nsb(n); }
int32_t STD_CALL stdrsb(int32_t n) { return rsb(n); }
const char *STD_CALL stdtitre() { return titre(); }
const char *STD_CALL stddetail() { return detail(); }
float STD_CALL stdeas(int32_t n) { return Single(ead(n)); }
float STD_CALL stdrsas(int32_t n) { return Single(rsad(n)); }
float STD_CALL stdsas(int32_t n, SingleArg value) { return Single(sad(n, Widened(value))); }

// Each double-family operation twice: register convention, then stdcall.
#define BY_DOUBLE(type, name, body, native)                                                        \
    type REGISTER_CALL_WITH_DOUBLES(0) name(DoubleArg n) { return body(n, native); }               \
    type STD_CALL std##name(DoubleArg n) { return body(n, native); }

BY_DOUBLE(double, eadouble, NumericByDouble, ead)
BY_DOUBLE(const char *, neadouble, NameByDouble, nead)
BY_DOUBLE(const char *, nsadouble, NameByDouble, nsad)
BY_DOUBLE(double, rsadouble, NumericByDouble, rsad)
BY_DOUBLE(double, ebdouble, NumericByDouble, eb)
BY_DOUBLE(const char *, nebdouble, NameByDouble, neb)
BY_DOUBLE(const char *, nsbdouble, NameByDouble, nsb)
BY_DOUBLE(double, rsbdouble, NumericByDouble, rsb)

double REGISTER_CALL_WITH_DOUBLES(0) sadouble(REGISTER_STACK_ARGS(DoubleArg n, DoubleArg value)) {
    return SetAnalogByDouble(n, value);
}
double STD_CALL stdsadouble(DoubleArg n, DoubleArg value) { return SetAnalogByDouble(n, value); }
double REGISTER_CALL_WITH_DOUBLES(0) sbdouble(REGISTER_STACK_ARGS(DoubleArg n, DoubleArg value)) {
    return SetBinaryByDouble(n, value);
}
double STD_CALL stdsbdouble(DoubleArg n, DoubleArg value) { return SetBinaryByDouble(n, value); }

} // extern "C"
