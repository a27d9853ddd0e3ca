#include "usb_adapter.h"

namespace {

// Four characters at 2400 baud: the pause after which a FIFO hands over what it holds.
constexpr std::chrono::nanoseconds kFifoTimeout{4 * 10000000000LL / 2400};

} // namespace

void UsbAdapter::set_latency(long ms) {
    if (ms == latency_ms_)
        return;
    latency_ms_ = ms;
    ready_ += buffered_;
    buffered_.clear();
    next_tick_.reset();
}

void UsbAdapter::set_fifo(long trigger) {
    if (trigger == fifo_trigger_)
        return;
    fifo_trigger_ = trigger;
    ready_ += buffered_;
    buffered_.clear();
}

void UsbAdapter::run_timer(Clock::time_point until) {
    if (latency_ms_ == 0) { // a FIFO, if any
        if (!buffered_.empty() && fifo_due_ <= until) {
            ready_ += buffered_;
            buffered_.clear();
        }
        return;
    }
    while (next_tick_ && *next_tick_ <= until) {
        if (buffered_.empty()) {
            next_tick_.reset();
            return;
        }
        ready_ += buffered_;
        buffered_.clear();
        *next_tick_ += std::chrono::milliseconds(latency_ms_);
    }
}

UsbAdapter::Clock::time_point UsbAdapter::take(char byte, Clock::time_point at) {
    if (latency_ms_ == 0 && fifo_trigger_ == 0) {
        ready_ += byte;
        return at;
    }
    if (latency_ms_ == 0) {
        // A byte that comes exactly as the FIFO's pause runs out still finds it waiting.
        run_timer(at - Clock::duration(1));
        buffered_ += byte;
        fifo_due_ = at + kFifoTimeout;
        if (buffered_.size() < static_cast<size_t>(fifo_trigger_))
            return fifo_due_;
        ready_ += buffered_;
        buffered_.clear();
        return at;
    }
    // Ticks before this byte came send only what was there before it; a byte that comes exactly
    // at a tick still goes with that tick.
    run_timer(at - Clock::duration(1));
    if (!next_tick_)
        next_tick_ = at + std::chrono::milliseconds(latency_ms_);
    buffered_ += byte;
    return *next_tick_;
}

void UsbAdapter::release(Clock::time_point now) { run_timer(now); }

std::optional<UsbAdapter::Clock::time_point> UsbAdapter::next_send() const {
    if (buffered_.empty())
        return std::nullopt;
    return latency_ms_ == 0 ? std::optional<Clock::time_point>(fifo_due_) : next_tick_;
}

void UsbAdapter::clear() {
    buffered_.clear();
    ready_.clear();
    next_tick_.reset();
}
