// A library with nothing but what the deliverables' start-up does with the
// statically linked C++ runtime (a std::string set when the library loads):
// what loading and unloading costs before any driver code, for the reload
// test. Under Wine this alone keeps about 4 KiB per load.
#include <string>

std::string ReferenceText;

namespace {
struct Start {
    Start() { ReferenceText = std::string("com") + "1:"; }
} start;
} // namespace

extern "C" __declspec(dllexport) int ReferenceLength() {
    return static_cast<int>(ReferenceText.size());
}
