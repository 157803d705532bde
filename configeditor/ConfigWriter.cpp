// Turning a posted form into the configuration file, and saving it.
#include "ConfigWriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <string_view>

#include "ConfigFileText.h"
#include "ConfigForm.h"
#include "FileSave.h"
#include "ReconfigStamp.h"
#include "ZelConfigParser.h"
#include "ZelSessionTableLayout.h"

namespace {

const std::string *Posted(const RequestMap_t &request, const std::string &name) {
    auto it = request.find(name);
    return it == request.end() ? nullptr : &it->second;
}

std::string PostedOr(const RequestMap_t &request, const std::string &name,
                     const std::string &fallback) {
    const std::string *v = Posted(request, name);
    return v ? *v : fallback;
}

std::string Upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool IsYes(const std::string &v) {
    return !v.empty() && (v[0] == 'T' || v[0] == 't' || v[0] == 'Y' || v[0] == 'y');
}

// A decimal number of at most nine digits, without a sign or leading zeros.
bool ParseIndex(std::string_view text, long &out) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// As strtol with base 10 (no number gives 0).
long ParseNumber(const std::string &text) {
    errno = 0;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return v < 0 ? LONG_MIN : LONG_MAX;
    return v;
}

// Collects the file text and the first reason a value cannot be written.
class FileText {
public:
    explicit FileText(std::string &text) : m_text(text) {}

    void Line(std::string_view s) {
        m_text.append(s);
        m_text += '\n';
    }
    void Blank() { m_text += '\n'; }
    // Where the text ends now; Cut goes back there.
    std::size_t Mark() const { return m_text.size(); }
    void Cut(std::size_t mark) { m_text.resize(mark); }
    void Lines(const TextLines &lines) {
        for (const char *l : lines) Line(l);
    }

    // Appends ` name="value"` to line once the value passes the checks;
    // `field` names the value in the refusal.
    void Attr(std::string &line, const char *name, const std::string &value,
              const std::string &field) {
        if (!Check(value, field)) return;
        line += ' ';
        line += name;
        line += "=\"";
        line += value;
        line += '"';
    }
    // Only when the value is not empty.
    void AttrIfSet(std::string &line, const char *name, const std::string &value,
                   const std::string &field) {
        if (!value.empty()) Attr(line, name, value, field);
    }
    // <element value="..."/>
    void ValueElement(const char *element, const std::string &value, const std::string &field) {
        std::string line = std::string("<") + element;
        Attr(line, "value", value, field);
        Line(line + "/>");
    }

    // A whole number from min to max, blanks around it dropped; false (and
    // the refusal, naming the field) for anything else.
    bool Number(std::string &value, int64_t min, int64_t max, const std::string &field) {
        const std::size_t first = value.find_first_not_of(' ');
        const std::size_t last = value.find_last_not_of(' ');
        const std::string digits =
            first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
        std::size_t i = digits.size() > 1 && digits[0] == '-' ? 1 : 0;
        bool ok = i < digits.size() && digits.size() - i <= 10;
        for (; ok && i < digits.size(); ++i) ok = digits[i] >= '0' && digits[i] <= '9';
        if (ok) {
            const int64_t v = std::strtoll(digits.c_str(), nullptr, 10);
            ok = v >= min && v <= max;
        }
        if (ok) {
            value = digits;
            return true;
        }
        Fail("the value of " + field + " is not a whole number from " + std::to_string(min) + " to " +
             std::to_string(max));
        return false;
    }

    void Fail(const std::string &why) {
        if (m_why.empty()) m_why = why;
    }
    bool Failed() const { return !m_why.empty(); }
    const std::string &Why() const { return m_why; }

private:
    // The reader takes a quoted value up to the next double quote and at
    // most 2559 characters, and does not decode entities; control
    // characters do not belong in any setting.
    bool Check(const std::string &value, const std::string &field) {
        if (value.size() > kMaxConfigValue) {
            Fail("the value of " + field + " is longer than 2559 characters");
            return false;
        }
        for (unsigned char c : value) {
            if (c == '"') {
                Fail("the value of " + field + " contains a double quote");
                return false;
            }
            if (c < 0x20 || c == 0x7F) {
                Fail("the value of " + field + " contains a control character");
                return false;
            }
        }
        return true;
    }

    std::string &m_text;
    std::string m_why;
};

// More rows than a form of kMaxRequestBody bytes can carry.
constexpr int64_t kMaxFormRows = 100000;

// The rows to walk: the posted count, but no more than the rows whose
// fields were really posted (the highest row number met, plus one). A
// count that is no whole number from 0 to kMaxFormRows is refused (the
// refusal names the field) and gives no rows.
long RowCount(FileText &f, const RequestMap_t &request, const char *countField,
              std::initializer_list<std::string_view> prefixes) {
    const std::string *postedCount = Posted(request, countField);
    if (!postedCount) return 0;
    std::string count = *postedCount;
    if (!f.Number(count, 0, kMaxFormRows, countField)) return 0;
    const long n = ParseNumber(count);
    if (n == 0) return 0;
    long posted = 0;
    for (const auto &field : request) {
        const std::string_view key = field.first;
        for (std::string_view prefix : prefixes) {
            long idx;
            if (key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
                ParseIndex(key.substr(prefix.size()), idx) && idx + 1 > posted)
                posted = idx + 1;
        }
    }
    return n < posted ? n : posted;
}

// The bounds the gateway's configuration reader applies to a numeric
// setting; false for a setting that is no number.
bool NumberBounds(std::string_view element, int64_t &min, int64_t &max) {
    static const struct {
        const char *element;
        int64_t min, max;
    } kNumbers[] = {
        {"InstanceCleanup", 1, INT32_MAX},
        {"SystemCleanup", INT32_MIN, INT32_MAX},
        {"MaxSessions", 1, sesstbl::kMaxRecords},
        {"PidPoolLow", INT32_MIN, INT32_MAX},
        {"PidPoolHigh", INT32_MIN, INT32_MAX},
    };
    for (const auto &n : kNumbers)
        if (element == n.element) {
            min = n.min;
            max = n.max;
            return true;
        }
    return false;
}

void GeneralSettings(FileText &f, const RequestMap_t &request, const CZelConfigParser &prev) {
    for (const ScalarDirective &d : kScalarDirectives) {
        const std::string *posted = Posted(request, d.element);
        // The form has no LogLevel, which the gateway ignores: the file's
        // own value is kept.
        const bool logLevel = std::strcmp(d.element, "LogLevel") == 0;
        if (!posted && !logLevel) {
            f.Fail(std::string("the field ") + d.element + " is missing");
            return;
        }
        std::string value = posted ? *posted : prev.GetLogLevel();
        int64_t min, max;
        if (NumberBounds(d.element, min, max) && !f.Number(value, min, max, d.element)) return;
        f.Blank();
        f.Lines(d.comment);
        f.ValueElement(d.element, value, d.element);
    }
}

// Settings the form does not carry, or carries without the writer needing
// them: written when the old file had them or the form changed them.
void FurtherSettings(FileText &f, const RequestMap_t &request, const CZelConfigParser &prev) {
    const std::string logFile = PostedOr(request, "LogFile", prev.GetLogFile());
    const std::string logOptions = PostedOr(request, "LogOptions", prev.GetLogOptions());
    if (prev.HasElement("LogFile") || logFile != prev.GetLogFile() ||
        logOptions != prev.GetLogOptions()) {
        f.Blank();
        f.Lines(kLogFileComment);
        std::string line = "<LogFile";
        f.Attr(line, "value", logFile, "LogFile");
        f.Attr(line, "options", logOptions, "LogOptions");
        f.Line(line + "/>");
    }

    std::string low = PostedOr(request, "PidPoolLow", std::to_string(prev.GetPidPoolLow()));
    std::string high = PostedOr(request, "PidPoolHigh", std::to_string(prev.GetPidPoolHigh()));
    int64_t min, max;
    NumberBounds("PidPoolLow", min, max);
    if (!f.Number(low, min, max, "PidPoolLow") || !f.Number(high, min, max, "PidPoolHigh")) return;
    if (prev.HasElement("PidPool") || low != std::to_string(prev.GetPidPoolLow()) ||
        high != std::to_string(prev.GetPidPoolHigh())) {
        f.Blank();
        f.Lines(kPidPoolComment);
        // LOW first: the reader resets HIGH when it meets a changed LOW.
        std::string line = "<PidPool";
        f.Attr(line, "low", low, "PidPoolLow");
        f.Attr(line, "high", high, "PidPoolHigh");
        f.Line(line + "/>");
    }

    const struct {
        const char *element;
        bool on;
    } traces[] = {
        {"EnableAppTrace", prev.IsTraceAppEnabled()},
        {"EnableDtpTrace", prev.IsTraceDtpEnabled()},
        {"EnableComTrace", prev.IsTraceComEnabled()},
        {"EnableXmlTrace", prev.IsTraceXmlEnabled()},
    };
    bool traceComment = false;
    for (const auto &t : traces) {
        if (!prev.HasElement(t.element)) continue;
        if (!traceComment) {
            f.Blank();
            f.Lines(kTraceComment);
            traceComment = true;
        }
        f.ValueElement(t.element, t.on ? "true" : "false", t.element);
    }
    if (prev.HasElement("CacheCleanup")) {
        f.Blank();
        f.Lines(kCacheCleanupComment);
        f.ValueElement("CacheCleanup", std::to_string(prev.GetCacheCleanup()), "CacheCleanup");
    }
    if (prev.HasElement("MaxUsage")) {
        f.Blank();
        f.Lines(kMaxUsageComment);
        f.ValueElement("MaxUsage", std::to_string(prev.GetMaxUsage()), "MaxUsage");
    }
    if (prev.HasElement("CharacterSet")) {
        f.Blank();
        f.Lines(kCharacterSetComment);
        f.ValueElement("CharacterSet", prev.GetCharacterSet(), "CharacterSet");
    }
    if (prev.HasElement("EnableDezUr")) {
        f.Blank();
        f.Lines(kDezUrComment);
        f.ValueElement("EnableDezUr", prev.IsDezUrEnabled() ? "yes" : "no", "EnableDezUr");
    }
    if (!prev.GetSetenvList().empty()) {
        f.Blank();
        f.Lines(kSetenvComment);
        for (const auto &e : prev.GetSetenvList()) {
            std::string line = "<Setenv";
            f.Attr(line, "name", e.first, "Setenv " + e.first);
            f.Attr(line, "value", e.second, "Setenv " + e.first);
            f.Line(line + "/>");
        }
    }
}

void Locaps(FileText &f, const RequestMap_t &request) {
    f.Blank();
    f.Lines(kLocapSectionHead);
    f.Blank();
    f.Lines(kLocapComment);
    const std::string *defaultField = Posted(request, "DefaultLocap");
    const long defaultRow = defaultField ? ParseNumber(*defaultField) : -1;
    const long rows = RowCount(f, request, "LocapCount",
                               {"LocapName", "LocapHost", "LocapPort", "LocapDelete"});
    for (long i = 0; i < rows && !f.Failed(); ++i) {
        const std::string n = std::to_string(i);
        if (Posted(request, "LocapDelete" + n)) continue;
        const std::string name = PostedOr(request, "LocapName" + n, "");
        const std::string host = PostedOr(request, "LocapHost" + n, "");
        std::string port = PostedOr(request, "LocapPort" + n, "");
        if (name.empty() || host.empty() || port.empty()) continue;
        if (!f.Number(port, 1, 65535, "LocapPort" + n)) return;
        std::string line = "<Locap";
        f.Attr(line, "name", name, "LocapName" + n);
        f.Attr(line, "address", host, "LocapHost" + n);
        f.Attr(line, "port", port, "LocapPort" + n);
        if (i == defaultRow) line += " default=\"yes\"";
        f.Line(line + "/>");
    }
}

void Transactions(FileText &f, const RequestMap_t &request, const CZelConfigParser &prev) {
    f.Blank();
    f.Lines(kTransactionSectionHead);
    f.Blank();
    f.Lines(kTransactionComment);
    const long rows = RowCount(f, request, "TransactionCount",
                               {"TransactionName", "TransactionId", "TransactionLocap",
                                "TransactionCda", "TransactionLog", "TransactionStyle",
                                "TransactionExtraHtx", "TransactionDelete"});
    for (long i = 0; i < rows && !f.Failed(); ++i) {
        const std::string n = std::to_string(i);
        if (Posted(request, "TransactionDelete" + n)) continue;
        const std::string name = PostedOr(request, "TransactionName" + n, "");
        const std::string id = PostedOr(request, "TransactionId" + n, "");
        if (name.empty() || id.empty()) continue;
        std::string line = "<Transaction";
        f.Attr(line, "name", name, "TransactionName" + n);
        f.Attr(line, "id", id, "TransactionId" + n);
        f.AttrIfSet(line, "locap", PostedOr(request, "TransactionLocap" + n, ""),
                    "TransactionLocap" + n);
        f.AttrIfSet(line, "cda", PostedOr(request, "TransactionCda" + n, ""), "TransactionCda" + n);
        f.AttrIfSet(line, "stylesheet", PostedOr(request, "TransactionStyle" + n, ""),
                    "TransactionStyle" + n);
        f.AttrIfSet(line, "addhtx", PostedOr(request, "TransactionExtraHtx" + n, ""),
                    "TransactionExtraHtx" + n);
        // The log options: as posted, else those of the same transaction in
        // the file being replaced.
        std::string log;
        if (const std::string *posted = Posted(request, "TransactionLog" + n))
            log = *posted;
        else if (const CZelTransactionInfo *old = prev.GetTransactionTable().Lookup(Upper(name)))
            log = old->m_strLog;
        f.AttrIfSet(line, "log", log, "TransactionLog" + n);
        f.Line(line + "/>");
    }
}

void AppGroupLine(FileText &f, const CZelAppGroupInfo &g, const std::string &row) {
    std::string line = "<AppGroup";
    f.Attr(line, "url", g.m_strUrl, "AppGroupUrl" + row);
    f.AttrIfSet(line, "name", g.m_strName, "AppGroupName" + row);
    f.AttrIfSet(line, "store", g.m_strStore, "AppGroupStore" + row);
    f.AttrIfSet(line, "log", g.m_strLog, "AppGroupLog" + row);
    f.AttrIfSet(line, "html", g.m_strHtml, "AppGroupHtml" + row);
    f.AttrIfSet(line, "transaction", g.m_strTransaction, "AppGroupTrid" + row);
    f.AttrIfSet(line, "cda", g.m_strCda, "AppGroupCda" + row);
    if (g.m_strSidName != "SID") f.Attr(line, "sid", g.m_strSidName, "the SID of " + g.m_strUrl);
    if (g.m_bDezUr) line += " dezur=\"yes\"";
    if (g.m_bPidPool) line += " pidpool=\"yes\"";
    f.Line(line + "/>");
}

// The form's rows when it posted them (SID and DEZUR, which it does not
// show, come from the group of the same URL in the file being replaced);
// else every group of that file. The section is written only when it
// holds a group.
void AppGroupRows(FileText &f, const RequestMap_t &request, const CZelConfigParser &prev) {
    const CZelAppGroupTable &old = prev.GetAppGroupTable();
    if (!Posted(request, "AppGroupCount")) {
        for (const auto &e : old.Entries()) AppGroupLine(f, *e.second, "");
        return;
    }
    const long rows = RowCount(f, request, "AppGroupCount",
                               {"AppGroupName", "AppGroupUrl", "AppGroupPid", "AppGroupStore",
                                "AppGroupLog", "AppGroupHtml", "AppGroupTrid", "AppGroupCda",
                                "AppGroupDelete"});
    for (long i = 0; i < rows && !f.Failed(); ++i) {
        const std::string n = std::to_string(i);
        if (Posted(request, "AppGroupDelete" + n)) continue;
        CZelAppGroupInfo g;
        g.m_strUrl = PostedOr(request, "AppGroupUrl" + n, "");
        if (g.m_strUrl.empty()) continue;
        const CZelAppGroupInfo *was = old.Lookup(g.m_strUrl);
        const CZelAppGroupInfo blank;
        if (!was) was = &blank;
        g.m_strName = PostedOr(request, "AppGroupName" + n, was->m_strName);
        g.m_strStore = PostedOr(request, "AppGroupStore" + n, was->m_strStore);
        g.m_strLog = PostedOr(request, "AppGroupLog" + n, was->m_strLog);
        g.m_strHtml = PostedOr(request, "AppGroupHtml" + n, was->m_strHtml);
        g.m_strTransaction = PostedOr(request, "AppGroupTrid" + n, was->m_strTransaction);
        g.m_strCda = PostedOr(request, "AppGroupCda" + n, was->m_strCda);
        const std::string *pid = Posted(request, "AppGroupPid" + n);
        g.m_bPidPool = pid ? IsYes(*pid) : was->m_bPidPool;
        g.m_strSidName = was->m_strSidName;
        g.m_bDezUr = was->m_bDezUr;
        AppGroupLine(f, g, n);
    }
}

void AppGroups(FileText &f, const RequestMap_t &request, const CZelConfigParser &prev) {
    const std::size_t start = f.Mark();
    f.Blank();
    f.Lines(kAppGroupSectionHead);
    f.Blank();
    f.Lines(kAppGroupComment);
    const std::size_t rows = f.Mark();
    AppGroupRows(f, request, prev);
    if (f.Mark() == rows) f.Cut(start);
}

}  // namespace

bool BuildConfigText(const RequestMap_t &request, const CZelConfigParser &previous,
                     std::string &text, std::string &why) {
    text.clear();
    FileText f(text);
    f.Line("<ZelConf>");
    f.Lines(kHeaderComment);
    f.Blank();
    f.Blank();
    f.Blank();
    f.Lines(kGeneralSectionHead);
    GeneralSettings(f, request, previous);
    if (!f.Failed()) FurtherSettings(f, request, previous);
    if (!f.Failed()) Locaps(f, request);
    if (!f.Failed()) Transactions(f, request, previous);
    if (!f.Failed()) AppGroups(f, request, previous);
    f.Line("</ZelConf>");
    if (f.Failed()) {
        why = f.Why();
        text.clear();
        return false;
    }
    return true;
}

bool WriteConfigFile(const RequestMap_t &request, bool bodyComplete, std::string *why) {
    std::string reason;
    auto refuse = [&](const std::string &text) {
        if (why) *why = text;
        return false;
    };
    if (!bodyComplete)
        return refuse("the form is larger than 1 MiB and was not read whole; nothing was saved");
    const std::string *path = Posted(request, "ConfigFile");
    if (!path || path->empty()) return refuse("no configuration file is named");

    // The file being replaced supplies what the form does not carry, so it
    // must have been read whole.
    CZelConfigParser previous;
    int parseStatus = 0;
    std::string fault;
    if (ReadConfigPath(*path, previous, &parseStatus, &fault) != Result::Success) {
        struct stat st {};
        if (stat(path->c_str(), &st) == 0 || errno != ENOENT)
            return refuse("the current configuration file cannot be read");
        previous.Reset();   // a new file
    } else if (parseStatus != 0) {
        return refuse("the current configuration file is broken (" + fault +
                      "), so what could not be read would be lost by a save; mend the file by hand "
                      "first. Nothing was saved");
    }

    std::string text;
    if (!BuildConfigText(request, previous, text, reason)) return refuse(reason);
    if (!SaveFileText(*path, text, reason)) return refuse(reason);
    StampReconfiguration(std::time(nullptr));
    return true;
}
