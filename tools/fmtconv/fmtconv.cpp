// fmtconv [-a add_html] file ... [out_dir]
//
// Converts each screen-format file into a page template (.htx) and a field
// file (.t3i) named after its format, in out_dir when the last argument is
// an existing directory, else in the working directory. Messages go to
// standard output; why a file could not be converted goes to standard
// error. Exit status 0 when every file was converted, 1 otherwise (and
// after the usage text).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "ZelMCSConverter.h"
#include "logprint.h"

namespace {

const char *const kUsage[] = {
    "Usage:",
    "        fmtconv [-a<add_html>] <file> ... [<out_dir>]",
    "        fmtconv [-h|-?]",
    "    Converts all files given in \"<file> ...\".",
    "    (you can use wildcards here, such as in ",
    "        fmtconv ./in_dir/*.t3z ./out_dir ",
    "    Output .htx and .t3i files are written",
    "    into the (existing!) directory <out_dir> if given ",
    "    (that is, if the last argument is the name of the existing",
    "    directory), otherwise into the current directory.",
    "    If -a option is present, file <add_html> is",
    "    used as additional html file.",
    "    If -h or -? option are present prints usage and",
    "    exits.",
    "    The QOR/ix MCS formats a kept in $QORROOT/mcs/group ",
    "      where 'group' is QOR$Y$ or a customer group name ",
};

}  // namespace

int main(int argc, char **argv) {
    std::string additionalHtml;
    bool usage = false;
    opterr = 0;   // the usage text says what is wrong
    for (int c; (c = getopt(argc, argv, "a:h")) != -1;) {
        if (c == 'a')
            additionalHtml = optarg;
        else
            usage = true;
    }

    int last = argc;   // files are argv[optind .. last - 1]
    std::string outputDirectory;
    if (optind < argc) {
        struct stat st {};
        if (stat(argv[argc - 1], &st) != 0) {
            std::printf("Something wrong with file or directory %s\n", argv[argc - 1]);
            return 1;
        }
        if (S_ISDIR(st.st_mode)) {
            outputDirectory = argv[argc - 1];
            last = argc - 1;
        }
    }

    std::printf("fmtconv: QOR/ix screen formats (.t3z) to page templates (.htx) and field files (.t3i)\n");
    if (usage || argc < 2) {
        for (const char *line : kUsage) std::printf("%s\n", line);
        return 1;
    }

    // The converter's reasons for a failure go to standard error.
    logOptions("#2");
    CZelMCSConverter converter;
    if (!outputDirectory.empty()) converter.SetOutputDirectory(outputDirectory);
    if (!additionalHtml.empty()) converter.SetAdditionalHTMLFile(additionalHtml);
    for (int i = optind; i < last; ++i) {
        if (converter.Convert(std::string(argv[i])) != Result::Success) {
            std::printf("Can't convert file %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
