// The form test: the sample file's screen data fills the template as the
// gateway would (the page goes into the log through the FastCGI
// replacements), and its form input is read back into screen data.
//
// Sample file: lines of screen data, then optional sections opened by the
// lines "<mcsdata>", "<inpdata>" (form input, one "name=value" a line) and
// "<fccmod>" (field-control modifications); closing tags are passed over.
#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "logprint.h"
#include "regularfile.h"
#include "tpltest.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

constexpr size_t kScreenBytes = 4096;
constexpr size_t kInputBytes = 4096;   // with the "&" separators and a NUL
constexpr size_t kFccBytes = 512;
constexpr size_t kLineMax = 2998;
const std::string kStars(61, '*');

struct Sample {
    std::vector<char> screen = std::vector<char>(kScreenBytes, ' ');
    std::string input;
    std::vector<char> fcc = std::vector<char>(kFccBytes, ' ');
    size_t screenCount = 0, fccCount = 0;
    bool cut = false;
};

// Appends text to a fixed sample buffer, cutting what does not fit.
void append(std::vector<char>& buf, size_t& count, const char* text, size_t len, bool& cut) {
    size_t room = buf.size() - count;
    if (len > room) {
        len = room;
        cut = true;
    }
    std::memcpy(buf.data() + count, text, len);
    count += len;
}

bool readSample(FILE* f, Sample& s) {
    enum { Screen, Input, Fcc } target = Screen;
    char line[kLineMax + 1];
    while (std::fgets(line, sizeof line, f)) {
        size_t len = std::strlen(line);
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
        if (strncasecmp(line, "<mcsdata>", 9) == 0) {
            target = Screen;
        } else if (strncasecmp(line, "<inpdata>", 9) == 0) {
            target = Input;
        } else if (strncasecmp(line, "<fccmod>", 8) == 0) {
            target = Fcc;
        } else if (strncasecmp(line, "</mcsdata>", 10) == 0 ||
                   strncasecmp(line, "</inpdata>", 10) == 0 ||
                   strncasecmp(line, "</fccmod>", 9) == 0) {
            // closing tags change nothing
        } else if (target == Screen) {
            append(s.screen, s.screenCount, line, len, s.cut);
        } else if (target == Fcc) {
            append(s.fcc, s.fccCount, line, len, s.cut);
        } else {
            // Room for the text and its "&" separator, a NUL kept free.
            size_t room = kInputBytes - 1 > s.input.size() ? kInputBytes - 1 - s.input.size() : 0;
            if (len + 1 > room) {
                len = room > 0 ? room - 1 : 0;
                s.cut = true;
            }
            s.input.append(line, len);
            if (room > len) s.input += '&';
        }
    }
    if (!s.input.empty() && s.input.back() == '&') s.input.pop_back();
    return !std::ferror(f);
}

}  // namespace

int tpltestFormTest(tcpHTML* tmpl, const std::string& samplePath) {
    Sample s;
    {
        std::string why;
        UniqueFile f = OpenRegularFile(samplePath, &why);
        if (!f) {
            std::printf("Unable to open sample MCSDATA file %s (%s)\n", samplePath.c_str(), why.c_str());
            return 255;
        }
        readSample(f.get(), s);
    }
    if (s.cut)
        std::fprintf(stderr, "Sample %s: a section longer than its buffer was cut\n",
                     samplePath.c_str());

    tmpl->mcsData = s.screen.data();
    tmpl->mcsCapacity = s.screen.size();
    tmpl->mcsCount = static_cast<int>(s.screenCount);
    if (s.screenCount > 0) xFcgiSaveMcsData(s.screen.data(), static_cast<int>(s.screenCount));
    tmpl->fccMods = s.fcc.data();
    tmpl->fccLength = static_cast<int>(s.fccCount);
    if (!tmpl->t3iPath.empty()) {
        std::string path = tmpl->t3iPath;
        std::string refused;
        if (!xFcgiLoadDataDesc(tmpl, path.c_str(), true, &refused)) {
            if (refused.empty())
                std::printf("ERROR opening %s\n", path.c_str());
            else
                std::printf("ERROR %s was refused: %s\n", path.c_str(), refused.c_str());
            return 255;
        }
    }
    // The form read may fill the whole screen record the field file describes.
    if (static_cast<size_t>(std::max(tmpl->screenSize, 0)) > s.screen.size()) {
        s.screen.resize(static_cast<size_t>(tmpl->screenSize), ' ');
        tmpl->mcsData = s.screen.data();
        tmpl->mcsCapacity = s.screen.size();
    }

    logPrintf("\n%s\n", kStars.c_str());
    logPrintf("#Testing form with sample data %s\n", samplePath.c_str());
    logDumpHex("MCSDATA", s.screen.data(), static_cast<int>(s.screenCount));
    logDumpHex("FCCMOD", s.fcc.data(), static_cast<int>(s.fccCount));

    const int count = static_cast<int>(s.screenCount);
    xFcgiPutStr("mcs.error", "Test Mcs Error");
    xFcgiPutStr("mcs.name", "TSTMCSNM");
    xFcgiPutChr("mcs.function", ' ');
    xFcgiPutChr("mcs.hold", ' ');
    xFcgiPutChr("mcs.status", ' ');
    xFcgiPutInt("mcs.size", count);
    xFcgiPutInt("mcs.count", count);
    xFcgiPutChr("McsStatus", ' ');
    xFcgiPutInt("McsSize", count);
    xFcgiPutInt("McsCount", count);
    xFcgiPutChr("mcs.filler", ' ');
    xFcgiPutStr("mcs.page", "mcspage");
    xFcgiPutInt("err.code", 0);
    xFcgiPutStr("err.administrator", "webmaster@localhost");
    xFcgiPutStr("PIB.TRANSACTION", "tpltest");
    xFcgiPutStr("PIB.LOCAP", "BatchTst");
    xFcgiPutStr("SID", "01SID99TST");

    logPrintf("#Result of Send Form follows\n");
    logPrintf("%s\n", kStars.c_str());
    xFcgiSendTemplate(tmpl->path.c_str(), nullptr);
    logPrintf("\n");
    logPrintf("%s\n", kStars.c_str());
    logPrintf("#End of Send Form\n\n");

    if (!s.input.empty() && static_cast<unsigned char>(s.input[0]) > ' ') {
        logPrintf("#Result of Simulated Form Read\n");
        logPrintf("%s\n", kStars.c_str());
        std::fill(s.screen.begin(), s.screen.end(), static_cast<char>(0xFF));
        tmpl->mcsData = s.screen.data();
        tmpl->mcsCapacity = s.screen.size();
        tmpl->fccMods = s.fcc.data();
        xFcgiGetParsedInput(s.input.c_str());
        int read = xFcgiGetMcsData(nullptr, 0, tmpl);
        logPrintf("\n");
        logPrintf("%s\n", kStars.c_str());
        logPrintf("#End of Form Read\n");
        if (read > 0) logDumpHex("MCSDATA Read", s.screen.data(), read);
    }
    // The buffers end here: the template must not keep pointing at them.
    tmpl->mcsData = nullptr;
    tmpl->mcsCapacity = 0;
    tmpl->mcsCount = 0;
    tmpl->fccMods = nullptr;
    tmpl->fccLength = 0;
    return 0;
}
