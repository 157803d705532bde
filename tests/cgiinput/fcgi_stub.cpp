#include "fcgi_stub.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fcgicalls.h"

namespace fcgistub {
std::string body;
size_t bodyPos = 0;
int errnoAtEnd = 0;
size_t largestAsk = 0;
int reads = 0;
std::string output;

void reset(const std::string& newBody) {
    body = newBody;
    bodyPos = 0;
    errnoAtEnd = 0;
    largestAsk = 0;
    reads = 0;
    output.clear();
}
}  // namespace fcgistub

using namespace fcgistub;

extern "C" {

FCGI_FILE _fcgi_sF[3];

int FCGI_Accept(void) { return 0; }
void FCGI_Finish(void) {}

size_t FCGI_fread(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    size_t ask = size * nmemb;
    ++reads;
    if (ask > largestAsk) largestAsk = ask;
    size_t n = body.size() - bodyPos < ask ? body.size() - bodyPos : ask;
    if (n == 0 && errnoAtEnd) errno = errnoAtEnd;
    std::memcpy(ptr, body.data() + bodyPos, n);
    bodyPos += n;
    return size ? n / size : 0;
}

size_t FCGI_fwrite(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    output.append(static_cast<const char*>(ptr), size * nmemb);
    return nmemb;
}

int FCGI_printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char buf[4096];
    int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    output += buf;
    return n;
}

int FCGI_fflush(FCGI_FILE*) { return 0; }
}
