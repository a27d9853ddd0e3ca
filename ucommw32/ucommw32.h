// ucommw32: the one serial port of a loaded library.
//
// The unit owns the port's device name, its line settings and its time-out,
// opens the port, sends texts and receives carriage-return-terminated lines.
// It knows nothing of the meter. All state is module-level, one instance per
// loaded library, and unguarded: callers use it from one thread at a time
// (the driver's readings take turns). Texts are plain
// zero-terminated 8-bit character arrays: the unit allocates nothing.
//
// Two backends give the same observable behaviour: kernel32 on Windows,
// termios on POSIX systems (where "comN:" names /dev/ttyS(N-1)).
#pragma once

#include <stdint.h>

// Device name handed to the platform when the port is opened. The library's
// start-up points it at the deliverable's own ("com1:" ... "com5:").
extern const char *PortName;

// Line settings in mode-string syntax ("baud=2400 parity=n data=8 stop=1").
// Blanks around the text are ignored. Whatever it says, the line is set up
// without flow control.
extern const char *PortSettings;

#ifndef _WIN32
// Directory of the ttyS devices that "comN:" names: "/dev" in the libraries
// that ship. Defined by whatever links the unit.
extern const char DeviceDirectory[];
#endif

// Longest wait for a line in ReadLine, and the total read and write time-out
// of the port, in milliseconds.
extern uint16_t TimeoutMs;

// Opens and configures the port named by PortName: exclusive access, 256-byte
// queues, PortSettings, the TimeoutMs time-outs. Failures are not reported:
// the port then stays unusable and every later call quietly does nothing.
void OpenPort();

// Releases the port, if it is held. OpenPort may be called again afterwards.
void ClosePort();

// Around one reading's traffic on the port: HoldLine waits while another
// process uses the line, ReleaseLine lets it go on. A child process forked
// from the one that opened the port shares it, and the turns of one process
// do not reach into another. Windows has no fork: both do nothing there.
void HoldLine();
void ReleaseLine();

// True when the port is held and its I/O works: it was opened, and neither
// this check (which asks the device) nor any read or write since has failed.
// A port whose device went away (an unplugged adapter) reads false; one that
// merely refused a setting at open does not.
bool PortUsable();

// Sends the bytes of the zero-terminated text unchanged, in one write; adds
// no terminator. Gives up after about TimeoutMs.
void WriteText(const char *text);

// Number of received bytes waiting in the port's input queue (0 when the port
// is unusable). Also clears any pending line error.
uint16_t BytesWaiting();

// Drops every byte waiting in the input queue and any still arriving from
// earlier traffic: returns once nothing has come in for QuietMs plus the
// line's hold (at most after TimeoutMs, on a line that never falls silent).
// After a ReadLine that waited in vain for the answer to a text sent, it
// first watches the line until LateReplyMs + QuietMs + the hold have passed
// since that time-out (less whatever part of it has gone by already),
// dropping what comes: a reply that leaves the meter up to LateReplyMs late
// is never taken for the answer to the next query, however its bytes are
// spread out. A reply that comes later still cannot be told from a prompt
// answer to the next one.
void DiscardInput();

// How long the line must be silent before stale input counts as gone: a
// little over two characters at 2400 baud, on a line that hands each byte
// over as it comes.
constexpr uint16_t QuietMs = 10;

// One character at 2400 baud (start bit, 8 data bits, stop bit).
constexpr uint16_t CharacterUs = 4167;

// The longest a line may hold a byte back, beyond its time on the wire, that
// DiscardInput allows for: a USB adapter's latency timer up to 60 ms (16 ms
// by default), or a UART whose receive FIFO hands over 14 bytes at a time
// (58 ms at 2400 baud). The quiet time and the late window grow by the hold
// the line has shown in the replies read from it, and by the whole limit
// until a reply has shown it; a line that hands each byte over as it comes
// adds nothing. A line that holds bytes back longer still is allowed for
// only up to the limit.
constexpr uint16_t LineHoldLimitMs = 60;

// How late after a time-out a reply may begin and still be dropped rather
// than taken for the answer to the next query. Such a reply is dropped whole:
// until its carriage return, or until it has paused for LateLinePauseMs
// (longer than a USB adapter's default 16 ms between the bursts it delivers
// a line in).
constexpr uint16_t LateReplyMs = 250;
constexpr uint16_t LateLinePauseMs = 100;

// The longest line ReadLine keeps: the size of the input queue. At 2400 baud
// not even 250 bytes arrive within the time-out.
constexpr uint16_t LineCapacity = 256;

// Receives one line ended by a carriage return (0x0D) within TimeoutMs,
// stores the bytes before the carriage return in line (LineCapacity bytes,
// not zero-terminated) and returns their count. Returns 0, and drops what it
// received, when no carriage return came in time, and for a line longer than
// LineCapacity (taken from the port whole, but no part of it is kept). Bytes
// after the carriage return stay queued for the next call.
uint16_t ReadLine(char line[LineCapacity]);
