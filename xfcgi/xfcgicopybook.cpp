// The DezUR copybook procedures of a page: HTML-<NAME>-OUTPUT describes the
// screen data the host program sends to the page (the template's main
// field table), HTML-<NAME>-INPUT the data it reads back from the form
// (the page's input fields). Each is a header area (eye-catcher, form
// name, field count and data length), a control area with one CNTRL group
// per field, and the data area.
#include <algorithm>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgirewrite.h"

namespace {

// Names in the header and control areas fill a 32-byte slot; a longer one
// is cut to the slot.
constexpr size_t kNameSlot = 32;

// The name in its slot: the name's filler, then LOW-VALUES up to 32 bytes.
void nameSlot(FILE* f, const char* prefix, const std::string& name) {
    const size_t len = std::min(name.size(), kNameSlot);
    std::fprintf(f, "%sX(%d) VALUE '%.*s'.\n", prefix, static_cast<int>(len),
                 static_cast<int>(len), name.data());
    if (len < kNameSlot)
        std::fprintf(f, "%sX(%d) VALUE LOW-VALUES.\n", prefix, static_cast<int>(kNameSlot - len));
}

void headerArea(FILE* f, const std::string& form, size_t count, long long total) {
    std::fprintf(f, "         05  HEADER-AREA.\n");
    std::fprintf(f, "             10 FILLER PIC  X(8) VALUE 'VOVOROD$'.\n");
    nameSlot(f, "             10 FILLER PIC  ", form);
    std::fprintf(f, "             10 FILLER PIC  9(8) BINARY VALUE %d.\n", static_cast<int>(count));
    std::fprintf(f, "             10 FILLER PIC  9(8) BINARY VALUE %lld.\n", total);
    std::fprintf(f, "      * \n");
    std::fprintf(f, "         05  CONTROL-AREA.\n");
}

void cntrlGroup(FILE* f, const std::string& group, size_t number, const std::string& cob,
                long long length, int occurs, int fieldCount) {
    std::fprintf(f, "      * \n");
    std::fprintf(f, "             10 %s-CNTRL.\n", group.c_str());
    std::fprintf(f, "               15 CGI-USE.\n");
    std::fprintf(f, "                 20 FILLER PIC 9(8) BINARY VALUE %d.\n",
                 static_cast<int>(number));
    nameSlot(f, "                 20 FILLER PIC ", cob);
    std::fprintf(f, "                 20 FILLER PIC 9(8) BINARY VALUE %lld.\n", length);
    std::fprintf(f, "                 20 FILLER PIC 9(8) BINARY VALUE %d.\n", occurs);
    std::fprintf(f, "               15 FIELD-COUNT   PIC 9(8) BINARY VALUE %d.\n", fieldCount);
}

// One data item (indent: the item's columns), then its pad filler.
void dataItem(FILE* f, const char* indent, const std::string& cob, long long length, int occurs,
              int pad) {
    std::fprintf(f, "%s10 %-22s PIC X(%lld) %sVALUE SPACES", indent, getCobName(cob).c_str(),
                 length, length <= 9 ? " " : "");
    if (occurs >= 2)
        std::fprintf(f, "\n                     OCCURS %d INDEXED BY %s-INDEX", occurs, cob.c_str());
    std::fprintf(f, ".\n");
    if (pad) std::fprintf(f, "%s10 %-22s PIC X(%d)  VALUE LOW-VALUES.\n", indent, "FILLER", pad);
}

long long totalOf(const TemplateField& e) {
    return e.occurrences >= 2 ? static_cast<long long>(e.occurrences) * e.length : e.length;
}

std::string cobOf(const TemplateField& e) {
    std::string c = e.cobName.empty() ? e.name : e.cobName;
    fixUpCobName(c);
    return c;
}

void writeOutput(FILE* f, const tcpHTML& t, const XFcgiRewriteNames& names) {
    sendCobHdr(f, names.lower.c_str());
    long long total = 0;
    for (const TemplateField& e : t.mainFields) total += totalOf(e) + e.pad;
    std::fprintf(f, "       01  HTML-%s-OUTPUT.\n", names.upper.c_str());
    headerArea(f, names.lower, t.mainFields.size(), total);
    size_t number = 0;
    for (const TemplateField& e : t.mainFields)
        cntrlGroup(f, e.name, ++number, cobOf(e), e.length, e.occurrences, e.occurrences);
    std::fprintf(f, "      * \n");
    std::fprintf(f, "         05  DATA-AREA.\n");
    for (const TemplateField& e : t.mainFields)
        dataItem(f, "           ", cobOf(e), e.length, e.occurrences, e.pad);
}

void writeInput(FILE* f, const tcpHTML& t, const XFcgiRewriteNames& names) {
    sendCobHdr(f, names.lower.c_str());
    std::vector<size_t> inputs;
    long long total = 0;
    for (size_t i = 0; i < t.segments.size(); ++i) {
        if (!xFcgiIsCountedInput(t, i)) continue;
        inputs.push_back(i);
        total += xFcgiInputTotal(t, i) + xFcgiPadOf(xFcgiInputTotal(t, i));
    }
    auto cobName = [&](size_t i) {
        std::string n(t.textOf(t.segments[i].name));
        fixUpCobName(n);
        return n;
    };
    std::fprintf(f, "       01  HTML-%s-INPUT.\n", names.upper.c_str());
    headerArea(f, names.lower, inputs.size(), total);
    size_t number = 0;
    for (size_t i : inputs) {
        const HtmlSegment& g = t.segments[i];
        cntrlGroup(f, cobName(i), ++number, cobName(i), g.size, g.maxRep, 0);
    }
    std::fprintf(f, "      * \n");
    std::fprintf(f, "         05  DATA-AREA.\n");
    for (size_t i : inputs) {
        const HtmlSegment& g = t.segments[i];
        dataItem(f, "             ", cobName(i), g.size, g.maxRep,
                 xFcgiPadOf(xFcgiInputTotal(t, i)));
    }
}

}  // namespace

bool xFcgiWriteCopybooks(tcpHTML& t, const XFcgiRewriteNames& names, const std::string& dir) {
    bool ok = true;
    const std::string output = dir + "/HTML-" + names.upper + "-OUTPUT";
    if (FILE* f = xFcgiRewriteOpen(output)) {
        logPrintf("#Write %s to dezur %s\n", t.path.c_str(), output.c_str());
        writeOutput(f, t, names);
        ok = xFcgiRewriteClose(f, output) && ok;
    } else {
        ok = false;
    }
    const std::string input = dir + "/HTML-" + names.upper + "-INPUT";
    if (FILE* f = xFcgiRewriteOpen(input)) {
        logPrintf("#Write %s to dezur %s\n", t.path.c_str(), input.c_str());
        writeInput(f, t, names);
        ok = xFcgiRewriteClose(f, input) && ok;
    } else {
        ok = false;
    }
    return ok;
}
