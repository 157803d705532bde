// Link-time replacement of the FastCGI calls (see fake_fcgi.h); it also
// shows that the toolkit links without the kit.
#include "fake_fcgi.h"

#include "fcgicalls.h"
#include "logprint.h"

#include <unistd.h>

namespace fakefcgi {
int acceptResult = 0;
bool acceptBlocks = false;
int acceptCalls = 0;
int finishCalls = 0;
} // namespace fakefcgi

FCGI_FILE _fcgi_sF[3] = {};

int FCGI_Accept(void)
{
    ++fakefcgi::acceptCalls;
    while (fakefcgi::acceptBlocks)
        pause();
    return fakefcgi::acceptResult;
}

void FCGI_Finish(void)
{
    ++fakefcgi::finishCalls;
    logPrintf("#fake finish\n");
}

size_t FCGI_fread(void *, size_t, size_t, FCGI_FILE *)
{
    return 0;
}

size_t FCGI_fwrite(void *, size_t, size_t nmemb, FCGI_FILE *)
{
    return nmemb;
}

int FCGI_printf(const char *, ...)
{
    return 0;
}

int FCGI_fflush(FCGI_FILE *)
{
    return 0;
}
