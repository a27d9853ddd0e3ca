// What a meter sends for a query: its reading line, the faults applied to it, the log entry of
// the query, and the reply's timed chunks queued behind the meter's pending output.
#pragma once

#include <string>

#include "meter.h"

struct Control;

// The meter's reading line: "mV: " sign and three digits, two blanks, "pH:" and %6.2f, CR.
std::string default_reply(double ph, long mv);

// True for a line (without its CR) laid out as a reading the driver can decode: the potential in
// characters 5 to 8 and the pH as the five characters centred on the point at character 17. The
// two separators may be blanks or NULs. This covers pH -9.99 to 99.99.
bool reading_line(const std::string &l);

// Handles one query under control settings c: logs the reading, schedules the reply after
// whatever is still queued (the meter answers one query at a time). arrival is when metersim
// read the query, earliest when the master was last seen empty before: the driver sent it in
// between (long before arrival if metersim was kept off the processor).
void handle_query(Meter &m, const Control &c, Clock::time_point arrival, Clock::time_point earliest,
                  bool instant);
