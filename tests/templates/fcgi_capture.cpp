#include "fcgi_capture.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "fcgicalls.h"

namespace fcgicapture {
std::string output;
int flushes = 0;
size_t largestWrite = 0;
int failWithErrno = 0;

void reset() {
    output.clear();
    flushes = 0;
    largestWrite = 0;
    failWithErrno = 0;
}
}  // namespace fcgicapture

using namespace fcgicapture;

extern "C" {

FCGI_FILE _fcgi_sF[3];

int FCGI_Accept(void) { return -1; }
void FCGI_Finish(void) {}
size_t FCGI_fread(void*, size_t, size_t, FCGI_FILE*) { return 0; }

size_t FCGI_fwrite(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    if (failWithErrno) {
        errno = failWithErrno;
        return 0;
    }
    size_t n = size * nmemb;
    if (n > largestWrite) largestWrite = n;
    output.append(static_cast<const char*>(ptr), n);
    return nmemb;
}

int FCGI_printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> buf(static_cast<size_t>(n > 0 ? n : 0) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, ap);
    va_end(ap);
    output.append(buf.data(), static_cast<size_t>(n > 0 ? n : 0));
    return n;
}

int FCGI_fflush(FCGI_FILE*) {
    ++flushes;
    return 0;
}
}
