// The channel interface again in stdcall (std family), with doubles for every
// argument and numeric result (double family, register convention) and both
// (std-double family). Each entry converts, calls the native entry and
// converts back.
//
// Entries that take doubles run under the library's own x87 control word:
// merely loading a signalling NaN argument would otherwise raise an
// exception in a host that unmasks them.
#include "exports.h"
#include "fpu.h"
#include "reply.h"

namespace {

const char NoName[] = "";

// A channel travels as a double: rounded half to even, the low 32 bits of the
// 64-bit result. False when the double has no such rounding.
bool ChannelOf(const double &n, int32_t *channel) {
    int64_t rounded;
    if (!RoundHalfEven(n, &rounded))
        return false;
    *channel = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(rounded)));
    return true;
}

// The shared body of a double-family entry with a numeric result: -777.0 at
// once for a channel that is not a number.
template <typename Native> double NumericByDouble(const double &n, Native native) {
    const uint16_t fpu = FpuEnter();
    int32_t channel;
    const double result = ChannelOf(n, &channel) ? native(channel) : NOT_AVAILABLE;
    FpuLeave(fpu);
    return result;
}

// The same for entries that answer a name: the empty text for a channel that
// is not a number.
template <typename Native> const char *NameByDouble(const double &n, Native native) {
    const uint16_t fpu = FpuEnter();
    int32_t channel;
    const char *name = ChannelOf(n, &channel) ? native(channel) : NoName;
    FpuLeave(fpu);
    return name;
}

// Rounds a double result to single precision without raising an exception.
float Single(double value) {
    const uint16_t fpu = FpuEnter();
    volatile float single = static_cast<float>(value);
    const float result = single;
    FpuLeave(fpu);
    return result;
}

double SetAnalog(int32_t channel, const double &value) {
    const uint16_t fpu = FpuEnter();
    const double result = sad(channel, value);
    FpuLeave(fpu);
    return result;
}

double SetAnalogByDouble(const double &n, const double &value) {
    return NumericByDouble(n, [&value](int32_t channel) { return SetAnalog(channel, value); });
}

// The value is rounded like a channel; neither may be a non-number.
double SetBinaryByDouble(const double &n, const double &value) {
    const uint16_t fpu = FpuEnter();
    int32_t channel;
    int32_t rounded;
    const double result =
        ChannelOf(n, &channel) && ChannelOf(value, &rounded) ? sb(channel, rounded) : NOT_AVAILABLE;
    FpuLeave(fpu);
    return result;
}

} // namespace

extern "C" {

int32_t STD_CALL stdea(int32_t n) { return ea(n); }
const char *STD_CALL stdnea(int32_t n) { return nea(n); }
double STD_CALL stdead(int32_t n) { return ead(n); }
const char *STD_CALL stdnead(int32_t n) { return nead(n); }
int32_t STD_CALL stdsa(int32_t n, int32_t value) { return sa(n, value); }
const char *STD_CALL stdnsa(int32_t n) { return nsa(n); }
double STD_CALL stdsad(int32_t n, double value) { return SetAnalog(n, value); }
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
float STD_CALL stdsas(int32_t n, float value) {
    const uint16_t fpu = FpuEnter();
    const double widened = value;
    const float result = Single(sad(n, widened));
    FpuLeave(fpu);
    return result;
}

// Each double-family operation twice: register convention, then stdcall.
#define BY_DOUBLE(type, name, body, native)                                                        \
    type REGISTER_CALL name(double n) { return body(n, native); }                                  \
    type STD_CALL std##name(double n) { return body(n, native); }

BY_DOUBLE(double, eadouble, NumericByDouble, ead)
BY_DOUBLE(const char *, neadouble, NameByDouble, nead)
BY_DOUBLE(const char *, nsadouble, NameByDouble, nsad)
BY_DOUBLE(double, rsadouble, NumericByDouble, rsad)
BY_DOUBLE(double, ebdouble, NumericByDouble, eb)
BY_DOUBLE(const char *, nebdouble, NameByDouble, neb)
BY_DOUBLE(const char *, nsbdouble, NameByDouble, nsb)
BY_DOUBLE(double, rsbdouble, NumericByDouble, rsb)

double REGISTER_CALL sadouble(REGISTER_STACK_ARGS(double n, double value)) {
    return SetAnalogByDouble(n, value);
}
double STD_CALL stdsadouble(double n, double value) { return SetAnalogByDouble(n, value); }
double REGISTER_CALL sbdouble(REGISTER_STACK_ARGS(double n, double value)) {
    return SetBinaryByDouble(n, value);
}
double STD_CALL stdsbdouble(double n, double value) { return SetBinaryByDouble(n, value); }

} // extern "C"
