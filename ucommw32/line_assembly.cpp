#include "line_assembly.h"

std::string AssembleLine(const LineSource &source, uint16_t timeoutMs) {
    std::string line;
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            char byte;
            if (source.readByte(&byte)) {
                if (byte == '\r')
                    return line;
                line.push_back(byte);
            }
        }
        if (static_cast<uint32_t>(source.ticks() - start) > timeoutMs)
            return std::string();
    }
}
