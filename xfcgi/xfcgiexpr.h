// Template expressions: the compiler that turns an expression text into a
// postfix list once, when a template is loaded, and the evaluator that runs
// the list on a string stack each time a page is filled.
//
// Every value is a string. Arithmetic reads a signed decimal number from
// the text (leading blanks skipped, reading stops at the first non-digit)
// and is done in 64 bits with saturation; comparisons and logical
// operations give "1" or "0".
//
// Values carry the output table's data/raw mark: a value computed from a
// data value (host or request data) is data, so the page writer escapes it.
#ifndef QOR_XFCGIEXPR_H
#define QOR_XFCGIEXPR_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Operations; an entry's code is operation * 16 + precedence.
enum ExprOp : uint16_t {
    EXPR_UNKNOWN = 0,
    EXPR_ADD = 1, EXPR_SUB = 2, EXPR_MUL = 3, EXPR_DIV = 4, EXPR_REM = 5,
    EXPR_NEG = 6, EXPR_AND = 7, EXPR_OR = 8,
    EXPR_EQW = 9, EXPR_NEW = 10, EXPR_LTW = 11, EXPR_GTW = 12,   // eq ne lt gt
    EXPR_LEW = 13, EXPR_GEW = 14,                                // le ge
    EXPR_NOT = 15,
    EXPR_EQ = 16, EXPR_NE = 17, EXPR_LT = 18, EXPR_GT = 19,      // == != < >
    EXPR_LE = 20, EXPR_GE = 21,                                  // <= >=
    EXPR_CONTAINS = 22, EXPR_BEGINS = 23,
    EXPR_LOADVAR = 24, EXPR_LOADSTR = 25, EXPR_LOADNUM = 26,
    EXPR_STORE = 27, EXPR_LPAREN = 28, EXPR_RPAREN = 29, EXPR_CALL = 30,
};

// One compiled entry. The token (a name, the digits of a number, or a
// string with its quotes) is an offset into the owning ExprList's text, so
// a list stays valid wherever it is moved or copied.
struct ExprEntry {
    uint16_t code = 0;    // operation * 16 + precedence
    int16_t count = 0;    // arguments of a call, else 0
    uint32_t offset = 0;  // token position in ExprList::text
    uint32_t length = 0;  // token length; 0 when the entry has none

    int op() const { return code >> 4; }
    int precedence() const { return code & 15; }
};

// A compiled expression: its own copy of the source text and the postfix
// list. Literals the compiler adds itself (the "''" of a condition) are
// kept after the source text.
struct ExprList {
    std::string text;
    uint32_t sourceLength = 0;
    std::vector<ExprEntry> entries;

    std::string_view source() const { return std::string_view(text).substr(0, sourceLength); }
    std::string_view token(const ExprEntry &e) const {
        return std::string_view(text).substr(e.offset, e.length);
    }
    bool empty() const { return entries.empty(); }
};

// A row of the operator table (`rwTbl`), in its order; ends with "Unknown".
// Names beginning with a blank, and "Unary -", only name operations in
// listings and never match a token.
struct ExprOperator {
    const char *name;
    uint16_t code;
};
extern const ExprOperator rwTbl[];

// A row of the function table (`xfcgiFunctions`) with its argument range.
struct ExprFunction {
    const char *name;
    int minArgs;
    int maxArgs;
};
constexpr int xfcgiFunctionCount = 12;
extern const ExprFunction xfcgiFunctions[xfcgiFunctionCount];

// Limits: the compiler's operator stack and the evaluator's value stack.
constexpr int kExprOpStackMax = 256;
constexpr int kExprEvalStackMax = 1024;

// ---- compiler ------------------------------------------------------------

// Compiles `text` into `out` (replacing what it held). valueMode is false
// for #IF/#ELIF conditions, where a lone operand is compared with '' so that
// a condition is true when its value is not empty; true for #SET, #ECHO and
// expression placeholders. Messages go to `errors` when given, otherwise to
// the log with a leading '#'; `templatePath` names the template in them.
// Returns the number of errors (the caller adds them to the template's
// count); the entries made so far are kept and the evaluator copes with them.
int parseExpr(ExprList &out, std::string_view text, bool valueMode,
              FILE *errors, const char *templatePath);

// Lists the entries under a "Operation   Data----" heading.
void dumpExpr(FILE *stream, const ExprList &expr);

// Table name of an entry's operation ("Unknown" for none).
const char *exprOpName(uint16_t code);

// Index in xfcgiFunctions of the first function whose name begins with
// `name` (case ignored), or -1.
int exprFindFunction(std::string_view name);

// ---- evaluator -----------------------------------------------------------

// A value with its mark: data (escaped when written into a page) or raw.
struct ExprValue {
    std::string text;
    bool data = false;
};

// Runs a compiled expression and returns the top of the stack. Failures
// (stack underflow or overflow, unknown operations) are logged; a list that
// cannot be run to the end gives an empty value.
ExprValue execExpr(const ExprList &expr);

// String comparison of the comparison operations: trailing blanks ignored
// (never below one character), case ignored, a shorter string that matches
// the longer one's beginning is the smaller. <0, 0 or >0.
int compStrings(std::string_view a, std::string_view b);

// Value of an operand token: a quoted string (quotes removed, a doubled or
// backslashed quote kept as one quote, references substituted), else the
// variable of that name in the output table, then the environment, else ""
// (logged under the detail bit).
ExprValue loadOprn(std::string_view token);

// Value of a name inside a reference: 'quoted' gives its text, a number
// gives itself, otherwise the output table, then the environment, else "".
ExprValue getOpVal(std::string_view name);

// Replaces "${name}" and "\{name}" references (with an optional
// "(start[:length])" substring, 1-based) by their values.
ExprValue getSetStr(std::string_view text);

// Integer of a value: leading blanks skipped, optional sign, digits up to
// the first non-digit; saturates at the 64-bit limits.
int64_t exprToInt(std::string_view text);

// The 1-based position found by the last successful "contains", as text;
// empty when none is pending. The page writer puts it into
// "contains.index" before its next segment and then clears it.
const std::string &exprContainsIndex();
void exprClearContainsIndex();

#endif
