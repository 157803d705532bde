// Template rewriting for tpltest: an HTML page template, compiled by the
// template toolkit, becomes
//   - <dir>/<name>.htx   the page in the .htx language,
//   - <dir>/<name>.t3i   its field file (toweb and fromweb records, or a
//                        "main" record for a page without field tables),
//   - <cpy>/HTML-<NAME>-OUTPUT and HTML-<NAME>-INPUT, DezUR copybook
//     procedures (COBOL record descriptions) of the screen data the host
//     program sends to the page and reads back from it,
// plus the COBOL name helpers these files are written with.
//
// <name> is the template file's name without its folder, without what
// follows its first '.', and without a leading "html-"; <NAME> is the same
// in upper case. html-order.html gives order.htx, order.t3i,
// HTML-ORDER-OUTPUT and HTML-ORDER-INPUT.
#ifndef QOR_XFCGIREWRITE_H
#define QOR_XFCGIREWRITE_H

#include <cstdio>
#include <string>
#include <string_view>

struct tcpHTML;

// Result of xFcgiRewriteTemplate.
enum : int {
    XFCGI_REWRITE_NOT_LOADED = 0,  // the template could be neither found nor loaded
    XFCGI_REWRITE_DONE = 1,        // every file asked for was written
    XFCGI_REWRITE_FAILED = -1,     // a file could not be created ("Error opening %s"
                                   // logged and on standard error); the others were written
};

// Rewrites template (loaded for the tool when it is not in the cache):
// the .htx and .t3i files into htxDir, the copybooks into copybookDir; a
// directory counts as given when its first character is above the blank.
// A directory given as "./" becomes "." (after the .htx file is written).
// The template's pad bytes, the sizes of its input fields that the
// template's fromweb table gives, and (after a .t3i file was written) its
// field-file path are updated.
//
// Literal text that begins with the value of LOCALHTTP (or else of
// LOCALHTTPS, used only when LOCALHTTP is set) is written as
// "\{LOCALHTTP}" ("\{LOCALHTTPS}"); an empty value counts as unset.
// The rewritten page fills as the template did: after its
// "<!--#DEZUR-CONVERTED-->" marker a literal '~' that would open a
// "~name~" is written as <!--#ECHO VALUE="~"-->, an #ECHO directive is
// written back whole, and attribute values are quoted as their text needs.
int xFcgiRewriteTemplate(const char* tmpl, std::string& copybookDir, std::string& htxDir);

// ------------------------------------------------------- name helpers ----

// COBOL form of a name: '_' becomes '-', letters become upper case.
void fixUpCobName(std::string& name);
// Template form of a name: '-' becomes '_'.
void fixUpName(std::string& name);
// The replacement of name on the replacement-name list (xFcgiReplaceName,
// compared as xFcgiNamesEqual), or name itself.
std::string getCobName(std::string_view name);
// Writes text to stream.
void sendHtml(FILE* stream, std::string_view text);
// The comment block that opens a generated procedure: the form's name,
// the user (getUnixUser) and the time ("%02d %s %04d  %02d:%02d:%02d",
// month as JAN..DEC).
void sendCobHdr(FILE* stream, const char* name);

// ----------------------------------------------- toolkit-internal parts ----

// Names of the files of a template path (see the top of this header).
struct XFcgiRewriteNames {
    std::string lower;  // "order"
    std::string upper;  // "ORDER"
};
XFcgiRewriteNames xFcgiRewriteBaseName(const std::string& path);

// Pad bytes behind an item of total bytes: 4 - total % 4, so 1 to 4.
inline int xFcgiPadOf(long long total) { return static_cast<int>(4 - total % 4); }

// Opens a file for writing; a failure is logged ("Error opening %s") and
// told on standard error. Closing reports (likewise) a file not written
// whole.
FILE* xFcgiRewriteOpen(const std::string& path);
bool xFcgiRewriteClose(FILE* f, const std::string& path);

// The two copybooks into dir; false when one could not be created.
bool xFcgiWriteCopybooks(tcpHTML& t, const XFcgiRewriteNames& names, const std::string& dir);

// Segments that the INPUT copybook and the fromweb record describe: the
// input fields that are not a later member of a repeated group.
bool xFcgiIsCountedInput(const tcpHTML& t, size_t segment);
// Bytes of a counted input (size times its group count from 2 on).
long long xFcgiInputTotal(const tcpHTML& t, size_t segment);

#endif
