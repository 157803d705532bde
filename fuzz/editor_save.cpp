// fuzz-libs: qor_configeditor qor_foundation qor_xfcgi qor_xml qor_fcgi qor_arc
// The editor's whole save path over arbitrary bytes: a configuration file
// on disk and a request body go in as qorconfig takes them (read from the
// request stream, dispatched on "nextaction"), and the file comes out.
// Input: the file being replaced, a NUL byte and the body; without a NUL
// the whole input is the body and the file is a fixed one.
// Whatever happens, a refused or absent save leaves the file byte for byte
// as it was, a save leaves a file that reads back whole with the LogLevel
// it had unless the form changed it, and no temporary file stays behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../configeditor/ConfigForm.h"
#include "../configeditor/EditorRequest.h"
#include "ZelConfigParser.h"
#include "logprint.h"

namespace {

std::string g_dir;
std::string g_file;

const char *kPrevious =
    "<ZelConf><ServerAdmin value=\"a\"/><LogLevel value=\"debug\"/><MaxUsage value=\"9\"/>"
    "<Setenv name=\"LANG\" value=\"C\"/><Locap name=\"L\" address=\"h\" port=\"1\"/>"
    "<AppGroup url=\"/a/\" sid=\"S\"/><Transaction name=\"T\" id=\"P\" log=\"L\"/></ZelConf>\n";

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The names in the folder other than the file itself.
std::string Others() {
    std::string names;
    if (DIR *d = opendir(g_dir.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != ".." && n != "qoric.conf") names += n + " ";
        }
        closedir(d);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    logOpen("/dev/null", 0);
    // A folder of its own (in memory where there is one: saves flush to
    // disk), which is also the working folder, so no gateway's session
    // table is ever stamped.
    struct stat st {};
    std::string tmpl = (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp") + std::string("/fuzz_editor_save.XXXXXX");
    if (!mkdtemp(&tmpl[0]) || chdir(tmpl.c_str()) != 0) std::abort();
    g_dir = tmpl;
    g_file = g_dir + "/qoric.conf";
    std::atexit([] { std::system(("rm -rf '" + g_dir + "'").c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 16)) return 0;
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string previous = nul == std::string::npos ? kPrevious : input.substr(0, nul);
    const std::string body = nul == std::string::npos ? input : input.substr(nul + 1);
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out << previous;
    }
    chmod(g_file.c_str(), 0644);
    CZelConfigParser before;
    int beforeStatus = 0;
    ReadConfigPath(g_file, before, &beforeStatus);

    std::istringstream in(body);
    std::ostringstream page, err;
    RequestMap_t request;
    RequestContext context;
    context.bodyComplete = ParseRequest(in, page, err, request);
    request.insert_or_assign("ConfigFile", g_file);
    request.insert_or_assign("ScriptName", std::string("/qorconfig"));
    DispatchRequest(in, page, err, request, context);

    const std::string after = ReadText(g_file);
    const auto action = request.find("nextaction");
    const bool asked = action != request.end() && action->second == "write_file";
    if (!asked || page.str().find("Can't save config file") != std::string::npos) {
        if (after != previous) std::abort();
    } else {
        if (beforeStatus != 0) std::abort();   // never saved over a broken file
        CZelConfigParser back;
        int status = 0;
        if (ReadConfigPath(g_file, back, &status) != Result::Success || status != 0) std::abort();
        if (!request.count("LogLevel") && back.GetLogLevel() != before.GetLogLevel()) std::abort();
    }
    if (!Others().empty()) std::abort();
    return 0;
}
