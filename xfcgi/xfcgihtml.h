// Page templates (.htx): the compiled template record, template lookup and
// the template cache, the template compiler, and page filling and output.
//
// A template is read and compiled once into a table of segments (literal
// text, placeholders, form fields, directives) and kept in a process-wide
// cache; filling a page is a walk over the segments that takes values from
// the output-variable table (xfcgiout.h), the page's screen data and the
// environment, and writes through the six FastCGI calls (fcgicalls.h).
//
// Plain functions over process-wide state; one page at a time.
#ifndef QOR_XFCGIHTML_H
#define QOR_XFCGIHTML_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "xfcgiexpr.h"
#include "xfcgiout.h"
#include "xfcgit3i.h"

// ------------------------------------------------------------ segments ----

enum HtmlSegKind : uint8_t {
    SEG_VARIABLE = 1,     // placeholder, CHAR, text input
    SEG_VARCHAR = 2,      // VARCHAR; DezUR substitution fields
    SEG_INT = 3,          // INT; image inputs (click coordinates)
    SEG_FLOAT = 4,
    SEG_BOOL = 9,
    SEG_SUBMIT = 10,
    SEG_TEXTAREA = 11,
    SEG_CHECKBOX = 12,
    SEG_RADIO = 13,
    SEG_SELECT = 14,
    SEG_TEXT = 15,        // literal text
    SEG_SUBSCRIPT = 16,   // row subscripts of a repeated input's name
    SEG_INCLUDE = 17,
    SEG_SET = 18,
    SEG_ECHO = 19,        // #ECHO, ECHO keyword, expression placeholders
    SEG_IF = 21,
    SEG_ELIF = 22,
    SEG_ELSE = 23,
    SEG_BEGIN = 24,
    SEG_END = 25,         // #END and #ENDIF
    SEG_TRANSACTION = 26, // \{$code} and \{*code} links
};

// A piece of the template text: offset and length, so that a record stays
// valid when it is moved or copied.
struct TextSpan {
    uint32_t off = 0;
    uint32_t len = 0;
    bool empty() const { return len == 0; }
};

struct HtmlSegment {
    // Direction bits.
    static constexpr uint8_t kOutput = 1;
    static constexpr uint8_t kInput = 2;
    // Bits of flags.
    static constexpr uint32_t kDefaultFromValue = 1u << 0;  // ALTER: default is the tag's VALUE
    static constexpr uint32_t kInline = 1u << 1;
    static constexpr uint32_t kTextOnly = 1u << 2;
    static constexpr uint32_t kRadioGroup = 1u << 3;    // #BEGIN RadioGroup="YES"; radio Subscript
    static constexpr uint32_t kImage = 1u << 4;         // image input
    static constexpr uint32_t kCompute = 1u << 5;       // value is a compiled expression
    static constexpr uint32_t kHref = 1u << 6;
    static constexpr uint32_t kSid = 1u << 7;
    static constexpr uint32_t kTid = 1u << 8;
    static constexpr uint32_t kIncludeProcessed = 1u << 9;
    static constexpr uint32_t kApp = 1u << 10;          // a field the application uses
    static constexpr uint32_t kImages = 1u << 11;       // IMAGES=Y: image directory prefix
    static constexpr uint32_t kUnlimited = 1u << 12;    // MAX=*
    static constexpr uint32_t kSizedFromTable = 1u << 13;
    static constexpr uint32_t kInScript = 1u << 14;     // inside a SCRIPT element
    static constexpr uint32_t kInScriptString = 1u << 15;  // ...and in a string literal there
    static constexpr uint32_t kInUrlQuery = 1u << 16;   // in a URL's query (ACTION, HREF, SRC)

    uint8_t kind = SEG_TEXT;
    uint8_t firstKind = SEG_TEXT;  // kind as first recorded
    uint8_t direction = 0;
    uint32_t flags = 0;
    TextSpan name;      // variable, block, include file or transaction code
    TextSpan altName;   // the form field's NAME when it differs
    TextSpan defValue;  // default text (Bool: the false text)
    TextSpan value;     // IF/ELIF/SET/ECHO expression or value text; Bool true text
    TextSpan own;       // literal text; the text between a placeholder's braces;
                        // the directive text of Set; the file of Include
    ExprList expr;      // compiled value (conditions, COMPUTE/EXPR, expression placeholders)
    int32_t size = 0;
    int32_t rows = 0, cols = 0;   // text areas
    int32_t rep = 0;              // position in its group of fields
    int32_t maxRep = 0;           // group count (first member); block MAX (-1: unlimited)
    int32_t level = 0;            // nest level; for a Subscript the open #BEGIN count
    uint32_t elseAt = 0;          // If/Elif/Else/Begin: next branch or the End
    uint32_t endAt = 0;           // If/Elif/Else/Begin: the End; End: its start
    uint32_t line = 0;            // line of the template text
};

// ---------------------------------------------------- compiled template ----

struct tcpHTML {
    // Bits of flags.
    static constexpr unsigned kInUse = 1;       // a page or include is written from it
    static constexpr unsigned kWebTables = 2;   // toweb/fromweb tables or a substitution
                                                // list: EBCDIC signs, data description
    static constexpr unsigned kOwnsScreen = 8;  // the screen buffer is ownScreen
    static constexpr unsigned kOwnsHeader = 16;
    static constexpr unsigned kFilled = 32;     // the gateway filled the page: the
                                                // last-form cookie is wanted
    static constexpr unsigned kConverted = 64;  // the converter's field file: host
                                                // values as on a main-record page
    static constexpr unsigned kFieldFileRefused = 128;  // its .t3i exists but was
                                                        // refused: no field tables
    // The members up to ownScreen are the field-table reader's and request
    // input's view of a template; they keep this order.
    std::string path;       // as it was found
    unsigned flags = 0;

    // Field tables (xfcgit3i.h); the compiler adds the DezUR substitution
    // list to the main table.
    TemplateFieldTable mainFields;     // "MCS Fields"
    TemplateFieldTable towebFields;    // "Send To Web"
    TemplateFieldTable fromwebFields;  // "Read From Web"
    std::string t3iPath;
    int screenSize = 0;     // largest end of a field over all groups
    int usedScreenLen = 0;  // largest field end of the last form read
    int fccModCount = 0;    // twice the field occurrences of the largest group

    // Screen record: handed in by the caller (mcsData, mcsCapacity bytes),
    // or with kOwnsScreen the template's own ownScreen. A page is filled
    // from its first mcsCount bytes; a submitted form is read into it.
    char* mcsData = nullptr;
    size_t mcsCapacity = 0;
    std::vector<char> ownScreen;
    int mcsCount = 0;       // bytes of screen data for filling
    int mcsSize = 0;        // size field of the screen message
    char mcsFiller = ' ';
    const char* fccMods = nullptr;  // field-control modifications
    int fccLength = 0;

    // The compiled text.
    std::string text;
    std::vector<HtmlSegment> segments;
    // Offsets of the '~' the compiler read as plain text: where a
    // rewritten page, whose "~" opens names, must keep a literal '~'.
    std::vector<uint32_t> tildes;
    int64_t fileTime = -1;  // modification time of the file read (ns)
    int64_t t3iTime = -1;   // the same of its field file, -1 when it had none
    time_t loadTime = 0;    // when it was read
    time_t checkTime = 0;   // when it was last compared with its file
    int useCount = 0;
    int errors = 0, warnings = 0;
    int inUse = 0;          // pages and includes being written from it

    std::string_view textOf(TextSpan s) const {
        if (s.off >= text.size()) return {};
        return std::string_view(text).substr(s.off, s.len);
    }
};

// Marks a template in use for its lifetime, so that neither eviction nor
// the purge frees it while a page is written from it.
class TemplateInUse {
public:
    explicit TemplateInUse(tcpHTML* t);
    ~TemplateInUse();
    TemplateInUse(const TemplateInUse&) = delete;
    TemplateInUse& operator=(const TemplateInUse&) = delete;

private:
    tcpHTML* m_t;
};

// ----------------------------------------------- lookup and the cache ----

// The document root. root null: the root set, else DOCUMENT_ROOT, else
// "/usr/local/apache/htdocs". A root beginning with "." or "/" becomes the
// root and the template directory becomes empty. Any other root is not
// used. Backslashes become "/". Valid until the root next changes.
const char* xFcgiDocRoot(const char* root);
// Back to the start: root unset, template directory "htmltmpl".
void xFcgiDocRootReset();
// Sets the template directory under the root ("" : the root itself).
void xFcgiSetTemplateDir(const char* dir);
const char* xFcgiTemplateDir();

// Where a template name is looked for first: the name itself when it begins
// with "." or "/", else root/directory/name (root/name without directory).
std::string xFcgiTemplatePath(std::string_view name);
// The fallback directory for templates found nowhere else.
constexpr const char* xFcgiFallbackDir = "/usr/local/xfcgi/htmltmpl/";

// Opens a template file and returns the stream (null when it cannot be
// opened). Looks at xFcgiTemplatePath(name), and for reading ("r...") also
// at the fallback directory ("#Default to %s" logged); for reading, only a
// regular file is opened, and a FIFO put there is not waited on. found
// receives the path reached. Records the file's size and modification time
// (size 0, time -1 when it does not exist).
FILE* xFcgiOpenTemplate(const std::string& name, const char* mode, std::string& found);
long long xFcgiLastFileSize();
int64_t xFcgiLastFileTime();

// The compiled template for name: a cached one whose file is unchanged
// (and its field file, see xFcgiFieldFileCurrent), else compiled now; null
// when it exists nowhere.
tcpHTML* xFcgiGetFT(const char* name);
// The same for a name with an explicit path ("/..." or "./...") whose
// file the caller has just examined: fileTime is its modification time in
// nanoseconds, which is not looked up again. A cached compilation of
// another time is compiled afresh at once, without waiting for the check
// interval.
tcpHTML* xFcgiGetFT(const char* name, int64_t fileTime);

// The cached compilation of the template at path is not used again: its
// next use compares the file and compiles it afresh (a page being written
// from it keeps it until then). For a file rewritten within the check
// interval, or whose companion field file was replaced.
void xFcgiTemplateOutdated(const std::string& path);

// Sets the limit of template text the cache holds (initially 409600
// bytes) and applies it; below 32 the cache is emptied. Templates in use
// are never freed.
void xFcgiTemplateCache(int limit);
int xFcgiCacheBytes();   // template text held
int xFcgiCacheCount();   // records held

// Streams for compile messages and listings of templates that xFcgiGetFT
// compiles (null: messages to the log, no listing).
void xFcgiLogFiles(FILE* errors, FILE* dump);

// Seconds within which a template is not compared with its file again
// (3); for tests.
void xFcgiSetTemplateCheckInterval(int seconds);
// Whether the compiled template's field file is the one it was compiled
// with: taken as so within the check interval of the last comparison; past
// it, the field file's modification time is compared (one added or removed
// is a change) and, when unchanged, the interval starts again. The caller
// has compared the page's own file.
bool xFcgiFieldFileCurrent(tcpHTML& t);

// Toolkit-internal: the cache list (newest or most recently confirmed first).
tcpHTML* xFcgiCacheFind(const std::string& path);
tcpHTML* xFcgiCacheAdd();                // a new empty record at the head
void xFcgiCacheToHead(tcpHTML* t);
void xFcgiCacheCharge(long long delta);  // template text held changes
void xFcgiCacheApplyLimit();
std::vector<const tcpHTML*> xFcgiCacheList();

// ------------------------------------------------------------ compiler ----

// Loads (or confirms, or reloads) the template name into the cache: 1 when
// it is ready, 0 when it cannot be opened. Messages go to errors without a
// leading "#" when given, else to the log with one; dump receives a
// listing of the segments. tool (tpltest) reports a missing .t3i file and
// moves a toweb table to an empty main table.
int xFcgiLoadTemplate(const char* name, FILE* errors, FILE* dump, bool tool);

// Compiles t.text into t.segments (counting t.errors and t.warnings);
// also links the segments (xFcgiLinkSegments).
void xFcgiCompileTemplate(tcpHTML& t, FILE* errors);

// Tidies, sizes, groups and links the segment table and checks its
// blocks; part of the compilation.
void xFcgiLinkSegments(tcpHTML& t, FILE* errors);

// Recognises attribute keyword (length characters; blanks and tabs first,
// white space or one of "</?;&" before it, case ignored, blanks before
// "="): the position behind "=" (skip receives the distance), else null.
const char* xFcgiKeyWord(const char* text, const char* keyword, int length, int* skip);

// Recognises "<!--" + white space + name (case ignored) at text; a name
// beginning with "#" must follow "<!--" directly. A name ending in "="
// needs the "=" after optional blanks. Returns the distance to behind the
// name (or the "="), 0 when it does not match. text must be NUL-terminated.
int isDirective(const char* text, const char* name, int* skip);

// The length of the DezUR substitution name that delim at text[at] opens
// ("~name~": 1 to 31 letters, digits, '_', '-' or '.', then delim), or 0
// when it opens none.
size_t xFcgiDezurNameAt(std::string_view text, size_t at, char delim);

// Listing of the compiled segments.
void dumpOutTemplate(FILE* stream, const tcpHTML& t);

// The name a segment kind has in listings ("Variable", "If", ...).
const char* xFcgiSegKindName(int kind);

// --------------------------------------------------------- page output ----

// Sends the page of template name (from the cache). 0 when it cannot be
// had ("Unable to find file %s (1)<br>" written), else 1.
int xFcgiSendTemplate(const char* name, const XFcgiTranEntry* transaction);

// Sends the response: headers, then the page filled from the output
// variables and screen data: screenData (t->mcsCount bytes), else the copy
// saved by xFcgiSaveMcsData, else t->mcsData. Returns 1.
int xFcgiSendPreloadedTemplate(tcpHTML* t, const XFcgiTranEntry* transaction,
                               const char* screenData);

// One Set-Cookie header line: the value URL-encoded, path "/", an expiry
// seconds ahead (none for 0) and a domain when given. Returns 1.
int xFcgiPutCookie(const char* name, const char* value, int seconds, const char* domain);
// One header line ("\r\n" added). Returns 1.
int xFcgiPutHeader(const char* line);

// Program-file check: records SCRIPT_FILENAME's status-change time, then
// tells whether it is unchanged.
void xFcgiBinarySetup();
int xFcgiBinaryOk();

// Whether a field's picture is numeric for the input merge and the page
// edit: its first character is one of 9 Z 2 S $ ( -.
bool xFcgiIsNumericPicture(const char* picture);

// Edits a numeric screen value with a COBOL-style mask ('Z', '9' or '2',
// '-', '.', '/', ':', ','; a leading 'S' shows a negative value with a
// leading '-'): digits padded to fieldLength, sign from the last
// character (EBCDIC zone letters with a data description, else bit 0x40),
// trailing blanks removed; at most 47 characters.
std::string xFcgiEditNumeric(std::string_view value, std::string_view mask,
                             size_t fieldLength, bool dataDescription);

// The text a page shows for a screen field whose bytes are value (what
// its form posts back when the user leaves it alone): up to the first NUL,
// trailing blanks dropped, a numeric picture edited, otherwise leading
// blanks dropped in hostStyle (xFcgiHostStyle).
std::string xFcgiShownText(std::string_view value, const TemplateField& f, bool hostStyle);

// Whether a template shows and takes host values in the style of pages
// with toweb or fromweb tables (EBCDIC signs, leading blanks dropped):
// those pages, unless the converter wrote their field file.
inline bool xFcgiHostStyle(const tcpHTML& t) {
    return (t.flags & tcpHTML::kWebTables) && !(t.flags & tcpHTML::kConverted);
}

// Toolkit-internal output: text held in a 4 KiB buffer and written in
// pieces of at most 8192 bytes, the FastCGI stream flushed every 32 KiB.
// data selects the wording of write-error lines.
void xFcgiSendText(std::string_view text, bool data = false);
void xFcgiFlushText();
// Writes "Content-type: text/html" and "Cache-Control: no-cache" when they
// are still due for this page; xFcgiContentTypeReset makes them due again.
void xFcgiSendContentType();
void xFcgiContentTypeReset();
// The character set the Content-type line declares ("; charset=NAME");
// none (the default) leaves the line as "Content-type: text/html". A name
// with blanks, control characters or ";" counts as none.
void xFcgiSetCharset(const char* name);
const std::string& xFcgiGetCharset();
// Whether that set is ISO-8859-1: a form of such a page sends a
// reference only for a character outside it (xfcgicharref.h).
bool xFcgiCharsetIsLatin1();
// Reports a failed write (err not 0); a broken pipe ends the process.
void fcgiError(int err, const char* file, int line);

#endif
