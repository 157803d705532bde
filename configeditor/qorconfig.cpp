// qorconfig: the FastCGI editor of the gateway's configuration file.
//
// The web server's FastCGI process manager starts it with the listening
// socket as descriptor 0. Each request posts a form; the reply is the form
// (after a save when asked). The configuration path comes from the process
// environment: QORICCONFPATH, replaced by a non-empty QORICCONFPATHTEST
// (read again at every request). A posted "ConfigFile" or "ScriptName"
// never overrides the configured path or SCRIPT_NAME. The editor has no
// access control of its own: the web server must restrict who reaches it;
// it only refuses saves posted from pages of other sites.
#include <fcgiapp.h>
#include <fcgio.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "EditorRequest.h"
#include "gossig.h"

namespace {

std::string EnvOrEmpty(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

// A parameter of the FastCGI request, or "".
std::string Param(const FCGX_Request &request, const char *name) {
    const char *v = FCGX_GetParam(name, request.envp);
    return v ? v : "";
}

// The page the request was posted from and the host it came to.
RequestSource SourceOf(const FCGX_Request &request) {
    RequestSource source;
    source.origin = Param(request, "HTTP_ORIGIN");
    source.referer = Param(request, "HTTP_REFERER");
    source.host = Param(request, "HTTP_HOST");
    if (source.host.empty()) {
        source.host = Param(request, "SERVER_NAME");
        const std::string port = Param(request, "SERVER_PORT");
        if (!source.host.empty() && !port.empty()) source.host += ":" + port;
    }
    return source;
}

void ServeRequest(const std::string &configPath, const std::string &scriptName,
                  const RequestSource &source) {
    std::cout << "Content-type: text/html\r\n"
              << "Cache-Control: no-cache\r\n"
              << "\r\n"
              << "<html>\n"
              << "<head><title>QOR/ic Configuration Display</title></head>\n"
              << "<body>\n";
    if (configPath.empty()) {
        std::cout << "qorconfig: Error: path to the qoric config file"
                  << " is not set in the web server configuration!";
    } else {
        RequestMap_t request;
        RequestContext context;
        context.bodyComplete = ParseRequest(std::cin, std::cout, std::cerr, request);
        context.source = source;
        // The configured values win over posted fields of the same name.
        request.insert_or_assign("ConfigFile", configPath);
        request.insert_or_assign("ScriptName", scriptName);
        DispatchRequest(std::cin, std::cout, std::cerr, request, context);
    }
    std::cout << "</body>\n"
              << "</html>\n";
}

}  // namespace

int main() {
    qorIgnoreSigPipe();

    std::string configPath = EnvOrEmpty("QORICCONFPATH");
    if (!EnvOrEmpty("QORICCONFPATHTEST").empty()) configPath = EnvOrEmpty("QORICCONFPATHTEST");

    std::streambuf *const cinBuf = std::cin.rdbuf();
    std::streambuf *const coutBuf = std::cout.rdbuf();
    std::streambuf *const cerrBuf = std::cerr.rdbuf();

    FCGX_Init();
    FCGX_Request request;
    FCGX_InitRequest(&request, 0, 0);

    while (FCGX_Accept_r(&request) >= 0) {
        const std::string scriptName = EnvOrEmpty("SCRIPT_NAME");
        {
            fcgi_streambuf in(request.in);
            fcgi_streambuf out(request.out);
            fcgi_streambuf err(request.err);
            std::cin.rdbuf(&in);
            std::cout.rdbuf(&out);
            std::cerr.rdbuf(&err);
            std::cin.clear();
            std::cout.clear();
            std::cerr.clear();

            const std::string test = EnvOrEmpty("QORICCONFPATHTEST");
            if (!test.empty()) configPath = test;

            ServeRequest(configPath, scriptName, SourceOf(request));
            std::cout.flush();
            std::cerr.flush();
            // The stream buffers go before the request is finished.
            std::cin.rdbuf(cinBuf);
            std::cout.rdbuf(coutBuf);
            std::cerr.rdbuf(cerrBuf);
        }
    }

    std::cin.rdbuf(cinBuf);
    std::cout.rdbuf(coutBuf);
    std::cerr.rdbuf(cerrBuf);
    return 0;
}
