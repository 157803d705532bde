// Parser integrator, configuration mode, and the toolkit's start and end.
#include "IcParserIntegrator.h"

#include <sys/stat.h>

#include <exception>
#include <memory>
#include <vector>

#include "ZelConfigParser.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"
#include "xmlparse.h"

namespace {

constexpr std::size_t kReadBufferSize = 2048;

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

// Frees the tree however the read ends.
struct TreeGuard {
    XmlRef ref;
    ~TreeGuard() { XmlDestroy(ref); }
};

}  // namespace

Result CIcParserIntegrator::OpenConfigFile(const std::string &name) {
    if (!m_pConfig) return Result::ParserGeneric;
    // The buffer must outlive the stream that uses it.
    std::vector<char> buffer(kReadBufferSize);
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name.c_str(), "r"));
    if (!file) return Result::ParserFileNotFound;
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        logPrintf("#Config: %s is not a regular file\n", name.c_str());
        return Result::ParserFileNotFound;
    }
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    return ReadConfigStream(file.get(), name);
}

Result CIcParserIntegrator::ReadConfigStream(FILE *stream, const std::string &name) {
    if (!m_pConfig) return Result::ParserGeneric;
    if (!stream) return Result::ParserFileNotFound;
    try {
        TreeGuard tree{XmlCreate()};
        m_nParseStatus = XmlParse(tree.ref, stream, nullptr, 0, false);
        if (m_nParseStatus != 0)
            logPrintf("#Config: %s breaks off (XML error %d); later settings are not read\n",
                      name.c_str(), m_nParseStatus);
        XmlRef walk = tree.ref;
        for (xmlNode *n = XmlWalk(&walk, XML_WALK_FIRST); n; n = XmlWalk(&walk, XML_WALK_NEXT))
            if (n->tag && !n->isAttribute) m_pConfig->ParseICConfig(n);
    } catch (const std::exception &e) {
        logError("#Config: unexpected exception reading %s: %s\n", name.c_str(), e.what());
        m_pConfig->ParseICComplete();
        return Result::ParserGeneric;
    }
    m_pConfig->ParseICComplete();
    return Result::Success;
}

int CIcParserIntegrator::InitXFcgi() {
    for (const ResultName *n = ResultNamesBegin(); n != ResultNamesEnd(); ++n)
        if (n->templateConstant) xFcgiConsInt(n->errName, ResultCode(n->code));
    return 0;
}

int CIcParserIntegrator::ExitXFcgi() {
    xFcgiPutClear();
    xFcgiTemplateCache(0);
    xFcgiFreeFlds();
    return 0;
}
