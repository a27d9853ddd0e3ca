// A meter's control file (comN.ctl): its keys and their defaults, the reading of its values,
// and the escapes that its reply key and the query log write bytes with.
#pragma once

#include <sstream>
#include <string>

struct Meter;

// Delays a control file may set: an hour at most; an adapter's latency timer: 255 ms at most;
// a FIFO's trigger level: 16 bytes at most (a 16550's FIFO).
constexpr long kLongestMs = 3600000, kLongestLatencyMs = 255, kLargestFifo = 16;

// The faults by name; a random fault draws one of the eight between "none" and "random".
inline const char *const kFaults[] = {"none",    "silent", "late",  "partial", "crlf",
                                      "garbage", "nul",    "noise", "split",   "random"};

// Behaviour of one meter, read from its control file at every query.
struct Control {
    double ph = 7.02, mv = -123;
    std::string fault = "none";
    long fault_from = 1; // queries before this one (numbered from 1) are answered without fault
    long late_ms = 1500, pause_ms = 600, noise_ms = 300;
    long lf_ms = 0;    // delay of the crlf fault's LF after the CR (0: right behind it)
    long usb_ms = 0;   // latency timer of the USB adapter (0: no adapter)
    long fifo = 0;     // trigger level of the UART's receive FIFO (0: none), without an adapter
    bool vary = false; // each query answers ph and mv moved by its own number
    bool plugged = true;
    bool has_reply = false;
    std::string reply;
    std::string answer = "query";
};

// True for the name of a fault.
bool is_fault(const std::string &f);

// Reads a whole string as a number; out is left alone when s is not one.
template <typename T> bool to_number(const std::string &s, T &out) {
    std::istringstream in(s);
    T v{};
    if (!(in >> v) || !in.eof())
        return false;
    out = v;
    return true;
}

// Reads a whole string as a count of milliseconds from 0 to most; out is left alone otherwise.
bool to_ms(const std::string &s, long most, long &out);

// Decodes \r \n \t \\ and \xHH; any other backslash stays as it is.
std::string unescape(const std::string &s);

// Inverse of unescape, also escaping blanks so that a log entry stays one token.
std::string escape(const std::string &s);

// The settings in meter m's control file; missing keys and a missing file take the defaults,
// bad values are reported on stderr and ignored.
Control read_control(const Meter &m);
