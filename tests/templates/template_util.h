// Helpers of the template tests: a scratch folder for template files,
// compiling a text in memory, and filling a page into a string.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fcgi_capture.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"

namespace tpl {

// A fresh folder under the test's working folder, removed at the end.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "./tplXXXXXX";
        const char* made = mkdtemp(pattern);
        char cwd[4096];
        path_ = std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + (made ? made + 2 : "tpl");
    }
    ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }

private:
    std::string path_;
};

// Compiled in memory; messages collected in `messages`.
struct Compiled {
    tcpHTML t;
    std::string messages;
};

inline void compile(Compiled& c, const std::string& text, const char* path = "mem.htx") {
    c.t.path = path;
    c.t.text = text;
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    xFcgiCompileTemplate(c.t, f);
    std::fclose(f);
    c.messages.assign(buf, len);
    std::free(buf);
}

// The response of one page, and the body behind the header block.
inline std::string response(tcpHTML* t, const char* screen = nullptr) {
    fcgicapture::reset();
    xFcgiSendPreloadedTemplate(t, nullptr, screen);
    return fcgicapture::output;
}
inline std::string body(const std::string& resp) {
    size_t at = resp.find("\r\n\r\n");
    return at == std::string::npos ? resp : resp.substr(at + 4);
}
inline std::string page(tcpHTML* t, const char* screen = nullptr) {
    return body(response(t, screen));
}

// A fresh output table and template cache for each test.
inline void freshState() {
    xFcgiUnbindScreen();
    xFcgiSetSubscripts(0, nullptr);
    xFcgiPutClear();
    xFcgiTemplateCache(0);
    xFcgiTemplateCache(409600);
    xFcgiDocRootReset();
    xFcgiLogFiles(nullptr, nullptr);
    xFcgiSetTemplateCheckInterval(3);
    fcgicapture::reset();
}

}  // namespace tpl
