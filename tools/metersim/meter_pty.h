// A meter's pseudo-terminal: making it as a raw 2400-baud line, linking its slave where the
// driver looks for its port, recording the line settings the driver chose, counting the
// driver's opens, and pulling the meter out and plugging it in again.
#pragma once

#include <string>

struct Meter;

// Gives the meter a new pty, starting as a raw 2400-baud 8N1 line, and watches its slave.
void open_pty(Meter &m);

// Points dir/name at the meter's slave, replacing an earlier link but nothing else.
void make_link(Meter &m, const std::string &dir, const std::string &name);

// Names the meter's current slave in comN.pty (empty while unplugged), once its links are made.
void write_pty_file(const Meter &m);

// Records the line settings the driver chose for the port whenever they change.
void check_termios(Meter &m);

// Counts the opens of the slave seen since the last look (each open by the driver is one).
// Called after each read of the master, so that a query counts the open it came through.
void count_opens(Meter &m);

// The slave went away: output for a listener that is gone is lost, as on a real line.
void disconnect(Meter &m);

// Removes the meter's links (those still pointing at its pty) and closes the pty.
void close_meter(Meter &m);

// Follows the control file's "plugged" key between queries: unplugging removes the links and
// closes the pty, so the driver's port hangs up; plugging in again makes a new pty (the slave
// usually gets another name) and links it where the old one was.
void watch_plug(Meter &m);
