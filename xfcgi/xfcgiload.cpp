// Loading a template into the cache: reuse while the file is unchanged,
// reload when it changed, read the text and the companion .t3i field file,
// compile, list (see xfcgihtml.h).
#include "xfcgihtml.h"

#include <cctype>
#include <cstring>
#include <sys/stat.h>

#include "logprint.h"
#include "regularfile.h"

namespace {

int checkInterval = 3;

int64_t fileTimeOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The companion field file: the last extension of the last path component
// replaced by ".t3i" (appended when that component has none).
std::string t3iPathOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start || dot == start) return path + ".t3i";
    return path.substr(0, dot) + ".t3i";
}

std::string lowerBaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return base;
}

// Drops what a compilation made, keeping the record (callers may hold it).
void clearCompiled(tcpHTML& t) {
    xFcgiCacheCharge(-static_cast<long long>(t.text.size()));
    t.text.clear();
    t.segments.clear();
    t.tildes.clear();
    t.mainFields.clear();
    t.towebFields.clear();
    t.fromwebFields.clear();
    t.t3iPath.clear();
    t.t3iTime = -1;
    t.flags &= ~(tcpHTML::kWebTables | tcpHTML::kConverted | tcpHTML::kFieldFileRefused);
    t.screenSize = 0;
    t.fccModCount = 0;
    t.errors = t.warnings = 0;
}

bool readAll(FILE* f, std::string& out) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return !std::ferror(f);
}

// The field file is confirmed with its page: one changed, added or removed
// (an administrator's mend, a FIFO put in its place) compiles the page
// again, as its own change does.
bool fieldFileUnchanged(const tcpHTML& t) {
    return fileTimeOf(t3iPathOf(t.path)) == t.t3iTime;
}

bool withinCheckInterval(const tcpHTML& t, time_t now) {
    return now - t.checkTime < checkInterval && now >= t.checkTime;
}

void loadFieldFile(tcpHTML& t, bool tool) {
    const std::string t3i = t3iPathOf(t.path);
    // Taken before the read: a change while it is read is seen next time.
    t.t3iTime = fileTimeOf(t3i);
    if (t.t3iTime >= 0) {
        t.t3iPath = t3i;
        if (!xFcgiLoadDataDesc(&t, t3i.c_str(), tool)) t.flags |= tcpHTML::kFieldFileRefused;
        if (tool && t.mainFields.empty() && !t.towebFields.empty()) {
            t.mainFields = std::move(t.towebFields);
            t.towebFields.clear();
            for (TemplateField& f : t.mainFields)
                if (f.occurrences < 1) f.occurrences = 1;
        }
    } else if (tool) {
        logPrintf("#No file %s \n", t3i.c_str());
        if (lowerBaseName(t.path).compare(0, 5, "html-") != 0)
            std::printf("Could not find T3I file: %s\n", t3i.c_str());
    }
}

}  // namespace

void xFcgiSetTemplateCheckInterval(int seconds) {
    checkInterval = seconds < 0 ? 0 : seconds;
}

bool xFcgiFieldFileCurrent(tcpHTML& t) {
    const time_t now = std::time(nullptr);
    if (withinCheckInterval(t, now)) return true;
    if (!fieldFileUnchanged(t)) return false;
    t.checkTime = now;
    return true;
}

int xFcgiLoadTemplate(const char* name, FILE* errors, FILE* dump, bool tool) {
    if (!name || !*name) return 0;
    const std::string first = xFcgiTemplatePath(name);
    const std::string second = "./" + std::string(name);
    std::string fallback(xFcgiFallbackDir);
    {
        std::string n(name);
        size_t slash = n.rfind('/');
        fallback += slash == std::string::npos ? n : n.substr(slash + 1);
    }

    tcpHTML* t = xFcgiCacheFind(first);
    if (!t) t = xFcgiCacheFind(second);
    if (!t) t = xFcgiCacheFind(fallback);
    const time_t now = std::time(nullptr);
    if (t) {
        ++t->useCount;
        if (withinCheckInterval(*t, now)) return 1;
        const int64_t mtime = fileTimeOf(t->path);
        if ((mtime == t->fileTime && fieldFileUnchanged(*t)) || (mtime >= 0 && t->inUse > 0)) {
            // Unchanged, or being written from: a page keeps the text and
            // segments it is walking.
            t->checkTime = now;
            xFcgiCacheToHead(t);
            return 1;
        }
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Reload template %s\n", t->path.c_str());
    }

    std::string found;
    UniqueFile file(xFcgiOpenTemplate(first, "r", found));
    int64_t mtime = xFcgiLastFileTime();
    if (!file) {
        found = second;
        std::string why;
        file = OpenRegularFile(second, &why);
        mtime = fileTimeOf(second);
        if (!file && mtime >= 0) logPrintf("#Template %s not read: %s\n", second.c_str(), why.c_str());
    }
    if (!file) {
        logPrintf("#Unable to open %s\n", first.c_str());
        logPrintf("#Unable to open %s\n", second.c_str());
        return 0;
    }

    if (t) {
        if (t->inUse > 0) return 1;  // its file is gone; keep what is walked
        clearCompiled(*t);
        xFcgiCacheToHead(t);
    } else {
        t = xFcgiCacheAdd();
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Load template %s\n", xFcgiRelDir(found.c_str()));
    }
    t->path = found;
    t->fileTime = mtime;
    t->loadTime = t->checkTime = now;
    ++t->useCount;
    if (!readAll(file.get(), t->text)) logPrintf("#Error reading %s\n", found.c_str());
    file.reset();
    xFcgiCacheCharge(static_cast<long long>(t->text.size()));

    loadFieldFile(*t, tool);
    xFcgiCompileTemplate(*t, errors);
    if (dump) dumpOutTemplate(dump, *t);
    xFcgiCacheApplyLimit();
    return 1;
}

// ----------------------------------------------------------------- listing --

const char* xFcgiSegKindName(int kind) {
    switch (kind) {
    case SEG_VARIABLE: return "Variable";
    case SEG_VARCHAR: return "Varchar";
    case SEG_INT: return "Int";
    case SEG_FLOAT: return "Float";
    case SEG_BOOL: return "Bool";
    case SEG_SUBMIT: return "Submit";
    case SEG_TEXTAREA: return "TextArea";
    case SEG_CHECKBOX: return "Checkbox";
    case SEG_RADIO: return "Radio";
    case SEG_SELECT: return "Select";
    case SEG_TEXT: return "Text";
    case SEG_SUBSCRIPT: return "Subscript";
    case SEG_INCLUDE: return "Include";
    case SEG_SET: return "Set";
    case SEG_ECHO: return "Echo";
    case SEG_IF: return "If";
    case SEG_ELIF: return "Elif";
    case SEG_ELSE: return "Else";
    case SEG_BEGIN: return "Begin";
    case SEG_END: return "End";
    case SEG_TRANSACTION: return "Transaction";
    default: return "Unknown";
    }
}

namespace {

const char* directionText(const HtmlSegment& s) {
    switch (s.direction & 3) {
    case HtmlSegment::kOutput: return "Output";
    case HtmlSegment::kInput: return "Input";
    case 3: return "In/Out";
    default: return "Special";
    }
}

// Text shown on one line: line ends and tabs as escapes, at most 40 bytes.
std::string shown(std::string_view v) {
    std::string out;
    for (char c : v.substr(0, 40)) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    if (v.size() > 40) out += "...";
    return out;
}

}  // namespace

void dumpOutTemplate(FILE* f, const tcpHTML& t) {
    if (!f) return;
    std::fprintf(f, "\nDump of %s;\nText size %d in %d segments plus %d data\n", t.path.c_str(),
                 static_cast<int>(t.text.size()), static_cast<int>(t.segments.size()),
                 static_cast<int>(t.mainFields.size()));
    for (size_t i = 0; i < t.segments.size(); ++i) {
        const HtmlSegment& s = t.segments[i];
        if (s.kind == SEG_TEXT) {
            std::fprintf(f, "%4d. Text '%s' level=%d\n", static_cast<int>(i),
                         shown(t.textOf(s.own)).c_str(), s.level);
            continue;
        }
        std::string_view name = t.textOf(s.name);
        std::fprintf(f, "%4d. %s '%.*s' size=%d %s %s", static_cast<int>(i),
                     xFcgiSegKindName(s.kind), static_cast<int>(name.size()), name.data(), s.size,
                     directionText(s), (s.flags & HtmlSegment::kApp) ? "App" : "");
        if (!s.altName.empty()) {
            std::string_view a = t.textOf(s.altName);
            std::fprintf(f, " alt='%.*s'", static_cast<int>(a.size()), a.data());
        }
        if (!s.defValue.empty()) std::fprintf(f, " default='%s'", shown(t.textOf(s.defValue)).c_str());
        if (!s.value.empty()) std::fprintf(f, " value='%s'", shown(t.textOf(s.value)).c_str());
        std::fprintf(f, " level=%d", s.level);
        if (s.rep || s.maxRep) std::fprintf(f, " rep=%d/%d", s.rep, s.maxRep);
        if (s.kind >= SEG_IF && s.kind <= SEG_BEGIN)
            std::fprintf(f, " else@%u end@%u", s.elseAt, s.endAt);
        if (s.kind == SEG_END) std::fprintf(f, " began@%u", s.endAt);
        std::fprintf(f, "\n");
        if (!s.expr.empty()) dumpExpr(f, s.expr);
    }
}
