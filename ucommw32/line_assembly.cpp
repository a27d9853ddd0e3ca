#include "line_assembly.h"

namespace {
uint32_t Since(const LineSource &source, uint32_t start) {
    return static_cast<uint32_t>(source.ticks() - start);
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
    }
}
