// fuzz-libs: qor_configeditor qor_foundation qor_xfcgi qor_xml qor_fcgi qor_arc
// The editor's request body over arbitrary bytes: the body is parsed into
// the field map, completed with the general settings it lacks, and turned
// into a configuration file text against a fixed previous file. Whatever
// the writer accepts must read back without an XML fault, and the form
// shows the result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

#include "../configeditor/ConfigForm.h"
#include "../configeditor/ConfigWriter.h"
#include "../configeditor/EditorRequest.h"
#include "IcParserIntegrator.h"
#include "ZelConfigParser.h"
#include "logprint.h"

namespace {

CZelConfigParser *g_previous = nullptr;
std::string g_formFile;

const char *kPrevious =
    "<ZelConf><EnableDtpTrace value=\"false\"/><MaxUsage value=\"9\"/>"
    "<Setenv name=\"LANG\" value=\"C\"/><LogFile value=\"/l\" options=\"h\"/>"
    "<AppGroup url=\"/a/\" sid=\"S\" dezur=\"yes\"/><AppGroup url=\"/b/\"/>"
    "<Transaction name=\"T\" id=\"P\" log=\"L\"/></ZelConf>";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    logOpen("/dev/null", 0);
    g_previous = new CZelConfigParser;
    g_previous->Reset();
    std::string text(kPrevious);
    FILE *f = fmemopen(&text[0], text.size(), "r");
    CIcParserIntegrator(g_previous).ReadConfigStream(f, "previous");
    std::fclose(f);
    g_formFile = "/tmp/fuzz_editor_body." + std::to_string(getpid()) + ".conf";
    std::atexit([] { unlink(g_formFile.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 16)) return 0;
    RequestMap_t request;
    ParseRequestBody(std::string_view(reinterpret_cast<const char *>(data), size), request);
    static const char *const general[] = {
        "ServerRoot", "ServerAdmin", "RegularStore", "Cache", "ThisLocap", "AdditionalHtml",
        "DefaultStylesheet", "FccModsSupport", "OnPRENPage", "OnErrorPage", "InstanceCleanup",
        "SystemCleanup", "MaxSessions"};
    for (const char *g : general) request.emplace(g, "1");

    std::string text, why;
    if (!BuildConfigText(request, *g_previous, text, why)) {
        if (why.empty()) std::abort();
        return 0;
    }
    CZelConfigParser back;
    back.Reset();
    FILE *f = fmemopen(&text[0], text.size(), "r");
    if (!f) return 0;
    CIcParserIntegrator reader(&back);
    reader.ReadConfigStream(f, "written");
    std::fclose(f);
    if (reader.GetLastParseStatus() != 0) std::abort();

    // The form over the written file.
    if (FILE *out = std::fopen(g_formFile.c_str(), "w")) {
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        request["ConfigFile"] = g_formFile;
        std::istringstream in;
        std::ostringstream page, err;
        ShowConfigEditForm(in, page, err, request);
    }
    return 0;
}
