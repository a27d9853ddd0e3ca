// The 58 exports of tarvel_1 called the way a 32-bit host calls them, through
// abi_thunks.S: registers and stack laid out by hand from the calling
// conventions, and afterwards the bytes the entry removed, the registers it
// had to keep, the x87 stack and control word it left. The meter on com1: is
// simulated (metersim).
//
// Register convention: the first three 32-bit arguments in EAX, EDX, ECX;
// doubles and singles on the stack, the first at the highest address.
// Stdcall: every argument on the stack, the first at the lowest address.
// Both: the entry removes its stack arguments; 32-bit results in EAX,
// floating-point results on top of the x87 stack.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "host.h"

static_assert(sizeof(void *) == 4, "the thunk is 32-bit x86");

// Laid out word for word as abi_thunks.S reads and writes it.
struct AbiCall {
    uint32_t function, eax, edx, ecx, ebx, esi, edi, ebp;
    uint32_t stack, stackWords, hostCw, floating;
    uint32_t outEax, outEdx, outEbx, outEsi, outEdi, outEbp;
    uint32_t espAtCall, espAfter, swBefore;
    uint32_t env[7]; // fnstenv: control, status, tag word, then pointers
    uint32_t result[2];
    uint32_t hostCwRead, mxcsrBefore, mxcsrAfter;
    uint32_t hostFlags;
};
static_assert(offsetof(AbiCall, espAtCall) == 72, "layout shared with abi_thunks.S");
static_assert(offsetof(AbiCall, result) == 112, "layout shared with abi_thunks.S");
static_assert(offsetof(AbiCall, hostFlags) == 132, "layout shared with abi_thunks.S");

extern "C" void abi_call(AbiCall *call);

namespace {

enum class Convention { Register, Std };
enum class Result { Integer, Text, Double, Single, Address };

// One argument, kept as raw bits so that a signalling NaN never passes
// through the x87 unit on its way to the entry.
struct Arg {
    enum Type { Word, Double, Single } type;
    uint64_t bits;
};
Arg I(int32_t n) { return {Arg::Word, static_cast<uint32_t>(n)}; }
Arg P(const void *p) { return {Arg::Word, reinterpret_cast<uintptr_t>(p)}; }
Arg D(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return {Arg::Double, bits};
}
Arg DBits(uint64_t bits) { return {Arg::Double, bits}; }
Arg F(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return {Arg::Single, bits};
}
Arg FBits(uint32_t bits) { return {Arg::Single, bits}; }

// The argument's words as they lie in memory, lowest address first.
void AppendWords(const Arg &a, std::vector<uint32_t> *image) {
    image->push_back(static_cast<uint32_t>(a.bits));
    if (a.type == Arg::Double)
        image->push_back(static_cast<uint32_t>(a.bits >> 32));
}

const uint32_t Canary[4] = {0xB1B1B1B1u, 0x5151E51Eu, 0xD1D1ED1Du, 0xB9B9EB9Bu}; // EBX ESI EDI EBP
const uint32_t Unused = 0xC0C0C0C0u; // EAX EDX ECX when they carry no argument

// What one call left behind.
struct Outcome {
    uint32_t eax = 0;
    double floating = 0; // ST0 when the result is floating
    int removed = 0;     // bytes the entry took off the stack
    int depth = 0;       // x87 registers in use after the return
    int depthByTop = 0;  // the same from the status word's TOP field
    uint16_t cw = 0, sw = 0;
    uint16_t hostCw = 0; // the host's word as the processor holds it
    uint32_t mxcsrBefore = 0, mxcsrAfter = 0;
    bool kept[4] = {}; // EBX ESI EDI EBP still hold their canaries
    double ms = 0;
};

Outcome Call(void *function, Convention convention, const std::vector<Arg> &args, bool floating,
             uint16_t hostCw, uint16_t hostFlags) {
    AbiCall c{};
    c.function = reinterpret_cast<uintptr_t>(function);
    uint32_t *registers[3] = {&c.eax, &c.edx, &c.ecx};
    c.eax = c.edx = c.ecx = Unused;
    std::vector<uint32_t> image;
    if (convention == Convention::Register) {
        size_t next = 0;
        for (const Arg &a : args)
            if (a.type == Arg::Word)
                *registers[next++] = static_cast<uint32_t>(a.bits);
        // The last floating argument lowest, the first highest.
        for (auto a = args.rbegin(); a != args.rend(); ++a)
            if (a->type != Arg::Word)
                AppendWords(*a, &image);
    } else {
        for (const Arg &a : args)
            AppendWords(a, &image);
    }
    c.ebx = Canary[0];
    c.esi = Canary[1];
    c.edi = Canary[2];
    c.ebp = Canary[3];
    c.stack = reinterpret_cast<uintptr_t>(image.data());
    c.stackWords = static_cast<uint32_t>(image.size());
    c.hostCw = hostCw;
    c.hostFlags = hostFlags;
    c.floating = floating ? 1 : 0;

    const double start = host::NowMs();
    abi_call(&c);
    Outcome o;
    o.ms = host::NowMs() - start;
    o.eax = c.outEax;
    o.removed = static_cast<int>(c.espAfter - c.espAtCall);
    o.cw = static_cast<uint16_t>(c.env[0]);
    o.sw = static_cast<uint16_t>(c.env[1]);
    o.hostCw = static_cast<uint16_t>(c.hostCwRead);
    o.mxcsrBefore = c.mxcsrBefore;
    o.mxcsrAfter = c.mxcsrAfter;
    for (int r = 0; r < 8; ++r)
        o.depth += ((c.env[2] >> (2 * r)) & 3) != 3;
    o.depthByTop = ((c.swBefore >> 11) - (o.sw >> 11)) & 7;
    const uint32_t out[4] = {c.outEbx, c.outEsi, c.outEdi, c.outEbp};
    for (int r = 0; r < 4; ++r)
        o.kept[r] = out[r] == Canary[r];
    std::memcpy(&o.floating, c.result, sizeof o.floating);
    return o;
}

// Control words of hosts: the Linux and Windows defaults, each rounding
// mode, single precision, and invalid operation, zero divide and overflow
// unmasked.
const uint16_t LinuxDefault = 0x037F;
const uint16_t Unmasked = 0x1332;
const uint16_t HostWords[] = {0x037F, 0x027F, 0x0E7F, 0x067F, 0x0A7F, 0x007F, 0x1332};

const uint16_t InvalidZeroOverflow = 0x0D; // IE ZE OE
const uint16_t StackFault = 0x40;
const uint16_t ExceptionFlags = 0x3F; // IE DE ZE OE UE PE

struct Entry {
    const char *name;
    Convention convention;
    std::vector<Arg> args;
    Result result;
    int removed;      // bytes the entry must take off the stack
    double number;    // the expected number (the pointee for Address)
    const char *text; // the expected text
    bool queries;     // sends the meter one query
};

bool Floating(Result r) { return r == Result::Double || r == Result::Single; }

const char Title[] = "phm\xE8tre PHN130T,com1:";
const char Detail[] = "DLL pour pHm\xE8tre Radiometer PHN130T, com1:, Orlevan, 26 nov 2007";
const double Probe = 3.0;
const double NoValue = -777.0;
const char Normal[] = "ph=7.02\nmv=-123\nfault=none\n";

const Convention R = Convention::Register, S = Convention::Std;
const Result Int = Result::Integer, Text = Result::Text, Dbl = Result::Double, Sgl = Result::Single,
             Addr = Result::Address;

// Every export once, against a meter reading pH 7.02 and -123 mV.
const std::vector<Entry> &Exports() {
    static const std::vector<Entry> table = {
        // Native family, register convention.
        {"ea", R, {I(0)}, Int, 0, 702, nullptr, true},
        {"nea", R, {I(0)}, Text, 0, 0, "pH*100", false},
        {"ead", R, {I(1)}, Dbl, 0, -123.0, nullptr, true},
        {"nead", R, {I(0)}, Text, 0, 0, "pH", false},
        {"sa", R, {I(0), I(5)}, Int, 0, -777, nullptr, false},
        {"nsa", R, {I(0)}, Text, 0, 0, "", false},
        {"sad", R, {I(0), D(3.0)}, Dbl, 8, NoValue, nullptr, false},
        {"nsad", R, {I(0)}, Text, 0, 0, "", false},
        {"rsa", R, {I(0)}, Int, 0, -777, nullptr, false},
        {"rsad", R, {I(0)}, Dbl, 0, NoValue, nullptr, false},
        {"eb", R, {I(0)}, Int, 0, -777, nullptr, false},
        {"neb", R, {I(0)}, Text, 0, 0, "", false},
        {"sb", R, {I(0), I(1)}, Int, 0, -777, nullptr, false},
        {"nsb", R, {I(0)}, Text, 0, 0, "", false},
        {"rsb", R, {I(0)}, Int, 0, -777, nullptr, false},
        {"titre", R, {}, Text, 0, 0, Title, false},
        {"detail", R, {}, Text, 0, 0, Detail, false},
        {"pead", R, {I(0)}, Addr, 0, 7.02, nullptr, true},
        {"psad", R, {I(0), P(&Probe)}, Addr, 0, NoValue, nullptr, false},
        // Std family.
        {"stdea", S, {I(1)}, Int, 4, -123, nullptr, true},
        {"stdnea", S, {I(1)}, Text, 4, 0, "mV", false},
        {"stdead", S, {I(0)}, Dbl, 4, 7.02, nullptr, true},
        {"stdnead", S, {I(1)}, Text, 4, 0, "mV", false},
        {"stdsa", S, {I(0), I(5)}, Int, 8, -777, nullptr, false},
        {"stdnsa", S, {I(0)}, Text, 4, 0, "", false},
        {"stdsad", S, {I(0), D(3.0)}, Dbl, 12, NoValue, nullptr, false},
        {"stdnsad", S, {I(0)}, Text, 4, 0, "", false},
        {"stdrsad", S, {I(0)}, Dbl, 4, NoValue, nullptr, false},
        {"stdeb", S, {I(0)}, Int, 4, -777, nullptr, false},
        {"stdneb", S, {I(0)}, Text, 4, 0, "", false},
        {"stdsb", S, {I(0), I(1)}, Int, 8, -777, nullptr, false},
        {"stdnsb", S, {I(0)}, Text, 4, 0, "", false},
        {"stdrsb", S, {I(0)}, Int, 4, -777, nullptr, false},
        {"stdtitre", S, {}, Text, 0, 0, Title, false},
        {"stddetail", S, {}, Text, 0, 0, Detail, false},
        {"stdeas", S, {I(0)}, Sgl, 4, 7.02, nullptr, true},
        {"stdrsas", S, {I(0)}, Sgl, 4, NoValue, nullptr, false},
        {"stdsas", S, {I(0), F(2.5f)}, Sgl, 8, NoValue, nullptr, false},
        // Double family, register convention: doubles only, on the stack.
        {"eadouble", R, {D(0.0)}, Dbl, 8, 7.02, nullptr, true},
        {"neadouble", R, {D(1.0)}, Text, 8, 0, "mV", false},
        {"sadouble", R, {D(0.0), D(3.0)}, Dbl, 16, NoValue, nullptr, false},
        {"nsadouble", R, {D(0.0)}, Text, 8, 0, "", false},
        {"rsadouble", R, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
        {"ebdouble", R, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
        {"nebdouble", R, {D(0.0)}, Text, 8, 0, "", false},
        {"sbdouble", R, {D(0.0), D(1.0)}, Dbl, 16, NoValue, nullptr, false},
        {"nsbdouble", R, {D(0.0)}, Text, 8, 0, "", false},
        {"rsbdouble", R, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
        // Std-double family.
        {"stdeadouble", S, {D(1.0)}, Dbl, 8, -123.0, nullptr, true},
        {"stdneadouble", S, {D(0.0)}, Text, 8, 0, "pH", false},
        {"stdsadouble", S, {D(0.0), D(3.0)}, Dbl, 16, NoValue, nullptr, false},
        {"stdnsadouble", S, {D(0.0)}, Text, 8, 0, "", false},
        {"stdrsadouble", S, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
        {"stdebdouble", S, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
        {"stdnebdouble", S, {D(0.0)}, Text, 8, 0, "", false},
        {"stdsbdouble", S, {D(0.0), D(1.0)}, Dbl, 16, NoValue, nullptr, false},
        {"stdnsbdouble", S, {D(0.0)}, Text, 8, 0, "", false},
        {"stdrsbdouble", S, {D(0.0)}, Dbl, 8, NoValue, nullptr, false},
    };
    return table;
}

const Entry &Export(const char *name) {
    for (const Entry &e : Exports())
        if (std::string(e.name) == name)
            return e;
    throw std::runtime_error(std::string("no entry ") + name);
}

// The double and std-double families: every argument a double.
bool TakesDoublesOnly(const Entry &e) {
    if (e.args.empty())
        return false;
    for (const Arg &a : e.args)
        if (a.type != Arg::Double)
            return false;
    return true;
}

class Abi : public ::testing::Test {
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

    // Calls the entry as described, with other arguments if given, from a
    // host whose x87 status holds the given sticky exception flags, and
    // checks what every entry owes its host whatever it answers.
    Outcome Invoke(const Entry &e, uint16_t cw = LinuxDefault) { return Invoke(e, e.args, cw); }
    Outcome Invoke(const Entry &e, const std::vector<Arg> &args, uint16_t cw = LinuxDefault,
                   uint16_t flags = 0) {
        void *function = host::Find(library, e.name);
        EXPECT_NE(function, nullptr) << e.name;
        if (function == nullptr)
            return Outcome();
        const Outcome o = Call(function, e.convention, args, Floating(e.result), cw, flags);
        const std::string where = std::string(e.name) + " under control word 0x" + Hex(cw);
        EXPECT_EQ(o.removed, e.removed) << where << ": bytes taken off the stack";
        static const char *const names[4] = {"EBX", "ESI", "EDI", "EBP"};
        for (int r = 0; r < 4; ++r)
            EXPECT_TRUE(o.kept[r]) << where << ": " << names[r] << " not preserved";
        const int depth = Floating(e.result) ? 1 : 0;
        EXPECT_EQ(o.depth, depth) << where << ": x87 registers in use after the return";
        EXPECT_EQ(o.depthByTop, depth) << where << ": x87 TOP moved";
        EXPECT_EQ(o.cw, o.hostCw) << where << ": control word changed to 0x" << Hex(o.cw);
        EXPECT_EQ(o.hostCw & ~0x40, cw & ~0x40) << where << ": the host's word did not take";
        EXPECT_EQ(o.mxcsrAfter, o.mxcsrBefore) << where << ": MXCSR changed";
        const uint16_t unmasked = static_cast<uint16_t>(o.sw & InvalidZeroOverflow & ~cw);
        EXPECT_EQ(unmasked, 0) << where << ": unmasked exception pending, status 0x" << Hex(o.sw);
        EXPECT_EQ(o.sw & StackFault, 0) << where << ": x87 stack fault, status 0x" << Hex(o.sw);
        EXPECT_EQ(o.sw & ExceptionFlags, flags)
            << where << ": the host's exception flags 0x" << Hex(flags) << " came back as 0x"
            << Hex(o.sw & ExceptionFlags);
        return o;
    }

    static std::string Hex(unsigned v) {
        char text[16];
        std::snprintf(text, sizeof text, "%04X", v);
        return text;
    }
    static std::string TextAt(uint32_t address) {
        return address == 0 ? std::string("(null)")
                            : std::string(reinterpret_cast<const char *>(address));
    }
    static double DoubleAt(uint32_t address) { return *reinterpret_cast<const double *>(address); }

    static void *library;
};
void *Abi::library = nullptr;

// The answer an entry gave, as a number (texts excluded).
double Number(const Entry &e, const Outcome &o) {
    switch (e.result) {
    case Result::Integer: return static_cast<int32_t>(o.eax);
    case Result::Double:
    case Result::Single: return o.floating;
    case Result::Address:
        return o.eax == 0 ? std::nan("") : *reinterpret_cast<const double *>(o.eax);
    case Result::Text: break;
    }
    return std::nan("");
}

TEST_F(Abi, EveryExportAnswersAndReturnsCleanly) {
    ASSERT_EQ(Exports().size(), 58u);
    for (const Entry &e : Exports()) {
        SCOPED_TRACE(e.name);
        const std::string before = host::Received(1);
        const Outcome o = Invoke(e);
        if (e.result == Result::Text) {
            ASSERT_NE(o.eax, 0u);
            EXPECT_EQ(TextAt(o.eax), e.text);
        } else if (e.result == Result::Single) {
            EXPECT_EQ(o.floating, static_cast<double>(static_cast<float>(e.number)))
                << "not the single-precision value";
        } else {
            EXPECT_EQ(Number(e, o), e.number);
        }
        EXPECT_EQ(host::Received(1), e.queries ? before + "?RD\r" : before);
    }
}

TEST_F(Abi, NamesOfEachChannel) {
    struct Case {
        const char *name;
        Arg channel;
        const char *text;
    } cases[] = {
        {"nea", I(0), "pH*100"},
        {"nea", I(1), "mV"},
        {"nea", I(2), ""},
        {"nea", I(-1), ""},
        {"nead", I(0), "pH"},
        {"nead", I(1), "mV"},
        {"nead", I(2), ""},
        {"stdnea", I(0), "pH*100"},
        {"stdnead", I(0), "pH"},
        {"stdnead", I(7), ""},
        {"neadouble", D(0.0), "pH"},
        {"neadouble", D(0.5), "pH"},
        {"neadouble", D(1.0), "mV"},
        {"neadouble", D(1.5), ""},
        {"neadouble", D(0.7), "mV"},
        {"stdneadouble", D(1.0), "mV"},
        {"stdneadouble", D(-0.4), "pH"},
    };
    const std::string before = host::Received(1);
    for (const Case &c : cases) {
        const Outcome o = Invoke(Export(c.name), {c.channel});
        EXPECT_EQ(TextAt(o.eax), c.text) << c.name;
    }
    EXPECT_EQ(host::Received(1), before) << "a name was asked of the meter";
}

// A channel travels as a double: rounded half to even, the low 32 bits of
// the 64-bit rounding.
TEST_F(Abi, DoubleChannelsRoundHalfToEven) {
    const Entry &read = Export("eadouble");
    struct Case {
        double channel;
        double expected;
    } meterChannels[] = {
        {0.5, 7.02},
        {-0.5, 7.02},
        {0.49999999999999994, 7.02},
        {1.4, -123.0},
        {4294967297.0, -123.0},         // 2^32 + 1: low bits are channel 1
        {-9223372036854775808.0, 7.02}, // -2^63 has a rounding: channel 0
    };
    for (const Case &c : meterChannels) {
        const std::string before = host::Received(1);
        EXPECT_EQ(Invoke(read, {D(c.channel)}).floating, c.expected) << c.channel;
        EXPECT_EQ(host::Received(1), before + "?RD\r") << c.channel;
    }
    // 1.5 and 2.5 are channel 2: nothing sent, a line awaited and consumed.
    for (double channel : {1.5, 2.5}) {
        host::SetMeter(1, "reply=xxxx5.55\\rxxxx6.66\\r\n");
        EXPECT_EQ(Invoke(Export("ead"), {I(1)}).floating, 5.55); // the second line stays queued
        const std::string sent = host::Received(1);
        const Outcome o = Invoke(read, {D(channel)});
        EXPECT_EQ(o.floating, NoValue) << channel;
        EXPECT_LT(o.ms, 500) << channel << ": took the queued line, no time-out";
        EXPECT_EQ(host::Received(1), sent) << channel;
    }
}

// NaN, infinities and doubles beyond 64 bits name no channel: every entry
// of the double families answers at once, sending and awaiting nothing.
TEST_F(Abi, ChannelsWithoutARoundingAnswerAtOnce) {
    const Arg channels[] = {DBits(0x7FF8000000000000ull),
                            DBits(0x7FF4000000000000ull),
                            DBits(0x7FF0000000000001ull),
                            DBits(0xFFF8000000000000ull),
                            D(INFINITY),
                            D(-INFINITY),
                            D(1e300),
                            D(9223372036854775808.0),
                            D(-1e19)};
    const std::string before = host::Received(1);
    int checked = 0;
    for (const Entry &e : Exports()) {
        if (!TakesDoublesOnly(e))
            continue;
        ++checked;
        for (const Arg &channel : channels) {
            std::vector<Arg> args = e.args;
            args[0] = channel;
            const Outcome o = Invoke(e, args, Unmasked);
            SCOPED_TRACE(std::string(e.name) + " channel bits " + std::to_string(channel.bits));
            if (e.result == Result::Text)
                EXPECT_EQ(TextAt(o.eax), "");
            else
                EXPECT_EQ(o.floating, NoValue);
            EXPECT_LT(o.ms, 100);
        }
    }
    EXPECT_EQ(checked, 20);
    EXPECT_EQ(host::Received(1), before);
}

// Values that trap when loaded onto the x87 stack under a host word that
// unmasks exceptions (signalling NaNs), or that overflow or do not round:
// every entry that takes a floating value, and psad through its address,
// answers -777.0 at once and leaves the host's unit as it was.
TEST_F(Abi, OddValuesNeverTrap) {
    const Arg doubles[] = {DBits(0x7FF8000000000000ull),
                           DBits(0x7FF4000000000000ull),
                           DBits(0xFFF0000000000001ull),
                           D(INFINITY),
                           D(-INFINITY),
                           D(1e300),
                           D(-1e19),
                           DBits(1)};
    const Arg singles[] = {FBits(0x7FC00000u),
                           FBits(0x7FA00000u),
                           FBits(0xFF800001u),
                           F(INFINITY),
                           F(-INFINITY),
                           FBits(0x7F7FFFFFu),
                           FBits(1)};
    const std::string before = host::Received(1);
    int checked = 0;
    for (const Entry &e : Exports()) {
        if (e.args.size() != 2 || e.args[1].type == Arg::Word)
            continue;
        ++checked;
        for (const Arg &value : e.args[1].type == Arg::Double
                                    ? std::vector<Arg>(std::begin(doubles), std::end(doubles))
                                    : std::vector<Arg>(std::begin(singles), std::end(singles))) {
            SCOPED_TRACE(std::string(e.name) + " value bits " + std::to_string(value.bits));
            const Outcome o = Invoke(e, {e.args[0], value}, Unmasked);
            EXPECT_EQ(o.floating, NoValue);
            EXPECT_LT(o.ms, 100);
        }
    }
    EXPECT_EQ(checked, 7); // sad, stdsad, stdsas, sadouble, sbdouble and their std-double forms
    for (const Arg &value : doubles) {
        SCOPED_TRACE("psad value bits " + std::to_string(value.bits));
        const Outcome o = Invoke(Export("psad"), {I(0), P(&value.bits)}, Unmasked);
        EXPECT_EQ(DoubleAt(o.eax), NoValue);
    }
    EXPECT_EQ(host::Received(1), before);
}

TEST_F(Abi, IntegerReadingsAndTheirNoValue) {
    const Entry &ea = Export("ea");
    // Channel 2 sends nothing, waits for a line and consumes it.
    host::SetMeter(1, "reply=xxxx5.55\\rxxxx6.66\\r\n");
    EXPECT_EQ(Invoke(Export("ead"), {I(1)}).floating, 5.55);
    const std::string sent = host::Received(1);
    Outcome o = Invoke(ea, {I(2)});
    EXPECT_EQ(static_cast<int32_t>(o.eax), -777);
    EXPECT_LT(o.ms, 500) << "took the queued line";
    o = Invoke(ea, {I(2)});
    EXPECT_EQ(static_cast<int32_t>(o.eax), -777);
    EXPECT_GT(o.ms, 900) << "the queued line was not consumed";
    // Other channels answer at once.
    for (int32_t channel : {7, -1, 3, INT32_MIN}) {
        o = Invoke(ea, {I(channel)});
        EXPECT_EQ(static_cast<int32_t>(o.eax), -777) << channel;
        EXPECT_LT(o.ms, 100) << channel;
    }
    EXPECT_EQ(host::Received(1), sent);
    // A reading without a value is -777, never a scaled -777.
    host::SetMeter(1, "reply=xxxxabcd\\r\n");
    EXPECT_EQ(static_cast<int32_t>(Invoke(ea, {I(1)}).eax), -777);
    EXPECT_EQ(static_cast<int32_t>(Invoke(ea, {I(0)}).eax), -777);
    EXPECT_EQ(static_cast<int32_t>(Invoke(Export("stdea"), {I(0)}).eax), -777);
}

TEST_F(Abi, AddressResultsStayReadable) {
    const Outcome pead = Invoke(Export("pead"), {I(0)});
    ASSERT_NE(pead.eax, 0u);
    EXPECT_EQ(DoubleAt(pead.eax), 7.02);
    Invoke(Export("ea"), {I(1)});
    Invoke(Export("nea"), {I(0)});
    Invoke(Export("psad"), {I(1), P(&Probe)});
    EXPECT_EQ(DoubleAt(pead.eax), 7.02) << "the pead result moved or changed";

    const Outcome psad = Invoke(Export("psad"), {I(0), P(&Probe)});
    ASSERT_NE(psad.eax, 0u);
    EXPECT_EQ(DoubleAt(psad.eax), NoValue);
    EXPECT_EQ(Probe, 3.0);
    const Outcome none = Invoke(Export("psad"), {I(0), P(nullptr)});
    ASSERT_NE(none.eax, 0u);
    EXPECT_EQ(DoubleAt(none.eax), NoValue);
}

// Whatever rounding, precision and exception masks the host set, readings
// round half to even, the host keeps its control word, and no unmasked
// exception is left pending (Invoke checks the last two on every call).
TEST_F(Abi, HostControlWords) {
    const Entry &ea = Export("ea");
    static const uint64_t signallingNan = 0x7FF0000000000001ull;
    for (uint16_t cw : HostWords) {
        SCOPED_TRACE("host control word 0x" + Hex(cw));
        struct Case {
            const char *reply;
            int32_t expected;
        } halves[] = {
            {"xxxx12.5\\r", 12}, {"xxxx13.5\\r", 14}, {"xxxx-2.5\\r", -2}, {"xxxx-3.5\\r", -4}};
        for (const Case &c : halves) {
            host::SetMeter(1, std::string("reply=") + c.reply + "\n");
            EXPECT_EQ(static_cast<int32_t>(Invoke(ea, {I(1)}, cw).eax), c.expected) << c.reply;
        }
        host::SetMeter(1, Normal);
        EXPECT_EQ(static_cast<int32_t>(Invoke(ea, {I(0)}, cw).eax), 702);
        EXPECT_EQ(Invoke(Export("eadouble"), {D(0.0)}, cw).floating, 7.02);
        EXPECT_EQ(Invoke(Export("stdeas"), {I(0)}, cw).floating, static_cast<double>(7.02f));

        host::SetMeter(1, "reply=xxxx5.55\\rxxxx6.66\\r\n");
        EXPECT_EQ(Invoke(Export("ead"), {I(1)}, cw).floating, 5.55);
        const Outcome two = Invoke(Export("eadouble"), {D(2.5)}, cw);
        EXPECT_EQ(two.floating, NoValue);
        EXPECT_LT(two.ms, 500);

        // Arguments that would trap if loaded under the host's word.
        Invoke(Export("eadouble"), {DBits(0x7FF8000000000000ull)}, cw);
        Invoke(Export("stdeadouble"), {DBits(signallingNan)}, cw);
        Invoke(Export("sad"), {I(0), DBits(signallingNan)}, cw);
        Invoke(Export("stdsad"), {I(0), DBits(signallingNan)}, cw);
        Invoke(Export("stdsas"), {I(0), FBits(0x7F800001u)}, cw);
        Invoke(Export("sadouble"), {DBits(signallingNan), DBits(signallingNan)}, cw);
        Invoke(Export("stdsbdouble"), {D(0.0), DBits(signallingNan)}, cw);
        Invoke(Export("neadouble"), {DBits(signallingNan)}, cw);
        Invoke(Export("stdsadouble"), {D(1e300), D(1e-300)}, cw);
        Invoke(Export("psad"), {I(0), P(&signallingNan)}, cw);
    }
}

// A host that checks its x87 status word around a call finds the flags it
// had collected still there (only those its control word masks: an
// unmasked one would have trapped in the host already), and none of the
// library's own: every entry, each answer and argument as in the table,
// under the default word and under one that unmasks invalid operation, zero
// divide and overflow.
TEST_F(Abi, HostExceptionFlagsSurviveEveryEntry) {
    static const uint64_t signallingNan = 0x7FF0000000000001ull;
    for (const uint16_t cw : {LinuxDefault, Unmasked}) {
        const uint16_t masked = static_cast<uint16_t>(ExceptionFlags & cw);
        for (const uint16_t flags : {uint16_t{0x20}, masked}) {
            for (const Entry &e : Exports())
                Invoke(e, e.args, cw, flags);
            // Arguments whose handling raises flags of the library's own.
            Invoke(Export("stdsas"), {I(0), FBits(0x7F800001u)}, cw, flags);
            Invoke(Export("stdsadouble"), {D(1e300), D(1e-300)}, cw, flags);
            Invoke(Export("stdeadouble"), {DBits(signallingNan)}, cw, flags);
        }
    }
}

} // namespace
