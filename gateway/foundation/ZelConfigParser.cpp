// The configuration model: defaults, the element table and the three
// record tables.
#include "ZelConfigParser.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <strings.h>

#include "ZelSessionTableLayout.h"
#include "logprint.h"
#include "xfcgiout.h"
#include "xmlparse.h"

namespace {

bool Is(const char *tag, const char *name) { return tag && strcasecmp(tag, name) == 0; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void UpperInPlace(std::string &s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// As atoi/atol: leading blanks, a sign, the leading digits; anything else
// gives 0. Clamped to 32 bits instead of overflowing.
int32_t ToInt(const std::string &text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// First character T or Y, any case.
bool IsYes(const std::string &v) {
    return !v.empty() && (v[0] == 'T' || v[0] == 't' || v[0] == 'Y' || v[0] == 'y');
}

// A Setenv name or value must not begin with a blank, a control character
// or a byte of 0x80 and above (nor be empty).
bool UsableStart(const std::string &s) {
    if (s.empty()) return false;
    const unsigned char c = static_cast<unsigned char>(s[0]);
    return c > ' ' && c != 0x7F && c < 0x80;
}

// The text of a node's value (which may hold NULs).
std::string ValueOf(const xmlNode *n) {
    return std::string(n->value, n->vallen > 0 ? static_cast<std::size_t>(n->vallen) : 0);
}

// Calls f(tag, value) for every attribute with a name and a value.
template <class F>
void ForEachAttribute(xmlNode *element, F f) {
    for (xmlNode *a = element->attr; a; a = a->next)
        if (a->tag && a->value) f(a->tag, ValueOf(a));
}

}  // namespace

// ---------------------------------------------------------------- tables --

CZelTransactionInfo *CZelTransactionTable::Find(const std::string &name) {
    if (CZelTransactionInfo *info = LookupMutable(name)) {
        if (info->m_strLocap.empty()) info->m_strLocap = m_Default.m_strLocap;
        return info;
    }
    const std::string locap = m_Default.m_strLocap;
    m_Default = CZelTransactionInfo();
    m_Default.m_strId = name;
    m_Default.m_strLocap = locap;
    return &m_Default;
}

void CZelTransactionTable::Reset() {
    Clear();
    m_Default = CZelTransactionInfo();
}

const CZelAppGroupInfo *CZelAppGroupTable::Find(const std::string &url) const {
    if (const CZelAppGroupInfo *info = Lookup(url)) return info;
    std::string upper = url;
    UpperInPlace(upper);
    return Lookup(upper);
}

// ----------------------------------------------------------------- model --

void CZelConfigParser::Reset() {
    m_nFccModsLevel = 0;
    m_LocapTable.Clear();
    // The default locap belongs to the locaps, which every read rebuilds: a
    // default kept from an earlier file could name a locap that is gone.
    m_TransactionTable.Reset();
    m_strDefaultLocap.clear();
    m_nInstanceCleanup = kDefaultInstanceCleanup;
    m_nSystemCleanup = kDefaultSystemCleanup;
    m_nMaxSessions = kDefaultMaxSessions;
    m_nCacheCleanup = kDefaultCacheCleanup;
    m_bTraceApp = true;
    m_bTraceDtp = true;
    m_bTraceCom = false;
    m_bTraceXml = false;
    m_bDezUr = true;
    m_strLogFile = kDefaultLogFile;
    m_strLogOptions = kDefaultLogOptions;
    m_strCharacterSet = kDefaultCharacterSet;
    m_nPidPoolLow = 1;
    m_nPidPoolHigh = 1 + kPidPoolSpan;
    xFcgiServerRoot(kDefaultServerRoot);
    m_Setenv.clear();
    m_SeenElements.clear();
}

bool CZelConfigParser::GetValue(xmlNode *attributes, std::string &out) {
    out.clear();
    for (xmlNode *a = attributes; a; a = a->next) {
        if (a->tag && a->value && Is(a->tag, "VALUE")) {
            out = ValueOf(a);
            return true;
        }
    }
    return false;
}

bool CZelConfigParser::HasElement(std::string_view name) const {
    return m_SeenElements.count(Lower(name)) != 0;
}

// The string setting an element names, or null.
std::string CZelConfigParser::*CZelConfigParser::StringSetting(const char *tag) {
    static const struct {
        const char *name;
        std::string CZelConfigParser::*field;
    } table[] = {
        {"ServerAdmin", &CZelConfigParser::m_strServerAdmin},
        {"RegularStore", &CZelConfigParser::m_strRegularStore},
        {"Cache", &CZelConfigParser::m_strCacheStore},
        {"OnPRENPage", &CZelConfigParser::m_strPrenPage},
        {"OnErrorPage", &CZelConfigParser::m_strErrorPage},
        {"DefaultStylesheet", &CZelConfigParser::m_strDefaultStyleSheet},
        {"AdditionalHtml", &CZelConfigParser::m_strAdditionalHtml},
        {"ThisLocap", &CZelConfigParser::m_strThisLocap},
        {"LogLevel", &CZelConfigParser::m_strLogLevel},
    };
    for (const auto &e : table)
        if (Is(tag, e.name)) return e.field;
    return nullptr;
}

// The trace switch an element names, or null.
bool CZelConfigParser::*CZelConfigParser::TraceSwitch(const char *tag) {
    static const struct {
        const char *name;
        bool CZelConfigParser::*field;
    } table[] = {
        {"EnableAppTrace", &CZelConfigParser::m_bTraceApp},
        {"EnableDtpTrace", &CZelConfigParser::m_bTraceDtp},
        {"EnableComTrace", &CZelConfigParser::m_bTraceCom},
        {"EnableXmlTrace", &CZelConfigParser::m_bTraceXml},
    };
    for (const auto &e : table)
        if (Is(tag, e.name)) return e.field;
    return nullptr;
}

int CZelConfigParser::ParseICConfig(xmlNode *element) {
    if (!element || !element->tag) return 0;
    const char *tag = element->tag;

    std::string value;
    bool known = true;
    if (Is(tag, "ServerRoot")) {
        // An empty value would point the toolkit at "/"; it keeps its default.
        if (GetValue(element->attr, m_strServerRoot) && !m_strServerRoot.empty())
            xFcgiServerRoot(m_strServerRoot.c_str());
    } else if (Is(tag, "LogFile")) {
        GetValue(element->attr, m_strLogFile);
        ForEachAttribute(element, [this](const char *name, const std::string &v) {
            if (Is(name, "OPTIONS")) m_strLogOptions = v;
        });
    } else if (Is(tag, "PidPool")) {
        ParsePidPool(element);
    } else if (Is(tag, "FccModsSupport")) {
        GetValue(element->attr, value);
        m_nFccModsLevel = strcasecmp(value.c_str(), "limited") == 0 ? 1
                          : strcasecmp(value.c_str(), "full") == 0  ? 2
                                                                    : 0;
    } else if (Is(tag, "CacheCleanup")) {
        GetValue(element->attr, value);
        m_nCacheCleanup = ToInt(value);
    } else if (Is(tag, "InstanceCleanup")) {
        GetValue(element->attr, value);
        SetInstanceCleanup(ToInt(value));
    } else if (Is(tag, "SystemCleanup")) {
        GetValue(element->attr, value);
        m_nSystemCleanup = ToInt(value);
    } else if (Is(tag, "MaxSessions")) {
        GetValue(element->attr, value);
        SetMaxSessions(ToInt(value));
    } else if (Is(tag, "MaxUsage")) {
        GetValue(element->attr, value);
        m_nMaxUsage = ToInt(value);
    } else if (Is(tag, "EnableDezUr")) {
        GetValue(element->attr, value);
        const char c = value.empty() ? '\0' : value[0];
        m_bDezUr = !(c == 'F' || c == 'f' || c == 'N' || c == 'n');
    } else if (Is(tag, "CharacterSet")) {
        // It goes into every page's Content-type line: a name the browser
        // cannot take, or a multi-byte set that would let a field be cut in
        // the middle of a character, keeps the default.
        GetValue(element->attr, value);
        if (IsSingleByteCharsetName(value)) {
            m_strCharacterSet = value;
        } else {
            logPrintf("#Config: CharacterSet '%s' is not a single-byte character set; %s is used\n",
                      value.c_str(), kDefaultCharacterSet);
            m_strCharacterSet = kDefaultCharacterSet;
        }
    } else if (Is(tag, "Locap")) {
        ParseLocap(element);
    } else if (Is(tag, "Transaction")) {
        ParseTransaction(element);
    } else if (Is(tag, "AppGroup")) {
        ParseAppGroup(element);
    } else if (Is(tag, "Setenv")) {
        ParseSetenv(element);
    } else if (std::string CZelConfigParser::*field = StringSetting(tag)) {
        GetValue(element->attr, this->*field);
    } else if (bool CZelConfigParser::*trace = TraceSwitch(tag)) {
        GetValue(element->attr, value);
        this->*trace = strcasecmp(value.c_str(), "false") != 0;
    } else {
        known = false;
    }
    if (known) m_SeenElements.insert(Lower(tag));
    return 0;
}

bool CZelConfigParser::IsSingleByteCharsetName(const std::string &name) {
    if (name.empty() || name.size() > 40) return false;
    static const std::string kPunctuation = "-_.:()+";
    for (char c : name) {
        const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && kPunctuation.find(c) == std::string::npos) return false;
    }
    std::string upper = name;
    UpperInPlace(upper);
    return upper.rfind("UTF", 0) != 0 && upper.rfind("UCS", 0) != 0;
}

int CZelConfigParser::ParseICComplete() {
    if (!m_strDefaultLocap.empty()) m_TransactionTable.SetDefaultLocap(m_strDefaultLocap);
    return 0;
}

void CZelConfigParser::SetMaxSessions(int32_t value) {
    if (value < 1) {
        logPrintf("#Config: MaxSessions %d is below 1; %d is used\n", value, kDefaultMaxSessions);
        value = kDefaultMaxSessions;
    } else if (static_cast<uint32_t>(value) > sesstbl::kMaxRecords) {
        logPrintf("#Config: MaxSessions %d is too large for a session table; %u is used\n", value,
                  sesstbl::kMaxRecords);
        value = static_cast<int32_t>(sesstbl::kMaxRecords);
    }
    m_nMaxSessions = value;
}

void CZelConfigParser::SetInstanceCleanup(int32_t value) {
    if (value < 1) {
        logPrintf("#Config: InstanceCleanup %d is below 1; %d is used\n", value,
                  kDefaultInstanceCleanup);
        value = kDefaultInstanceCleanup;
    }
    m_nInstanceCleanup = value;
}

void CZelConfigParser::ParsePidPool(xmlNode *element) {
    // Attributes act in the order written: a changed LOW resets HIGH.
    ForEachAttribute(element, [this](const char *name, const std::string &v) {
        if (Is(name, "LOW")) {
            const int32_t low = ToInt(v);
            if (low != m_nPidPoolLow) {
                m_nPidPoolLow = low;
                const int64_t high = static_cast<int64_t>(low) + kPidPoolSpan;
                m_nPidPoolHigh = high > INT32_MAX ? INT32_MAX : static_cast<int32_t>(high);
            }
        } else if (Is(name, "HIGH")) {
            m_nPidPoolHigh = ToInt(v);
        }
    });
}

void CZelConfigParser::ParseLocap(xmlNode *element) {
    std::string name;
    auto info = std::make_unique<CZelLocapInfo>();
    bool isDefault = false;
    ForEachAttribute(element, [&](const char *attr, const std::string &v) {
        if (Is(attr, "NAME")) {
            name = v;
            UpperInPlace(name);
        } else if (Is(attr, "ADDRESS")) {
            info->m_strAddress = v;
        } else if (Is(attr, "PORT")) {
            info->m_nPort = ToInt(v);
        } else if (Is(attr, "DEFAULT")) {
            isDefault = IsYes(v);
        }
    });
    if (isDefault) {
        m_TransactionTable.SetDefaultLocap(name);
        m_strDefaultLocap = name;
    }
    if (name.empty() || info->m_strAddress.empty() || info->m_nPort == 0) {
        logPrintf("#Config: invalid LOCAP info for %s\n", name.c_str());
        return;
    }
    m_LocapTable.Store(name, std::move(info));
    if (m_strDefaultLocap.empty()) m_strDefaultLocap = name;
}

void CZelConfigParser::ParseTransaction(xmlNode *element) {
    std::string name;
    auto info = std::make_unique<CZelTransactionInfo>();
    ForEachAttribute(element, [&](const char *attr, const std::string &v) {
        if (Is(attr, "NAME")) {
            name = v;
            UpperInPlace(name);
        } else if (Is(attr, "ID")) {
            info->m_strId = v;
            UpperInPlace(info->m_strId);
        } else if (Is(attr, "LOCAP")) {
            info->m_strLocap = v;
            UpperInPlace(info->m_strLocap);
        } else if (Is(attr, "CDA")) {
            info->m_strCda = v;
        } else if (Is(attr, "STYLESHEET")) {
            info->m_strStyleSheet = v;
        } else if (Is(attr, "ADDHTX")) {
            info->m_strAddHtx = v;
        } else if (Is(attr, "LOG")) {
            info->m_strLog = v;
        }
    });
    if (name.empty()) return;
    m_TransactionTable.Store(name, std::move(info));
}

void CZelConfigParser::ParseAppGroup(xmlNode *element) {
    auto info = std::make_unique<CZelAppGroupInfo>();
    bool hasUrl = false;
    ForEachAttribute(element, [&](const char *attr, const std::string &v) {
        if (Is(attr, "URL") || Is(attr, "URI")) {
            info->m_strUrl = v;
            hasUrl = true;
        } else if (Is(attr, "NAME")) {
            info->m_strName = v;
            UpperInPlace(info->m_strName);
        } else if (Is(attr, "STORE")) {
            info->m_strStore = v;
        } else if (Is(attr, "LOG")) {
            info->m_strLog = v;
        } else if (Is(attr, "HTML")) {
            info->m_strHtml = v;
        } else if (Is(attr, "TRANSACTION") || Is(attr, "TRID")) {
            info->m_strTransaction = v;
        } else if (Is(attr, "CDA")) {
            info->m_strCda = v;
        } else if (Is(attr, "SID")) {
            info->m_strSidName = v;
        } else if (Is(attr, "DEZUR")) {
            info->m_bDezUr = IsYes(v);
        } else if (Is(attr, "PIDPOOL")) {
            info->m_bPidPool = IsYes(v);
        }
    });
    if (!hasUrl || info->m_strUrl.empty()) return;
    const std::string key = info->m_strUrl;
    m_AppGroupTable.Store(key, std::move(info));
}

void CZelConfigParser::ParseSetenv(xmlNode *element) {
    std::string name, value;
    ForEachAttribute(element, [&](const char *attr, const std::string &v) {
        if (Is(attr, "NAME")) {
            name = v;
            UpperInPlace(name);
        } else if (Is(attr, "VALUE")) {
            value = v;
        }
    });
    if (!UsableStart(name) || !UsableStart(value)) return;
    if (name.size() > kMaxSetenvName || value.size() > kMaxSetenvValue ||
        name.size() + 1 + value.size() > kMaxSetenvText) {
        logPrintf("#Config: Setenv %.47s is too long; ignored\n", name.c_str());
        return;
    }
    const std::string text = name + "=" + value;
    xFcgiSaveEnvVar(text.c_str());
    m_Setenv.emplace_back(std::move(name), std::move(value));
}
