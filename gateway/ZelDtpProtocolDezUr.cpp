// DTP session protocol: the data block of a DezUR answer, the form the
// browser posted, moved into screen data through the template it came
// from.
#include "ZelDtpProtocol.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IcParserIntegrator.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

const char *const kLastFormCookie = "LAST_QORIC_FORM";

}  // namespace

Result CZelDtpProtocol::DataBlockForDezUr(std::string &block) {
    block.clear();
    const char *method = std::getenv("REQUEST_METHOD");
    if (!method || std::strcmp(method, "POST") != 0) return Result::Success;
    std::string form;
    if (!xFcgiGetCookie(kLastFormCookie, form) || form.empty()) return Result::Success;
    // The cookie comes from the browser: it may only name a page template.
    std::string path;
    if (!CIcParserIntegrator::FindFormTemplate(form, path)) {
        logPrintf("#DTP: %s template path '%s' refused\n", kLastFormCookie, logSafeText(form, 80).c_str());
        return Result::InvalidParam;
    }
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
