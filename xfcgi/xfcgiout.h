// Output-variable table and the toolkit's output-side settings.
//
// The output-variable table is the one store from which every page is
// filled: each placeholder, expression operand, #SET target and #BEGIN
// count is a named string in it. Names match without regard to case and
// with '-' equal to '_'; inside #BEGIN rows names carry "_%d" row
// subscripts. Values that must outlive a request (the err. result
// constants) are registered as constants and survive xFcgiPutClear.
//
// Every value carries a mark that says how a page may show it:
//   Data - host or request data, or anything computed from it (bound screen
//          fields, mcs.*, pib.*, cda.text, form input, cookies). The page
//          writer HTML-escapes it, so such data can never inject markup.
//   Raw  - text the program or template chose on purpose (constants,
//          #SET/#ECHO literals, environment and Setenv values); written as
//          it is, so markup a template builds keeps working.
//   Typed - what the user typed into a form that was refused, shown
//          again: escaped as Data, except that a character reference the
//          refusal named is written as a reference (xfcgicharref.h).
// The ordinary puts store Data; raw text needs xFcgiPutRaw, a constant or
// an explicit mark.
//
// Names and values live in one contiguous data area that the table refers
// to by offsets. Pointers and views handed out stay valid only until the
// table or the data area next changes; copy what must be kept.
//
// Beside the table: the session-id variable name, the server root with its
// path helpers, the saved HTTP header and screen data of the next page, and
// the environment table (the configuration's Setenv strings plus the
// computed LOCALHTTP and LOCALHTTPS) put into the process environment at
// every request.
//
// Plain functions over process-wide state; one table per process.
#ifndef QOR_XFCGIOUT_H
#define QOR_XFCGIOUT_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class XVarMark : uint8_t {
    Raw = 0,   // written into pages as it is
    Data = 1,  // HTML-escaped when written into pages
    Typed = 2, // as Data; refused character references shown as characters
};

// ---------------------------------------------------------------- puts ----
// All return 1; a null name or value is ignored (result 0).
int xFcgiPutStr(const char *name, const char *value);             // Data
int xFcgiPutFld(const char *name, const char *value, int maxLen); // Data, at most maxLen chars
int xFcgiPutInt(const char *name, int32_t value);                 // "%d"
int xFcgiPutHex(const char *name, uint32_t value);                // "%X"
int xFcgiPutChr(const char *name, char c);                        // the one character
// flag set: "%*f" (six decimals); flag clear: "%*.0f".
int xFcgiPutDbl(const char *name, double value, int width, int flag);
// The value under the session-id variable name, when that name is set.
int xFcgiPutSid(const char *value);
// Raw text: markup the program builds on purpose.
int xFcgiPutRaw(const char *name, const char *value);

// Pairs of a typed name and a value after a scratch string (emptied), ended
// by a null name (result 1). The first letter of the name (either case)
// gives the value's type: 'I' int32, 'H' uint32 (hex), 'D' double followed
// by int width and int flag, 'F' string followed by int maximum length, any
// other letter a string. A zero integer, a zero double or a null string
// ends the list with result 0.
int xFcgiPutValues(char *scratch, ...);

// Constants: survive every xFcgiPutClear when registered before the first
// ordinary put (later ones are cleared like ordinary variables). Raw.
int xFcgiConsInt(const char *name, int32_t value);
int xFcgiConsStr(const char *name, const char *value);

// The common put: at most maxLen characters of value (maxLen < 0: all,
// up to its NUL) under name, with the current row subscripts on a new
// name. 1, or 0 when name or value is null.
int xFcgiChgFld(const char *name, const char *value, int maxLen,
                XVarMark mark = XVarMark::Data);
// The same for text that may hold NULs or lacks a terminating NUL.
int xFcgiChgVar(std::string_view name, std::string_view value, XVarMark mark);

// ------------------------------------------------------------- lookups ----
// Index of the variable, or -1. Binds a screen field of that name first
// when screen data is bound (see below), and tries the row-subscripted
// names from the most specific to the plain one. The name need not be
// NUL-terminated.
int searchOutTab(const char *name, int length);

int xFcgiVarCount();                      // entries in use
int xFcgiConstCount();                    // the first n entries are constants
std::string_view xFcgiVarName(int idx);
std::string_view xFcgiVarValue(int idx);  // NUL follows the view
XVarMark xFcgiVarMark(int idx);
// The name (with its subscripts) that the last failed lookup looked for.
const std::string &xFcgiLastNotFound();
// True once after the data area moved (the page writer then traces the
// table, as a refresh of its view of it).
bool xFcgiTableMoved();

// ------------------------------------------- evaluator temporaries ----
// Strings built while an expression runs are kept at the end of the data
// area until the next clear. Offsets stay valid when the area grows;
// pointers do not.
size_t xFcgiTempPut(std::string_view text);  // appends text + NUL; its offset
const char *xFcgiDataAt(size_t offset);
size_t xFcgiDataMark();                      // current fill mark
// Drops temporaries added since mark; never cuts into table values.
void xFcgiDataRewind(size_t mark);

// --------------------------------------------------- screen binding ----
// While a page is written its screen-data fields are bound to the table: a
// lookup of a field name puts the field's current value (Data) under that
// name. A repeated field yields its next occurrence at each lookup.
struct XFcgiBoundField {
    std::string name;
    uint32_t length = 0;      // bytes of one occurrence
    uint32_t location = 0;    // offset in the screen data
    int32_t occurrences = 0;  // 2 or more: repeated
    uint32_t elemLength = 0;  // stride of the occurrences
};
// Binds a copy of the fields and of the data (running indexes at 0).
void xFcgiBindScreen(std::vector<XFcgiBoundField> fields, const char *data,
                     size_t length);
void xFcgiUnbindScreen();
// Screen fields of these names are not looked up nor put by the bindings
// that follow, so that values put under their names show instead (what a
// refused form posted); until the variables are cleared. The other fields
// keep their indexes (xFcgiLastBoundField).
void xFcgiHoldScreenFields(const std::vector<std::string> &names);
bool xFcgiScreenBound();
// Puts every bound field with fewer than 2 occurrences now.
void xFcgiPutBoundFields();
// The bound field that the last searchOutTab took its value from (-1:
// none), and whether its location lay beyond the data.
int xFcgiLastBoundField();
bool xFcgiLastBoundBeyond();

// ------------------------------------------------------- subscripts ----
constexpr int xFcgiMaxSubscripts = 128;
// Opens a row (1-based index) of a #BEGIN block; false when 128 are open.
bool xFcgiPushSubscript(int index);
void xFcgiPopSubscript();
int xFcgiSubscriptDepth();
int xFcgiSubscript(int level);  // 0 = outermost
std::vector<int> xFcgiGetSubscripts();
// Replaces the stack (at most 128 values are kept).
void xFcgiSetSubscripts(int count, const int *values);

// ------------------------------------------------- request lifecycle ----
// New request: the table and data area are cut back to the constants (a
// constant changed meanwhile gets its registered value back), the search
// hint is reset and the session-id-used flag cleared.
void xFcgiPutClear();
// Shutdown: as xFcgiPutClear, memory shrunk, subscripts closed, and the
// page writer's hook (its held-text state) run.
void xFcgiFreeFlds();
void xFcgiSetFreeHook(void (*hook)());

// Private copies of the HTTP header text and the screen data of the next
// page; a length below 1 (or null data) clears the copy.
void xFcgiSaveHdrData(const char *data, int length);
void xFcgiSaveMcsData(const char *data, int length);
// Hands the copy over and forgets it; false when there is none.
bool xFcgiTakeHdrData(std::string &out);
bool xFcgiTakeMcsData(std::string &out);

// ------------------------------------------------------- session id ----
// Sets the session-id variable name (at most 31 characters) when name is
// not null; returns the current one (default "SID").
const char *xFcgiSidName(const char *name);
int xFcgiSidUsed();       // a link of the page carried the session id
void xFcgiMarkSidUsed();  // set by the page writer

// ------------------------------------------------ transaction links ----
struct XFcgiTranEntry {
    std::string code, prefix, target, imageDir;
};
void xFcgiSetTranTab(const std::vector<XFcgiTranEntry> *local,
                     const std::vector<XFcgiTranEntry> *remote);
const std::vector<XFcgiTranEntry> *xFcgiLocalTranTab();
const std::vector<XFcgiTranEntry> *xFcgiRemoteTranTab();

// ------------------------------------------------------------ paths ----
// Sets the server root (a '/' is appended when missing) when path is not
// null; returns the current one (default "/usr/local/qoric/").
const char *xFcgiServerRoot(const char *path);
// Server root + relative, with every "//" reduced to "/".
std::string xFcgiAbsDir(const char *relative);
// The part of path after the server root (and a following "htx/"), else
// path itself; null stays null.
const char *xFcgiRelDir(const char *path);
void xFcgiSetSecureDir(const char *path);  // at most 256 characters
void xFcgiSetImageDir(const char *path);   // at most 256 characters
const char *xFcgiSecureDir();
const char *xFcgiImageDir();
void saveBinaryName(const char *path);     // the running program's path
const char *xFcgiBinaryName();

// ------------------------------------------------ environment table ----
constexpr int xFcgiMaxEnvVars = 24;
// Keeps a "NAME=value" string for every request: 1 stored, 0 already there
// (or null), -1 table full ("#SetEnv table is full at 24").
int xFcgiSaveEnvVar(const char *text);
// Puts the saved strings into the process environment, then LOCALHTTP and
// LOCALHTTPS unless a saved string defines them.
void xFcgiSetEnvVars();
// The string in slot 0..23, null for an empty slot or a bad index.
const char *xFcgiGetEnvVars(int index);

// ---------------------------------------------- replacement names ----
// (from, to) pairs for the template rewriter, newest first.
void xFcgiReplaceName(const char *from, const char *to);
const std::deque<std::pair<std::string, std::string>> &xFcgiReplaceNames();

// --------------------------------------------------------- escaping ----
// Appends value to out as a page shows a Data value: & < > " ' become
// &amp; &lt; &gt; &quot; &#39;.
void xFcgiEscapeData(std::string_view value, std::string &out);
// Appends value to out as it stands inside a quoted JavaScript string:
// every byte outside letters, digits, blank, "_", ".", ",", ":", "-" and
// the bytes from 0x80 on becomes \xHH, so the script sees the true value
// and the value can never end its string or the SCRIPT element.
void xFcgiEscapeScriptString(std::string_view value, std::string &out);
// Appends value to out URL-encoded: ASCII letters and digits as they are,
// a blank as "+", every other byte as "%" and two upper-case hexadecimal
// digits (cookie values, values in the query of a URL in a page).
void xFcgiEscapeUrl(std::string_view value, std::string &out);

#endif
