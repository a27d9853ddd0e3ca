#include "usb_adapter.h"

void UsbAdapter::set_latency(long ms) {
    if (ms == latency_ms_)
        return;
    latency_ms_ = ms;
    ready_ += buffered_;
    buffered_.clear();
    next_tick_.reset();
}

void UsbAdapter::run_timer(Clock::time_point until) {
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
    if (latency_ms_ == 0) {
        ready_ += byte;
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
    return buffered_.empty() ? std::nullopt : next_tick_;
}

void UsbAdapter::clear() {
    buffered_.clear();
    ready_.clear();
    next_tick_.reset();
}
