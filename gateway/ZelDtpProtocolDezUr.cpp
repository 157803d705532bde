// DTP session protocol: the data block of a DezUR answer, the form the
// browser posted, moved into screen data through the template it came
// from.
#include "ZelDtpProtocol.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

const char *const kLastFormCookie = "LAST_QORIC_FORM";

// The cookie comes from the browser: it may only name a template below the
// server root.
bool AcceptableTemplatePath(const std::string &path) {
    if (path.empty() || path[0] == '/' || path.find("..") != std::string::npos) return false;
    for (unsigned char c : path)
        if (c < ' ' || c == 0x7F || c == '\\') return false;
    return true;
}

}  // namespace

Result CZelDtpProtocol::DataBlockForDezUr(std::string &block) {
    block.clear();
    const char *method = std::getenv("REQUEST_METHOD");
    if (!method || std::strcmp(method, "POST") != 0) return Result::Success;
    std::string form;
    if (!xFcgiGetCookie(kLastFormCookie, form) || form.empty()) return Result::Success;
    if (!AcceptableTemplatePath(form)) {
        logPrintf("#DTP: %s template path '%.80s' refused\n", kLastFormCookie, form.c_str());
        return Result::InvalidParam;
    }
    const std::string path = xFcgiAbsDir(form.c_str());
    tcpHTML *page = xFcgiGetFT(path.c_str());
    if (!page) {
        logPrintf("#DTP: %s template %s not found\n", kLastFormCookie, path.c_str());
        return Result::FileNotFound;
    }
    std::vector<char> screen(static_cast<size_t>(page->screenSize > 0 ? page->screenSize : 0) + 1, '\0');
    const int used = xFcgiGetMcsData(screen.data(), screen.size(), page);
    if (used <= 0) return Result::Success;
    block.assign(screen.data(), static_cast<size_t>(used));
    // The block travels as a C string: no NUL may stay in it.
    for (char &c : block)
        if (c == '\0') c = static_cast<char>(0xFE);
    return Result::Success;
}
