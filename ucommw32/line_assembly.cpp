#include "line_assembly.h"

namespace {
uint32_t Since(const LineSource &source, uint32_t start) {
    return static_cast<uint32_t>(source.ticks() - start);
}

// Waits for input until `limit` ms after `start`, when the source can wait.
void WaitUntil(const LineSource &source, uint32_t start, uint32_t limit) {
    if (source.waitForInput == nullptr)
        return;
    const uint32_t elapsed = Since(source, start);
    if (elapsed < limit)
        source.waitForInput(limit - elapsed);
}
} // namespace

std::string AssembleLine(LineSource &source, uint16_t timeoutMs) {
    std::string line;
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            char byte;
            if (source.readByte(&byte)) {
                source.lastByteAt = source.ticks();
                source.heardAny = true;
                if (byte == '\r')
                    return line;
                line.push_back(byte);
            }
        } else {
            WaitUntil(source, start, timeoutMs + 1u);
        }
        if (Since(source, start) > timeoutMs)
            return std::string();
    }
}

void DropStaleInput(LineSource &source, uint16_t quietMs, uint16_t timeoutMs) {
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            source.purge();
            source.lastByteAt = source.ticks();
            source.heardAny = true;
        }
        if (!source.heardAny || Since(source, source.lastByteAt) >= quietMs)
            return;
        if (Since(source, start) > timeoutMs)
            return;
        WaitUntil(source, source.lastByteAt, quietMs);
    }
}
