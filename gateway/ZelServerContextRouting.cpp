// Server context: request routing (URL split, application groups, the
// session-id field, pid pools, initial pages), the request's fields, and
// the hand-over to the conversation with its result pages.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IcParserIntegrator.h"
#include "ZelServerContext.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

bool Trace() { return (logCtrlFlgs & LOG_TRACE) != 0; }
bool Detail() { return (logCtrlFlgs & LOG_DETAIL) != 0; }

std::string Upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The value of an input field, or null when the request lacks it.
const char *Field(const std::string &name) {
    if (name.empty()) return nullptr;
    return xFcgiGetInpStr(name.c_str());
}

// The pid-pool number of the PIDPOOL_ID cookie: decimal and within the
// configured pool, else 0 (the table then hands out the next number).
unsigned PoolFromCookie(const std::string &text, int32_t low, int32_t high) {
    if (text.empty() || text.size() > 10) return 0;
    for (char c : text)
        if (c < '0' || c > '9') return 0;
    unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v < static_cast<unsigned long>(low > 0 ? low : 1) || v > static_cast<unsigned long>(high))
        return 0;
    return static_cast<unsigned>(v);
}

// A transaction name as the host takes one: at most eight letters, digits,
// "$", "@", "_" and "-" (the name is upper-cased already).
bool HostTransactionName(const std::string &name) {
    if (name.size() > 8) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == '@' ||
              c == '_' || c == '-'))
            return false;
    return true;
}

// A refused transaction name as its error page shows it: the URL's
// percent escapes decoded (the name the user typed), control characters
// as '?', cut to kShownName characters and "...". The page escapes it as
// every value.
std::string ShownName(const std::string &name) {
    constexpr size_t kShownName = 32;
    std::string decoded;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            decoded += static_cast<char>(std::strtol(name.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            decoded += name[i];
        }
    }
    std::string shown = logSafeText(decoded, kShownName);
    if (decoded.size() > kShownName) shown += "...";
    return shown;
}

}  // namespace

CZelServerContext::Method CZelServerContext::MethodOf(const char *method) {
    // Without a method (a request made by hand) it is taken as GET.
    if (!method || !*method || std::strcmp(method, "GET") == 0 || std::strcmp(method, "POST") == 0)
        return Method::Serve;
    return std::strcmp(method, "HEAD") == 0 ? Method::Head : Method::NotAllowed;
}

void CZelServerContext::AnswerWithoutSession(Method method) {
    if (method == Method::NotAllowed)
        xFcgiSendText("Status: 405 Method Not Allowed\r\nAllow: GET, POST, HEAD\r\n");
    xFcgiSendContentType();
    xFcgiSendText("\r\n");
    if (method == Method::NotAllowed)
        xFcgiSendText("<html><body><p>Method not allowed: use GET or POST.</p></body></html>\n");
    xFcgiFlushText();
    xFcgiContentTypeReset();
    m_bResponseSent = true;
}

CZelServerContext::UriParts CZelServerContext::SplitUri(const char *uri) {
    UriParts p;
    if (!uri) {
        p.groupKeyA = "No URI!";
        return p;
    }
    std::string path(uri);
    path = path.substr(0, path.find('?'));
    size_t i = 0;
    p.groupKeyA = p.groupKeyB = "/";
    if (i < path.size() && path[i] == '/') ++i;
    while (i < path.size() && path[i] != '/') {
        p.groupKeyA += path[i];
        p.groupKeyB += path[i];
        ++i;
    }
    if (i == path.size()) return p;   // one segment: no transaction
    p.groupKeyA += '/';
    p.groupKeyB += path.substr(i);
    // The last segment is the transaction; a path ending in "/" has none.
    while (i < path.size() && path[i] == '/') {
        ++i;
        p.transaction.clear();
        while (i < path.size() && path[i] != '/')
            p.transaction += static_cast<char>(std::toupper(static_cast<unsigned char>(path[i++])));
    }
    return p;
}

const CZelAppGroupInfo *CZelServerContext::GetAppGroupTable(const std::string &key) const {
    return CZelConfigParser::GetAppGroupTable().Find(key);
}

void CZelServerContext::SetAlternateStore() {
    CZelConfigParser::SetAlternateStore();
    CIcParserIntegrator::SetAlternateStorePath(std::string());
}

void CZelServerContext::SetAlternateStore(const std::string &name) {
    CZelConfigParser::SetAlternateStore(name);
    CIcParserIntegrator::SetAlternateStorePath(name);
}

CZelServerContext::Route CZelServerContext::RouteRequest() {
    // Only GET and POST start or continue host sessions: any other method
    // would let anybody fill the session table at the cost of a request.
    const char *methodEnv = std::getenv("REQUEST_METHOD");
    const Method method = MethodOf(methodEnv);
    if (method != Method::Serve) {
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#App: %s request answered without a session\n", logSafeText(methodEnv, 40).c_str());
        AnswerWithoutSession(method);
        return Route::Served;
    }
    const char *uriEnv = std::getenv("REQUEST_URI");
    const char *addrEnv = std::getenv("REMOTE_ADDR");
    const std::string uri = uriEnv ? uriEnv : "";
    const std::string addr = addrEnv ? addrEnv : "Unknown";
    UriParts parts = SplitUri(uriEnv);
    std::string &T = parts.transaction;

    if (Trace()) logPrintf("\n");
    const CZelAppGroupInfo *group = GetAppGroupTable(parts.groupKeyB);
    if (!group) group = GetAppGroupTable(parts.groupKeyB + "/");
    if (!group) group = GetAppGroupTable(parts.groupKeyA);
    if (!group) group = GetAppGroupTable(parts.groupKeyA + "/");

    bool poolSwitch = false;
    unsigned pool = 0;
    if (!group) {
        SetAlternateStore();
        m_strSessIdName = xFcgiSidName("SID");
        if (Trace()) {
            if (uri.size() > 80) {
                logPrintf("# ++++ Process from %s\n", addr.c_str());
                logDumpHex(" with URI ", uri.data(), static_cast<int>(uri.size()));
            } else {
                logPrintf("# ++++ Process [%s] from %s\n", uri.c_str(), addr.c_str());
            }
        }
        // Without a group the transaction comes only from the fields.
        T.clear();
    } else {
        std::string sidName = group->m_strSidName;
        if (strcasecmp(sidName.c_str(), "NO") == 0) sidName.clear();
        m_strSessIdName = xFcgiSidName(sidName.c_str());
        poolSwitch = group->m_bPidPool;
        std::string poolText;
        if (poolSwitch) {
            std::string cookie;
            if (xFcgiGetCookie("PIDPOOL_ID", cookie)) pool = PoolFromCookie(cookie, GetPidPoolLow(), GetPidPoolHigh());
            poolText = pool ? "PIDPOOL " + std::to_string(pool) + " " : "PIDPOOL ";
        }
        if (Trace()) {
            const char *sidShown = m_strSessIdName.empty() ? "not used" : m_strSessIdName.c_str();
            if (uri.size() < 33) {
                logPrintf("# ++++ Process AppGroup %s from %s with %s[%s] SID is %s\n",
                          group->m_strName.c_str(), addr.c_str(), poolText.c_str(), uri.c_str(), sidShown);
            } else if (uri.size() > 60) {
                logPrintf("# ++++ Process AppGroup %s from %s %s SID is %s\n", group->m_strName.c_str(),
                          addr.c_str(), poolText.c_str(), sidShown);
                logDumpHex(" with URI ", uri.data(), static_cast<int>(uri.size()));
            } else {
                logPrintf("# ++++ Process AppGroup %s from %s with %s SID is %s\n",
                          group->m_strName.c_str(), addr.c_str(), poolText.c_str(), sidShown);
                logPrintf("~     [%s]\n", uri.c_str());
            }
        }
        if (!group->m_strLog.empty() && static_cast<unsigned char>(group->m_strLog[0]) > ' ') {
            logOptions("!t");
            logOptions(group->m_strLog.c_str());
        }
        if (group->m_strStore.empty())
            SetAlternateStore();
        else
            SetAlternateStore(group->m_strStore);
    }

    const char *parsed = xFcgiGetParsedInput(nullptr);
    const std::string input = parsed ? parsed : "";
    const char *dezUrEnv = xFcgiGetDezUREnv();
    const std::string environment = dezUrEnv ? dezUrEnv : "";
    if (T.empty())
        if (const char *v = Field("pib.transaction")) T = v;

    const char *sid = Field(m_strSessIdName);
    if ((!sid || !*sid) && group && T.empty()) {
        if (!group->m_strHtml.empty()) {
            std::string path = group->m_strHtml;
            if (IsError(CIcParserIntegrator::FindTemplateFile(path))) {
                logPrintf("#Unable to find initial webpage: %s\n", group->m_strHtml.c_str());
                // The visitor learns it too: the error page of a missing template.
                OutputErrorFile(Result::FileNotFound);
            } else {
                if (Detail()) logPrintf("#Send back as initial webpage: %s\n", path.c_str());
                // Sent either way: a page that cannot be loaded is answered
                // with the toolkit's own short page.
                xFcgiSendTemplate(path.c_str(), nullptr);
                m_bResponseSent = true;
            }
            SendEmptyResponseIfNone();
            OnEndRequest();
            return Route::InitialPage;
        }
        if (!group->m_strTransaction.empty()) {
            T = group->m_strTransaction;
            if (!group->m_strCda.empty() && !Field("cda.text"))
                xFcgiChgInpStr("cda.text", group->m_strCda.c_str());
            if (Trace()) {
                std::string line = "#Default transaction " + T;
                if (!group->m_strCda.empty()) line += " with Initial CDA[" + group->m_strCda + "]";
                logPrintf("%s\n", line.c_str());
            }
        }
    }

    if (!input.empty() || !T.empty()) {
        ProcessRequest(T, uri, environment, std::string(), input, poolSwitch, pool);
    } else {
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#App: no query: Uri header '%s' with Trid '%s'\n", parts.groupKeyA.c_str(), T.c_str());
        OutputErrorFile(Result::InvalidParam);
    }
    SendEmptyResponseIfNone();
    return Route::Served;
}

void CZelServerContext::SetPibProperties(const std::string &uriTransaction) {
    bool fromUri = false;
    if (const char *v = Field("pib.transaction")) {
        m_strTransaction = v;
    } else if (!uriTransaction.empty()) {
        const unsigned char first = static_cast<unsigned char>(uriTransaction[0]);
        if (first >= 33 && first <= 127) {
            m_strTransaction = uriTransaction;
            fromUri = true;
        }
    }
    if (const char *v = Field("pib.locap")) m_strLocap = v;
    if (Detail()) {
        std::string line = "#App: found ";
        if (!m_strTransaction.empty()) line += "transaction as " + m_strTransaction;
        if (!m_strLocap.empty()) line += ", locap as " + m_strLocap;
        logPrintf("%s\n", line.c_str());
        if (fromUri) logPrintf("Use URI Tran %s\n", uriTransaction.c_str());
    }
}

void CZelServerContext::SetMcsProperties() {
    CZelConversation &c = m_Conversation;
    auto find = [](const char *name, const char *alternate) -> const char * {
        const char *v = Field(name);
        if (!v && alternate) v = Field(alternate);
        return v;
    };
    auto trace = [](const char *what, const char *value, bool onlyAboveSpace) {
        if (!Detail()) return;
        if (onlyAboveSpace && static_cast<unsigned char>(value[0]) <= ' ') return;
        logPrintf("#App: found %s as %s\n", what, value);
    };
    if (const char *v = find("mcs.name", nullptr)) {
        trace("name", v, false);
        c.SetFormat(v);
    }
    if (const char *v = find("mcs.count", "MCSCOUNT")) c.SetCount(v);
    if (const char *v = find("mcs.size", "MCSSIZE")) c.SetSize(v);
    if (const char *v = find("mcs.status", "MCSSTATUS")) {
        trace("status", v, true);
        c.SetStatus(v);
    }
    if (const char *v = find("mcs.filler", nullptr)) {
        trace("filler", v, true);
        c.SetFiller(v);
    }
    if (const char *v = find("mcs.page", nullptr)) c.SetLocalSubscreen(v);
    if (const char *v = find("mcs.notify", nullptr)) c.SetNotifyMode(v);
}

void CZelServerContext::SetCdaProperties() {
    const char *v = Field("cda.text");
    if (!v) v = Field("CDATEXT");
    if (v) m_strCdaText = v;
}

int CZelServerContext::ProcessRequest(std::string transaction, const std::string &uri,
                                      const std::string &dezUrEnvironment, const std::string &extra,
                                      const std::string &input, bool poolSwitch, unsigned pool) {
    SetPibProperties(transaction);
    SetMcsProperties();
    SetCdaProperties();
    if (const char *v = Field(m_strSessIdName)) {
        m_strSessionId = v;
        if (Detail()) logPrintf("#App: found %s as %s\n", m_strSessIdName.c_str(), v);
    }
    if (m_strTransaction.empty() && m_strSessionId.empty()) {
        logError("#App: no transaction id and no session id\n");
        OutputErrorFile(Result::InvalidParam);
        return 0;
    }

    m_strTransaction = Upper(m_strTransaction);
    // The name goes into the host's PRST and into the page's form action:
    // one that is not configured must be a name the host could know.
    if (!m_strTransaction.empty() && !CZelConfigParser::GetTransactionTable().Lookup(m_strTransaction) &&
        !HostTransactionName(m_strTransaction)) {
        logError("#App: transaction name '%s' refused\n", logSafeText(m_strTransaction, 40).c_str());
        // The page names it (pib.transaction), as it names an unknown one
        // the host refused.
        m_strTransaction = ShownName(m_strTransaction);
        m_Conversation.SetTransaction(m_strTransaction, std::string(), &m_strCdaText);
        return ResultPage(Result::QorNotFound);
    }
    const CZelTransactionInfo *info = CZelConfigParser::GetTransactionTable().Find(m_strTransaction);
    std::string locap = Upper(m_strLocap);
    if (locap.empty()) locap = info->m_strLocap;
    const CZelLocapInfo *host = GetLocapTable().Find(locap);
    if (!host) {
        logError("#App: locap not found and no default defined in qoric.conf\n");
        OutputErrorFile(Result::CommBadLocapQor);
        return 0;
    }
    m_strLocap = locap;
    if (m_strCdaText.empty()) m_strCdaText = info->m_strCda;
    if (Detail())
        logPrintf("#Using Locap: %s on host %s port %d; %s\n", locap.c_str(), host->m_strAddress.c_str(),
                  static_cast<int>(host->m_nPort), IsDezUrEnabled() ? "DEZUR Allowed" : "MCS Only");

    CZelConversation &c = m_Conversation;
    c.SetTransaction(m_strTransaction, info->m_strId, &m_strCdaText);
    c.SetHost(locap, host->m_strAddress, static_cast<unsigned>(host->m_nPort));
    c.SetSessionId(m_strSessionId);
    c.SetDefaultStyle(info->m_strStyleSheet.empty() ? GetStyleSheetHtml() : info->m_strStyleSheet,
                      info->m_strAddHtx.empty() ? GetAdditionalHtx() : info->m_strAddHtx);

    return ResultPage(c.ProcessRequest(uri, dezUrEnvironment, extra, input, poolSwitch, pool,
                                       IsDezUrEnabled()));
}

int CZelServerContext::ResultPage(Result r) {
    CZelConversation &c = m_Conversation;
    if (r == Result::CommTransTerminated && !GetPrenInfoHtx().empty())
        return ResultCode(c.ProcessHtx(GetPrenInfoHtx(), Result::Success, nullptr));
    if (IsError(r)) {
        if (!GetErrorHtx().empty())
            return ResultCode(c.ProcessHtx(GetErrorHtx(), r, GetServerAdmin().c_str()));
        logError("#App: Failed to produce output file, error %d\n", ResultCode(r));
        OutputErrorFile(r);
    }
    return 0;
}
