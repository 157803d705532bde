// tpltest's own versions of the six FastCGI calls the toolkit makes: there
// is never a request, no request body, and the response goes into the
// test log (nowhere when logging is off).
#include <cstdarg>

#include "fcgicalls.h"
#include "tpltest.h"

FILE* tpltestLog = nullptr;

extern "C" {

FCGI_FILE _fcgi_sF[3];

int FCGI_Accept(void) {
    return -1;
}

void FCGI_Finish(void) {}

size_t FCGI_fread(void*, size_t, size_t, FCGI_FILE*) {
    return 0;
}

size_t FCGI_fwrite(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    if (!tpltestLog) return 0;
    return std::fwrite(ptr, size, nmemb, tpltestLog);
}

int FCGI_printf(const char* format, ...) {
    if (!tpltestLog) return 0;
    va_list ap;
    va_start(ap, format);
    int n = std::vfprintf(tpltestLog, format, ap);
    va_end(ap);
    return n;
}

int FCGI_fflush(FCGI_FILE*) {
    if (!tpltestLog) return 0;
    return std::fflush(tpltestLog);
}

}  // extern "C"
