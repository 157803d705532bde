// The template compiler: one pass over a template's text that cuts it into
// segments (literal text, placeholders, directives, form fields), then the
// tidy-and-link pass (xfcgilink.cpp). See xfcgihtml.h for the language.
#include "xfcgihtml.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>

#include "logprint.h"

namespace {

constexpr int kMaxNest = 128;
constexpr int kMaxSize = 1000000;   // sizes and counts read from the text
constexpr size_t kMaxDezurName = 31;

bool isWs(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool eqNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

std::string upperOf(std::string_view v) {
    std::string out(v);
    for (char& c : out) c = upper(c);
    return out;
}

// Decimal digits of v (quotes, '=' and blanks before them skipped), capped.
int numberOf(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && (isWs(v[i]) || v[i] == '=' || v[i] == '"' || v[i] == '\''))
        ++i;
    long long n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = std::min<long long>(n * 10 + (v[i] - '0'), kMaxSize);
    return static_cast<int>(n);
}

// What a placeholder body ("name KEYWORDS") says.
struct Placeholder {
    bool valid = false;
    size_t start = 0, end = 0;      // the whole item in the text
    size_t bodyStart = 0, bodyEnd = 0;
    uint8_t kind = SEG_VARIABLE;
    uint32_t flags = 0;
    TextSpan name, value, defValue;
    int size = 0;
    bool explicitSize = false;
    bool isExpr = false;
};

struct TagItem {
    bool isPlaceholder = false;
    size_t start = 0, end = 0;
    std::string key;                // attribute name, upper case
    size_t vStart = 0, vEnd = 0;    // attribute value (without quotes)
    bool hasValue = false, quoted = false;
    int attr = -1;                  // placeholder inside the value of this item
};

struct Block {
    int seg = -1;                   // -1: a #BEGIN without NAME (no segment)
    bool isBegin = false;
    TextSpan name;
};

class Compiler {
public:
    Compiler(tcpHTML& t, FILE* errors) : T(t), s(t.text), n(t.text.size()), err(errors) {}
    void run();

private:
    tcpHTML& T;
    const std::string& s;
    const size_t n;
    FILE* err;

    size_t pos = 0, textStart = 0;
    size_t lineScan = 0;
    uint32_t lineNo = 1;
    int level = 0, beginDepth = 0;
    std::vector<Block> blocks;
    bool inScript = false;
    // Inside a SCRIPT element: the quote of the JavaScript string literal
    // being read (', " or `), '/' in a // comment, '*' in a /* comment,
    // 0 in code.
    char scriptState = 0;
    char delim = 0;                 // DezUR substitution delimiter
    uint16_t dezurLocation = 0;

    int selectSeg = -1, selectLongest = 0, selectOptionSize = 0;
    bool selectSized = false;
    int textareaSeg = -1;
    int64_t textareaSum = 0;   // placeholder sizes inside the open text area

    // ---- helpers
    uint32_t lineAt(size_t p) {
        p = std::min(p, n);
        for (; lineScan < p; ++lineScan)
            if (s[lineScan] == '\n') ++lineNo;
        return lineNo;
    }
    TextSpan span(size_t a, size_t b) const {
        TextSpan t;
        t.off = static_cast<uint32_t>(a);
        t.len = static_cast<uint32_t>(b > a ? b - a : 0);
        return t;
    }
    std::string_view view(TextSpan sp) const { return T.textOf(sp); }
    bool at(size_t p, std::string_view w) const {
        if (p + w.size() > n) return false;
        for (size_t i = 0; i < w.size(); ++i)
            if (upper(s[p + i]) != upper(w[i])) return false;
        return true;
    }
    size_t skipWs(size_t p) const {
        while (p < n && isWs(s[p])) ++p;
        return p;
    }
    const char* path() const { return T.path.c_str(); }

    void message(bool isError, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void emitText(size_t end);
    int addSegment(HtmlSegment g, size_t where);

    // ---- items
    bool scanBody(size_t p, size_t limit, bool needClose, Placeholder& ph) const;
    bool scanPlaceholder(size_t p, Placeholder& ph) const;
    int placeholderSegment(const Placeholder& ph, bool inTag);
    bool inUrlQuery(size_t p) const;
    bool dezurName();
    bool directive();
    bool formTag();
    static bool isQuote(char c) { return c == '\'' || c == '"' || c == '`'; }
    size_t scriptChar(size_t p);

    // ---- directives
    struct Attr {
        std::string key;
        size_t vStart = 0, vEnd = 0;
        bool hasValue = false, quoted = false, closed = true;
    };
    size_t parseAttrs(size_t p, bool colonEnds, std::vector<Attr>& out);
    const Attr* find(const std::vector<Attr>& a, std::string_view key) const {
        for (const Attr& x : a)
            if (x.key == key) return &x;
        return nullptr;
    }
    size_t directiveEnd(size_t p) const {
        size_t e = s.find("-->", p);
        return e == std::string::npos ? n : e + 3;
    }
    void openIf(size_t start, TextSpan expr);
    void elseBranch(size_t start, uint8_t kind, TextSpan expr);
    void openBegin(size_t start, TextSpan name, const std::vector<Attr>& attrs, int legacy);
    void closeBlock(size_t start, TextSpan name, bool legacyEq);
    void setOrEcho(size_t start, size_t attrsStart, size_t attrsEnd, bool isSet,
                   const std::vector<Attr>& attrs);
    void substitutionList(size_t p, size_t end);
    void compileExpr(HtmlSegment& g, bool valueMode) {
        T.errors += parseExpr(g.expr, view(g.value), valueMode, err, path());
    }

    // ---- form tags
    size_t scanTag(size_t p, std::vector<TagItem>& items) const;
    void finishTag(const std::string& tag, size_t tagStart, size_t tagEnd,
                   const std::vector<TagItem>& items, const std::vector<int>& phSegs);
};

void Compiler::message(bool isError, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (isError)
        ++T.errors;
    else
        ++T.warnings;
    if (err)
        std::fputs(buf, err);
    else
        logPrintf("#%s", buf);
}

void Compiler::emitText(size_t end) {
    end = std::min(end, n);
    if (end > textStart) {
        HtmlSegment g;
        g.kind = g.firstKind = SEG_TEXT;
        g.own = span(textStart, end);
        addSegment(std::move(g), textStart);
    }
    textStart = std::max(textStart, end);
}

int Compiler::addSegment(HtmlSegment g, size_t where) {
    g.line = lineAt(where);
    if (g.kind != SEG_ELSE && g.kind != SEG_ELIF && g.kind != SEG_END && g.kind != SEG_IF &&
        g.kind != SEG_BEGIN)
        g.level = level;
    if (inScript) g.flags |= HtmlSegment::kInScript;
    if (inScript && isQuote(scriptState)) g.flags |= HtmlSegment::kInScriptString;
    T.segments.push_back(std::move(g));
    return static_cast<int>(T.segments.size() - 1);
}

// ---------------------------------------------------------- placeholders --

// The name and keywords from p: the name runs to white space, "}", "," or
// limit; keywords follow up to "}" (consumed when needClose), ">" or limit.
bool Compiler::scanBody(size_t p, size_t limit, bool needClose, Placeholder& ph) const {
    limit = std::min(limit, n);
    ph.bodyStart = p;
    if (p < limit && s[p] == '$') {
        ph.kind = SEG_TRANSACTION;
        ++p;
    } else if (p < limit && s[p] == '*') {
        ph.kind = SEG_TRANSACTION;
        ph.flags |= HtmlSegment::kSid;
        ++p;
    } else if (p < limit && s[p] == '?') {
        ++p;
    }
    size_t nameStart = p;
    while (p < limit && !isWs(s[p]) && s[p] != '}' && s[p] != ',') ++p;
    if (p == nameStart) return false;
    ph.name = span(nameStart, p);
    if (ph.kind != SEG_TRANSACTION)
        ph.isExpr = view(ph.name).find_first_of("(+-*%/)") != std::string_view::npos;

    // Value of a keyword: blanks, an optional "=", blanks, then a quoted
    // text or a run up to white space, "}" or ">".
    auto value = [&](size_t& q, bool stopAtDquote) -> TextSpan {
        size_t r = q;
        while (r < limit && isBlank(s[r])) ++r;
        if (r < limit && s[r] == '=') {
            ++r;
            while (r < limit && isBlank(s[r])) ++r;
        } else if (!stopAtDquote) {
            q = r;
            return TextSpan{};
        }
        if (r < limit && (s[r] == '\'' || s[r] == '"')) {
            char quote = s[r++];
            size_t e = r;
            while (e < limit && s[e] != quote) ++e;
            q = e < limit ? e + 1 : e;
            return span(r, e);
        }
        size_t e = r;
        while (e < limit && !isWs(s[e]) && s[e] != '}' && s[e] != '>' &&
               !(stopAtDquote && s[e] == '"'))
            ++e;
        q = e;
        return span(r, e);
    };

    bool closed = false;
    while (p < limit) {
        char c = s[p];
        if (c == '}') {
            ++p;
            closed = true;
            break;
        }
        if (c == '>') break;
        if (isWs(c) || c == ',') {
            ++p;
            continue;
        }
        size_t w = p;
        while (p < limit && (isAlnum(s[p]) || s[p] == '_')) ++p;
        if (p == w) {
            ++p;  // a character that starts no keyword
            continue;
        }
        const std::string word = upperOf(std::string_view(s).substr(w, p - w));
        if (word == "SIZE") {
            ph.size = numberOf(view(value(p, false)));
            ph.explicitSize = true;
        } else if (word == "ALTER") {
            ph.flags |= HtmlSegment::kDefaultFromValue;
        } else if (word == "INT") {
            ph.kind = SEG_INT;
        } else if (word == "FLOAT") {
            ph.kind = SEG_FLOAT;
        } else if (word == "HREF" || word == "IMAGES") {
            TextSpan v = value(p, false);
            bool yes = v.empty() || upper(view(v)[0]) != 'N';
            if (yes)
                ph.flags |= word == "HREF"
                                ? HtmlSegment::kHref | HtmlSegment::kSid | HtmlSegment::kTid
                                : HtmlSegment::kImages;
        } else if (word == "VARCHAR" || word == "CHAR") {
            ph.kind = word == "CHAR" ? SEG_VARIABLE : SEG_VARCHAR;
            ph.size = numberOf(view(value(p, false)));
            ph.explicitSize = true;
        } else if (word == "BOOL") {
            ph.kind = SEG_BOOL;
            ph.size = 1;
            ph.explicitSize = true;
            ph.value = value(p, true);
            // An optional false text: quoted, or a word that is no keyword.
            size_t q = p;
            while (q < limit && isBlank(s[q])) ++q;
            if (q < limit && s[q] == '\'') {
                size_t e = q + 1;
                while (e < limit && s[e] != '\'') ++e;
                ph.defValue = span(q + 1, e);
                p = e < limit ? e + 1 : e;
            } else if (q < limit && s[q] != '}' && s[q] != '>' && !isWs(s[q])) {
                size_t e = q;
                while (e < limit && !isWs(s[e]) && s[e] != '}' && s[e] != '>') ++e;
                static const char* const kKeywords[] = {"SIZE", "ALTER", "INT", "FLOAT",
                                                        "HREF", "VARCHAR", "CHAR", "BOOL",
                                                        "ECHO", "IMAGES"};
                std::string next = upperOf(std::string_view(s).substr(q, e - q));
                size_t eqPos = next.find('=');
                if (eqPos != std::string::npos) next.resize(eqPos);
                bool keyword = false;
                for (const char* k : kKeywords) keyword = keyword || next == k;
                if (!keyword) {
                    ph.defValue = span(q, e);
                    p = e;
                }
            }
        } else if (word == "ECHO") {
            ph.kind = SEG_ECHO;
        } else {
            value(p, false);  // an unknown keyword and its value
        }
    }
    (void)needClose;  // without its "}" the item ends where the keywords stopped
    ph.bodyEnd = closed ? p - 1 : p;
    ph.end = p;
    ph.valid = true;
    return true;
}

bool Compiler::scanPlaceholder(size_t p, Placeholder& ph) const {
    ph = Placeholder{};
    ph.start = p;
    if (!scanBody(p + 2, n, true, ph)) return false;
    return true;
}

// Whether position p lies in the query of a URL: inside a tag, in the
// quoted value of an ACTION, HREF or SRC attribute, behind its "?".
bool Compiler::inUrlQuery(size_t p) const {
    bool query = false;
    size_t q = p;
    while (true) {
        if (q == 0) return false;
        const char c = s[--q];
        if (c == '<' || c == '>') return false;
        if (c == '?') query = true;
        if (c == '"' || c == '\'') break;
    }
    if (!query) return false;
    while (q > 0 && isWs(s[q - 1])) --q;
    if (q == 0 || s[q - 1] != '=') return false;
    --q;
    while (q > 0 && isWs(s[q - 1])) --q;
    size_t nameEnd = q;
    while (q > 0 && isAlnum(s[q - 1])) --q;
    const std::string key = upperOf(std::string_view(s).substr(q, nameEnd - q));
    if (key != "ACTION" && key != "HREF" && key != "SRC") return false;
    while (q > 0 && s[q - 1] != '<' && s[q - 1] != '>') --q;
    return q > 0 && s[q - 1] == '<';
}

// Makes the segment of a placeholder; text before it becomes a Text segment.
int Compiler::placeholderSegment(const Placeholder& ph, bool inTag) {
    emitText(ph.start);
    HtmlSegment g;
    g.kind = g.firstKind = ph.kind;
    g.flags = ph.flags;
    if (!inScript && inUrlQuery(ph.start)) g.flags |= HtmlSegment::kInUrlQuery;
    g.direction = HtmlSegment::kOutput;
    g.name = ph.name;
    g.value = ph.value;
    g.defValue = ph.defValue;
    g.own = span(ph.bodyStart, ph.bodyEnd);
    g.size = ph.explicitSize ? ph.size : 0;
    if (ph.isExpr) {
        // An expression placeholder is written as the value it computes.
        g.kind = SEG_ECHO;
        g.flags |= HtmlSegment::kCompute;
        g.value = ph.name;
        g.name = TextSpan{};
        compileExpr(g, true);
    }
    int idx = addSegment(std::move(g), ph.start);
    textStart = ph.end;
    if (!inTag && textareaSeg >= 0) textareaSum += T.segments[static_cast<size_t>(idx)].size;
    return idx;
}

// "~name~" after #DEZUR-CONVERTED (or the substitution list's delimiter).
bool Compiler::dezurName() {
    const size_t len = xFcgiDezurNameAt(s, pos, delim);
    if (!len) return false;
    const size_t e = pos + 1 + len;
    emitText(pos);
    HtmlSegment g;
    g.kind = g.firstKind = SEG_VARIABLE;
    g.direction = HtmlSegment::kOutput;
    g.name = span(pos + 1, e);
    g.own = g.name;
    addSegment(std::move(g), pos);
    pos = textStart = e + 1;
    return true;
}

// ------------------------------------------------------------ directives --

// Attributes from p up to "-->" (or, with colonEnds, a ":" outside quotes,
// after which the rest up to ">" or the line end is passed over). Returns
// the position behind the directive.
size_t Compiler::parseAttrs(size_t p, bool colonEnds, std::vector<Attr>& out) {
    while (true) {
        p = skipWs(p);
        if (p >= n) return n;
        if (at(p, "-->")) return p + 3;
        if (colonEnds && s[p] == ':') {
            while (p < n && s[p] != '>' && s[p] != '\n') ++p;
            return p < n && s[p] == '>' ? p + 1 : p;
        }
        Attr a;
        if (s[p] == '"' || s[p] == '\'') {
            // A bare quoted text.
        } else {
            size_t w = p;
            while (p < n && !isWs(s[p]) && s[p] != '=' && !at(p, "-->") &&
                   !(colonEnds && s[p] == ':'))
                ++p;
            a.key = upperOf(std::string_view(s).substr(w, p - w));
            size_t q = skipWs(p);
            if (q < n && s[q] == '=') {
                p = skipWs(q + 1);  // blanks may stand on both sides of "="
                a.hasValue = true;
            } else {
                out.push_back(a);
                continue;
            }
        }
        a.hasValue = true;
        if (p < n && (s[p] == '"' || s[p] == '\'')) {
            char quote = s[p];
            a.quoted = true;
            a.vStart = p + 1;
            size_t close = s.find(quote, p + 1);
            size_t stop = s.find("-->", p + 1);
            if (close == std::string::npos || (stop != std::string::npos && stop < close)) {
                a.closed = false;
                a.vEnd = stop == std::string::npos ? n : stop;
                p = a.vEnd;
            } else {
                a.vEnd = close;
                p = close + 1;
            }
        } else {
            a.vStart = p;
            while (p < n && !isWs(s[p]) && !at(p, "-->")) ++p;
            a.vEnd = p;
        }
        out.push_back(a);
    }
}

void Compiler::openIf(size_t start, TextSpan expr) {
    emitText(start);
    if (level >= kMaxNest)
        message(true, "Line %d: Too much nesting of #IF markers in %s\n", lineAt(start), path());
    HtmlSegment g;
    g.kind = g.firstKind = SEG_IF;
    g.direction = HtmlSegment::kOutput;
    g.flags |= HtmlSegment::kInline;
    g.maxRep = 1;
    g.value = expr;
    g.level = level;
    compileExpr(g, false);
    int idx = addSegment(std::move(g), start);
    blocks.push_back(Block{idx, false, TextSpan{}});
    ++level;
}

void Compiler::elseBranch(size_t start, uint8_t kind, TextSpan expr) {
    emitText(start);
    if (blocks.empty()) {
        message(true, "Line %d: #%s without #IF in %s\n", lineAt(start),
                kind == SEG_ELSE ? "ELSE" : "ELIF", path());
        return;
    }
    HtmlSegment g;
    g.kind = g.firstKind = kind;
    g.direction = HtmlSegment::kOutput;
    g.level = level - 1;
    if (kind == SEG_ELIF) {
        g.flags |= HtmlSegment::kInline;
        g.maxRep = 1;
        g.value = expr;
        compileExpr(g, false);
    }
    addSegment(std::move(g), start);
}

// legacy: 0 #BEGIN NAME=, 1 #BEGIN=name, 2 BGN=name.
void Compiler::openBegin(size_t start, TextSpan name, const std::vector<Attr>& attrs,
                         int legacy) {
    emitText(start);
    if (name.empty()) {
        message(true, "#BEGIN is missing NAME= in %s\n", path());
        blocks.push_back(Block{-1, true, TextSpan{}});
        return;
    }
    if (level >= kMaxNest) {
        if (legacy == 0)
            message(true, "Line %d: Too much nesting of #BEGIN markers in %s\n", lineAt(start),
                    path());
        else if (legacy == 1)
            message(true, "Too much nesting of #BEGIN markers in %s\n", path());
        else
            message(true, "Too much nesting of --BGN markers in %s\n", path());
    }
    HtmlSegment g;
    g.kind = g.firstKind = SEG_BEGIN;
    g.direction = HtmlSegment::kOutput;
    g.name = name;
    g.level = level;
    g.maxRep = 1;
    bool inlineWanted = false;
    for (const Attr& a : attrs) {
        std::string_view v = std::string_view(s).substr(a.vStart, a.vEnd - a.vStart);
        if (a.key == "MAX" && a.hasValue) {
            if (!v.empty() && v[0] == '*') {
                g.maxRep = -1;
                g.flags |= HtmlSegment::kUnlimited;
            } else {
                g.maxRep = numberOf(v);
            }
        } else if (a.key == "INLINE") {
            if (!a.hasValue)
                message(false, "Warning! Replace INLINE with INLINE=\"YES\" in %s\n", path());
            inlineWanted = !a.hasValue || (!v.empty() && upper(v[0]) == 'Y');
        } else if (a.key == "RADIOGROUP" && a.hasValue && !v.empty() && upper(v[0]) == 'Y') {
            g.flags |= HtmlSegment::kRadioGroup;
        }
    }
    if (inlineWanted && g.maxRep < 2 && !(g.flags & HtmlSegment::kUnlimited))
        g.flags |= HtmlSegment::kInline;
    int idx = addSegment(std::move(g), start);
    blocks.push_back(Block{idx, true, name});
    ++level;
    ++beginDepth;
}

void Compiler::closeBlock(size_t start, TextSpan name, bool legacyEq) {
    emitText(start);
    if (blocks.empty()) {
        ++T.errors;
        uint32_t line = lineAt(start);
        if (err) {
            std::fputs("\nMissing #BEGIN or #IF\n", err);
            std::fprintf(err, legacyEq ? "Too many END= markers in %s\n"
                                       : "Too many --#END markers in %s\n",
                         path());
            std::fprintf(err, "Around line %d [%.60s] ***\n", static_cast<int>(line),
                         s.c_str() + start);
        } else {
            logPrintf(legacyEq ? "# ERROR: Too many END= markers around line %d of %s\n"
                               : "# ERROR: Too many --#ENDif markers around line %d of %s\n",
                      static_cast<int>(line), path());
        }
        return;
    }
    Block b = blocks.back();
    blocks.pop_back();
    if (b.seg < 0) return;  // the end of a #BEGIN without NAME
    --level;
    if (b.isBegin) --beginDepth;
    if (b.isBegin && !name.empty() && !eqNoCase(view(name), view(b.name))) {
        // A block check: counted, written to the error stream only.
        std::string_view bn = view(b.name), en = view(name);
        ++T.warnings;
        if (err)
            std::fprintf(err, "Warning! Block '%.*s' not match end tag '%.*s'\n",
                         static_cast<int>(bn.size()), bn.data(), static_cast<int>(en.size()),
                         en.data());
    }
    HtmlSegment g;
    g.kind = g.firstKind = SEG_END;
    g.direction = HtmlSegment::kOutput;
    g.name = name;
    g.level = level;
    addSegment(std::move(g), start);
}

void Compiler::setOrEcho(size_t start, size_t attrsStart, size_t attrsEnd, bool isSet,
                         const std::vector<Attr>& attrs) {
    emitText(start);
    const Attr* var = find(attrs, "VAR");
    const Attr* val = find(attrs, "VALUE");
    const Attr* comp = find(attrs, "COMPUTE");
    if (!comp) comp = find(attrs, "EXPR");
    const uint32_t line = lineAt(start);
    if (isSet && !var) {
        message(true, "Line %d: Missing VAR= in #SET in %s\n", static_cast<int>(line), path());
        return;
    }
    if (isSet && !val && !comp) {
        message(true, "Line %d: Missing VALUE= in #SET in %s\n", static_cast<int>(line), path());
        return;
    }
    if (!isSet && !var && !val && !comp) {
        message(true, "Line %d: Missing VAR= or VALUE= in #ECHO in %s\n", static_cast<int>(line),
                path());
        return;
    }
    HtmlSegment g;
    g.kind = g.firstKind = isSet ? SEG_SET : SEG_ECHO;
    g.direction = isSet ? 0 : HtmlSegment::kOutput;
    if (var) g.name = span(var->vStart, var->vEnd);
    size_t ownEnd = attrsEnd;
    while (ownEnd > attrsStart && isWs(s[ownEnd - 1])) --ownEnd;
    g.own = span(skipWs(attrsStart), ownEnd);
    if (comp) {
        g.flags |= HtmlSegment::kCompute;
        g.value = span(comp->vStart, comp->vEnd);
        compileExpr(g, true);
    } else if (val) {
        g.value = span(val->vStart, val->vEnd);
    }
    addSegment(std::move(g), start);
}

// "(c" then entries name(length,count[,'picture']) = alias; each adds a
// Varchar field to the main table.
void Compiler::substitutionList(size_t p, size_t end) {
    T.flags |= tcpHTML::kWebTables;
    p = skipWs(p);
    if (p + 1 < end && s[p] == '(' && !isAlnum(s[p + 1]) && !isWs(s[p + 1])) {
        delim = s[p + 1];
        p += 2;
    }
    auto nameRun = [&](size_t& q) {
        size_t a = q;
        while (q < end && (isAlnum(s[q]) || s[q] == '_' || s[q] == '-' || s[q] == '.')) ++q;
        return std::string(s, a, q - a);
    };
    while (true) {
        p = skipWs(p);
        if (p >= end || at(p, "-->")) break;
        size_t entryStart = p;
        std::string cob = nameRun(p);
        p = skipWs(p);
        int length = 0, count = 0;
        std::string picture;
        bool ok = !cob.empty() && p < end && s[p] == '(';
        if (ok) {
            // The closing parenthesis outside the quoted picture.
            size_t close = p + 1;
            for (bool quoted = false; close < end && (quoted || s[close] != ')'); ++close)
                if (s[close] == '\'') quoted = !quoted;
            std::string_view args = std::string_view(s).substr(p + 1, close - p - 1);
            length = numberOf(args);
            size_t c1 = args.find(',');
            if (c1 != std::string_view::npos) {
                count = numberOf(args.substr(c1 + 1));
                size_t q1 = args.find('\'', c1);
                if (q1 != std::string_view::npos) {
                    size_t q2 = args.find('\'', q1 + 1);
                    picture = std::string(args.substr(q1 + 1, q2 == std::string_view::npos
                                                                  ? std::string_view::npos
                                                                  : q2 - q1 - 1));
                }
            }
            p = close < end ? close + 1 : end;
            p = skipWs(p);
            ok = p < end && s[p] == '=';
        }
        std::string alias;
        if (ok) {
            p = skipWs(p + 1);
            alias = nameRun(p);
            ok = !alias.empty();
        }
        if (ok) {
            TemplateField f;
            f.kind = SEG_VARCHAR;
            f.name = alias;
            f.cobName = cob;
            f.length = static_cast<uint32_t>(std::max(length, 1));
            f.occurrences = static_cast<int16_t>(std::min(count, 32767));
            f.elementLength = static_cast<uint16_t>(f.occurrences >= 2 ? std::min(length, 65535) : 0);
            f.location = dezurLocation;
            f.picture = picture;
            long long next = dezurLocation + static_cast<long long>(f.length) *
                                                 (f.occurrences >= 2 ? f.occurrences : 1);
            dezurLocation = static_cast<uint16_t>(std::min<long long>(next, 65535));
            T.mainFields.push_back(std::move(f));
        } else {
            message(false, "Warning! Bad substitution entry '%.40s' in %s\n",
                    std::string(s, entryStart, std::min<size_t>(40, end - entryStart)).c_str(),
                    path());
        }
        size_t semi = s.find(';', p);
        if (semi == std::string::npos || semi >= end) break;
        p = semi + 1;
        if (p <= entryStart) break;
    }
}

bool Compiler::directive() {
    const char* text = s.c_str() + pos;
    const size_t start = pos;
    int skip = 0;
    auto is = [&](const char* name) { return isDirective(text, name, &skip) > 0; };
    std::vector<Attr> attrs;

    if (is("#DEZUR-SUBSTITUTION-LIST")) {
        size_t end = directiveEnd(pos + skip);
        emitText(start);
        substitutionList(pos + skip, end >= 3 && end <= n && at(end - 3, "-->") ? end - 3 : end);
        pos = textStart = end;
        return true;
    }
    if (is("#DEZUR-CONVERTED")) {
        emitText(start);
        delim = '~';
        pos = textStart = directiveEnd(pos + skip);
        return true;
    }
    if (is("#COMMENT")) {
        emitText(start);
        pos = textStart = directiveEnd(pos + skip);
        return true;
    }
    if (is("#ELSE-IF") || is("#ELSEIF") || is("#ELIF")) {
        size_t end = parseAttrs(pos + skip, false, attrs);
        const Attr* e = find(attrs, "EXPR");
        if (e && !e->quoted)
            message(true, "Line %d: Missing quote after #IF expr= in %s\n", lineAt(start), path());
        elseBranch(start, SEG_ELIF, e ? span(e->vStart, e->vEnd) : TextSpan{});
        pos = textStart = end;
        return true;
    }
    if (is("#ELSE")) {
        size_t end = parseAttrs(pos + skip, false, attrs);
        elseBranch(start, SEG_ELSE, TextSpan{});
        pos = textStart = end;
        return true;
    }
    if (is("#ENDIF") || is("#END")) {
        size_t end = parseAttrs(pos + skip, false, attrs);
        const Attr* nm = find(attrs, "NAME");
        closeBlock(start, nm ? span(nm->vStart, nm->vEnd) : TextSpan{}, false);
        pos = textStart = end;
        return true;
    }
    if (is("#BEGIN=") || is("BGN=")) {
        const int legacy = text[4] == '#' ? 1 : 2;
        size_t p = skipWs(pos + skip);
        size_t w = p;
        while (p < n && !isWs(s[p]) && s[p] != '>' && !at(p, "--")) ++p;
        TextSpan name = span(w, p);
        std::string_view nv = view(name);
        message(false,
                legacy == 1 ? "Warning! Replace #BEGIN= with #BEGIN NAME=%.*s in %s\n"
                            : "Warning! Replace BGN= with #BEGIN NAME=%.*s in %s\n",
                static_cast<int>(nv.size()), nv.data(), path());
        size_t end = parseAttrs(p, false, attrs);
        openBegin(start, name, attrs, legacy);
        pos = textStart = end;
        return true;
    }
    if (is("#BEGIN")) {
        size_t end = parseAttrs(pos + skip, false, attrs);
        const Attr* nm = find(attrs, "NAME");
        openBegin(start, nm && nm->hasValue ? span(nm->vStart, nm->vEnd) : TextSpan{}, attrs, 0);
        pos = textStart = end;
        return true;
    }
    if (is("END=")) {
        size_t p = skipWs(pos + skip);
        size_t w = p;
        while (p < n && !isWs(s[p]) && s[p] != '>' && !at(p, "--")) ++p;
        TextSpan name = span(w, p);
        std::string_view nv = view(name);
        message(false, "Warning! Replace END= with #END NAME=%.*s in %s\n",
                static_cast<int>(nv.size()), nv.data(), path());
        size_t end = directiveEnd(p);
        closeBlock(start, name, true);
        pos = textStart = end;
        return true;
    }
    if (is("#IF")) {
        size_t after = pos + skip;
        size_t end = parseAttrs(after, false, attrs);
        const Attr* e = find(attrs, "EXPR");
        TextSpan expr;
        if (e && e->hasValue) {
            if (!e->quoted)
                message(true, "Line %d: Missing quote after #IF expr= in %s\n", lineAt(start),
                        path());
            expr = span(e->vStart, e->vEnd);
        } else {
            // Older form: the text up to "-", ":" or ">" is the expression.
            size_t a = skipWs(after), b = a;
            while (b < n && s[b] != '-' && s[b] != ':' && s[b] != '>') ++b;
            size_t c = b;
            while (c > a && isWs(s[c - 1])) --c;
            expr = span(a, c);
            std::string_view ev = view(expr);
            message(false, "Warning! Change to #IF expr=\"%.*s\" in %s\n",
                    static_cast<int>(ev.size()), ev.data(), path());
            end = directiveEnd(b);
        }
        openIf(start, expr);
        pos = textStart = end;
        return true;
    }
    if (is("#INCLUDE")) {
        size_t end = parseAttrs(pos + skip, false, attrs);
        emitText(start);
        const Attr* f = find(attrs, "FILE");
        bool processed = true;
        if (!f) {
            for (const Attr& a : attrs)
                if (a.key.empty() && a.quoted) {
                    f = &a;  // a bare quoted name: sent as it is
                    processed = false;
                    break;
                }
        }
        if (!f || f->vEnd <= f->vStart) {
            message(true, "Line %d: #INCLUDE is missing FILE= in %s\n", lineAt(start), path());
        } else {
            const Attr* pr = find(attrs, "PROCESS");
            if (pr && pr->vEnd > pr->vStart && upper(s[pr->vStart]) == 'N') processed = false;
            HtmlSegment g;
            g.kind = g.firstKind = SEG_INCLUDE;
            g.direction = HtmlSegment::kOutput;
            g.name = g.own = span(f->vStart, f->vEnd);
            if (processed) g.flags |= HtmlSegment::kIncludeProcessed;
            addSegment(std::move(g), start);
        }
        pos = textStart = end;
        return true;
    }
    if (is("#SET") || is("#ECHO")) {
        const bool isSet = upper(text[5]) == 'S';
        size_t attrsStart = pos + skip;
        size_t end = parseAttrs(attrsStart, true, attrs);
        size_t attrsEnd = end >= 3 && at(end - 3, "-->") ? end - 3 : end;
        setOrEcho(start, attrsStart, attrsEnd, isSet, attrs);
        pos = textStart = end;
        return true;
    }
    return false;
}

// ------------------------------------------------------------- form tags --

// Attributes and placeholders of a tag from p (behind its name) to its ">".
// Returns the position behind the tag.
size_t Compiler::scanTag(size_t p, std::vector<TagItem>& items) const {
    auto placeholdersIn = [&](size_t a, size_t b, int attr) {
        for (size_t q = a; q + 1 < b; ++q) {
            if (s[q] == '\\' && s[q + 1] == '{' && (q == 0 || s[q - 1] != '\\')) {
                Placeholder ph;
                if (!scanPlaceholder(q, ph)) continue;
                TagItem it;
                it.isPlaceholder = true;
                it.start = q;
                it.end = std::min(ph.end, b);
                it.attr = attr;
                items.push_back(it);
                q = it.end - 1;
            }
        }
    };
    while (true) {
        p = skipWs(p);
        if (p >= n) return n;
        if (s[p] == '>') return p + 1;
        if (s[p] == '/' && p + 1 < n && s[p + 1] == '>') return p + 2;
        if (s[p] == '\\' && p + 1 < n && s[p + 1] == '{') {
            Placeholder ph;
            if (scanPlaceholder(p, ph)) {
                TagItem it;
                it.isPlaceholder = true;
                it.start = p;
                it.end = ph.end;
                items.push_back(it);
                p = std::max(ph.end, p + 2);
                continue;
            }
        }
        TagItem it;
        it.start = p;
        size_t w = p;
        while (p < n && !isWs(s[p]) && s[p] != '=' && s[p] != '>' &&
               !(s[p] == '\\' && p + 1 < n && s[p + 1] == '{'))
            ++p;
        if (p == w) {
            ++p;  // a stray character
            continue;
        }
        it.key = upperOf(std::string_view(s).substr(w, p - w));
        size_t q = skipWs(p);
        if (q < n && s[q] == '=') {
            p = skipWs(q + 1);
            it.hasValue = true;
            if (p < n && (s[p] == '"' || s[p] == '\'')) {
                char quote = s[p];
                it.quoted = true;
                it.vStart = p + 1;
                size_t close = s.find(quote, p + 1);
                it.vEnd = close == std::string::npos ? n : close;
                p = close == std::string::npos ? n : close + 1;
            } else if (p + 1 < n && s[p] == '\\' && s[p + 1] == '{') {
                Placeholder ph;
                scanPlaceholder(p, ph);
                it.vStart = p;
                it.vEnd = std::max(ph.end, p + 2);
                p = it.vEnd;
            } else {
                it.vStart = p;
                while (p < n && !isWs(s[p]) && s[p] != '>') ++p;
                it.vEnd = p;
            }
        }
        it.end = p;
        int idx = static_cast<int>(items.size());
        items.push_back(it);
        if (it.hasValue) placeholdersIn(it.vStart, it.vEnd, idx);
    }
}

bool Compiler::formTag() {
    static const char* const kOpen[] = {"INPUT", "SELECT", "OPTION", "TEXTAREA",
                                        "IMG",   "MENU",   "SCRIPT"};
    static const char* const kClose[] = {"SELECT", "TEXTAREA", "MENU", "OPTION"};
    auto boundary = [&](size_t p) {
        return p >= n || isWs(s[p]) || s[p] == '>' || s[p] == '/';
    };
    if (pos + 1 < n && s[pos + 1] == '/') {
        for (const char* tag : kClose) {
            size_t len = std::strlen(tag);
            if (!at(pos + 2, tag) || !boundary(pos + 2 + len)) continue;
            size_t end = s.find('>', pos);
            end = end == std::string::npos ? n : end + 1;
            if (tag[0] == 'S' && selectSeg >= 0) {
                HtmlSegment& g = T.segments[static_cast<size_t>(selectSeg)];
                g.size = selectSized ? std::max(g.size, selectOptionSize)
                                     : std::max({selectLongest, selectOptionSize, 1});
                selectSeg = -1;
            } else if (tag[0] == 'T' && textareaSeg >= 0) {
                HtmlSegment& g = T.segments[static_cast<size_t>(textareaSeg)];
                // In 64 bits: rows and columns are each capped, not their
                // product; the size itself is capped like any size read.
                const int64_t grid = (int64_t{g.cols} + 2) * g.rows;
                g.size = static_cast<int32_t>(
                    std::min<int64_t>(std::max({grid, textareaSum, int64_t{1}}), kMaxSize));
                textareaSeg = -1;
            }
            pos = end;
            return true;
        }
        return false;
    }
    for (const char* tag : kOpen) {
        size_t len = std::strlen(tag);
        if (!at(pos + 1, tag) || !boundary(pos + 1 + len)) continue;
        const size_t tagStart = pos;
        std::vector<TagItem> items;
        const size_t tagEnd = scanTag(pos + 1 + len, items);

        // The type decides whether the name gets row subscripts.
        std::string type;
        for (const TagItem& it : items)
            if (!it.isPlaceholder && it.key == "TYPE" && it.hasValue)
                type = upperOf(std::string_view(s).substr(it.vStart, it.vEnd - it.vStart));
        const std::string tagName(tag);
        const bool input = tagName == "INPUT" || tagName == "SELECT" || tagName == "TEXTAREA";
        const bool subscripted =
            input && beginDepth > 0 && type != "RESET" && type != "BUTTON";

        std::vector<int> phSegs(items.size(), -1);
        for (size_t i = 0; i < items.size(); ++i) {
            const TagItem& it = items[i];
            if (it.isPlaceholder) {
                Placeholder ph;
                if (it.start < textStart || !scanPlaceholder(it.start, ph)) continue;
                phSegs[i] = placeholderSegment(ph, true);
            } else if (subscripted && it.key == "NAME" && it.hasValue && it.vEnd >= textStart) {
                emitText(it.vEnd);
                HtmlSegment g;
                g.kind = g.firstKind = SEG_SUBSCRIPT;
                g.direction = HtmlSegment::kOutput;
                g.level = beginDepth;
                if (type == "RADIO") g.flags |= HtmlSegment::kRadioGroup;
                int idx = addSegment(std::move(g), it.vEnd);
                T.segments[static_cast<size_t>(idx)].level = beginDepth;
            }
        }
        finishTag(tagName, tagStart, tagEnd, items, phSegs);
        pos = tagEnd;
        if (tagName == "SCRIPT") {
            inScript = true;
            scriptState = 0;
        }
        if (tagName == "OPTION" && selectSeg >= 0) {
            int visible = 0;
            for (size_t q = tagEnd; q < n && s[q] != '<'; ++q)
                if (!isWs(s[q])) ++visible;
            selectLongest = std::max(selectLongest, visible);
        }
        return true;
    }
    return false;
}

void Compiler::finishTag(const std::string& tag, size_t tagStart, size_t tagEnd,
                         const std::vector<TagItem>& items, const std::vector<int>& phSegs) {
    const TagItem* name = nullptr;
    const TagItem* type = nullptr;
    const TagItem* value = nullptr;
    const TagItem* xfcgi = nullptr;
    int size = -1, maxLength = -1, rows = 0, cols = 0, valueAttr = -1;
    for (size_t i = 0; i < items.size(); ++i) {
        const TagItem& it = items[i];
        if (it.isPlaceholder) continue;
        std::string_view v = std::string_view(s).substr(it.vStart, it.vEnd - it.vStart);
        if (it.key == "NAME" && it.hasValue) name = &it;
        else if (it.key == "TYPE" && it.hasValue) type = &it;
        else if (it.key == "VALUE" && it.hasValue) value = &it, valueAttr = static_cast<int>(i);
        else if (it.key == "SIZE" && it.hasValue) size = numberOf(v);
        else if (it.key == "MAXLENGTH" && it.hasValue) maxLength = numberOf(v);
        else if (it.key == "ROWS" && it.hasValue) rows = numberOf(v);
        else if (it.key == "COLS" && it.hasValue) cols = numberOf(v);
        else if (it.key == "XFCGI") xfcgi = &it;
    }
    const uint32_t line = lineAt(tagStart);

    // Sizes of the placeholders in the tag that have none of their own.
    int valuePh = -1;
    for (size_t i = 0; i < items.size(); ++i) {
        if (phSegs[i] < 0) continue;
        HtmlSegment& g = T.segments[static_cast<size_t>(phSegs[i])];
        if (g.size == 0 && g.kind != SEG_BOOL) {
            g.size = maxLength > 0                ? maxLength
                     : value                      ? static_cast<int>(value->vEnd - value->vStart) + 4
                     : size > 0                   ? size
                                                  : 16;
        }
        const bool inValue = valueAttr >= 0 && items[i].attr == valueAttr;
        if ((g.flags & HtmlSegment::kDefaultFromValue) && value && !inValue)
            g.defValue = span(value->vStart, value->vEnd);
        if (valuePh < 0 && inValue && g.kind >= SEG_VARIABLE && g.kind <= SEG_FLOAT)
            valuePh = phSegs[i];
    }
    if (tag == "SCRIPT" || tag == "IMG" || tag == "MENU") return;
    if (tag == "OPTION") {
        if (size > selectOptionSize) selectOptionSize = size;
        return;
    }

    std::string t = "TEXT";
    if (tag == "INPUT" && type) t = upperOf(std::string_view(s).substr(type->vStart, type->vEnd - type->vStart));
    if (tag == "INPUT" && (t == "RESET" || t == "BUTTON" || t == "FILE")) return;

    // The field's variable: XFCGI's name, else the placeholder in VALUE,
    // else NAME; NAME is the alternate name when it differs.
    Placeholder xph;
    bool haveX = false;
    if (xfcgi) {
        if (!xfcgi->quoted) {
            message(true, "Error Line %d: XFCGI= Missing quote!\n", static_cast<int>(line));
        } else {
            haveX = scanBody(xfcgi->vStart, xfcgi->vEnd, false, xph);
        }
    }
    if (!name && !haveX) {
        message(false, "Warning! missing NAME in %s\n", path());
        int shownLen = static_cast<int>(std::min<size_t>(tagEnd - tagStart, 60));
        if (err)
            std::fprintf(err, "    at: %.*s\n", shownLen, s.c_str() + tagStart);
        else
            logPrintf("    at: %.*s\n", shownLen, s.c_str() + tagStart);
        return;
    }
    TextSpan nameSpan = name ? span(name->vStart, name->vEnd) : TextSpan{};

    uint8_t kind = SEG_VARIABLE;
    if (tag == "SELECT") kind = SEG_SELECT;
    else if (tag == "TEXTAREA") kind = SEG_TEXTAREA;
    else if (t == "CHECKBOX") kind = SEG_CHECKBOX;
    else if (t == "RADIO") kind = SEG_RADIO;
    else if (t == "SUBMIT") kind = SEG_SUBMIT;
    else if (t == "IMAGE") kind = SEG_INT;

    int phSize = valuePh >= 0 ? T.segments[static_cast<size_t>(valuePh)].size : 0;
    int fieldSize;
    if (maxLength > 0) fieldSize = maxLength;
    else if (size > 0 || phSize > 0) fieldSize = std::max(size, phSize);
    else fieldSize = kind == SEG_VARIABLE ? 16 : 0;
    fieldSize = std::max(fieldSize, 1);

    // A text field whose VALUE is a placeholder: the placeholder is the field.
    if (kind == SEG_VARIABLE && valuePh >= 0 && !haveX) {
        HtmlSegment& g = T.segments[static_cast<size_t>(valuePh)];
        g.direction = HtmlSegment::kOutput | HtmlSegment::kInput;
        if (name && !eqNoCase(view(nameSpan), view(g.name))) g.altName = nameSpan;
        bool explicitSize = false;
        Placeholder ph;
        if (scanPlaceholder(g.own.off >= 2 ? g.own.off - 2 : 0, ph)) explicitSize = ph.explicitSize;
        if (!explicitSize) g.size = fieldSize;
        return;
    }

    emitText(tagEnd);
    HtmlSegment g;
    g.kind = g.firstKind = kind;
    g.direction = HtmlSegment::kInput;
    g.size = fieldSize;
    g.rows = rows;
    g.cols = cols;
    if (haveX) {
        g.name = xph.name;
        if (xph.kind != SEG_TRANSACTION && xph.kind != SEG_ECHO && kind == SEG_VARIABLE)
            g.kind = g.firstKind = xph.kind;
        g.flags |= xph.flags & (HtmlSegment::kDefaultFromValue | HtmlSegment::kImages);
        if (xph.explicitSize) g.size = std::max(xph.size, 1);
        if (name && !eqNoCase(view(nameSpan), view(g.name))) g.altName = nameSpan;
    } else {
        g.name = nameSpan;
    }
    if (kind == SEG_INT && t == "IMAGE") {
        g.size = 8;
        g.flags |= HtmlSegment::kImage;
    }
    if (kind == SEG_SUBMIT) g.size = (T.flags & tcpHTML::kWebTables) && phSize > 0 ? phSize : 1;
    if (kind == SEG_TEXTAREA && (xph.explicitSize || size > 0)) g.size = fieldSize;
    int idx = addSegment(std::move(g), tagEnd);
    if (kind == SEG_SELECT) {
        selectSeg = idx;
        selectSized = size > 0 || (haveX && xph.explicitSize);
        selectLongest = selectOptionSize = 0;
    } else if (kind == SEG_TEXTAREA) {
        textareaSeg = idx;
        textareaSum = 0;
    }
}

// ------------------------------------------------------------------ main --

// Follows the JavaScript around placeholders far enough to know whether a
// value is written inside a string literal (where it can be escaped) or
// into code (where only an identifier is safe): strings with their
// backslash escapes, and comments. A regular-expression literal holding a
// quote is not recognised; a placeholder after it is taken for one inside
// a string or the other way round, which only changes how it is escaped.
// Returns the position after the character (or escape) at p.
size_t Compiler::scriptChar(size_t p) {
    const char c = s[p];
    const char next = p + 1 < n ? s[p + 1] : '\0';
    switch (scriptState) {
    case 0:
        if (isQuote(c)) {
            scriptState = c;
        } else if (c == '/' && (next == '/' || next == '*')) {
            scriptState = next;
            return p + 2;
        }
        return p + 1;
    case '/':
        if (c == '\n') scriptState = 0;
        return p + 1;
    case '*':
        if (c == '*' && next == '/') {
            scriptState = 0;
            return p + 2;
        }
        return p + 1;
    default:  // in a string
        if (c == '\\') return next == '{' ? p + 1 : p + 2;  // "\{" is a placeholder
        if (c == scriptState || ((c == '\n' || c == '\r') && scriptState != '`')) scriptState = 0;
        return p + 1;
    }
}

void Compiler::run() {
    T.segments.clear();
    T.segments.reserve(8);
    T.tildes.clear();
    T.errors = T.warnings = 0;
    while (pos < n) {
        const char c = s[pos];
        if (c == '\\' && pos + 1 < n && s[pos + 1] == '{') {
            Placeholder ph;
            if ((pos > 0 && s[pos - 1] == '\\') || !scanPlaceholder(pos, ph)) {
                pos += 2;  // kept as literal text
                continue;
            }
            placeholderSegment(ph, false);
            pos = std::max(ph.end, pos + 2);
            continue;
        }
        if (c == '<') {
            if (at(pos, "<!--") && directive()) continue;
            if (inScript) {
                // The element ends here even inside a string, as browsers
                // end it.
                if (at(pos, "</SCRIPT")) {
                    inScript = false;
                    scriptState = 0;
                    pos += 8;
                    continue;
                }
            } else if (formTag()) {
                continue;
            }
        }
        if (c == '~') T.tildes.push_back(static_cast<uint32_t>(pos));
        if (delim && c == delim && dezurName()) continue;
        pos = inScript ? scriptChar(pos) : pos + 1;
    }
    emitText(n);
    xFcgiLinkSegments(T, err);
}

}  // namespace

void xFcgiCompileTemplate(tcpHTML& t, FILE* errors) {
    Compiler(t, errors).run();
}

// ------------------------------------------------------ recognition helpers --

size_t xFcgiDezurNameAt(std::string_view text, size_t at, char delim) {
    if (at >= text.size() || text[at] != delim) return 0;
    size_t e = at + 1;
    while (e < text.size() && e - at - 1 <= kMaxDezurName && text[e] != delim) {
        const char c = text[e];
        if (!(isAlnum(c) || c == '_' || c == '-' || c == '.')) return 0;
        ++e;
    }
    if (e >= text.size() || text[e] != delim || e == at + 1 || e - at - 1 > kMaxDezurName) return 0;
    return e - at - 1;
}

const char* xFcgiKeyWord(const char* text, const char* keyword, int length, int* skip) {
    if (!text || !keyword || length <= 0) return nullptr;
    // Blanks before the word are a boundary; a word right at text follows
    // whatever the caller stands on.
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    for (int i = 0; i < length; ++i)
        if (!p[i] || upper(p[i]) != upper(keyword[i])) return nullptr;
    const char* q = p + length;
    if (isAlnum(*q) || *q == '_') return nullptr;
    while (*q == ' ' || *q == '\t') ++q;
    if (*q != '=') return nullptr;
    ++q;
    if (skip) *skip = static_cast<int>(q - text);
    return q;
}

int isDirective(const char* text, const char* name, int* skip) {
    if (!text || !name || std::strncmp(text, "<!--", 4) != 0) return 0;
    const char* p = text + 4;
    if (name[0] != '#') {
        while (isWs(*p)) ++p;
    }
    size_t len = std::strlen(name);
    const bool needsEq = len > 0 && name[len - 1] == '=';
    const size_t word = needsEq ? len - 1 : len;
    for (size_t i = 0; i < word; ++i)
        if (!p[i] || upper(p[i]) != upper(name[i])) return 0;
    p += word;
    if (needsEq) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p != '=') return 0;
        ++p;
    } else {
        // The name must end here: "#ELSE" is not "#ELSE-IF", "#END" not "#ENDIF".
        if (isAlnum(*p) || *p == '_') return 0;
        if (*p == '-' && (isAlnum(p[1]) || p[1] == '_')) return 0;
    }
    int d = static_cast<int>(p - text);
    if (skip) *skip = d;
    return d;
}
