// Parser integrator, configuration mode, and the toolkit's start and end.
#include "IcParserIntegrator.h"

#include <sys/stat.h>

#include <exception>
#include <memory>
#include <vector>

#include "ZelConfigParser.h"
#include "logprint.h"
#include "regularfile.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"
#include "xmlparse.h"

namespace {

constexpr std::size_t kReadBufferSize = 2048;

// Frees the tree however the read ends.
struct TreeGuard {
    XmlRef ref;
    ~TreeGuard() { XmlDestroy(ref); }
};


// Opens a configuration file for reading through a buffer of the reader's
// size; null (after a log line for what is no regular file) when it cannot.
// The open does not wait on a FIFO or a device, which would hold the editor
// and the workers with it.  A link is followed, as an administrator may link
// the file.
UniqueFile OpenConfigStream(const std::string &name, std::vector<char> &buffer) {
    buffer.resize(kReadBufferSize);
    struct stat st {};
    UniqueFile file = OpenRegularFile(name);
    if (!file) {
        if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            logPrintf("#Config: %s is not a regular file\n", name.c_str());
        return file;
    }
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    return file;
}

// Parses a stream into the tree; the parser's fault code, and its text.
int ParseConfigTree(FILE *stream, XmlRef tree, std::string &fault) {
    XmlParse(tree, stream, nullptr, 0, false);
    return XmlParseFault(tree, &fault);
}

}  // namespace

Result CIcParserIntegrator::OpenConfigFile(const std::string &name) {
    if (!m_pConfig) return Result::ParserGeneric;
    // The buffer must outlive the stream that uses it.
    std::vector<char> buffer;
    UniqueFile file = OpenConfigStream(name, buffer);
    if (!file) return Result::ParserFileNotFound;
    return ReadConfigStream(file.get(), name);
}

void CIcParserIntegrator::ApplyConfigTree(XmlRef tree) {
    XmlRef walk = tree;
    for (xmlNode *n = XmlWalk(&walk, XML_WALK_FIRST); n; n = XmlWalk(&walk, XML_WALK_NEXT))
        if (n->tag && !n->isAttribute) m_pConfig->ParseICConfig(n);
}

Result CIcParserIntegrator::ReadConfigStream(FILE *stream, const std::string &name) {
    if (!m_pConfig) return Result::ParserGeneric;
    if (!stream) return Result::ParserFileNotFound;
    return ReadConfigTree(stream, name, false);
}

Result CIcParserIntegrator::ReadWholeConfigFile(const std::string &name) {
    if (!m_pConfig) return Result::ParserGeneric;
    m_nParseStatus = ResultCode(Result::ParserFileNotFound);
    m_strParseFault = "the file cannot be opened";
    std::vector<char> buffer;
    UniqueFile file = OpenConfigStream(name, buffer);
    if (!file) return Result::ParserFileNotFound;
    return ReadConfigTree(file.get(), name, true);
}

Result CIcParserIntegrator::ReadConfigTree(FILE *stream, const std::string &name, bool wholeOnly) {
    try {
        // The whole document is read before anything of it is applied, so
        // a broken one read wholeOnly changes nothing.
        TreeGuard tree{XmlCreate()};
        m_nParseStatus = ParseConfigTree(stream, tree.ref, m_strParseFault);
        if (m_nParseStatus != 0) {
            logPrintf("#Config: %s is broken (%s); %s\n", name.c_str(), m_strParseFault.c_str(),
                      wholeOnly ? "it is not used" : "only what could be read is used");
            if (wholeOnly) return Result::ParserFileNotFound;
        }
        if (wholeOnly) m_pConfig->Reset();
        ApplyConfigTree(tree.ref);
    } catch (const std::exception &e) {
        logError("#Config: unexpected exception reading %s: %s\n", name.c_str(), e.what());
        m_pConfig->ParseICComplete();
        return Result::ParserGeneric;
    }
    m_pConfig->ParseICComplete();
    return Result::Success;
}

int CIcParserIntegrator::CheckConfigFile(const std::string &name, std::string &why) {
    std::vector<char> buffer;
    UniqueFile file = OpenConfigStream(name, buffer);
    if (!file) {
        why = "the file cannot be opened";
        return ResultCode(Result::ParserFileNotFound);
    }
    try {
        TreeGuard tree{XmlCreate()};
        return ParseConfigTree(file.get(), tree.ref, why);
    } catch (const std::exception &e) {
        why = e.what();
        return ResultCode(Result::ParserGeneric);
    }
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
