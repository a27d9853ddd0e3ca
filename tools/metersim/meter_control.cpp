#include "meter_control.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "meter.h"

namespace {

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Characters written as a backslash and a letter in control and log files.
const std::string kEscaped = "\r\n\t\\", kEscapeCodes = "rnt\\";

void warn(const Meter &m, const std::string &what) {
    std::fprintf(stderr, "metersim: com%d: %s\n", m.port, what.c_str());
}

} // namespace

bool is_fault(const std::string &f) {
    return std::find_if(std::begin(kFaults), std::end(kFaults),
                        [&](const char *k) { return f == k; }) != std::end(kFaults);
}

bool to_ms(const std::string &s, long most, long &out) {
    long v = 0;
    if (!to_number(s, v) || v < 0 || v > most)
        return false;
    out = v;
    return true;
}

std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        bool slash = s[i] == '\\' && i + 1 < s.size();
        size_t code = slash ? kEscapeCodes.find(s[i + 1]) : std::string::npos;
        std::string hex = slash ? s.substr(i + 2, 2) : "";
        auto hexdigit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (code != std::string::npos) {
            out += kEscaped[code];
            ++i;
        } else if (slash && s[i + 1] == 'x' && hex.size() == 2 && hexdigit(hex[0]) &&
                   hexdigit(hex[1])) {
            out += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        char buf[8];
        if (kEscaped.find(static_cast<char>(c)) != std::string::npos) {
            out += '\\';
            out += kEscapeCodes[kEscaped.find(static_cast<char>(c))];
        } else if (c > ' ' && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

Control read_control(const Meter &m) {
    Control c;
    std::ifstream in(m.base + ".ctl", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#')
            continue;
        std::string key = trim(line.substr(0, eq)), raw = line.substr(eq + 1), val = trim(raw);
        bool ok = true;
        if (key == "ph")
            ok = to_number(val, c.ph);
        else if (key == "mv")
            ok = to_number(val, c.mv);
        else if (key == "late_ms")
            ok = to_ms(val, kLongestMs, c.late_ms);
        else if (key == "pause_ms")
            ok = to_ms(val, kLongestMs, c.pause_ms);
        else if (key == "noise_ms")
            ok = to_ms(val, kLongestMs, c.noise_ms);
        else if (key == "lf_ms")
            ok = to_ms(val, kLongestMs, c.lf_ms);
        else if (key == "usb_ms")
            ok = to_ms(val, kLongestLatencyMs, c.usb_ms);
        else if (key == "fault_from")
            ok = to_ms(val, kLongestMs, c.fault_from);
        else if (key == "fifo")
            ok = to_ms(val, kLargestFifo, c.fifo);
        else if (key == "vary")
            ok = (val == "0" || val == "1") && ((c.vary = val == "1"), true);
        else if (key == "plugged")
            ok = (val == "0" || val == "1") && ((c.plugged = val == "1"), true);
        else if (key == "fault" && (ok = is_fault(val)))
            c.fault = val;
        else if (key == "answer" && (ok = val == "query" || val == "any" || val == "never"))
            c.answer = val;
        else if (key == "reply")
            c.has_reply = true, c.reply = unescape(raw);
        if (!ok)
            warn(m, "control file: ignoring bad value in '" + line + "'");
    }
    return c;
}
