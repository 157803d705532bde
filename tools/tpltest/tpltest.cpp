// tpltest: loads an HTML template into the template toolkit, rewrites it on
// request into DezUR copybook procedures (-c) and an .htx template with its
// .t3i field file (-h), and, given a sample file of host screen data (-m),
// fills it as the gateway would and writes the page into its log (-t),
// then reads the sample form input back into screen data.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "gossig.h"
#include "logprint.h"
#include "tpltest.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"
#include "xfcgirewrite.h"

namespace {

// Paths and directories are limited to 199 characters, as the tool has
// always kept them.
constexpr size_t kMaxPath = 199;

// COBOL reserved words that template names are renamed from when copybooks
// are written.
const char* const kReplacements[][2] = {
    {"AS", "XAS"},
    {"AUTO", "XAUTO"},
    {"BASIS", "XBASIS"},
    {"BELL", "BELLX"},
    {"BLINK", "XBLINK"},
    {"CLASS", "XCLASS"},
    {"COL", "COL-Y"},
    {"CURRENT-DATE", "CURRENTXDATE"},
    {"CURSOR", "XCURSOR"},
    {"DATETIME", "DATETIMX"},
    {"DAY-OF-WEEK", "DAYXOF-WEEK"},
    {"DE", "XDE"},
    {"EOL", "XEOL"},
    {"FULL", "XFULL"},
    {"ID", "XID"},
    {"LEFT-JUSTIFY", "LEFTXJUSTIFY"},
    {"LIST", "XLIST"},
    {"MANUAL", "MANUALX"},
    {"METHOD", "METHODX"},
    {"NAME", "XNAM"},
    {"NULL", "NULV"},
    {"NUMBER", "XNUMBER"},
    {"OTHER", "OTHERX"},
    {"PRINTER-1", "PRINTERX1"},
    {"RANGE", "XRANGE"},
    {"RETURN-CODE", "RETURNXCODE"},
    {"SECURE", "XSECURE"},
    {"SORT-RETURN", "SORTXRETURN"},
    {"SPACE-FILL", "SPACEXFILL"},
    {"SQL", "SQL-X"},
    {"TAB", "XTAB"},
    {"TEST", "XTEST"},
    {"TEXT", "XTEXT"},
    {"TIME-OF-DAY", "TIMEXOF-DAY"},
    {"TIMEOUT", "XTIMEOUT"},
    {"TITLE", "XTITLE"},
    {"TRACE", "TRACEX"},
    {"UNDERLINE", "UNDERXLINE"},
    {"UPDATE", "UPDATEX"},
    {"USER-ID", "USERXID"},
    {"ZERO-FILL", "ZEROXFILL"},
};

void usage(const char* program) {
    qorver(stdout);
    std::printf("%s -i htmltemplate -c cpydir -h htxdir\n", program);
    std::printf("    -i   Input HTML template file to read\n");
    std::printf("    -c   Directory to write 'dezur' PROC (DezUR)\n");
    std::printf("    -h   Directory to write QOR/ic .htx & .t3i files\n");
    std::printf("\n");
    std::printf("%s debugging options:\n", program);
    std::printf("    -t   turns on logging (/tmp/xfcgi.log)\n");
    std::printf("    -m   Sample file with mcsdata/fccmod\n");
}

bool given(const std::string& path) {
    return !path.empty() && static_cast<unsigned char>(path[0]) > ' ';
}

bool endsWith(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    qorIgnoreSigPipe();
    for (const auto& r : kReplacements) xFcgiReplaceName(r[0], r[1]);
    std::string currentDir = ".";
    if (char* cwd = getcwd(nullptr, 0)) {
        currentDir = cwd;
        std::free(cwd);
    }

    std::string input, copyDir, htxDir, sample;
    opterr = 0;
    int opt;
    while ((opt = getopt(argc, argv, "i:tc:h:m:")) != -1) {
        std::string* target = nullptr;
        switch (opt) {
        case 'i': target = &input; break;
        case 'c': target = &copyDir; break;
        case 'h': target = &htxDir; break;
        case 'm': target = &sample; break;
        case 't':
            tpltestLog = tpltestOpenLog();
            if (tpltestLog) logOptions("thq");
            break;
        default:
            input.clear();
            std::printf("Bad option %c %s\n", optopt ? optopt : opt, optarg ? optarg : "");
            break;
        }
        if (target) {
            if (std::strlen(optarg) > kMaxPath) {
                std::fprintf(stderr, "%s: the argument of -%c is longer than %zu characters\n",
                             argv[0], opt, kMaxPath);
                return 255;
            }
            *target = optarg;
        }
    }

    if (input.empty() || std::iscntrl(static_cast<unsigned char>(input[0]))) {
        usage(argv[0]);
        return 255;
    }

    xFcgiLoadTemplate(input.c_str(), tpltestLog ? tpltestLog : stderr, tpltestLog, true);
    tcpHTML* tmpl = xFcgiGetFT(input.c_str());
    if (!tmpl) {
        std::printf("ERROR %s was not loaded\n", input.c_str());
        return 255;
    }
    if (given(copyDir) || given(htxDir)) {
        // A file that could not be written has been reported; nothing is
        // claimed written then.
        if (xFcgiRewriteTemplate(input.c_str(), copyDir, htxDir) != XFCGI_REWRITE_DONE) {
            logClose();
            return 255;
        }
        if (given(copyDir))
            std::printf("DezUR COPY books written to %s\n",
                        copyDir == "." ? currentDir.c_str() : copyDir.c_str());
        if (given(htxDir))
            std::printf("QOR/ic htx/t3i files written to %s\n",
                        htxDir == "." ? currentDir.c_str() : htxDir.c_str());
        std::printf("Processing of %s is complete\n", input.c_str());
    } else if (endsWith(tmpl->path, ".htx")) {
        tmpl->t3iPath = tmpl->path.substr(0, tmpl->path.size() - 4) + ".t3i";
    }

    int status = 0;
    if (given(sample)) status = tpltestFormTest(tmpl, sample);
    if (status != 0) return status;

    xFcgiTemplateCache(0);
    xFcgiFreeFlds();
    logClose();
    return 0;
}
