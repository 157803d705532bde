// Filling a page: binds the screen data, writes the headers and walks the
// compiled segments (values, conditions, repeated blocks, includes, #SET
// and #ECHO, links) into the response (see xfcgihtml.h).
//
// Values from host or request data are HTML-escaped as they are written;
// inside SCRIPT elements they are escaped as JavaScript within a string
// literal and keep only identifier characters in code, so screen data,
// form input and cookies can never inject markup or script; raw
// values (constants, template literals, the environment) are written as
// they are.
#include "xfcgihtml.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fcgicalls.h"
#include "logprint.h"
#include "xfcgicharref.h"

namespace {

constexpr int kMaxIncludeDepth = 16;
constexpr int64_t kMaxRows = 32767;
// Segments one page may write: nested repeated blocks multiply, and a
// template gone wrong must not hold the worker for ever.
constexpr long long kMaxVisits = 5000000;
// Branches and rows open at once (the compiler already reports nesting
// past 128); bounds the writer's own recursion.
constexpr int kMaxWalkDepth = 512;

bool eqNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool identifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
}

// The table trace: every variable after the constants, or, for the
// missing-variable dump (skipErr), every variable but the "err." ones.
void traceTable(bool skipErr) {
    logPrintf("%-29s   %s\n", "Variable", "Contents");
    logPrintf("%s\n", std::string(29 + 3 + 40, '-').c_str());
    for (int i = skipErr ? 0 : xFcgiConstCount(); i < xFcgiVarCount(); ++i) {
        std::string name(xFcgiVarName(i));
        if (skipErr && name.compare(0, 4, "err.") == 0) continue;
        std::string value(xFcgiVarValue(i));
        if (value.size() <= 70) {
            logPrintf("%-29s = '%s'\n", name.c_str(), value.c_str());
            continue;
        }
        logPrintf("%-29s = '%.60s'\n", name.c_str(), value.c_str());
        for (size_t at = 60; at < value.size(); at += 60)
            logPrintf("%-29s   '%.60s'\n", "", value.c_str() + at);
    }
}

// Where a value lands: in HTML, in the code of a SCRIPT element, in a
// string literal there, or in the query of a URL in a tag (where "&" or
// "#" of a value would end it).
enum class Ctx { Html, ScriptCode, ScriptString, UrlQuery };

struct Page {
    tcpHTML* outer = nullptr;
    bool dataDesc = false;                       // the page has a data description
    bool hostStyle = false;                      // EBCDIC signs, leading blanks dropped
    const XFcgiTranEntry* tran = nullptr;
    const TemplateFieldTable* bound = nullptr;   // the screen fields bound
    bool dumpDue = true;                         // the missing-variable dump
    int includeDepth = 0;
    long long visits = 0;                        // segments written so far
    int walkDepth = 0;                           // branches and rows open
};

class Writer {
public:
    explicit Writer(Page& p) : m_page(p) {}
    void walk(const tcpHTML& t, size_t first, size_t last, Ctx script);

private:
    Page& m_page;
    // Work strings reused from value to value.
    std::string m_value;
    std::string m_escaped;

    void send(std::string_view v) { xFcgiSendText(v, m_page.dataDesc); }
    // typed: a value of a refused form shown again (XVarMark::Typed).
    void writeValue(std::string_view v, bool data, Ctx script, std::string_view name, bool typed = false);
    std::string imageDir() const;
    void variable(const tcpHTML& t, const HtmlSegment& g, Ctx script, bool afterTextareaTag = false);
    void boolean(const tcpHTML& t, const HtmlSegment& g);
    void missing(std::string_view name);
    void subscripts(const HtmlSegment& g);
    void include(const tcpHTML& t, const HtmlSegment& g, Ctx script);
    void setOrEcho(const tcpHTML& t, const HtmlSegment& g, Ctx script);
    void link(const tcpHTML& t, const HtmlSegment& g);
    size_t conditions(const tcpHTML& t, size_t at, size_t last, Ctx script);
    size_t repeat(const tcpHTML& t, size_t at, size_t last, Ctx script);
};

void Writer::writeValue(std::string_view v, bool data, Ctx script, std::string_view name, bool typed) {
    if (!data) {
        send(v);
        return;
    }
    std::string& out = m_escaped;
    out.clear();
    if (script == Ctx::ScriptString) {
        xFcgiEscapeScriptString(v, out);
    } else if (script == Ctx::UrlQuery) {
        xFcgiEscapeUrl(v, out);
    } else if (script == Ctx::ScriptCode) {
        size_t dropped = 0;
        for (char c : v) {
            if (identifierChar(c))
                out += c;
            else
                ++dropped;
        }
        if (dropped)
            logPrintf("#Dropped %d characters of %.*s unsafe inside SCRIPT\n",
                      static_cast<int>(dropped), static_cast<int>(name.size()), name.data());
    } else if (typed) {
        xFcgiEscapeTyped(v, xFcgiCharsetIsLatin1(), out);
    } else {
        xFcgiEscapeData(v, out);
    }
    send(out);
}

std::string Writer::imageDir() const {
    const char* dir = xFcgiImageDir();
    if (dir && *dir) return dir;
    return m_page.tran ? m_page.tran->imageDir : std::string();
}

void Writer::missing(std::string_view name) {
    std::string shown = xFcgiLastNotFound();
    if (shown.empty()) shown.assign(name);
    std::string text = "<p>Missing variable: ";
    xFcgiEscapeData(shown, text);
    text += "</p>";
    xFcgiSendText(text);
    xFcgiFlushText();
    if (logCtrlFlgs & LOG_EVENTS) {
        logPrintf("#ERROR: Variable %s not defined for output\n", shown.c_str());
        if (m_page.dumpDue) {
            m_page.dumpDue = false;
            traceTable(true);
        }
    }
}

void Writer::variable(const tcpHTML& t, const HtmlSegment& g, Ctx script, bool afterTextareaTag) {
    std::string_view name = t.textOf(g.name);
    int idx = searchOutTab(name.data(), static_cast<int>(name.size()));
    if (idx < 0 && !g.altName.empty()) {
        name = t.textOf(g.altName);
        idx = searchOutTab(name.data(), static_cast<int>(name.size()));
    }
    const int boundField = xFcgiLastBoundField();
    const bool beyond = xFcgiLastBoundBeyond();
    if (eqNoCase(name, "SID")) xFcgiMarkSidUsed();
    const std::string_view def = t.textOf(g.defValue);
    const bool quotes = !def.empty();
    const bool images = (g.flags & HtmlSegment::kImages) != 0;

    if (idx < 0) {
        std::string key(name);
        const char* env = std::getenv(key.c_str());
        if (!env && !key.empty() && std::islower(static_cast<unsigned char>(key[0]))) {
            for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            env = std::getenv(key.c_str());
        }
        if (env) {
            if (quotes) send("\"");
            if (images) send(imageDir());
            send(env);
            if (quotes) send("\"");
        } else if (!def.empty()) {
            send(def);
        } else {
            missing(name);
        }
        return;
    }

    std::string& value = m_value;
    value.assign(xFcgiVarValue(idx));
    const XVarMark mark = xFcgiVarMark(idx);
    const bool data = mark != XVarMark::Raw;
    const bool typed = mark == XVarMark::Typed;
    if (g.kind != SEG_VARIABLE) value.resize(std::strlen(value.c_str()));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
    if (value.empty()) {
        send(def);
        return;
    }
    if (boundField >= 0 && beyond) return;
    if (boundField >= 0 && m_page.bound &&
        static_cast<size_t>(boundField) < m_page.bound->size()) {
        const TemplateField& f = (*m_page.bound)[static_cast<size_t>(boundField)];
        if (xFcgiIsNumericPicture(f.picture.c_str())) {
            writeValue(xFcgiEditNumeric(value, f.picture, f.length, m_page.hostStyle), data,
                       script, name, typed);
            return;
        }
    }
    if (quotes) send("\"");
    if (images) send(imageDir());
    std::string_view v = value;
    if (m_page.hostStyle)
        while (!v.empty() && (v.front() == ' ' || v.front() == '\0')) v.remove_prefix(1);
    // A browser drops a line break right after <TEXTAREA>: one more is
    // written, so that the value's own first line break is shown and posted.
    if (afterTextareaTag && !quotes && !images && !v.empty() && (v.front() == '\n' || v.front() == '\r'))
        send("\n");
    writeValue(v, data, script, name, typed);
    if (quotes) send("\"");
}

void Writer::boolean(const tcpHTML& t, const HtmlSegment& g) {
    std::string_view name = t.textOf(g.name);
    int idx = searchOutTab(name.data(), static_cast<int>(name.size()));
    std::string value;
    bool found = idx >= 0;
    if (found) {
        value.assign(xFcgiVarValue(idx));
    } else if (const char* env = std::getenv(std::string(name).c_str())) {
        value = env;
        found = true;
    }
    if (found && !value.empty() && value[0] != '0' && value[0] != '\0')
        send(t.textOf(g.value));
    else
        send(t.textOf(g.defValue));
}

void Writer::subscripts(const HtmlSegment& g) {
    const int n = std::min(g.level, xFcgiSubscriptDepth());
    std::string out;
    for (int k = 0; k < n; ++k) out += "_" + std::to_string(xFcgiSubscript(k));
    send(out);
}

void Writer::include(const tcpHTML& t, const HtmlSegment& g, Ctx script) {
    const std::string file(t.textOf(g.name));
    tcpHTML* inc = nullptr;
    if (m_page.includeDepth >= kMaxIncludeDepth)
        logPrintf("#Include of %s deeper than %d: not included\n", file.c_str(), kMaxIncludeDepth);
    else
        inc = xFcgiGetFT(file.c_str());
    if (!inc) {
        std::string text = "<p>Missing include file ";
        xFcgiEscapeData(file, text);
        text += "</p>";
        xFcgiSendText(text);
        return;
    }
    TemplateInUse hold(inc);
    if (g.flags & HtmlSegment::kIncludeProcessed) {
        logPrintf("# Include and process %s\n", file.c_str());
        ++m_page.includeDepth;
        walk(*inc, 0, inc->segments.size(), script);
        --m_page.includeDepth;
    } else {
        logPrintf("# Include and send as is %s\n", file.c_str());
        xFcgiSendText(inc->text);
    }
}

void Writer::setOrEcho(const tcpHTML& t, const HtmlSegment& g, Ctx script) {
    const bool compute = (g.flags & HtmlSegment::kCompute) != 0;
    if (g.kind == SEG_ECHO && !compute && g.value.empty()) {
        variable(t, g, script);
        return;
    }
    // Computed at depth 0: the target gets no row subscripts.
    const std::vector<int> rows = xFcgiGetSubscripts();
    xFcgiSetSubscripts(0, nullptr);
    ExprValue v = compute ? execExpr(g.expr) : getSetStr(t.textOf(g.value));
    const std::string_view name = t.textOf(g.name);
    if (!name.empty())
        xFcgiChgVar(name, v.text, v.data ? XVarMark::Data : XVarMark::Raw);
    xFcgiSetSubscripts(static_cast<int>(rows.size()), rows.data());
    if (g.kind == SEG_SET) return;
    if (!name.empty()) {
        variable(t, g, script);
        return;
    }
    const bool quotes = (g.flags & HtmlSegment::kDefaultFromValue) != 0;
    if (quotes) send("\"");
    writeValue(v.text, v.data, script, "ECHO");
    if (quotes) send("\"");
}

void Writer::link(const tcpHTML& t, const HtmlSegment& g) {
    const std::string code(t.textOf(g.name));
    const XFcgiTranEntry* entry = nullptr;
    for (const std::vector<XFcgiTranEntry>* table : {xFcgiLocalTranTab(), xFcgiRemoteTranTab()}) {
        if (!table || entry) continue;
        for (const XFcgiTranEntry& e : *table)
            if (eqNoCase(e.code, code)) {
                entry = &e;
                break;
            }
    }
    if (!entry) {
        std::string text = "**** Unknown transaction code ";
        xFcgiEscapeData(code, text);
        text += "\n";
        send(text);
        logPrintf("# Unknown transaction code %s\n", code.c_str());
        return;
    }
    if (g.flags & HtmlSegment::kHref) send(entry->prefix);
    send(entry->target + "?TID=" + code);
    if (g.flags & HtmlSegment::kSid) {
        xFcgiMarkSidUsed();
        int idx = searchOutTab("SID", 3);
        if (idx < 0) {
            send("&SID=0");
        } else {
            std::string text = "&SID=";
            std::string value(xFcgiVarValue(idx));
            if (xFcgiVarMark(idx) != XVarMark::Raw)
                xFcgiEscapeData(value, text);
            else
                text += value;
            send(text);
        }
    }
}

// An #IF chain from segment at: the first branch whose condition is above
// 0 (or the #ELSE) is written; returns the segment after the End.
size_t Writer::conditions(const tcpHTML& t, size_t at, size_t last, Ctx script) {
    const HtmlSegment& head = t.segments[at];
    size_t end = std::min<size_t>(head.endAt, last);
    if (end <= at) end = last;
    size_t k = at;
    while (k < end) {
        const HtmlSegment& g = t.segments[k];
        if (g.kind == SEG_IF || g.kind == SEG_ELIF) {
            if (exprToInt(execExpr(g.expr).text) > 0) {
                size_t stop = g.elseAt > k ? std::min<size_t>(g.elseAt, end) : end;
                walk(t, k + 1, stop, script);
                break;
            }
        } else if (g.kind == SEG_ELSE) {
            walk(t, k + 1, end, script);
            break;
        } else {
            break;
        }
        if (g.elseAt <= k) break;
        k = g.elseAt;
    }
    return std::min(end + 1, last);
}

// A #BEGIN block written once per row, "x.count" times (else MAX times).
size_t Writer::repeat(const tcpHTML& t, size_t at, size_t last, Ctx script) {
    const HtmlSegment& g = t.segments[at];
    size_t end = std::min<size_t>(g.endAt, last);
    if (end <= at) end = last;
    const std::string name(t.textOf(g.name));
    const std::string countName = name + ".count";
    const std::string indexName = name + ".index";
    int idx = searchOutTab(countName.c_str(), static_cast<int>(countName.size()));
    int64_t count = idx >= 0 ? exprToInt(xFcgiVarValue(idx)) : g.maxRep;
    xFcgiChgVar(indexName, "00000", XVarMark::Raw);
    if (count > kMaxRows) {
        logPrintf("#Block %s: %lld rows cut to %lld\n", name.c_str(), static_cast<long long>(count),
                  static_cast<long long>(kMaxRows));
        count = kMaxRows;
    }
    for (int64_t row = 1; row <= count; ++row) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%05lld", static_cast<long long>(row));
        xFcgiChgVar(indexName, buf, XVarMark::Raw);
        if (!xFcgiPushSubscript(static_cast<int>(row))) {
            logPrintf("#Block %s nested deeper than %d: not written\n", name.c_str(),
                      xFcgiMaxSubscripts);
            break;
        }
        walk(t, at + 1, end, script);
        xFcgiPopSubscript();
    }
    return std::min(end + 1, last);
}

void Writer::walk(const tcpHTML& t, size_t first, size_t last, Ctx script) {
    if (m_page.walkDepth >= kMaxWalkDepth) {
        logPrintf("#Page %s nested deeper than %d: not written\n", t.path.c_str(), kMaxWalkDepth);
        return;
    }
    struct Depth {
        int& d;
        explicit Depth(int& v) : d(v) { ++d; }
        ~Depth() { --d; }
    } depth(m_page.walkDepth);
    last = std::min(last, t.segments.size());
    size_t i = first;
    while (i < last) {
        if (++m_page.visits > kMaxVisits) {
            if (m_page.visits == kMaxVisits + 1)
                logPrintf("#Page %s stopped after %lld segments\n", m_page.outer->path.c_str(),
                          kMaxVisits);
            return;
        }
        if (!exprContainsIndex().empty()) {
            xFcgiChgVar("contains.index", exprContainsIndex(), XVarMark::Raw);
            exprClearContainsIndex();
        }
        const HtmlSegment& g = t.segments[i];
        const Ctx sc = (g.flags & HtmlSegment::kInScriptString) ? Ctx::ScriptString
                       : (g.flags & HtmlSegment::kInScript)     ? Ctx::ScriptCode
                       : (g.flags & HtmlSegment::kInUrlQuery)   ? Ctx::UrlQuery
                                                                 : script;
        switch (g.kind) {
        case SEG_TEXT:
            xFcgiSendText(t.textOf(g.own));
            break;
        case SEG_VARIABLE:
        case SEG_VARCHAR:
        case SEG_INT:
        case SEG_FLOAT:
        case 5:
        case 6:
        case 7:
        case 8:
            if (g.direction & HtmlSegment::kOutput)
                variable(t, g, sc, i > 0 && t.segments[i - 1].kind == SEG_TEXTAREA);
            break;
        case SEG_BOOL:
            boolean(t, g);
            break;
        case SEG_SUBMIT:
        case SEG_TEXTAREA:
        case SEG_CHECKBOX:
        case SEG_RADIO:
        case SEG_SELECT:
        case SEG_ELIF:
        case SEG_ELSE:
        case SEG_END:
            break;
        case SEG_SUBSCRIPT:
            subscripts(g);
            break;
        case SEG_INCLUDE:
            include(t, g, sc);
            break;
        case SEG_SET:
        case SEG_ECHO:
            setOrEcho(t, g, sc);
            break;
        case SEG_IF:
            i = conditions(t, i, last, sc);
            continue;
        case SEG_BEGIN:
            i = repeat(t, i, last, sc);
            continue;
        case SEG_TRANSACTION:
            link(t, g);
            break;
        default: {
            char buf[80];
            std::snprintf(buf, sizeof buf, "<p>**** Unknown type %d at %d</p>\n", g.kind,
                          static_cast<int>(i));
            xFcgiSendText(buf);
            break;
        }
        }
        ++i;
    }
}

// The screen fields of a table as the output table binds them.
std::vector<XFcgiBoundField> boundFields(const TemplateFieldTable& table) {
    std::vector<XFcgiBoundField> out;
    out.reserve(table.size());
    for (const TemplateField& f : table) {
        XFcgiBoundField b;
        b.name = f.name;
        b.length = f.length;
        b.location = f.location;
        b.occurrences = f.occurrences;
        b.elemLength = f.elementLength ? f.elementLength : f.length;
        out.push_back(std::move(b));
    }
    return out;
}

void cookieFromVariable(const char* cookie, const char* variable) {
    int idx = searchOutTab(variable, static_cast<int>(std::strlen(variable)));
    if (idx >= 0) {
        std::string value(xFcgiVarValue(idx));
        xFcgiPutCookie(cookie, value.c_str(), 0, nullptr);
    } else if (const char* env = std::getenv(variable)) {
        xFcgiPutCookie(cookie, env, 0, nullptr);
    }
}

}  // namespace

int xFcgiSendPreloadedTemplate(tcpHTML* t, const XFcgiTranEntry* transaction,
                               const char* screenData) {
    if (!t) return 0;
    Page page;
    page.outer = t;
    page.tran = transaction;
    page.dataDesc = (t->flags & tcpHTML::kWebTables) != 0;
    page.hostStyle = xFcgiHostStyle(*t);
    const bool trace = (logCtrlFlgs & LOG_DETAIL) != 0;

    // Screen data: the one given, else the saved copy, else the template's.
    std::string saved;
    const char* data = nullptr;
    size_t length = 0;
    if (screenData) {
        data = screenData;
        length = static_cast<size_t>(std::max(t->mcsCount, 0));
    } else if (xFcgiTakeMcsData(saved)) {
        data = saved.data();
        length = saved.size();
    } else if (t->mcsData) {
        data = t->mcsData;
        length = static_cast<size_t>(std::max(t->mcsCount, 0));
        if (t->mcsCapacity) length = std::min(length, t->mcsCapacity);
    }
    if (data && !t->towebFields.empty()) {
        page.bound = &t->towebFields;
        if (trace) logPrintf("#Using toWeb table: count (%d)\n", static_cast<int>(length));
    } else if (data && !t->mainFields.empty()) {
        page.bound = &t->mainFields;
        if (trace) logPrintf("#Using dataVar table: count (%d)\n", static_cast<int>(length));
    } else {
        length = 0;
        if (trace) logPrintf("#Missing data table: count (%d)\n", 0);
    }
    if (page.bound) {
        xFcgiBindScreen(boundFields(*page.bound), data, length);
        xFcgiPutBoundFields();
    }
    if (trace) {
        logPrintf("#Sending template: %s [MCS size:%d; count:%d]\n", xFcgiRelDir(t->path.c_str()),
                  t->mcsSize, static_cast<int>(length));
        int shown = std::min(t->mcsSize, static_cast<int>(length));
        if (shown > 0) logDumpHex("MCS DATA", data, shown);
    }

    // Headers.
    xFcgiSendContentType();
    std::string header;
    if (xFcgiTakeHdrData(header)) {
        if (trace) logDumpHex("HTTP Header", header.data(), static_cast<int>(header.size()));
        xFcgiSendText(header);
    }
    if (page.dataDesc) {
        cookieFromVariable("PIDPOOL_ID", "pib.pidPoolValue");
        if (t->flags & tcpHTML::kFilled)
            xFcgiPutCookie("LAST_QORIC_FORM", xFcgiRelDir(t->path.c_str()), 0, nullptr);
    }
    xFcgiSendText("\r\n");

    // Body.
    if (!t->segments.empty()) {
        TemplateInUse hold(t);
        if (xFcgiTableMoved() && trace) traceTable(false);
        Writer(page).walk(*t, 0, t->segments.size(), Ctx::Html);
        xFcgiFlushText();
    } else {
        xFcgiFlushText();
        for (size_t at = 0; at < t->text.size(); at += 1024) {
            size_t piece = std::min<size_t>(1024, t->text.size() - at);
            errno = 0;
            if (FCGI_fwrite(const_cast<char*>(t->text.data() + at), 1, piece, FCGI_stdout) != piece) {
                fcgiError(errno, __FILE__, __LINE__);
                break;
            }
        }
    }

    xFcgiUnbindScreen();
    xFcgiSaveMcsData(nullptr, 0);
    xFcgiSaveHdrData(nullptr, 0);
    xFcgiContentTypeReset();
    return 1;
}

int xFcgiSendTemplate(const char* name, const XFcgiTranEntry* transaction) {
    tcpHTML* t = name ? xFcgiGetFT(name) : nullptr;
    if (!t) {
        xFcgiSendContentType();
        std::string text = "\r\nUnable to find file ";
        xFcgiEscapeData(name ? name : "", text);
        text += " (1)<br>\n";
        xFcgiSendText(text);
        xFcgiFlushText();
        xFcgiContentTypeReset();
        return 0;
    }
    return xFcgiSendPreloadedTemplate(t, transaction, nullptr);
}
