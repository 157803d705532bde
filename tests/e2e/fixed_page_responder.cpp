// A bare FastCGI responder: answers every request with a fixed page of a
// given size.  It stands where the gateway stands behind the web server, as
// the baseline of the round-trip benchmark and to check the web server set-up
// on its own.
//
// Environment:
//   FIXED_PAGE_BYTES         body size in bytes (default 2048)
//   FIXED_PAGE_BYTES_FILE    a file holding the size instead, read at the
//                            first page (so it may be written after the web
//                            server has started the responder)
//   FIXED_PAGE_MAX_REQUESTS  retire after this many requests (default: never)
// A request whose query string is "dump" gets, instead of the page, the
// worker's process id, working folder and the CGI variables the tests check.
#include <fcgi_stdio.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long envNumber(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    return (end && *end == '\0' && n >= 0) ? n : fallback;
}

// An HTML page of exactly `bytes` bytes (or its fixed frame when that is
// longer): the filler is a comment inside the body.
std::string makePage(size_t bytes)
{
    const std::string head = "<HTML><HEAD><TITLE>Fixed page</TITLE></HEAD><BODY><P>fixed page</P><!--";
    const std::string tail = "--></BODY></HTML>\n";
    std::string page = head;
    if (bytes > head.size() + tail.size()) page.append(bytes - head.size() - tail.size(), 'x');
    page += tail;
    return page;
}

// The size written in a file, or `fallback` when it cannot be read.
size_t sizeFromFile(const std::string& file, size_t fallback)
{
    std::ifstream in(file);
    long n = -1;
    if (in >> n && n >= 0 && n <= (1L << 24)) return static_cast<size_t>(n);
    return fallback;
}

const char* envText(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "(unset)";
}

}  // namespace

int main()
{
    // The kit replaces the environment with each request's parameters, so
    // the settings and the web server's bin-environment are read first.
    const size_t defaultBytes = static_cast<size_t>(envNumber("FIXED_PAGE_BYTES", 2048));
    const char* sizeFileEnv = std::getenv("FIXED_PAGE_BYTES_FILE");
    const std::string sizeFile = sizeFileEnv ? sizeFileEnv : "";
    const long maxRequests = envNumber("FIXED_PAGE_MAX_REQUESTS", 0);
    const std::string confPath = envText("QORICCONFPATH");
    std::string page;
    bool havePage = false;
    long served = 0;
    while (FCGI_Accept() >= 0) {
        ++served;
        const char* query = std::getenv("QUERY_STRING");
        if (query && std::strcmp(query, "dump") == 0) {
            char cwd[4096] = "";
            if (!getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "?");
            FCGI_printf("Content-type: text/plain\r\n\r\n");
            FCGI_printf("pid=%d\nserved=%ld\ncwd=%s\n", static_cast<int>(getpid()), served, cwd);
            for (const char* name : {"SCRIPT_FILENAME", "REQUEST_URI", "QUERY_STRING"})
                FCGI_printf("%s=%s\n", name, envText(name));
            FCGI_printf("QORICCONFPATH=%s\n", confPath.c_str());
        } else {
            if (!havePage) {
                page = makePage(sizeFile.empty() ? defaultBytes : sizeFromFile(sizeFile, defaultBytes));
                havePage = true;
            }
            FCGI_printf("Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n");
            FCGI_fwrite(const_cast<char*>(page.data()), 1, page.size(), FCGI_stdout);
        }
        if (maxRequests > 0 && served >= maxRequests) {
            // Stop listening before the last answer goes out: the web server
            // can then no longer queue a request here that nobody would
            // accept; it is refused and goes to another worker.
            close(0);
            FCGI_Finish();
            break;
        }
        FCGI_Finish();
    }
    return 0;
}
