// Template rewriting: the compiled page written back in the .htx language,
// its .t3i field file, then the copybooks (xfcgicopybook.cpp).
#include "xfcgirewrite.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcginameindex.h"

namespace {

bool given(const std::string& dir) {
    return !dir.empty() && static_cast<unsigned char>(dir[0]) > ' ';
}

// The value of an environment variable; empty when unset (an empty value
// would match everywhere without moving on).
std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

struct LocalHttp {
    std::string http, https;
};

bool isPlaceholderKind(int kind) {
    return (kind >= SEG_VARIABLE && kind <= 8) || kind == SEG_ECHO;
}

// The text of a segment span with '-' turned into '_' where the segment's
// name lies inside it.
std::string ownWithName(const tcpHTML& t, const HtmlSegment& g) {
    std::string own(t.textOf(g.own));
    if (g.name.len && g.name.off >= g.own.off && g.name.off + g.name.len <= g.own.off + g.own.len)
        std::replace(own.begin() + (g.name.off - g.own.off),
                     own.begin() + (g.name.off - g.own.off + g.name.len), '-', '_');
    return own;
}

// An attribute value in quotes the compiler reads back: double quotes,
// single ones when the text holds a double quote, none when it holds
// both (such a value was written unquoted, so it has no blank).
std::string quoted(std::string_view v) {
    const bool dq = v.find('"') != std::string_view::npos;
    if (dq && v.find('\'') != std::string_view::npos) return std::string(v);
    const char q = dq ? '\'' : '"';
    std::string out(1, q);
    out.append(v);
    out += q;
    return out;
}

void put(FILE* f, std::string_view s) { std::fwrite(s.data(), 1, s.size(), f); }

// The rewritten page as it is built: its text, and where literal '~'
// characters of the template stand in it after the DezUR marker.
struct HtxText {
    std::string text;
    std::vector<size_t> tildes;
    bool converted = false;  // "<!--#DEZUR-CONVERTED-->" written
    void put(std::string_view s) { text.append(s); }
};

// A '~' that stays literal in a page where "~name~" is a name: a directive
// that writes it, which the compiler recognises in text, attribute values,
// comments and SCRIPT and STYLE elements alike.
constexpr std::string_view kLiteralTilde = "<!--#ECHO VALUE=\"~\"-->";

// Literal text: line ends as carriage return and line feed, the web
// server's own address prefixes as their placeholders. The '~' that the
// compiler read as plain text are noted.
void putText(HtxText& out, const tcpHTML& t, TextSpan span, const LocalHttp& lh) {
    const std::string_view text = t.textOf(span);
    auto tilde = std::lower_bound(t.tildes.begin(), t.tildes.end(), span.off);
    for (size_t i = 0; i < text.size();) {
        if (!lh.http.empty() && text.compare(i, lh.http.size(), lh.http) == 0) {
            out.put("\\{LOCALHTTP}");
            i += lh.http.size();
            continue;
        }
        if (!lh.https.empty() && text.compare(i, lh.https.size(), lh.https) == 0) {
            out.put("\\{LOCALHTTPS}");
            i += lh.https.size();
            continue;
        }
        const size_t at = span.off + i;
        while (tilde != t.tildes.end() && *tilde < at) ++tilde;
        if (out.converted && tilde != t.tildes.end() && *tilde == at)
            out.tildes.push_back(out.text.size());
        const char c = text[i++];
        if (c == '\r' && i < text.size() && text[i] == '\n') {
            out.put("\r\n");
            ++i;
        } else if (c == '\n') {
            out.put("\r\n");
        } else {
            out.text += c;
        }
    }
}

// The finished page: each noted '~' that would open a name (its closing
// '~' may be one noted too, and is judged in its turn) is written as
// kLiteralTilde, so that the page fills as the template did.
std::string keepTildes(const HtxText& out) {
    std::string page;
    size_t from = 0;
    for (size_t at : out.tildes) {
        if (!xFcgiDezurNameAt(out.text, at, '~')) continue;
        page.append(out.text, from, at - from);
        page.append(kLiteralTilde);
        from = at + 1;
    }
    page.append(out.text, from, std::string::npos);
    return page;
}

// Whether the segment's own text is the body of a "\{...}" placeholder
// (and not the attribute text of a directive).
bool ownIsPlaceholder(const tcpHTML& t, const HtmlSegment& g) {
    return g.own.len && g.own.off >= 2 && t.text.compare(g.own.off - 2, 2, "\\{") == 0;
}

void putPlaceholder(HtxText& out, const tcpHTML& t, const HtmlSegment& g) {
    if (!(g.direction & HtmlSegment::kOutput)) return;
    std::string name(t.textOf(g.name));
    fixUpName(name);
    if (g.kind == SEG_VARIABLE && g.own.len) {
        out.put("\\{" + ownWithName(t, g) + "}");
    } else if (g.kind == SEG_ECHO && g.own.len && !ownIsPlaceholder(t, g)) {
        // An #ECHO directive: written back whole, so that its VALUE (or
        // COMPUTE) is shown and set as before.
        out.put("<!--#ECHO " + ownWithName(t, g) + " -->");
    } else if (g.kind == SEG_ECHO && name.empty() && g.own.len) {
        // An expression placeholder: its own text says what it shows.
        out.put("\\{" + std::string(t.textOf(g.own)) + "}");
    } else {
        out.put("\\{" + name + "}");
    }
}

// A Bool placeholder: its own text, or one made from its parts.
void putBool(HtxText& out, const tcpHTML& t, const HtmlSegment& g) {
    if (!(g.direction & HtmlSegment::kOutput)) return;  // a form field's: in the tag text
    if (ownIsPlaceholder(t, g)) {
        out.put("\\{" + std::string(t.textOf(g.own)) + "}");
        return;
    }
    std::string text = "\\{" + std::string(t.textOf(g.name)) + " BOOL='" +
                       std::string(t.textOf(g.value)) + "'";
    if (g.defValue.len) text += " '" + std::string(t.textOf(g.defValue)) + "'";
    out.put(text + "}");
}

void putBegin(HtxText& out, const tcpHTML& t, const HtmlSegment& g) {
    std::string text = "<!--#BEGIN NAME=" + quoted(t.textOf(g.name));
    if (g.flags & HtmlSegment::kUnlimited)
        text += " MAX=*";
    else if (g.maxRep != 1)
        text += " MAX=" + std::to_string(g.maxRep);
    if (g.flags & HtmlSegment::kInline) text += " INLINE=\"YES\"";
    if (g.flags & HtmlSegment::kRadioGroup) text += " RadioGroup=\"YES\"";
    out.put(text + " -->");
}

std::string htxOf(const tcpHTML& t, const LocalHttp& lh) {
    HtxText out;
    for (size_t i = 0; i < t.segments.size(); ++i) {
        const HtmlSegment& g = t.segments[i];
        switch (g.kind) {
        case SEG_TEXT:
            putText(out, t, g.own, lh);
            if (!out.converted && (t.flags & tcpHTML::kWebTables)) {
                out.put("<!--#DEZUR-CONVERTED-->\r\n");
                out.converted = true;
            }
            break;
        case SEG_BOOL: putBool(out, t, g); break;
        case SEG_IF: out.put("<!--#IF expr=" + quoted(t.textOf(g.value)) + " -->"); break;
        case SEG_ELIF: out.put("<!--#ELIF expr=" + quoted(t.textOf(g.value)) + " -->"); break;
        case SEG_BEGIN: putBegin(out, t, g); break;
        case SEG_ELSE: out.put("<!--#ELSE-->\r\n"); break;
        case SEG_END: out.put("<!--#ENDIF-->\r\n"); break;
        case SEG_INCLUDE:
            out.put("<!--#INCLUDE FILE=" + quoted(t.textOf(g.own)) +
                    ((g.flags & HtmlSegment::kIncludeProcessed) ? "" : " PROCESS=NO") + "-->");
            break;
        case SEG_SET: out.put("<!--#SET " + std::string(t.textOf(g.own)) + " -->"); break;
        case SEG_SUBMIT:
        case SEG_TEXTAREA:
        case SEG_CHECKBOX:
        case SEG_RADIO:
        case SEG_SELECT:
        case SEG_SUBSCRIPT:
            break;  // form fields live on in the tag text around them
        default:
            if (isPlaceholderKind(g.kind))
                putPlaceholder(out, t, g);
            else
                out.put("<p>**** Unknown type " + std::to_string(g.kind) + " at " +
                        std::to_string(i) + "</p>\n");
            break;
        }
    }
    return keepTildes(out);
}

// Mask text of n bytes, as the field lines show it: "X(n)" in quotes.
std::string maskOf(long long n) { return "\"X(" + std::to_string(n) + ")\""; }

// Blanks that bring a name of len characters to the column width (at
// least one).
int fillTo(int width, size_t len) {
    return std::max(1, width - static_cast<int>(len));
}

void writeT3i(FILE* f, const tcpHTML& t) {
    const bool web = (t.flags & tcpHTML::kWebTables) != 0;
    if (!web) {
        put(f, "<record type=\"main\">\n");
        for (size_t i = 0; i < t.segments.size(); ++i) {
            const HtmlSegment& g = t.segments[i];
            const bool described = (g.kind >= SEG_VARIABLE && g.kind <= 8) ||
                                   (g.kind >= SEG_SUBMIT && g.kind <= SEG_SELECT);
            if (!described || g.rep >= 2) continue;
            std::string name(t.textOf(g.name));
            fixUpName(name);
            std::fprintf(f, "    <field name=\"%s\" mask=\"X(%d)\"", name.c_str(), g.size);
            const int dir = g.direction & 3;
            if (dir == 3)
                put(f, " type=\"inout\"");
            else if (dir == HtmlSegment::kOutput)
                put(f, " type=\"output\"");
            else if (dir == HtmlSegment::kInput)
                put(f, " type=\"input\"");
            if (g.maxRep >= 2) std::fprintf(f, " occurs=\"%d\"", g.maxRep);
            put(f, "/>\n");
        }
        put(f, "</record>\n");
        return;
    }

    size_t longest = 0;
    for (const TemplateField& e : t.mainFields)
        longest = std::max({longest, e.name.size(), e.cobName.size()});
    for (const HtmlSegment& g : t.segments)
        if (g.direction & HtmlSegment::kInput) longest = std::max({longest, size_t{g.name.len}, size_t{g.own.len}});
    const int width = static_cast<int>(std::min<size_t>(longest + 1, 4096));

    put(f, "<records>\n<record type=\"toweb\">\n");
    for (const TemplateField& e : t.mainFields) {
        std::string name = e.name;
        fixUpName(name);
        std::fprintf(f, "    <field name=\"%s\" %-*smask=%-8s", name.c_str(),
                     fillTo(width, name.size()), "", maskOf(e.length).c_str());
        if (e.occurrences >= 2)
            std::fprintf(f, " occurs=\"%d\"%s", e.occurrences, e.occurrences < 10 ? "  " : " ");
        if (e.pad) std::fprintf(f, " pad=\"%d\"", e.pad);
        if (!e.cobName.empty() && !xFcgiNamesEqual(e.cobName, e.name)) {
            std::string cob = e.cobName;
            fixUpCobName(cob);
            std::fprintf(f, " cobname=\"%s\"", cob.c_str());
        }
        put(f, "/>\n");
    }
    put(f, "</record>\n\n<record type=\"fromweb\">\n");
    for (size_t i = 0; i < t.segments.size(); ++i) {
        if (!xFcgiIsCountedInput(t, i)) continue;
        const HtmlSegment& g = t.segments[i];
        std::string name(t.textOf(g.name));
        fixUpName(name);
        std::fprintf(f, "    <field name=\"%s\" %-*smask=%-8s", name.c_str(),
                     fillTo(width, name.size()), "", maskOf(g.size).c_str());
        if (g.maxRep >= 2) std::fprintf(f, " occurs=\"%d\"", g.maxRep);
        std::fprintf(f, " pad=\"%d\"", xFcgiPadOf(xFcgiInputTotal(t, i)));
        put(f, "/>\n");
    }
    put(f, "</record>\n</records>\n");
}

// What both the .t3i file and the copybooks depend on, worked out before
// either is written: the pads of the main table and the input sizes that
// the fromweb table gives.
void prepare(tcpHTML& t) {
    for (TemplateField& e : t.mainFields) {
        const long long total =
            e.occurrences >= 2 ? static_cast<long long>(e.occurrences) * e.length : e.length;
        e.pad = static_cast<uint8_t>(xFcgiPadOf(total));
    }
    if (t.fromwebFields.empty()) return;
    for (HtmlSegment& g : t.segments) {
        const bool described = (g.kind >= SEG_VARIABLE && g.kind <= 8) ||
                               (g.kind >= SEG_SUBMIT && g.kind <= SEG_SELECT);
        if (!described || !(g.direction & HtmlSegment::kInput)) continue;
        const std::string_view name = t.textOf(g.name);
        for (const TemplateField& e : t.fromwebFields)
            if (xFcgiNamesEqual(e.name, name)) {
                g.size = static_cast<int32_t>(std::min<uint32_t>(e.length, INT32_MAX));
                break;
            }
    }
}

}  // namespace

// Opens a rewrite output; a failure is logged and told on standard error.
FILE* xFcgiRewriteOpen(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        const int err = errno;
        logPrintf("Error opening %s\n", path.c_str());
        std::fprintf(stderr, "Error opening %s: %s\n", path.c_str(), std::strerror(err));
    }
    return f;
}

// Closes a rewrite output; false (logged and told) when it was not written
// whole.
bool xFcgiRewriteClose(FILE* f, const std::string& path) {
    const bool ok = !std::ferror(f);
    if (std::fclose(f) == 0 && ok) return true;
    logPrintf("Error writing %s\n", path.c_str());
    std::fprintf(stderr, "Error writing %s\n", path.c_str());
    return false;
}

XFcgiRewriteNames xFcgiRewriteBaseName(const std::string& path) {
    std::string p = path.compare(0, 2, "./") == 0 ? path.substr(2) : path;
    const size_t slash = p.rfind('/');
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    // Cut at the first '.' of the file's own name (a leading one belongs
    // to the name).
    const size_t dot = base.find('.', 1);
    if (dot != std::string::npos) base.resize(dot);
    XFcgiRewriteNames n;
    n.lower = n.upper = base;
    for (char& c : n.lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : n.upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (n.lower.compare(0, 5, "html-") == 0) n.lower.erase(0, 5);
    if (n.upper.compare(0, 5, "HTML-") == 0) n.upper.erase(0, 5);
    return n;
}

bool xFcgiIsCountedInput(const tcpHTML& t, size_t segment) {
    const HtmlSegment& g = t.segments[segment];
    const bool input = (g.direction & HtmlSegment::kInput) != 0;
    const bool counted = ((g.kind >= SEG_VARIABLE && g.kind <= 8) || g.kind == SEG_ECHO)
                             ? input
                             : (g.kind >= SEG_SUBMIT && g.kind <= SEG_SELECT);
    return counted && g.rep < 2;
}

long long xFcgiInputTotal(const tcpHTML& t, size_t segment) {
    const HtmlSegment& g = t.segments[segment];
    return g.maxRep >= 2 ? static_cast<long long>(g.size) * g.maxRep : g.size;
}

int xFcgiRewriteTemplate(const char* tmpl, std::string& copybookDir, std::string& htxDir) {
    if (!tmpl) return XFCGI_REWRITE_NOT_LOADED;
    LocalHttp lh;
    lh.http = envText("LOCALHTTP");
    if (!lh.http.empty()) {
        logPrintf("#Scan text for %s\n", lh.http.c_str());
        lh.https = envText("LOCALHTTPS");
        if (!lh.https.empty()) logPrintf("#Scan text for %s\n", lh.https.c_str());
    }

    tcpHTML* t = xFcgiGetFT(tmpl);
    if (!t) {
        if (!xFcgiLoadTemplate(tmpl, nullptr, nullptr, true)) {
            logPrintf("#Unable to load %s\n", tmpl);
            std::printf("Unable to load file %s for rewrite\n", tmpl);
            return XFCGI_REWRITE_NOT_LOADED;
        }
        t = xFcgiGetFT(tmpl);
        if (!t) {
            logPrintf("#Unable to find file %s for rewrite\n", tmpl);
            std::printf("Unable to find file %s for rewrite\n", tmpl);
            return XFCGI_REWRITE_NOT_LOADED;
        }
    }
    TemplateInUse hold(t);
    const XFcgiRewriteNames names = xFcgiRewriteBaseName(t->path);
    prepare(*t);

    bool ok = true;
    if (given(htxDir)) {
        const std::string htx = htxDir + "/" + names.lower + ".htx";
        if (FILE* f = xFcgiRewriteOpen(htx)) {
            logPrintf("#Rewrite %s to QOR/ic %s\n", t->path.c_str(), htx.c_str());
            put(f, htxOf(*t, lh));
            ok = xFcgiRewriteClose(f, htx) && ok;
        } else {
            ok = false;
        }
    }
    if (htxDir == "./") htxDir = ".";
    if (copybookDir == "./") copybookDir = ".";
    if (given(htxDir)) {
        const std::string t3i = htxDir + "/" + names.lower + ".t3i";
        if (FILE* f = xFcgiRewriteOpen(t3i)) {
            t->t3iPath = t3i;
            logPrintf("#Rewrite %s to QOR/ic %s\n", t->path.c_str(), t3i.c_str());
            writeT3i(f, *t);
            ok = xFcgiRewriteClose(f, t3i) && ok;
        } else {
            ok = false;
        }
    }
    if (given(copybookDir)) ok = xFcgiWriteCopybooks(*t, names, copybookDir) && ok;
    return ok ? XFCGI_REWRITE_DONE : XFCGI_REWRITE_FAILED;
}
