// CGI input: the request's query string and POST body, split into named
// values (the input table), cookies, the submitted form turned into a host
// screen record, and the CGI environment text of DezUR exchanges.
//
// The input table holds the values of the current request only; pointers
// returned by the getters stay valid until the next parse or
// xFcgiChgInpStr. Names compare without regard to case, with '-' and '_'
// counting as the same character; an element n > 0 of a repeated field is
// looked up as "name_n".
//
// Plain functions over process-wide state, one request at a time.
#ifndef QOR_XFCGIINPUT_H
#define QOR_XFCGIINPUT_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

struct tcpHTML;

// Largest POST body read; a larger, negative or non-numeric CONTENT_LENGTH
// is logged and the body is not read.
constexpr size_t xFcgiMaxContentLength = 4u << 20;
// Entries of the input table; a parse stops there ("table is full").
constexpr size_t xFcgiMaxInputEntries = 65535;
// Characters of a name that are kept.
constexpr size_t xFcgiMaxInputName = 249;

// ----------------------------------------------------- reading input ----
// The request's raw input: the query string, "&" and the POST body (read
// through FCGI_fread). Once per accepted request; a second call logs a
// logic error and returns the text as it stands. Also starts the output
// variables of the new request (xFcgiPutClear).
const char* xFcgiGetInput();

// Whether xFcgiGetInput read the request's body whole (true for a request
// without one): false when its CONTENT_LENGTH was refused or the stream
// ended before the body did. A form not read whole must not be acted on.
bool xFcgiInputWhole();

// Parses input (null: the result of xFcgiGetInput) into the input table
// and returns the text parsed. imageXY, when given, receives the image-map
// click x and y ("name=value?x,y"), -1 when absent.
const char* xFcgiGetParsedInput(const char* input, int* imageXY = nullptr);

// ----------------------------------------------------------- lookups ----
// Index of the entry "name" (n <= 0) or "name_n" (n = 1 also finds the
// bare name), or -1. The search starts at the entry found last.
int xFcgiFindDataTable(const char* name, int n);
// Index of "name_s1_s2..." for the count subscripts, or -1.
int xFcgiFindData(const char* name, int count, const int* subscripts);

const char* xFcgiGetInpStr(const char* name);       // null when absent
// The value, or "name not found!" / "name[n] not found!" when absent.
const char* xFcgiGetStr(const char* name, int n);
const char* xFcgiGetStrX(const char* name, int count, const int* subscripts);
// Conversions from the start of the value (leading blanks skipped); 0 when
// absent, empty or without any decimal digit.
int32_t xFcgiGetInt(const char* name, int n);
uint32_t xFcgiGetHex(const char* name, int n);
double xFcgiGetDbl(const char* name, int n);  // from the first digit or sign
// As above with subscripts; xFcgiGetIntX gives -1 for a value without digits.
int32_t xFcgiGetIntX(const char* name, int count, const int* subscripts);
uint32_t xFcgiGetHexX(const char* name, int count, const int* subscripts);
double xFcgiGetDblX(const char* name, int count, const int* subscripts);

// One destination of xFcgiGetValues: size is the bytes at dest.
struct XFcgiValue {
    const char* name;
    void* dest;
    size_t size;
};
// Empties errorText, then reads element n of each named value into its
// destination, up to a null name or destination. The name's first letter,
// in either case, chooses: 'H' xFcgiGetHex and 'I' xFcgiGetInt into an
// int32_t, 'D' xFcgiGetDbl into a double, any other the text of
// xFcgiGetStr (the not-found text included), cut to fit with its NUL. A
// destination too small for its value is left alone and named in
// errorText ("name: too small; "), itself cut to errorSize. Returns 1.
int xFcgiGetValues(char* errorText, size_t errorSize, int n,
                   std::initializer_list<XFcgiValue> values);

// The i-th field of the template's fromweb table (else its main table):
// its name, or null when there is no table or i is out of range. lengthOut
// receives the field's length and countOut the table's field count.
const char* xFcgiGetOrd(const tcpHTML* tmpl, int i, int* lengthOut, int* countOut);

// Sets an input value (adding the name when absent). Returns null when the
// new value took the old one's place, else value.
const char* xFcgiChgInpStr(const char* name, const char* value);

// The input table, for dumps.
int xFcgiInputCount();
const char* xFcgiInputName(int i);
const char* xFcgiInputValue(int i);
int xFcgiInputLines(int i);  // 1 + line feeds decoded in the value

// ------------------------------------------------------------ cookies ----
// The decoded value of cookie name from HTTP_COOKIE ("%XX", "+" as blank):
// 1 when found, else 0 with out empty. The name matches only as a whole
// cookie name.
int xFcgiGetCookie(const char* name, std::string& out);

// ------------------------------------------------------ screen record ----
// The host's own screen that a submitted form changes (the screen the
// page was filled from), and what the merge tells back.
struct XFcgiHostScreen {
    std::string_view data;        // the screen data (laid out as the page's toweb, else main table)
    std::set<std::string> keep;   // fields the screen shows protected: never merged
};

// A posted number its field cannot hold.
struct XFcgiRefusedNumber {
    std::string field;  // the field's name (empty: none was refused)
    std::string takes;  // what the field takes: "a number of at most 4 digits, without decimals or sign"
};

// Moves the submitted form into a host screen record through the
// template's fromweb table (else its main table). The record is mcs with
// capacity bytes; with mcs null, the template's screen buffer (allocated
// from its screen size when it has none). Nothing is written beyond the
// record's capacity.
// Without host, the record starts from zeros and a field not posted is
// zeroed. With host, the record starts from the host's data as the table
// the page was filled through lays it out (toweb, else main: on a page of
// that one table the data itself, else each field and pad from its
// namesake's place; a page with neither starts from zeros) and keeps it
// where the user changed nothing: in bytes no field covers, in fields not
// posted (but for cleared checkboxes and radio buttons: fields of those
// kinds, or named by such input elements of the page), in fields posted
// as the page showed them (as a browser posts the shown value back: from
// a text input without line breaks, from a TEXTAREA or hidden input with
// each as LF) and in the fields of keep. A number the user changed fills
// its hidden digits too. A name posted more than once gives its first
// value.
// With refused, a posted number its field cannot hold as typed is refused
// before the record is touched: -1, with the field and what it takes in
// *refused. That is one holding anything but blanks, digits and
// + - ( ) $ . , / :, one with a sign ("-", "(" or ")") when the field's
// mask has none (TemplateField::kSigned) or with a sign between its
// digits, one with more significant whole digits than the field holds
// (hidden digits included) or with non-zero decimals beyond the field's.
// A value posted as the page showed it is never refused (the host's
// bytes stay).
// Returns the used length (the largest field end, with host at least the
// end of the host bytes kept; also kept in the template), or -1 without a
// table or a buffer.
int xFcgiGetMcsData(char* mcs, size_t capacity, tcpHTML* tmpl, XFcgiHostScreen* host = nullptr,
                    XFcgiRefusedNumber* refused = nullptr);

// Writes n zoned-decimal digits with d implied decimals for text ("-" or
// "(" anywhere makes it negative): integer digits beyond n - d are cut on
// the left and decimals beyond d on the right, as COBOL moves numbers.
// A negative number marks its last digit: ORed with 0x70 ("0" -> "p"), or
// with ebcdicSign the character of "}JKLMNOPQR". out receives exactly n
// bytes. picture is not used.
void editNumeric(char* out, int n, int d, const char* text, size_t textLength,
                 const char* picture, bool ebcdicSign);

// ------------------------------------------------------- environment ----
// "NAME=value&..." of the set CGI variables of the DezUR list, with
// "&", "=", "+", "%" and "?" in values written as %XX.
const char* xFcgiGetDezUREnv();

// Random numbers (kept for programs that want them).
void xFcgiUnqRand(int n);
int xFcgiGetRand();

#endif
