// The receive side of the computer's serial port, as the driver's end of the line sees it: a USB
// adapter's latency timer, or a UART's receive FIFO.
//
// An adapter does not hand each byte from the line to the computer as it comes: it keeps them
// in its buffer and sends what it holds when its latency timer expires (16 ms by default on the
// common chips, 1 to 255 ms as set by the user). Here the timer starts with the first byte
// that reaches an empty, idle adapter and then ticks every T ms; each tick sends everything
// buffered, and a tick that finds nothing to send stops it until the next byte. So the bytes of
// a reply arrive in bursts T ms apart, and a CR and the LF right behind it may arrive T ms apart.
// At 2400 baud the buffer (62 bytes on those chips) cannot fill within 255 ms, so only the
// timer sends.
//
// A 16550 UART hands its receive FIFO over when it holds as many bytes as its trigger level
// (14 by Windows' default) or when no byte has come in for four character times (16.7 ms at
// 2400 baud) while it holds any: a continuous reply arrives 14 bytes at a time, 58 ms apart.
#pragma once

#include <chrono>
#include <optional>
#include <string>

class UsbAdapter {
  public:
    using Clock = std::chrono::steady_clock;

    // T in milliseconds; 0 passes every byte on at once (a plain serial port). A change sends
    // whatever the adapter holds at once and restarts the timer.
    void set_latency(long ms);
    long latency() const { return latency_ms_; }
    // Without a latency timer: a UART FIFO with this trigger level (0: none). A change sends
    // whatever the FIFO holds at once.
    void set_fifo(long trigger);

    // A byte came off the line at `at` (times never decrease). Answers when the adapter will
    // send it to the computer; for a FIFO, unless later bytes fill it sooner or keep it waiting.
    Clock::time_point take(char byte, Clock::time_point at);
    // Runs the timer up to `now`; the bytes sent by then are in ready().
    void release(Clock::time_point now);
    // Bytes sent to the computer and not yet written to the pty; the writer erases what it
    // wrote.
    std::string &ready() { return ready_; }
    const std::string &ready() const { return ready_; }
    // The next tick while bytes are buffered, otherwise nullopt.
    std::optional<Clock::time_point> next_send() const;
    // The computer went away: what the adapter held is lost.
    void clear();

  private:
    // Runs the ticks at or before `until`.
    void run_timer(Clock::time_point until);

    long latency_ms_ = 0;
    long fifo_trigger_ = 0;
    Clock::time_point fifo_due_{}; // a FIFO holding bytes hands them over then at the latest
    std::string buffered_;         // off the line, waiting for the next tick
    std::string ready_;            // sent by a tick (or at once without latency)
    std::optional<Clock::time_point> next_tick_;
};
