// bench-libs: qor_xfcgi qor_xml qor_arc
// Filling a realistic converted screen page: 24 rows of 80 columns with 40
// fields (labels, output fields, input fields with edit masks), bound from
// the screen's data through its field file. Reports pages per second and
// output bytes per second, beside a plain copy of the same number of bytes;
// and the posted form of that page read back into the screen record, from
// zeros (Arg 0, as a DezUR data block) and over the host's own screen
// (Arg 1, as a screen input: fields posted as shown keep the host's bytes);
// the same for a web page of 960 and 1,920 one-column fields.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "fcgicalls.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {
size_t written = 0;
}

extern "C" {
FCGI_FILE _fcgi_sF[3];
int FCGI_Accept(void) { return -1; }
void FCGI_Finish(void) {}
size_t FCGI_fread(void*, size_t, size_t, FCGI_FILE*) { return 0; }
size_t FCGI_fwrite(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    benchmark::DoNotOptimize(ptr);
    written += size * nmemb;
    return nmemb;
}
int FCGI_printf(const char*, ...) { return 0; }
int FCGI_fflush(FCGI_FILE*) { return 0; }
}

namespace {

struct Screen {
    std::string dir;
    std::string page;
    std::string data;
};

// The page and field file a screen converter writes for a 24x80 screen.
Screen makeScreen() {
    Screen s;
    char pattern[] = "/tmp/pagefillXXXXXX";
    s.dir = mkdtemp(pattern);
    std::string htx =
        "<html><head><title>\\{mcs.name}</title>\r\n"
        "<link rel=\"stylesheet\" href=\"/qoric.css\" type=\"text/css\"></head>\r\n"
        "<body onload=\"init()\">\r\n<!--#DEZUR-CONVERTED-->\r\n"
        "<form name=\"\\{mcs.name}\" method=\"post\" action=\"qoric?sid=\\{sid}&pib.transaction="
        "\\{pib.transaction}&pib.locap=\\{pib.locap}&mcs.name=\\{mcs.name}&mcs.filler="
        "\\{mcs.filler}\">\r\n"
        "<input type=hidden name=McsStatus value=\" \"><input type=hidden name=McsSize "
        "value=\"\\{mcs.size}\"><input type=hidden name=McsCount value=\"\\{mcs.count}\">\r\n"
        "<table class=\"screen\" cellspacing=0 cellpadding=0>\r\n";
    std::string t3i = "<records>\n<record type=\"main\">\n";
    int field = 0;
    for (int row = 0; row < 24; ++row) {
        htx += "<tr><td class=\"r\">";
        for (int k = 0; k < 2 && field < 40; ++k) {
            if (row == 0 && k == 1) break;
            char name[24];
            std::snprintf(name, sizeof name, "field_%03d", field);
            const bool input = field % 3 == 1;
            const bool numeric = field % 5 == 2;
            const int len = numeric ? 9 : 10 + (field % 4) * 5;
            htx += "<span class=\"lbl\">Label " + std::to_string(field) + ":</span>&nbsp;";
            if (input) {
                htx += "<input type=text class=\"in\" name=\"" + std::string(name) +
                       "\" value=\"\\{" + name + "}\" size=" + std::to_string(len) +
                       " maxlength=" + std::to_string(len) + ">";
            } else {
                htx += std::string("<span class=\"out\">\\{") + name + "}</span>";
            }
            htx += "&nbsp;&nbsp;";
            t3i += std::string("    <field name=\"") + name + "\" mask=\"" +
                   (numeric ? "ZZZ,ZZ9.99" : "X(" + std::to_string(len) + ")") + "\"/>\n";
            std::string value = numeric ? "00123456J" : "Value of " + std::string(name);
            value.resize(static_cast<size_t>(len), ' ');
            s.data += value;
            ++field;
        }
        htx += "</td></tr>\r\n";
    }
    htx +=
        "</table>\r\n<p class=\"err\">\\{mcs.error}</p>\r\n</form>\r\n"
        "<script>function init(){ <!--#IF EXPR=\"mcs.activefield\"-->"
        "document.\\{mcs.name}.\\{mcs.activefield}.focus();<!--#ENDIF--> }</script>\r\n"
        "</body></html>\r\n";
    t3i += "</record>\n</records>\n";
    s.page = s.dir + "/screen.htx";
    std::ofstream(s.page) << htx;
    std::ofstream(s.dir + "/screen.t3i") << t3i;
    return s;
}

const Screen& screen() {
    static Screen s = makeScreen();
    return s;
}

void putSession() {
    xFcgiPutClear();
    xFcgiPutStr("sid", "R1A2B3C4");
    xFcgiPutStr("pib.transaction", "ORDERS");
    xFcgiPutStr("pib.locap", "HOST1");
    xFcgiPutStr("mcs.name", "ORDSCR");
    xFcgiPutStr("mcs.filler", " ");
    xFcgiPutInt("mcs.size", 720);
    xFcgiPutInt("mcs.count", 720);
    xFcgiPutStr("mcs.error", "");
    xFcgiPutStr("mcs.activefield", "field_001");
}

void BM_PageFill(benchmark::State& state) {
    const Screen& s = screen();
    tcpHTML* t = xFcgiGetFT(s.page.c_str());
    if (!t) {
        state.SkipWithError("template not loaded");
        return;
    }
    t->mcsCount = static_cast<int>(s.data.size());
    size_t bytes = 0;
    for (auto _ : state) {
        putSession();
        written = 0;
        xFcgiSendPreloadedTemplate(t, nullptr, s.data.c_str());
        bytes += written;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["page_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PageFill);

// The same number of bytes as one filled page, copied plainly.
void BM_PlainCopy(benchmark::State& state) {
    const Screen& s = screen();
    tcpHTML* t = xFcgiGetFT(s.page.c_str());
    if (!t) {
        state.SkipWithError("template not loaded");
        return;
    }
    t->mcsCount = static_cast<int>(s.data.size());
    putSession();
    written = 0;
    xFcgiSendPreloadedTemplate(t, nullptr, s.data.c_str());
    const size_t n = written;
    std::vector<char> from(n, 'x'), to(n);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), n);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(n) * state.iterations());
}
BENCHMARK(BM_PlainCopy);

void BM_FormMerge(benchmark::State& state) {
    const Screen& s = screen();
    tcpHTML* t = xFcgiGetFT(s.page.c_str());
    if (!t) {
        state.SkipWithError("template not loaded");
        return;
    }
    // Every field posted; every other one changed.
    std::string query;
    for (size_t i = 0; i < t->mainFields.size(); ++i) {
        const TemplateField& f = t->mainFields[i];
        const std::string shown = xFcgiShownText(s.data.substr(f.location, f.length), f, false);
        query += (i ? "&" : "") + f.name + "=" + (i % 2 ? "12" : shown);
    }
    for (char& c : query)
        if (c == ' ') c = '+';
    xFcgiGetParsedInput(query.c_str());
    std::vector<char> record(static_cast<size_t>(t->screenSize) + 8);
    XFcgiHostScreen host;
    host.data = s.data;
    XFcgiRefusedNumber refused;   // the gateway's merge checks every number
    for (auto _ : state) {
        int used = xFcgiGetMcsData(record.data(), record.size(), t, state.range(0) ? &host : nullptr, &refused);
        benchmark::DoNotOptimize(used);
        benchmark::DoNotOptimize(record.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormMerge)->Arg(0)->Arg(1);

// A web page of n one-column input fields (a full 24x80 screen has
// 1,920) with toweb and fromweb records of the same fields, as a page
// with an input-only field has them, and the host's data for it.
struct WebScreen {
    std::string page;
    std::string data;
};

const WebScreen& webScreen(int n) {
    static std::map<int, WebScreen> made;
    WebScreen& w = made[n];
    if (!w.page.empty()) return w;
    std::string htx = "<html><body><form name=\"web\" method=\"post\" action=\"qoric\">\r\n";
    std::string fields;
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d", i);
        htx += std::string("<input type=text name=\"") + name + "\" value=\"\\{" + name +
               "}\" size=1 maxlength=1>" + (i % 80 == 79 ? "<br>\r\n" : "");
        fields += std::string("    <field name=\"") + name + "\" mask=\"X(1)\"/>\n";
        w.data += static_cast<char>('A' + i % 26);
    }
    htx += "</form></body></html>\r\n";
    w.page = screen().dir + "/web" + std::to_string(n) + ".htx";
    std::ofstream(w.page) << htx;
    std::ofstream(screen().dir + "/web" + std::to_string(n) + ".t3i")
        << "<records>\n<record type=\"toweb\">\n" + fields + "</record>\n<record type=\"fromweb\">\n" +
               fields + "</record>\n</records>\n";
    return w;
}

// Arg 0: the number of fields; Arg 1: over the host's screen (1) or from
// zeros (0). Every fourth field is not posted; of the others every other
// one is changed.
void BM_FormMergeWeb(benchmark::State& state) {
    const WebScreen& w = webScreen(static_cast<int>(state.range(0)));
    tcpHTML* t = xFcgiGetFT(w.page.c_str());
    if (!t || t->fromwebFields.size() != w.data.size()) {
        state.SkipWithError("template not loaded");
        return;
    }
    std::string query;
    for (size_t i = 0; i < t->fromwebFields.size(); ++i) {
        if (i % 4 == 3) continue;
        query += (query.empty() ? "" : "&") + t->fromwebFields[i].name + "=" + (i % 2 ? 'z' : w.data[i]);
    }
    xFcgiGetParsedInput(query.c_str());
    std::vector<char> record(static_cast<size_t>(t->screenSize) + 8);
    XFcgiHostScreen host;
    host.data = w.data;
    XFcgiRefusedNumber refused;
    for (auto _ : state) {
        int used = xFcgiGetMcsData(record.data(), record.size(), t, state.range(1) ? &host : nullptr, &refused);
        benchmark::DoNotOptimize(used);
        benchmark::DoNotOptimize(record.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));   // fields
}
BENCHMARK(BM_FormMergeWeb)->ArgsProduct({{960, 1920}, {0, 1}})->Unit(benchmark::kMicrosecond);

// N nested blocks of MAX=2 around one line: 2^N rows of a short line, the
// innermost at depth N. Filling must cost in proportion to its output.
std::string nestedTemplate(int levels) {
    std::string t = "<html><body>\r\n";
    for (int k = 1; k <= levels; ++k) t += "<!--#BEGIN NAME=b" + std::to_string(k) + " MAX=2-->";
    t += "<p>row \\{b" + std::to_string(levels) + ".index}</p>\r\n";
    for (int k = levels; k >= 1; --k) t += "<!--#END NAME=b" + std::to_string(k) + "-->";
    return t + "</body></html>\r\n";
}

void BM_NestedRepetition(benchmark::State& state) {
    const int levels = static_cast<int>(state.range(0));
    const Screen& s = screen();
    const std::string path = s.dir + "/nested" + std::to_string(levels) + ".htx";
    std::ofstream(path) << nestedTemplate(levels);
    tcpHTML* t = xFcgiGetFT(path.c_str());
    if (!t) {
        state.SkipWithError("template not loaded");
        return;
    }
    size_t bytes = 0;
    for (auto _ : state) {
        xFcgiPutClear();
        written = 0;
        xFcgiSendPreloadedTemplate(t, nullptr, nullptr);
        bytes += written;
    }
    state.SetItemsProcessed(state.iterations() << levels);   // rows
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["page_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_NestedRepetition)->DenseRange(10, 16, 2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf '" + screen().dir + "'").c_str());
    return 0;
}
