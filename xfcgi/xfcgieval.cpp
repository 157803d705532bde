// Expression evaluator: runs a compiled postfix list on a bounded stack of
// strings. Stack entries are offsets into the evaluation's own arena, so
// nothing points into the output table's data area, which a store or a
// screen-field binding may move. Arithmetic is 64-bit and saturating.
#include "xfcgiexpr.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "logprint.h"
#include "xfcgiout.h"

namespace {

// Longest value an operation builds (concat, printf, substitution); the
// output table's values are of the same order.
constexpr size_t kValueMax = 65535;
// Largest width or precision a printf conversion may ask for.
constexpr int kPrintfFieldMax = 256;
// Longest name a reference inside a quoted string may give.
constexpr size_t kRefNameMax = 63;
// Longest store target name.
constexpr size_t kStoreNameMax = 255;

std::string s_containsIndex;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void appendInt(std::string &out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

int64_t saturate(__int128 v) {
    if (v > INT64_MAX)
        return INT64_MAX;
    if (v < INT64_MIN)
        return INT64_MIN;
    return static_cast<int64_t>(v);
}

void capValue(std::string &v, std::string_view expr) {
    if (v.size() > kValueMax) {
        v.resize(kValueMax);
        logPrintf("#Error: Expression value cut to %zu bytes in [%.*s]\n", kValueMax,
                  static_cast<int>(expr.size()), expr.data());
    }
}

// Index of the first case-blind occurrence of needle in hay, or npos.
size_t findNoCase(std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size())
        return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        if (strncasecmp(hay.data() + i, needle.data(), needle.size()) == 0) {
            // strncasecmp stops at a NUL; make sure the rest matched too.
            size_t k = 0;
            while (k < needle.size() && lower(hay[i + k]) == lower(needle[k]))
                ++k;
            if (k == needle.size())
                return i;
        }
    }
    return std::string_view::npos;
}

bool beginsNoCase(std::string_view a, std::string_view b) {
    if (b.size() > a.size())
        return false;
    for (size_t i = 0; i < b.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Value of a variable: the output table (with screen binding and row
// subscripts), then the environment; found = false when neither has it.
ExprValue variableValue(std::string_view name, bool &found) {
    ExprValue v;
    found = true;
    const int idx = searchOutTab(name.data(), static_cast<int>(name.size()));
    if (idx >= 0) {
        const std::string_view val = xFcgiVarValue(idx);
        v.text.assign(val.data(), val.size());
        v.data = xFcgiVarMark(idx) != XVarMark::Raw;
        return v;
    }
    const std::string key(name);
    if (key.find('=') == std::string::npos) {
        if (const char *env = std::getenv(key.c_str())) {
            v.text = env;
            return v;
        }
    }
    found = false;
    return v;
}

// ---------------------------------------------------------------------------
// The evaluation: a stack of (offset, length, mark) slots over one arena.
// Values are appended in stack order, so popping truncates the arena.

struct Slot {
    uint32_t offset;
    uint32_t length;
    bool data;
};

class Evaluator {
public:
    explicit Evaluator(const ExprList &expr) : m_expr(expr) {}
    ExprValue run();

private:
    using Handler = void (Evaluator::*)(int argc);

    std::string_view exprText() const { return m_expr.source(); }
    int exprLen() const { return static_cast<int>(m_expr.sourceLength); }
    const char *exprData() const { return m_expr.text.data(); }

    std::string_view view(const Slot &s) const {
        return std::string_view(m_arena).substr(s.offset, s.length);
    }
    std::string_view arg(int argc, int i) const {  // i-th of the top argc
        return view(m_stack[m_stack.size() - static_cast<size_t>(argc) + static_cast<size_t>(i)]);
    }
    bool argsData(int argc) const {
        for (size_t i = m_stack.size() - static_cast<size_t>(argc); i < m_stack.size(); ++i)
            if (m_stack[i].data)
                return true;
        return false;
    }
    int64_t argInt(int argc, int i) const { return exprToInt(arg(argc, i)); }

    bool need(int n);
    void push(std::string_view text, bool data);
    void drop(int n);
    // Replaces the top n entries by the result text in m_res.
    void replace(int n, bool data);
    void replaceInt(int n, int64_t v, bool data);
    void replaceBool(int n, bool v, bool data);

    void arithmetic(int op);
    void compareWords(int op);
    void compareStrings(int op);
    void call(const ExprEntry &e);

    void fnMin(int argc);
    void fnMax(int argc);
    void fnSum(int argc);
    void fnAvg(int argc);
    void fnAbs(int argc);
    void fnToupper(int argc);
    void fnTolower(int argc);
    void fnLength(int argc);
    void fnSubstr(int argc);
    void fnConcat(int argc);
    void fnPrintf(int argc);
    void fnSoundex(int argc);
    static const Handler s_handlers[];

    const ExprList &m_expr;
    std::string m_arena;
    std::vector<Slot> m_stack;
    std::string m_res;
    bool m_failed = false;
};

// In the order of xfcgiFunctions.
const Evaluator::Handler Evaluator::s_handlers[] = {
    &Evaluator::fnMin,     &Evaluator::fnMax,     &Evaluator::fnSum,    &Evaluator::fnAvg,
    &Evaluator::fnAbs,     &Evaluator::fnToupper, &Evaluator::fnTolower, &Evaluator::fnLength,
    &Evaluator::fnSubstr,  &Evaluator::fnConcat,  &Evaluator::fnPrintf, &Evaluator::fnSoundex,
};

bool Evaluator::need(int n) {
    if (n < 0 || static_cast<size_t>(n) > m_stack.size()) {
        logPrintf("#Error: Expression stack underflow in [%.*s]\n", exprLen(), exprData());
        m_failed = true;
        return false;
    }
    return true;
}

void Evaluator::push(std::string_view text, bool data) {
    if (m_stack.size() >= static_cast<size_t>(kExprEvalStackMax)) {
        logPrintf("#Error: Expression stack overflow in [%.*s]\n", exprLen(), exprData());
        m_failed = true;
        return;
    }
    Slot s{static_cast<uint32_t>(m_arena.size()), static_cast<uint32_t>(text.size()), data};
    m_arena.append(text.data(), text.size());
    m_stack.push_back(s);
}

void Evaluator::drop(int n) {
    for (; n > 0 && !m_stack.empty(); --n) {
        m_arena.resize(m_stack.back().offset);
        m_stack.pop_back();
    }
}

void Evaluator::replace(int n, bool data) {
    drop(n);
    push(m_res, data);
}

void Evaluator::replaceInt(int n, int64_t v, bool data) {
    m_res.clear();
    appendInt(m_res, v);
    replace(n, data);
}

void Evaluator::replaceBool(int n, bool v, bool data) {
    m_res.assign(v ? "1" : "0");
    replace(n, data);
}

void Evaluator::arithmetic(int op) {
    if (!need(2))
        return;
    const int64_t a = argInt(2, 0), b = argInt(2, 1);
    const bool data = argsData(2);
    int64_t r = 0;
    switch (op) {
    case EXPR_ADD:
        r = saturate(static_cast<__int128>(a) + b);
        break;
    case EXPR_SUB:
        r = saturate(static_cast<__int128>(a) - b);
        break;
    case EXPR_MUL:
        r = saturate(static_cast<__int128>(a) * b);
        break;
    case EXPR_DIV:
    case EXPR_REM:
        if (b == 0) {
            logPrintf("#Error: Division by zero in [%.*s]\n", exprLen(), exprData());
            r = 0;
        } else if (op == EXPR_DIV) {
            r = saturate(static_cast<__int128>(a) / b);  // INT64_MIN / -1 saturates
        } else {
            r = b == -1 ? 0 : a % b;
        }
        break;
    case EXPR_AND:
        r = (a != 0 && b != 0) ? 1 : 0;
        break;
    case EXPR_OR:
        r = (a != 0 || b != 0) ? 1 : 0;
        break;
    default:
        break;
    }
    replaceInt(2, r, data);
}

// eq ne lt gt le ge: integers when both values begin with a digit or a
// blank, otherwise as the symbol comparisons. An empty left value (a
// variable that is not set) counts as 0 against a number, as it does in
// arithmetic: converted pages test "mcs.fccmods[N].off eq 0", whose value
// is empty unless the host switched the field's display off.
void Evaluator::compareWords(int op) {
    if (!need(2))
        return;
    const std::string_view a = arg(2, 0), b = arg(2, 1);
    const auto numeric = [](std::string_view s) {
        return !s.empty() && (isDigit(s[0]) || s[0] == ' ');
    };
    if (!((numeric(a) || a.empty()) && numeric(b))) {
        compareStrings(op - EXPR_EQW + EXPR_EQ);
        return;
    }
    const int64_t x = exprToInt(a), y = exprToInt(b);
    bool r = false;
    switch (op) {
    case EXPR_EQW: r = x == y; break;
    case EXPR_NEW: r = x != y; break;
    case EXPR_LTW: r = x < y; break;
    case EXPR_GTW: r = x > y; break;
    case EXPR_LEW: r = x <= y; break;
    case EXPR_GEW: r = x >= y; break;
    default: break;
    }
    replaceBool(2, r, argsData(2));
}

void Evaluator::compareStrings(int op) {
    if (!need(2))
        return;
    const int c = compStrings(arg(2, 0), arg(2, 1));
    bool r = false;
    switch (op) {
    case EXPR_EQ: r = c == 0; break;
    case EXPR_NE: r = c != 0; break;
    case EXPR_LT: r = c < 0; break;
    case EXPR_GT: r = c > 0; break;
    case EXPR_LE: r = c <= 0; break;
    case EXPR_GE: r = c >= 0; break;
    default: break;
    }
    replaceBool(2, r, argsData(2));
}

void Evaluator::call(const ExprEntry &e) {
    static_assert(sizeof(s_handlers) / sizeof(s_handlers[0]) ==
                      static_cast<size_t>(xfcgiFunctionCount),
                  "one handler per row of the function table");
    const std::string_view name = m_expr.token(e);
    const int f = exprFindFunction(name);
    if (f < 0) {
        logPrintf("#Error: Invalid fuction %.*s in [%.*s]\n", static_cast<int>(name.size()),
                  name.data(), exprLen(), exprData());
        return;
    }
    const int argc = e.count;
    if (!need(argc))
        return;
    if (argc < xfcgiFunctions[f].minArgs || argc > xfcgiFunctions[f].maxArgs) {
        logPrintf("#Error: Wrong number of arguments (%d) for %.*s in [%.*s]\n", argc,
                  static_cast<int>(name.size()), name.data(), exprLen(), exprData());
        drop(argc);
        push("", false);
        return;
    }
    m_res.clear();
    (this->*s_handlers[f])(argc);
}

// ---- function handlers: the arguments are the top argc entries ----------

void Evaluator::fnMin(int argc) {
    int64_t v = argInt(argc, 0);
    for (int i = 1; i < argc; ++i)
        v = std::min(v, argInt(argc, i));
    replaceInt(argc, v, argsData(argc));
}

void Evaluator::fnMax(int argc) {
    int64_t v = argInt(argc, 0);
    for (int i = 1; i < argc; ++i)
        v = std::max(v, argInt(argc, i));
    replaceInt(argc, v, argsData(argc));
}

void Evaluator::fnSum(int argc) {
    __int128 s = 0;  // 128 values of 64 bits cannot overflow this
    for (int i = 0; i < argc; ++i)
        s += argInt(argc, i);
    replaceInt(argc, saturate(s), argsData(argc));
}

void Evaluator::fnAvg(int argc) {
    __int128 s = 0;
    for (int i = 0; i < argc; ++i)
        s += argInt(argc, i);
    replaceInt(argc, saturate(s / argc), argsData(argc));
}

void Evaluator::fnAbs(int argc) {
    const int64_t v = argInt(argc, 0);
    replaceInt(argc, v == INT64_MIN ? INT64_MAX : (v < 0 ? -v : v), argsData(argc));
}

void Evaluator::fnToupper(int argc) {
    for (char c : arg(argc, 0))
        m_res += upper(c);
    replace(argc, argsData(argc));
}

void Evaluator::fnTolower(int argc) {
    for (char c : arg(argc, 0))
        m_res += lower(c);
    replace(argc, argsData(argc));
}

void Evaluator::fnLength(int argc) {
    replaceInt(argc, static_cast<int64_t>(arg(argc, 0).size()), argsData(argc));
}

// A start below 1 counts as 1; a start beyond the end or a length below 1
// gives the empty string; the length is cut to what remains.
void Evaluator::fnSubstr(int argc) {
    const std::string_view s = arg(argc, 0);
    int64_t start = argInt(argc, 1);
    if (start < 1)
        start = 1;
    if (static_cast<uint64_t>(start) <= s.size()) {
        const size_t from = static_cast<size_t>(start - 1);
        size_t len = s.size() - from;
        if (argc > 2) {
            const int64_t want = argInt(argc, 2);
            len = want < 1 ? 0 : std::min<uint64_t>(len, static_cast<uint64_t>(want));
        }
        m_res.assign(s.substr(from, len));
    }
    replace(argc, argsData(argc));
}

void Evaluator::fnConcat(int argc) {
    for (int i = 0; i < argc && m_res.size() <= kValueMax; ++i)
        m_res.append(arg(argc, i));
    capValue(m_res, exprText());
    replace(argc, argsData(argc));
}

// The first argument is the format. "%s", "%d" and "%%" as usual; any other
// conversion is accepted only when plain: flags from "-+#0", a width, a
// precision (both capped), the length modifiers h, l, ll, j, z (ignored),
// then d, f or s. Anything else is copied as it stands, since the format
// may be request data. Once the last argument is used, the rest of the
// format is copied as it is.
void Evaluator::fnPrintf(int argc) {
    const std::string fmt(arg(argc, 0));
    int next = 1;
    size_t i = 0;
    while (i < fmt.size() && m_res.size() <= kValueMax) {
        if (next >= argc) {
            m_res.append(fmt, i, std::string::npos);
            break;
        }
        if (fmt[i] != '%') {
            m_res += fmt[i++];
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            m_res += '%';
            i += 2;
            continue;
        }
        size_t j = i + 1;
        std::string flags;
        while (j < fmt.size() && std::strchr("-+#0", fmt[j]) && fmt[j] != '\0')
            flags += fmt[j++];
        auto number = [&](int &out) {
            out = 0;
            while (j < fmt.size() && isDigit(fmt[j])) {
                out = std::min(kPrintfFieldMax, out * 10 + (fmt[j] - '0'));
                ++j;
            }
        };
        int width = 0, prec = -1;
        number(width);
        if (j < fmt.size() && fmt[j] == '.') {
            ++j;
            number(prec);
        }
        while (j < fmt.size() && std::strchr("hljz", fmt[j]) && fmt[j] != '\0')
            ++j;
        const char conv = j < fmt.size() ? fmt[j] : '\0';
        if (conv != 'd' && conv != 'f' && conv != 's') {
            m_res += fmt[i++];  // not a plain conversion: the '%' stands as text
            continue;
        }
        const std::string_view a = arg(argc, next++);
        i = j + 1;
        if (conv == 's') {
            std::string_view v = a;
            if (prec >= 0 && v.size() > static_cast<size_t>(prec))
                v = v.substr(0, static_cast<size_t>(prec));
            const size_t pad = v.size() < static_cast<size_t>(width) ? width - v.size() : 0;
            const bool left = flags.find('-') != std::string::npos;
            if (!left)
                m_res.append(pad, ' ');
            m_res.append(v);
            if (left)
                m_res.append(pad, ' ');
            continue;
        }
        if (conv == 'd')  // '#' has no defined meaning for integers
            flags.erase(std::remove(flags.begin(), flags.end(), '#'), flags.end());
        std::string conversion = "%" + flags;
        if (width > 0)
            conversion += std::to_string(width);
        if (prec >= 0)
            conversion += "." + std::to_string(prec);
        // Widths and precisions are capped, so the longest text (a double
        // near its limit with full precision) fits easily.
        char buf[1024];
        int n;
        if (conv == 'd') {
            conversion += "lld";
            n = std::snprintf(buf, sizeof buf, conversion.c_str(),
                              static_cast<long long>(exprToInt(a)));
        } else {
            conversion += "f";
            const std::string num(a);
            n = std::snprintf(buf, sizeof buf, conversion.c_str(), std::strtod(num.c_str(), nullptr));
        }
        if (n > 0)
            m_res.append(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
    }
    capValue(m_res, exprText());
    replace(argc, argsData(argc));
}

// Four-character Soundex code: the first letter, then the digits of the
// following letters; a digit equal to the one before is not repeated, and
// vowels and H, W, Y code nothing but separate equal digits.
void Evaluator::fnSoundex(int argc) {
    static const char kCodes[] = "01230120022455012623010202";  // A..Z
    char prev = 0;
    for (char c : arg(argc, 0)) {
        c = upper(c);
        if (c < 'A' || c > 'Z')
            continue;
        const char d = kCodes[c - 'A'];
        if (m_res.empty())
            m_res += c;
        else if (d != '0' && d != prev)
            m_res += d;
        prev = d;
        if (m_res.size() == 4)
            break;
    }
    if (m_res.empty())
        m_res = "0000";
    m_res.resize(4, '0');
    replace(argc, argsData(argc));
}

// ---------------------------------------------------------------------------

ExprValue Evaluator::run() {
    m_stack.reserve(16);
    for (const ExprEntry &e : m_expr.entries) {
        if (m_failed)
            break;
        const int op = e.op();
        switch (op) {
        case EXPR_ADD: case EXPR_SUB: case EXPR_MUL: case EXPR_DIV: case EXPR_REM:
        case EXPR_AND: case EXPR_OR:
            arithmetic(op);
            break;
        case EXPR_NEG:
            if (need(1)) {
                const int64_t v = argInt(1, 0);
                replaceInt(1, v == INT64_MIN ? INT64_MAX : -v, argsData(1));
            }
            break;
        case EXPR_NOT:
            // Kept as templates have always relied on it: "1" for a
            // non-zero operand, "0" for zero.
            if (need(1))
                replaceBool(1, argInt(1, 0) != 0, argsData(1));
            break;
        case EXPR_EQW: case EXPR_NEW: case EXPR_LTW: case EXPR_GTW: case EXPR_LEW:
        case EXPR_GEW:
            compareWords(op);
            break;
        case EXPR_EQ: case EXPR_NE: case EXPR_LT: case EXPR_GT: case EXPR_LE: case EXPR_GE:
            compareStrings(op);
            break;
        case EXPR_CONTAINS:
            if (need(2)) {
                const size_t pos = findNoCase(arg(2, 0), arg(2, 1));
                if (pos != std::string_view::npos)
                    s_containsIndex = std::to_string(pos + 1);
                replaceBool(2, pos != std::string_view::npos, argsData(2));
            }
            break;
        case EXPR_BEGINS:
            if (need(2))
                replaceBool(2, beginsNoCase(arg(2, 0), arg(2, 1)), argsData(2));
            break;
        case EXPR_LOADVAR:
        case EXPR_LOADSTR: {
            ExprValue v = loadOprn(m_expr.token(e));
            push(v.text, v.data);
            break;
        }
        case EXPR_LOADNUM:
            push(m_expr.token(e), false);
            break;
        case EXPR_STORE:
            if (need(1)) {
                const std::string_view name =
                    m_expr.token(e).substr(0, kStoreNameMax);
                const Slot &top = m_stack.back();
                xFcgiChgVar(name, view(top), top.data ? XVarMark::Data : XVarMark::Raw);
            }
            break;
        case EXPR_CALL:
            call(e);
            break;
        default:
            logPrintf("#Error: Unexpected opcode %d in [%.*s]\n", op, exprLen(), exprData());
            break;
        }
    }
    ExprValue result;
    if (!m_failed && !m_stack.empty()) {
        result.text.assign(view(m_stack.back()));
        result.data = m_stack.back().data;
    }
    return result;
}

// Copies a quoted string's inside: "''" and "\'" stand for one quote; any
// other backslash stays, since "\{" opens a reference.
std::string unquote(std::string_view tok) {
    std::string out;
    size_t i = 1;
    while (i < tok.size()) {
        const char c = tok[i];
        if (c == '\\' && i + 1 < tok.size()) {
            if (tok[i + 1] != '\'')
                out += c;
            out += tok[i + 1];
            i += 2;
        } else if (c == '\'') {
            if (i + 1 < tok.size() && tok[i + 1] == '\'') {
                out += '\'';
                i += 2;
            } else {
                break;  // the closing quote
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------

int64_t exprToInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' ||
                            s[i] == '\f' || s[i] == '\v'))
        ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        neg = s[i++] == '-';
    // Accumulate negatively so that INT64_MIN itself is reachable.
    int64_t v = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        const int d = s[i] - '0';
        if (v < (INT64_MIN + d) / 10) {
            v = INT64_MIN;  // a digit run too long: saturate, skip the rest
            while (i < s.size() && isDigit(s[i]))
                ++i;
            break;
        }
        v = v * 10 - d;
    }
    if (neg)
        return v;
    return v == INT64_MIN ? INT64_MAX : -v;
}

int compStrings(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.back() == ' ')
        a.remove_suffix(1);
    while (b.size() > 1 && b.back() == ' ')
        b.remove_suffix(1);
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(lower(a[i]));
        const auto y = static_cast<unsigned char>(lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

ExprValue loadOprn(std::string_view token) {
    if (!token.empty() && token[0] == '\'')
        return getSetStr(unquote(token));
    bool found;
    ExprValue v = variableValue(token, found);
    if (!found && (logCtrlFlgs & LOG_DETAIL))
        logPrintf("#Expression error: %.*s not defined (nest %d)\n",
                  static_cast<int>(token.size()), token.data(), xFcgiSubscriptDepth());
    return v;
}

ExprValue getOpVal(std::string_view name) {
    ExprValue v;
    if (!name.empty() && name[0] == '\'') {
        name.remove_prefix(1);
        if (!name.empty() && name.back() == '\'')
            name.remove_suffix(1);
        v.text.assign(name);
        return v;
    }
    bool digits = true;
    for (char c : name)
        digits = digits && isDigit(c);
    if (digits) {
        v.text.assign(name);
        return v;
    }
    bool found;
    return variableValue(name, found);
}

ExprValue getSetStr(std::string_view text) {
    ExprValue out;
    size_t i = 0;
    while (i < text.size()) {
        const bool opens = i + 1 < text.size() && text[i + 1] == '{' &&
                           (text[i] == '$' || text[i] == '\\');
        if (!opens) {
            out.text += text[i++];
            continue;
        }
        size_t close = text.find('}', i + 2);
        if (close == std::string_view::npos)
            close = text.size();
        std::string_view ref = text.substr(i + 2, close - i - 2);
        i = close < text.size() ? close + 1 : close;

        // "name(start[:length])": 1-based start, optional length.
        int64_t start = 0, length = 0;
        const size_t paren = ref.find('(');
        std::string_view name = ref.substr(0, paren);
        if (paren != std::string_view::npos) {
            std::string_view range = ref.substr(paren + 1);
            const size_t rp = range.find(')');
            range = range.substr(0, rp);
            const size_t colon = range.find(':');
            start = exprToInt(range.substr(0, colon));
            if (colon != std::string_view::npos)
                length = exprToInt(range.substr(colon + 1));
        }
        if (name.size() > kRefNameMax)
            continue;  // no such name can exist
        ExprValue v = getOpVal(name);
        std::string_view val = v.text;
        if (start >= 1 && static_cast<uint64_t>(start) <= val.size())
            val.remove_prefix(static_cast<size_t>(start - 1));
        if (length >= 1 && static_cast<uint64_t>(length) < val.size())
            val = val.substr(0, static_cast<size_t>(length));
        out.text.append(val);
        out.data = out.data || v.data;
        if (out.text.size() > kValueMax)
            break;
    }
    capValue(out.text, text);
    return out;
}

ExprValue execExpr(const ExprList &expr) {
    if (expr.entries.empty())
        return {};
    Evaluator ev(expr);
    return ev.run();
}

const std::string &exprContainsIndex() { return s_containsIndex; }
void exprClearContainsIndex() { s_containsIndex.clear(); }
