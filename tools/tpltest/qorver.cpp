// The system's version line.
#include "tpltest.h"

namespace {
constexpr const char* kVersion = "2017/03/11 2.5 R0 - 0354";
constexpr const char* kBanner = "template toolkit test driver";
std::string line;
}  // namespace

int qorver(FILE* stream) {
    line = std::string("QOR/ix ver ") + kVersion + "  " + kBanner;
    if (stream) std::fprintf(stream, "\n%s\n", line.c_str());
    return 210;
}

const char* qorverLine() {
    return line.c_str();
}
