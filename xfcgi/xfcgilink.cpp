// The compiler's last pass over a segment table: drop the white space that
// only separates directives, size placeholders from the field tables,
// group the application's fields, link every block to its branches and End,
// and check the blocks (see xfcgihtml.h).
#include "xfcgihtml.h"

#include <algorithm>
#include <cstdarg>
#include <map>

#include "logprint.h"
#include "xfcginameindex.h"

namespace {

bool isBlockKind(int k) { return k >= 20 && k <= SEG_END; }

bool whiteOnly(std::string_view v) {
    for (char c : v)
        if (!(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'))
            return false;
    return true;
}

std::string lowerOf(std::string_view v) {
    std::string k(v);
    for (char& c : k)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return k;
}

// The block checks count on the template and are written to the error
// stream only (the log does not get them).
void report(tcpHTML& t, FILE* errors, bool isError, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void report(tcpHTML& t, FILE* errors, bool isError, const char* fmt, ...) {
    if (isError)
        ++t.errors;
    else
        ++t.warnings;
    if (!errors) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(errors, fmt, ap);
    va_end(ap);
}

void dropSeparators(tcpHTML& t) {
    std::vector<HtmlSegment>& segs = t.segments;
    std::vector<HtmlSegment> kept;
    kept.reserve(segs.size());
    for (size_t i = 0; i < segs.size(); ++i) {
        const HtmlSegment& g = segs[i];
        if (g.kind == SEG_TEXT && i > 0 && i + 1 < segs.size() && whiteOnly(t.textOf(g.own))) {
            const int prev = kept.empty() ? 0 : kept.back().kind;
            const int next = segs[i + 1].kind;
            const bool between = isBlockKind(prev) && isBlockKind(next);
            const bool bySet = (prev == SEG_SET && (isBlockKind(next) || next == SEG_SET)) ||
                               (next == SEG_SET && isBlockKind(prev));
            if (between || bySet) continue;
        }
        kept.push_back(std::move(segs[i]));
    }
    segs = std::move(kept);
}

// A sizeless Variable takes the length of the main-table field of the same
// name, case ignored.
void sizeFromTable(tcpHTML& t) {
    std::map<std::string, const TemplateField*> byName;
    for (const TemplateField& f : t.mainFields) byName.emplace(lowerOf(f.name), &f);
    for (HtmlSegment& g : t.segments) {
        if (g.kind != SEG_VARIABLE || g.size != 0 || g.name.empty()) continue;
        auto it = byName.find(lowerOf(t.textOf(g.name)));
        if (it == byName.end()) continue;
        g.size = static_cast<int32_t>(std::min<uint32_t>(it->second->length, INT32_MAX));
        g.flags |= HtmlSegment::kSizedFromTable;
    }
}

void groupFields(tcpHTML& t) {
    std::map<std::string, const TemplateField*> byName;
    for (const TemplateField& f : t.mainFields) byName.emplace(xFcgiFoldName(f.name), &f);
    std::map<std::pair<int, std::string>, std::vector<size_t>> groups;
    for (size_t i = 0; i < t.segments.size(); ++i) {
        HtmlSegment& g = t.segments[i];
        const bool app = g.kind == SEG_VARIABLE || g.kind == SEG_VARCHAR || g.kind == SEG_FLOAT ||
                         (g.kind >= SEG_BOOL && g.kind <= SEG_SELECT) ||
                         (g.kind == SEG_INT && !(g.flags & HtmlSegment::kImage));
        if (!app) continue;
        g.flags |= HtmlSegment::kApp;
        if (g.kind >= SEG_TEXTAREA && g.kind <= SEG_SELECT) g.direction = HtmlSegment::kInput;
        if (!g.name.empty()) groups[{g.kind, xFcgiFoldName(t.textOf(g.name))}].push_back(i);
    }
    const bool web = (t.flags & tcpHTML::kWebTables) != 0;
    for (auto& [key, members] : groups) {
        bool single = false;
        if (web) {
            auto f = byName.find(key.second);
            single = f == byName.end() || f->second->occurrences < 2;
        }
        int32_t largest = 0;
        for (size_t m : members) largest = std::max(largest, t.segments[m].size);
        for (size_t k = 0; k < members.size(); ++k) {
            HtmlSegment& g = t.segments[members[k]];
            g.rep = single ? 1 : static_cast<int32_t>(k + 1);
            g.size = largest;
        }
        t.segments[members.front()].maxRep = single ? 1 : static_cast<int32_t>(members.size());
    }
}

void linkBlocks(tcpHTML& t, FILE* errors) {
    std::vector<HtmlSegment>& segs = t.segments;
    const uint32_t count = static_cast<uint32_t>(segs.size());
    struct Open {
        uint32_t start;
        std::vector<uint32_t> chain;  // start, then each Elif and Else
    };
    std::vector<Open> open;
    for (uint32_t i = 0; i < count; ++i) {
        HtmlSegment& g = segs[i];
        switch (g.kind) {
        case SEG_IF:
        case SEG_BEGIN:
            open.push_back(Open{i, {i}});
            break;
        case SEG_ELIF:
        case SEG_ELSE:
            if (!open.empty()) {
                segs[open.back().chain.back()].elseAt = i;
                open.back().chain.push_back(i);
            }
            break;
        case SEG_END:
            if (!open.empty()) {
                Open o = std::move(open.back());
                open.pop_back();
                segs[o.chain.back()].elseAt = i;
                for (uint32_t m : o.chain) segs[m].endAt = i;
                g.endAt = o.start;
            }
            break;
        default:
            break;
        }
    }
    // An unclosed block runs to the end of the segments.
    if (!open.empty())
        report(t, errors, true, "Missing %d --END in %s\n", static_cast<int>(open.size()),
               t.path.c_str());
    for (const Open& o : open) {
        segs[o.chain.back()].elseAt = count;
        for (uint32_t m : o.chain) segs[m].endAt = count;
        const HtmlSegment& g = segs[o.start];
        if (g.kind == SEG_BEGIN) {
            std::string_view nm = t.textOf(g.name);
            report(t, errors, true, "Error! Block '%.*s' has no end tag\n",
                   static_cast<int>(nm.size()), nm.data());
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const HtmlSegment& g = segs[i];
        if (g.kind != SEG_BEGIN || !(g.flags & HtmlSegment::kTextOnly)) continue;
        for (uint32_t k = i + 1; k < g.endAt && k < count; ++k) {
            if (segs[k].direction & HtmlSegment::kInput) {
                std::string_view nm = t.textOf(g.name);
                report(t, errors, false, "Warning! %.*s text block as input?\n",
                       static_cast<int>(nm.size()), nm.data());
                break;
            }
        }
    }
}

}  // namespace

void xFcgiLinkSegments(tcpHTML& t, FILE* errors) {
    dropSeparators(t);
    sizeFromTable(t);
    groupFields(t);
    linkBlocks(t, errors);
    if ((t.errors || t.warnings) && (logCtrlFlgs & LOG_DETAIL))
        logPrintf("#Template %s has %d warnings and %d errors\n", t.path.c_str(), t.warnings,
                  t.errors);
}
