// A tiny FastCGI responder on the toolkit's request loop, linked with the
// real kit. It answers each request with its query string and request
// body, and logs to the file named by RESPONDER_LOG.
#include "fcgicalls.h"
#include "gossig.h"
#include "logprint.h"
#include "xfcgin.h"

#include <cstdlib>
#include <string>
#include <vector>

static void serve()
{
    bInputAvail = 0;
    const char *query = std::getenv("QUERY_STRING");
    const char *lenText = std::getenv("CONTENT_LENGTH");
    long len = lenText ? std::strtol(lenText, nullptr, 10) : 0;
    if (len < 0 || len > 65536)
        len = 0;
    std::vector<char> body(static_cast<size_t>(len));
    size_t got = len > 0 ? FCGI_fread(body.data(), 1, body.size(), FCGI_stdin) : 0;

    FCGI_printf("Content-type: text/plain\r\n\r\n");
    FCGI_printf("query=[%s]\n", query ? query : "");
    std::string echo = "body=[" + std::string(body.data(), got) + "]\n";
    FCGI_fwrite(echo.data(), 1, echo.size(), FCGI_stdout);
    FCGI_fflush(FCGI_stdout);
    logPrintf("#served query [%s]\n", query ? query : "");
}

int main()
{
    qorIgnoreSigPipe();
    const char *logName = std::getenv("RESPONDER_LOG");
    logOptions("t");
    logOpen(logName ? logName : "responder.log", 0);
    for (;;) {
        int r = xFcgiPoll(300000);
        if (r < 0)
            break;
        if (r > 1)
            continue;   // host input: none here
        if (xFcgiAccept())
            serve();
    }
    logPrintf("#responder loop ended\n");
    logClose();
    return 0;
}
