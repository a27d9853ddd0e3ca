// The 58 exports of tarvel_1 as a 64-bit host calls them. On x86-64 every
// family is a plain call of the platform (Windows x64 or System V), through
// the types driver/exports.h gives hosts: the same arguments and answers as
// the 32-bit conventions, floating ones in SSE registers. Whatever MXCSR the
// host set (exceptions unmasked, another rounding mode, flush to zero, flags
// it had collected) and whatever odd value arrives as a channel or a value
// (quiet or signalling NaN, infinity, beyond 64 bits, subnormal), the call
// raises no floating-point exception and the host gets its MXCSR and its x87
// control and status words back as they were. The meter on com1: is
// simulated (metersim).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "exports.h"
#include "host.h"

static_assert(sizeof(void *) == 8, "a 64-bit host");

namespace {

// A host's floating-point modes: MXCSR (flags 0x3F, masks 0x1F80, rounding
// 0x6000, flush to zero 0x8000, denormals are zero 0x40) and the x87
// control word.
struct HostModes {
    uint32_t mxcsr;
    uint16_t x87;
    const char *what;
};
const uint32_t DefaultMxcsr = 0x1F80;
const uint16_t DefaultX87 = 0x037F;
const uint16_t UnmaskedX87 = 0x1332; // invalid operation, zero divide, overflow
const HostModes Hosts[] = {
    {0x1F80, 0x037F, "defaults"},
    {0x1900, 0x1332, "invalid operation, zero divide and overflow unmasked"},
    {0x0000, 0x1332, "every exception unmasked"},
    {0x3F80, 0x077F, "rounding down"},
    {0x5F80, 0x0B7F, "rounding up"},
    {0x7F80, 0x0F7F, "rounding toward zero"},
    {0x9FC0, 0x037F, "flush to zero, denormals are zero"},
    {0x1FBF, 0x037F, "every flag collected"},
    {0x1932, 0x1332, "flags of the masked exceptions collected, the others unmasked"},
};
const HostModes Unmasked[] = {Hosts[1], Hosts[2]};

struct FpState {
    uint32_t mxcsr;
    uint16_t x87Control, x87Status;
};
FpState ReadFpState() {
    FpState s;
    __asm__ __volatile__("stmxcsr %0\n\tfnstcw %1\n\tfnstsw %2"
                         : "=m"(s.mxcsr), "=m"(s.x87Control), "=m"(s.x87Status)
                         :
                         : "memory");
    return s;
}
void SetModes(uint32_t mxcsr, uint16_t x87) {
    __asm__ __volatile__("fnclex\n\tfldcw %1\n\tldmxcsr %0" : : "m"(mxcsr), "m"(x87) : "memory");
}

enum class Result { Integer, Text, Double, Single, Address };

// What one call answered, and the host's state just before and after it.
struct Answer {
    Result result = Result::Integer;
    int32_t integer = 0;
    const char *text = nullptr;
    const double *address = nullptr;
    uint64_t bits = 0; // a floating answer as it came, a single in the low half
    FpState before{}, after{};
    double ms = 0;

    double Number() const {
        if (result == Result::Single) {
            float single;
            std::memcpy(&single, &bits, sizeof single);
            return single;
        }
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return number;
    }
};

// Answers and arguments are moved as bits: nothing the host does between
// setting its modes and reading them back computes in floating point.
void Store(int32_t r, Answer *a) {
    a->result = Result::Integer;
    a->integer = r;
}
void Store(const char *r, Answer *a) {
    a->result = Result::Text;
    a->text = r;
}
void Store(const double *r, Answer *a) {
    a->result = Result::Address;
    a->address = r;
}
void Store(double r, Answer *a) {
    a->result = Result::Double;
    std::memcpy(&a->bits, &r, sizeof r);
}
void Store(float r, Answer *a) {
    a->result = Result::Single;
    std::memcpy(&a->bits, &r, sizeof r);
}

template <typename T> T As(uint64_t word) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(word));
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<T>(static_cast<uint32_t>(word));
    } else {
        T x;
        std::memcpy(&x, &word, sizeof x); // a single from the low half
        return x;
    }
}

using Invoker = void (*)(void *function, const std::vector<uint64_t> &words, Answer *answer);

template <typename R, typename... A, size_t... I>
void CallAs(void *function, const std::vector<uint64_t> &words, Answer *answer,
            std::index_sequence<I...>) {
    Store(reinterpret_cast<R (*)(A...)>(function)(As<A>(words.at(I))...), answer);
}

// Calls an export through the very type exports.h declares for it (given
// as a null pointer of that type: the test does not link the library).
template <typename R, typename... A> Invoker InvokerFor(R (*)(A...)) {
    return [](void *function, const std::vector<uint64_t> &words, Answer *answer) {
        CallAs<R, A...>(function, words, answer, std::index_sequence_for<A...>());
    };
}

uint64_t I(int32_t n) { return static_cast<uint32_t>(n); }
uint64_t D(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}
uint64_t F(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}
uint64_t P(const void *p) { return reinterpret_cast<uintptr_t>(p); }

struct Entry {
    const char *name;
    Invoker invoke;
    std::vector<uint64_t> args;
    double number;    // the expected number (the pointee for an address)
    const char *text; // the expected text
    bool queries;     // sends the meter one query
};
#define ENTRY(name, ...)                                                                           \
    Entry { #name, InvokerFor(static_cast <decltype(&name)>(nullptr)), __VA_ARGS__ }

const char Title[] = "phm\xE8tre PHN130T,com1:";
const char Detail[] = "DLL pour pHm\xE8tre Radiometer PHN130T, com1:, Orlevan, 26 nov 2007";
const double Probe = 3.0;
const double NoValue = -777.0;
const char Normal[] = "ph=7.02\nmv=-123\nfault=none\n";

// Every export once, against a meter reading pH 7.02 and -123 mV.
const std::vector<Entry> &Exports() {
    static const std::vector<Entry> table = {
        ENTRY(ea, {I(0)}, 702, nullptr, true),
        ENTRY(nea, {I(0)}, 0, "pH*100", false),
        ENTRY(ead, {I(1)}, -123.0, nullptr, true),
        ENTRY(nead, {I(0)}, 0, "pH", false),
        ENTRY(sa, {I(0), I(5)}, -777, nullptr, false),
        ENTRY(nsa, {I(0)}, 0, "", false),
        ENTRY(sad, {I(0), D(3.0)}, NoValue, nullptr, false),
        ENTRY(nsad, {I(0)}, 0, "", false),
        ENTRY(rsa, {I(0)}, -777, nullptr, false),
        ENTRY(rsad, {I(0)}, NoValue, nullptr, false),
        ENTRY(eb, {I(0)}, -777, nullptr, false),
        ENTRY(neb, {I(0)}, 0, "", false),
        ENTRY(sb, {I(0), I(1)}, -777, nullptr, false),
        ENTRY(nsb, {I(0)}, 0, "", false),
        ENTRY(rsb, {I(0)}, -777, nullptr, false),
        ENTRY(titre, {}, 0, Title, false),
        ENTRY(detail, {}, 0, Detail, false),
        ENTRY(pead, {I(0)}, 7.02, nullptr, true),
        ENTRY(psad, {I(0), P(&Probe)}, NoValue, nullptr, false),
        ENTRY(stdea, {I(1)}, -123, nullptr, true),
        ENTRY(stdnea, {I(1)}, 0, "mV", false),
        ENTRY(stdead, {I(0)}, 7.02, nullptr, true),
        ENTRY(stdnead, {I(1)}, 0, "mV", false),
        ENTRY(stdsa, {I(0), I(5)}, -777, nullptr, false),
        ENTRY(stdnsa, {I(0)}, 0, "", false),
        ENTRY(stdsad, {I(0), D(3.0)}, NoValue, nullptr, false),
        ENTRY(stdnsad, {I(0)}, 0, "", false),
        ENTRY(stdrsad, {I(0)}, NoValue, nullptr, false),
        ENTRY(stdeb, {I(0)}, -777, nullptr, false),
        ENTRY(stdneb, {I(0)}, 0, "", false),
        ENTRY(stdsb, {I(0), I(1)}, -777, nullptr, false),
        ENTRY(stdnsb, {I(0)}, 0, "", false),
        ENTRY(stdrsb, {I(0)}, -777, nullptr, false),
        ENTRY(stdtitre, {}, 0, Title, false),
        ENTRY(stddetail, {}, 0, Detail, false),
        ENTRY(stdeas, {I(0)}, 7.02, nullptr, true),
        ENTRY(stdrsas, {I(0)}, NoValue, nullptr, false),
        ENTRY(stdsas, {I(0), F(2.5f)}, NoValue, nullptr, false),
        ENTRY(eadouble, {D(0.0)}, 7.02, nullptr, true),
        ENTRY(neadouble, {D(1.0)}, 0, "mV", false),
        ENTRY(sadouble, {D(0.0), D(3.0)}, NoValue, nullptr, false),
        ENTRY(nsadouble, {D(0.0)}, 0, "", false),
        ENTRY(rsadouble, {D(0.0)}, NoValue, nullptr, false),
        ENTRY(ebdouble, {D(0.0)}, NoValue, nullptr, false),
        ENTRY(nebdouble, {D(0.0)}, 0, "", false),
        ENTRY(sbdouble, {D(0.0), D(1.0)}, NoValue, nullptr, false),
        ENTRY(nsbdouble, {D(0.0)}, 0, "", false),
        ENTRY(rsbdouble, {D(0.0)}, NoValue, nullptr, false),
        ENTRY(stdeadouble, {D(1.0)}, -123.0, nullptr, true),
        ENTRY(stdneadouble, {D(0.0)}, 0, "pH", false),
        ENTRY(stdsadouble, {D(0.0), D(3.0)}, NoValue, nullptr, false),
        ENTRY(stdnsadouble, {D(0.0)}, 0, "", false),
        ENTRY(stdrsadouble, {D(0.0)}, NoValue, nullptr, false),
        ENTRY(stdebdouble, {D(0.0)}, NoValue, nullptr, false),
        ENTRY(stdnebdouble, {D(0.0)}, 0, "", false),
        ENTRY(stdsbdouble, {D(0.0), D(1.0)}, NoValue, nullptr, false),
        ENTRY(stdnsbdouble, {D(0.0)}, 0, "", false),
        ENTRY(stdrsbdouble, {D(0.0)}, NoValue, nullptr, false),
    };
    return table;
}

const Entry &Export(const std::string &name) {
    for (const Entry &e : Exports())
        if (name == e.name)
            return e;
    ADD_FAILURE() << "no entry " << name;
    return Exports().front();
}

// The double and std-double families: every argument a double.
bool Doubles(const Entry &e) {
    const std::string name = e.name;
    return name.size() > 6 && name.compare(name.size() - 6, 6, "double") == 0;
}

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

class Abi64 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { library = host::Load(host::LibraryPath(1)); }
    static void TearDownTestSuite() {
        if (library != nullptr)
            host::Unload(library);
        library = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(library, nullptr) << host::LibraryPath(1);
        host::SetMeter(1, Normal);
    }

    // Calls the entry with the given arguments from a host in the given
    // modes, and checks that the host got them back unchanged.
    static Answer Invoke(const Entry &e, const std::vector<uint64_t> &args,
                         const HostModes &modes = Hosts[0]) {
        Answer a;
        void *function = host::Find(library, e.name);
        EXPECT_NE(function, nullptr) << e.name;
        if (function == nullptr)
            return a;
        const double start = host::NowMs();
        SetModes(modes.mxcsr, modes.x87);
        a.before = ReadFpState();
        e.invoke(function, args, &a);
        a.after = ReadFpState();
        SetModes(DefaultMxcsr, DefaultX87);
        a.ms = host::NowMs() - start;
        const std::string where = std::string(e.name) + " under " + modes.what;
        EXPECT_EQ(a.after.mxcsr, a.before.mxcsr)
            << where << ": MXCSR " << Hex(a.before.mxcsr) << " came back as " << Hex(a.after.mxcsr);
        EXPECT_EQ(a.after.x87Control, a.before.x87Control) << where << ": x87 control word";
        EXPECT_EQ(a.after.x87Status, a.before.x87Status) << where << ": x87 status word";
        return a;
    }

    static void *library;
};
void *Abi64::library = nullptr;

void ExpectAnswer(const Entry &e, const Answer &a) {
    switch (a.result) {
    case Result::Integer: EXPECT_EQ(a.integer, e.number); break;
    case Result::Text:
        ASSERT_NE(a.text, nullptr);
        EXPECT_EQ(std::string(a.text), e.text);
        break;
    case Result::Double: EXPECT_EQ(a.Number(), e.number); break;
    case Result::Single: EXPECT_EQ(a.Number(), static_cast<float>(e.number)); break;
    case Result::Address:
        ASSERT_NE(a.address, nullptr);
        EXPECT_EQ(*a.address, e.number);
        break;
    }
}

TEST_F(Abi64, EveryExportIsAPlainCallUnderAnyHostModes) {
    ASSERT_EQ(Exports().size(), 58u);
    for (const HostModes &modes : Hosts) {
        for (const Entry &e : Exports()) {
            SCOPED_TRACE(std::string(e.name) + " under " + modes.what);
            const std::string before = host::Received(1);
            ExpectAnswer(e, Invoke(e, e.args, modes));
            EXPECT_EQ(host::Received(1), e.queries ? before + "?RD\r" : before);
        }
    }
}

// The library's rounding is its own: half to even whatever rounding mode
// the host's MXCSR sets, for readings and for channels given as doubles.
TEST_F(Abi64, RoundingIsHalfToEvenUnderAnyHostModes) {
    struct Case {
        const char *reply;
        int32_t expected;
    } halves[] = {
        {"xxxx12.5\\r", 12}, {"xxxx13.5\\r", 14}, {"xxxx-2.5\\r", -2}, {"xxxx-3.5\\r", -4}};
    for (const HostModes &modes : Hosts) {
        SCOPED_TRACE(modes.what);
        for (const Case &c : halves) {
            host::SetMeter(1, std::string("reply=") + c.reply + "\n");
            EXPECT_EQ(Invoke(Export("ea"), {I(1)}, modes).integer, c.expected) << c.reply;
        }
        host::SetMeter(1, Normal);
        EXPECT_EQ(Invoke(Export("stdea"), {I(0)}, modes).integer, 702);
        EXPECT_EQ(Invoke(Export("stdeas"), {I(0)}, modes).Number(), 7.02f);
        const std::pair<double, double> channels[] = {
            {0.5, 7.02}, {-0.5, 7.02}, {1.4, -123.0}, {4294967297.0, -123.0}}; // 2^32 + 1: 1
        for (const auto &[channel, expected] : channels)
            EXPECT_EQ(Invoke(Export("eadouble"), {D(channel)}, modes).Number(), expected)
                << channel;
    }
}

// Doubles that trap when an SSE instruction meets them under unmasked
// exceptions (signalling NaNs), that have no integer rounding, or that
// overflow a 32-bit channel; then the same as singles.
const uint64_t OddDoubles[] = {0x7FF8000000000000ull,
                               0x7FF4000000000000ull,
                               0x7FF0000000000001ull,
                               0xFFF8000000000000ull,
                               0xFFF0000000000001ull,
                               D(INFINITY),
                               D(-INFINITY),
                               D(1e300),
                               D(-1e19),
                               D(9223372036854775808.0)};
const uint64_t OddSingles[] = {0x7FC00000u, 0x7FA00000u,  0x7F800001u, 0xFF800001u,
                               F(INFINITY), F(-INFINITY), 0x7F7FFFFFu, 1u};

// A channel without an integer rounding answers at once in every entry of
// the double families, sending and awaiting nothing.
TEST_F(Abi64, OddChannelsAnswerAtOnce) {
    const std::string before = host::Received(1);
    int checked = 0;
    for (const Entry &e : Exports()) {
        if (!Doubles(e))
            continue;
        ++checked;
        for (const HostModes &modes : Unmasked) {
            for (const uint64_t channel : OddDoubles) {
                SCOPED_TRACE(std::string(e.name) + " channel " + Hex(channel) + " under " +
                             modes.what);
                std::vector<uint64_t> args = e.args;
                args[0] = channel;
                const Answer a = Invoke(e, args, modes);
                if (a.result == Result::Text)
                    EXPECT_EQ(std::string(a.text), "");
                else
                    EXPECT_EQ(a.Number(), NoValue);
                EXPECT_LT(a.ms, 100);
            }
        }
    }
    EXPECT_EQ(checked, 20);
    EXPECT_EQ(host::Received(1), before);
}

// Every entry that takes a floating value, and psad through its address,
// answers -777.0 at once whatever the value.
TEST_F(Abi64, OddValuesNeverTrap) {
    const std::string before = host::Received(1);
    const std::vector<uint64_t> doubles(std::begin(OddDoubles), std::end(OddDoubles));
    const std::vector<uint64_t> singles(std::begin(OddSingles), std::end(OddSingles));
    const char *const takingValues[] = {"sad",      "stdsad",      "stdsas",     "sadouble",
                                        "sbdouble", "stdsadouble", "stdsbdouble"};
    for (const HostModes &modes : Unmasked) {
        for (const char *name : takingValues) {
            const Entry &e = Export(name);
            for (const uint64_t value : std::string(name) == "stdsas" ? singles : doubles) {
                SCOPED_TRACE(std::string(name) + " value " + Hex(value) + " under " + modes.what);
                const Answer a = Invoke(e, {e.args[0], value}, modes);
                EXPECT_EQ(a.Number(), NoValue);
                EXPECT_LT(a.ms, 100);
            }
        }
        for (const uint64_t &value : doubles) {
            SCOPED_TRACE("psad value " + Hex(value) + " under " + modes.what);
            const Answer a = Invoke(Export("psad"), {I(0), P(&value)}, modes);
            ASSERT_NE(a.address, nullptr);
            EXPECT_EQ(*a.address, NoValue);
        }
    }
    EXPECT_EQ(host::Received(1), before);
}

} // namespace
