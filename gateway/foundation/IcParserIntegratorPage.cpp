// Parser integrator, page mode: template search in the stores, filling a
// page from a screen and the session values, and reading a submitted form
// back into the screen data.
#include "IcParserIntegrator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string_view>
#include <ctime>
#include <exception>
#include <map>
#include <unordered_map>
#include <vector>

#include "ArcMcsData.h"
#include "ZelBuffer.h"
#include "ZelFccMods.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

std::string CIcParserIntegrator::s_strRegularStorePath;
std::string CIcParserIntegrator::s_strAlternateStorePath;
std::string CIcParserIntegrator::s_strCachePath;

namespace {

constexpr const char *kSystemStore = "/usr/local/qoric/htx/";

// Opens path for reading: 1 regular file (fileTime receives its
// modification time in nanoseconds), 0 not there, -1 something else.  The
// open does not wait: a FIFO put in a store would hold the worker.
int ProbeFile(const std::string &path, int64_t &fileTime) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    fileTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return regular ? 1 : -1;
}

// Templates found during the current request (name asked for: path found
// and its file time).
struct Found {
    std::string path;
    int64_t fileTime;
    bool inCache;
};
bool s_bInRequest = false;
std::map<std::string, Found> s_FoundInRequest;

// Whether the page's form posts a field of that name: one of its compiled
// input fields (text in comments, scripts or META tags is none).
bool IsFormField(const tcpHTML &t, const char *name) {
    for (const HtmlSegment &g : t.segments) {
        if (!(g.direction & HtmlSegment::kInput)) continue;
        if (t.textOf(g.altName.empty() ? g.name : g.altName) == name) return true;
    }
    return false;
}

// The MCS header at the start of a screen buffer (blanks and zeros for the
// bytes it does not hold).
CArcMcsHdr HeaderOf(const CBuffer &screen) {
    CBuffer head(screen.GetBuffer(), std::min(screen.GetLength(), CArcMcsHdr::kHeaderLength));
    CArcMcsHdr header;
    header.LoadFromBuffer(head, CArcMcsHdr::kHeaderLength);
    return header;
}

// Whether the page's field file is one of fields without the converter's
// marker, as earlier builds wrote them (a file without fields, of a
// screen with no data field, reads the same in every build).
bool ConvertedByEarlierBuild(const tcpHTML &t) {
    const bool fields = !t.mainFields.empty() || !t.towebFields.empty() || !t.fromwebFields.empty();
    return fields && !(t.flags & tcpHTML::kConverted);
}

std::string JoinStore(const std::string &store, const std::string &name) {
    std::string path = store;
    if (path.empty() || path.back() != '/') path += '/';
    return path + name;
}

// The path with links and "." resolved, or empty when it does not exist.
std::string RealPath(const std::string &path) {
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::string();
    std::string out(real);
    std::free(real);
    return out;
}

}  // namespace

bool CIcParserIntegrator::FindFormTemplate(const std::string &name, std::string &path) {
    path.clear();
    static const std::string kExtension = ".htx";
    if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos ||
        name.size() <= kExtension.size() ||
        name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
        return false;
    for (unsigned char c : name)
        if (c < ' ' || c == 0x7F || c == '\\') return false;
    std::vector<std::string> stores;
    for (const std::string *store : {&s_strAlternateStorePath, &s_strRegularStorePath, &s_strCachePath}) {
        if (store->empty()) continue;
        const std::string real = RealPath(*store);
        if (!real.empty()) stores.push_back(real == "/" ? real : real + "/");
    }
    const std::string system = RealPath(kSystemStore);
    if (!system.empty()) stores.push_back(system + "/");
    // The cookie holds the page's path below the server root, without a
    // leading "htx/".
    for (const std::string &candidate : {xFcgiAbsDir(name.c_str()), xFcgiAbsDir(("htx/" + name).c_str())}) {
        const std::string real = RealPath(candidate);
        int64_t fileTime = 0;
        if (real.empty() || ProbeFile(real, fileTime) != 1) continue;
        for (const std::string &store : stores) {
            if (real.compare(0, store.size(), store) == 0) {
                path = real;
                return true;
            }
        }
    }
    return false;
}

CIcParserIntegrator::CIcParserIntegrator(_tagT3IVALUES *values, CBuffer *mcsData,
                                         const std::string &errorText)
    : m_pMcsData(mcsData), m_pValues(values), m_strErrorText(errorText) {}

CIcParserIntegrator::~CIcParserIntegrator() { ReleaseFileTab(); }

void CIcParserIntegrator::ReleaseFileTab() {
    tcpHTML *t = m_pTemplate;
    m_pTemplate = nullptr;
    if (!t) return;
    // A screen the template owns (a form read without a caller's buffer)
    // stays with it; one this integrator handed in is taken back.
    if (!((t->flags & tcpHTML::kOwnsScreen) && t->mcsData == t->ownScreen.data())) {
        t->mcsData = nullptr;
        t->mcsCapacity = 0;
    }
    t->mcsCount = 0;
    t->fccMods = nullptr;
    t->fccLength = 0;
}

void CIcParserIntegrator::BeginRequest() {
    s_FoundInRequest.clear();
    s_bInRequest = true;
}

void CIcParserIntegrator::EndRequest() {
    s_FoundInRequest.clear();
    s_bInRequest = false;
}

void CIcParserIntegrator::SetRegularStorePath(const std::string &path) {
    s_strRegularStorePath = path;
    s_FoundInRequest.clear();
}

void CIcParserIntegrator::SetAlternateStorePath(const std::string &path) {
    if (path != s_strAlternateStorePath) s_FoundInRequest.clear();
    s_strAlternateStorePath = path;
}

void CIcParserIntegrator::SetCachePath(const std::string &path) {
    s_strCachePath = path;
    s_FoundInRequest.clear();
}

Result CIcParserIntegrator::FindTemplateFile(std::string &name) {
    int64_t fileTime = -1;
    bool inCache = false;
    return FindTemplateFile(name, fileTime, inCache);
}

Result CIcParserIntegrator::FindTemplateFile(std::string &name, int64_t &fileTime, bool &inCache) {
    if (s_bInRequest) {
        auto it = s_FoundInRequest.find(name);
        if (it != s_FoundInRequest.end()) {
            name = it->second.path;
            fileTime = it->second.fileTime;
            inCache = it->second.inCache;
            return Result::Success;
        }
    }
    const std::string asked = name;
    Result r = FindTemplateFileOnDisk(name, fileTime, inCache);
    if (s_bInRequest && r == Result::Success) s_FoundInRequest[asked] = Found{name, fileTime, inCache};
    return r;
}

Result CIcParserIntegrator::FindTemplateFileOnDisk(std::string &name, int64_t &fileTime, bool &inCache) {
    inCache = false;
    try {
        if (!name.empty() && name[0] == '/') {
            switch (ProbeFile(name, fileTime)) {
            case 1: return Result::Success;
            case 0:
                if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Parser: file %s not found\n", name.c_str());
                return Result::FileNotFound;
            default:
                logError("#Parser: %s not a regular file\n", name.c_str());
                return Result::BadFormat;
            }
        }
        // Stores that are not configured are not searched: an empty store
        // would otherwise stand for the root directory.
        struct Store {
            const std::string *path;
            bool alternate;
        };
        static const std::string systemStore(kSystemStore);
        const Store stores[] = {{&s_strAlternateStorePath, true},
                                {&s_strRegularStorePath, false},
                                {&s_strCachePath, false},
                                {&systemStore, false}};
        for (const Store &store : stores) {
            if (store.path->empty()) continue;
            std::string path = JoinStore(*store.path, name);
            int probe = ProbeFile(path, fileTime);
            if (probe == 0) continue;
            if (probe < 0) {
                logError("#Parser: %s not a regular file\n", path.c_str());
                return Result::BadFormat;
            }
            if (store.alternate && (logCtrlFlgs & LOG_EVENTS))
                logPrintf("#Found %s in Alternate: %s\n", name.c_str(), store.path->c_str());
            inCache = store.path == &s_strCachePath;
            // The template cache takes a relative name as one under the web
            // server's template directory; "./" keeps it relative to here.
            if (path[0] != '/' && path[0] != '.') path.insert(0, "./");
            name = path;
            return Result::Success;
        }
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Parser: file %s not found\n", name.c_str());
        return Result::FileNotFound;
    } catch (const std::exception &) {
        logError("#Parser: unexpected exception in FileFind\n");
        return Result::ParserGeneric;
    }
}

void CIcParserIntegrator::AttachScreen(tcpHTML *t) {
    CBuffer &buf = *m_pMcsData;
    const int before = buf.GetOffset();
    CArcMcsHdr header;
    header.LoadFromBuffer(buf, CArcMcsHdr::kHeaderLength);
    buf.SetOffset(before - buf.GetOffset());
    if (logCtrlFlgs & LOG_DETAIL) {
        logPrintf("#Parser: buffer offset was %d, now is %d\n", before, buf.GetOffset());
        logPrintf("#Parser: xfcgi mcs size is %d, mcs buffer is %d\n", t->screenSize,
                  static_cast<int>(header.GetSize()));
    }
    // The header's size and count come from the browser (McsSize,
    // McsCount): the data is measured by what the buffer really holds, so
    // a form read never writes past it and a page never reads past it.
    int data = std::max(buf.GetLength() - CArcMcsHdr::kHeaderLength, 0);
    if (buf.GetLength() < CArcMcsHdr::kHeaderLength) {
        // A header cut short: complete it with blanks so the data starts
        // at its place.
        std::string pad(static_cast<size_t>(CArcMcsHdr::kHeaderLength - buf.GetLength()), ' ');
        buf.AddChars(pad.data(), static_cast<int>(pad.size()));
    }
    if (t->screenSize > data) {
        std::string fill(static_cast<size_t>(t->screenSize - data), header.GetFiller());
        buf.AddChars(fill.data(), static_cast<int>(fill.size()));
        data = t->screenSize;
    }
    t->mcsData = buf.GetBuffer() + CArcMcsHdr::kHeaderLength;
    t->mcsCapacity = static_cast<size_t>(data);
    t->mcsCount = std::min<int>(header.GetCount(), data);
    t->mcsSize = header.GetSize();
    t->mcsFiller = header.GetFiller();
    m_nScreenRoom = t->screenSize;
}

const char *CIcParserIntegrator::ActiveField(const tcpHTML *t) const {
    if (m_nSelectedField < 0) return nullptr;
    int count = 0, real = 0;
    xFcgiGetOrd(t, 0, nullptr, &count);
    for (int i = 0; i < count; ++i) {
        const char *name = xFcgiGetOrd(t, i, nullptr, nullptr);
        // A filler line holds host bytes no field shows.
        if (!name || strcasecmp(name, "filler") == 0) continue;
        if (real++ < m_nSelectedField) continue;
        return IsFormField(*t, name) ? name : nullptr;
    }
    return nullptr;
}

void CIcParserIntegrator::PutTypedValues(const tcpHTML *t) {
    const std::set<std::string> protectedFields =
        ProtectedFields(t, m_pMcsData ? HeaderOf(*m_pMcsData).GetFiller() : ' ');
    // The screen the page is filled from, and the table it shows it by.
    const std::string_view screen(t->mcsData ? t->mcsData : "",
                                  t->mcsData ? std::min<size_t>(std::max(t->mcsCount, 0), t->mcsCapacity) : 0);
    const TemplateFieldTable &shownTable = t->towebFields.empty() ? t->mainFields : t->towebFields;
    std::unordered_map<std::string_view, const TemplateField *> shownByName;
    for (const TemplateField &s : shownTable) shownByName.emplace(s.name, &s);
    const bool hostStyle = xFcgiHostStyle(*t);
    std::vector<std::string> typed;
    for (const TemplateFieldTable *table : {&t->mainFields, &t->towebFields, &t->fromwebFields})
        for (const TemplateField &f : *table) {
            const int idx = xFcgiFindDataTable(f.name.c_str(), 0);
            if (idx < 0 || protectedFields.count(f.name)) continue;
            const char *value = xFcgiInputValue(idx);
            // Posted as the page showed it: not typed, so it shows the
            // host's value as at first (edited by its mask).
            const auto it = shownByName.find(f.name);
            const TemplateField *shown = it == shownByName.end() ? nullptr : it->second;
            if (shown && shown->location + shown->length <= screen.size() &&
                xFcgiShownText(screen.substr(shown->location, shown->length), *shown, hostStyle) ==
                    (value ? value : ""))
                continue;
            // A character the refusal named shows as itself (xfcgicharref.h).
            xFcgiChgFld(f.name.c_str(), value, -1, XVarMark::Typed);
            typed.push_back(f.name);
        }
    xFcgiHoldScreenFields(typed);
}

void CIcParserIntegrator::PutPageValues(tcpHTML *t) {
    if (m_pValues) {
        const _tagT3IVALUES &v = *m_pValues;
        xFcgiPutSid(v.strSessionId.c_str());
        xFcgiPutStr("pib.transaction", v.strTransaction.c_str());
        xFcgiPutStr("pib.user", v.strUser.c_str());
        xFcgiPutStr("pib.terminal", v.strTerminal.c_str());
        xFcgiPutStr("pib.date", v.strDate.c_str());
        xFcgiPutStr("pib.time", v.strTime.c_str());
        xFcgiPutStr("pib.locap", v.strLocap.c_str());
        static const struct {
            const char *name;
            const char *pattern;
        } kClock[] = {{"pib.yyyy", "%Y"}, {"pib.yy", "%y"},   {"pib.mm", "%m"},
                      {"pib.dd", "%d"},   {"pib.hh", "%H"},   {"pib.min", "%M"},
                      {"pib.sec", "%S"},  {"pib.month", "%B"}, {"pib.day", "%A"}};
        constexpr size_t kClocks = sizeof kClock / sizeof kClock[0];
        // Made once a second: every page of a busy worker shows them.
        static time_t clockSecond = -1;
        static char clockText[kClocks][63];
        const time_t now = std::time(nullptr);
        if (now != clockSecond) {
            struct tm local {};
            localtime_r(&now, &local);
            for (size_t i = 0; i < kClocks; ++i)
                if (std::strftime(clockText[i], sizeof clockText[i], kClock[i].pattern, &local) == 0)
                    clockText[i][0] = '\0';
            clockSecond = now;
        }
        for (size_t i = 0; i < kClocks; ++i) xFcgiPutStr(kClock[i].name, clockText[i]);
    }
    xFcgiPutStr("mcs.error", m_strErrorText.c_str());
    const char *active = ActiveField(t);
    xFcgiPutStr("mcs.activefield", active ? active : "");
    t->flags |= tcpHTML::kFilled;
    std::string cda;
    if (m_pCda && m_pCda->GetLength() > 0) {
        CBuffer copy(*m_pCda);
        copy.GetCobolString(cda, copy.GetLength(), 0);
    }
    xFcgiPutStr("cda.text", cda.c_str());
}

Result CIcParserIntegrator::OpenHtmlFile(const std::string &name, char send, char loadData) {
    ReleaseFileTab();
    m_bStalePage = false;
    std::string path = name;
    int64_t fileTime = -1;
    bool inCache = false;
    Result r = FindTemplateFile(path, fileTime, inCache);
    if (IsError(r)) return r;
    tcpHTML *t = xFcgiGetFT(path.c_str(), fileTime);
    if (!t) return Result::ParserFileNotFound;
    if (inCache && loadData && m_pMcsData && ConvertedByEarlierBuild(*t)) {
        // Its field file lacks what the merge and the page rely on (the
        // digits a mask hides, protection): it is taken as missing, and the
        // compilation and the search are not used again once it is
        // converted afresh.
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#Parser: %s was converted by an earlier build; it is converted again\n", path.c_str());
        xFcgiTemplateOutdated(t->path);
        s_FoundInRequest.erase(name);
        m_bStalePage = true;
        return Result::FileNotFound;
    }
    m_pTemplate = t;

    if (loadData) {
        if (t->t3iPath.empty()) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#zelparser: loadData but no t3i file\n");
            return Result::ParserGeneric;
        }
        // A form read through no field table would leave the screen as it
        // was, as if nothing had been typed.
        if (!send && (t->flags & tcpHTML::kFieldFileRefused)) {
            logError("#Parser: field file %s refused; the form is not read\n", t->t3iPath.c_str());
            return Result::ParserBadDataRecord;
        }
        if (m_pMcsData) AttachScreen(t);
        if (m_pFccMods) {
            const CBuffer &mods = m_pFccMods->GetBuffer();
            t->fccMods = mods.GetBuffer();
            t->fccLength = mods.GetLength();
        }
    } else if (m_pMcsData) {
        t->mcsData = m_pMcsData->GetBuffer();
        t->mcsCapacity = static_cast<size_t>(m_pMcsData->GetLength());
        t->mcsCount = m_pMcsData->GetLength();
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#zelparser: mcsdata\n");
    }

    PutPageValues(t);
    if (send && loadData) PutFccModsValues(t);
    if (send && loadData && m_bShowTyped) PutTypedValues(t);

    if (send) {
        if (!xFcgiSendPreloadedTemplate(t, nullptr, nullptr)) return Result::ParserGeneric;
    } else if (t->mcsData && m_pMcsData && loadData) {
        XFcgiHostScreen host;
        if (m_pHostScreen) {
            const int kHeader = CArcMcsHdr::kHeaderLength;
            const CBuffer &screen = *m_pHostScreen;
            if (screen.GetLength() > kHeader)
                host.data = std::string_view(screen.GetBuffer() + kHeader,
                                             static_cast<size_t>(screen.GetLength() - kHeader));
            host.keep = ProtectedFields(t, HeaderOf(screen).GetFiller());
        }
        XFcgiRefusedNumber refused;
        const int used = xFcgiGetMcsData(t->mcsData, t->mcsCapacity, t, m_pHostScreen ? &host : nullptr, &refused);
        if (!refused.field.empty()) {
            m_strRefusedField = refused.field;
            m_strRefusedTakes = refused.takes;
            return Result::InvalidParam;
        }
        // A failed read (-1) leaves the screen as it was, header and all.
        if (used >= 0) m_pMcsData->SetEndOfBuffer(CArcMcsHdr::kHeaderLength + used);
    }
    return Result::Success;
}
