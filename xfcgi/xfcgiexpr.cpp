// Expression compiler: an operator-precedence (shunting-yard) translator
// from the expression text of a template directive or placeholder to a
// postfix list of ExprEntry records, run later by the evaluator.
#include "xfcgiexpr.h"

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <strings.h>

#include "logprint.h"

namespace {
constexpr uint16_t code(int op, int prec) { return static_cast<uint16_t>(op * 16 + prec); }
}  // namespace

const ExprOperator rwTbl[] = {
    {"+", code(EXPR_ADD, 4)},
    {"-", code(EXPR_SUB, 4)},
    {"*", code(EXPR_MUL, 3)},
    {"/", code(EXPR_DIV, 3)},
    {"%", code(EXPR_REM, 3)},
    {"and", code(EXPR_AND, 7)},
    {"&&", code(EXPR_AND, 7)},
    {"or", code(EXPR_OR, 7)},
    {"||", code(EXPR_OR, 7)},
    {"==", code(EXPR_EQ, 5)},
    {"!=", code(EXPR_NE, 5)},
    {"<", code(EXPR_LT, 5)},
    {">", code(EXPR_GT, 5)},
    {">=", code(EXPR_GE, 5)},
    {"=>", code(EXPR_GE, 5)},
    {"<=", code(EXPR_LE, 5)},
    {"=<", code(EXPR_LE, 5)},
    {"eq", code(EXPR_EQW, 5)},
    {"ne", code(EXPR_NEW, 5)},
    {"lt", code(EXPR_LTW, 5)},
    {"gt", code(EXPR_GTW, 5)},
    {"ge", code(EXPR_GEW, 5)},
    {"le", code(EXPR_LEW, 5)},
    {"contains", code(EXPR_CONTAINS, 5)},
    {"begins", code(EXPR_BEGINS, 5)},
    {" Load str", code(EXPR_LOADSTR, 1)},
    {" Load num", code(EXPR_LOADNUM, 1)},
    {" Load var", code(EXPR_LOADVAR, 1)},
    {" Store", code(EXPR_STORE, 8)},
    {"(", code(EXPR_LPAREN, 9)},
    {")", code(EXPR_RPAREN, 0)},
    {"!", code(EXPR_NOT, 6)},
    {"Unary -", code(EXPR_NEG, 2)},
    {" exec", code(EXPR_CALL, 0)},
    {"Unknown", code(EXPR_UNKNOWN, 0)},
};

const ExprFunction xfcgiFunctions[xfcgiFunctionCount] = {
    {"min", 2, 128},     {"max", 2, 128},    {"sum", 2, 128},
    {"avg", 2, 128},     {"abs", 1, 1},      {"toupper", 1, 1},
    {"tolower", 1, 1},   {"length", 1, 1},   {"substr", 2, 3},
    {"concat", 2, 128},  {"printf", 2, 128}, {"soundex", 1, 1},
};

const char *exprOpName(uint16_t c) {
    const int op = c >> 4;
    for (const ExprOperator *r = rwTbl;; ++r) {
        if ((r->code >> 4) == op || r->code == 0)
            return r->name;
    }
}

int exprFindFunction(std::string_view name) {
    if (name.empty())
        return -1;
    for (int i = 0; i < xfcgiFunctionCount; ++i) {
        const char *f = xfcgiFunctions[i].name;
        if (name.size() <= std::strlen(f) && strncasecmp(f, name.data(), name.size()) == 0)
            return i;
    }
    return -1;
}

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}
bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}
// Brackets are accepted inside names so that indexed names written by the
// screen-format converter ("mcs.fccmods[3].off") read as one variable.
bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '[' ||
           c == ']';
}
// Characters that end an operator run that is looked up as a whole.
bool endsOperatorRun(char c) {
    return isSeparator(c) || std::strchr("-+'\"*/()%", c) != nullptr;
}

// The operator-table row whose token equals `tok` (case ignored), or null.
// Rows that only name operations in listings never match.
const ExprOperator *findOperator(std::string_view tok) {
    for (const ExprOperator *r = rwTbl; r->code != 0; ++r) {
        if (r->name[0] == ' ' || std::strcmp(r->name, "Unary -") == 0)
            continue;
        if (std::strlen(r->name) == tok.size() &&
            strncasecmp(r->name, tok.data(), tok.size()) == 0)
            return r;
    }
    return nullptr;
}

class Compiler {
public:
    Compiler(ExprList &out, bool valueMode, FILE *errors, const char *path)
        : m_out(out), m_valueMode(valueMode), m_errors(errors), m_path(path ? path : "") {}

    int run();

private:
    std::string_view src() const { return m_out.source(); }
    int srcLen() const { return static_cast<int>(m_out.sourceLength); }
    const char *srcData() const { return m_out.text.data(); }

    void error(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    void errorTok(const char *what, uint32_t off, uint32_t len);
    void errorTokInExpr(const char *what, uint32_t off, uint32_t len);

    bool push(uint16_t c, uint32_t off = 0, uint32_t len = 0);
    void pushBinary(uint16_t c);
    void emit(const ExprEntry &e);
    void emitLoad(int op, uint32_t off, uint32_t len);
    // Emits stacked entries down to the nearest "("; returns its index or -1.
    int emitToParen();

    void closeParen();
    void comma();
    void word(size_t &i);
    void operatorRun(size_t &i);
    void finish();

    ExprList &m_out;
    bool m_valueMode;
    FILE *m_errors;
    const char *m_path;
    std::vector<ExprEntry> m_ops;
    int m_errorCount = 0;
    bool m_expectOperand = true;
    bool m_operatorSeen = false;
    bool m_stopped = false;
};

void Compiler::error(const char *fmt, ...) {
    ++m_errorCount;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::string msg;
    if (n >= static_cast<int>(sizeof buf)) {  // long expression text: format again
        msg.resize(static_cast<size_t>(n) + 1);
        va_start(ap, fmt);
        std::vsnprintf(msg.data(), msg.size(), fmt, ap);
        va_end(ap);
        msg.resize(static_cast<size_t>(n));
    } else if (n > 0) {
        msg.assign(buf, static_cast<size_t>(n));
    }
    if (m_errors)
        std::fputs(msg.c_str(), m_errors);
    else
        logPrintf("#%s", msg.c_str());
}

void Compiler::errorTok(const char *what, uint32_t off, uint32_t len) {
    error("Error: %s [%.*s] in %s\n", what, static_cast<int>(len), srcData() + off, m_path);
}

void Compiler::errorTokInExpr(const char *what, uint32_t off, uint32_t len) {
    error("Error: %s [%.*s] in [%.*s] in %s\n", what, static_cast<int>(len), srcData() + off,
          srcLen(), srcData(), m_path);
}

bool Compiler::push(uint16_t c, uint32_t off, uint32_t len) {
    if (static_cast<int>(m_ops.size()) >= kExprOpStackMax - 1) {
        logDumpHex("ERROR: Expression too complicated", srcData(), srcLen());
        error("ERROR: Expression too complicated [%.*s] in %s\n", srcLen(), srcData(), m_path);
        m_stopped = true;
        return false;
    }
    ExprEntry e;
    e.code = c;
    e.offset = off;
    e.length = len;
    m_ops.push_back(e);
    if ((c >> 4) != EXPR_LPAREN)
        m_operatorSeen = true;
    return true;
}

// Binary operators first emit what binds tighter (smaller precedence), and
// of equal precedence the stacked one, so they apply from left to right.
// "(" is never emitted here; prefix operators and stores are pushed
// directly and so apply from right to left.
void Compiler::pushBinary(uint16_t c) {
    const int prec = c & 15;
    while (!m_ops.empty()) {
        const ExprEntry &top = m_ops.back();
        if (top.op() == EXPR_LPAREN || top.precedence() > prec)
            break;
        ExprEntry e = top;
        m_ops.pop_back();
        emit(e);
    }
    push(c);
}

void Compiler::emit(const ExprEntry &e) {
    if (e.op() == EXPR_CALL) {
        const std::string_view name = m_out.token(e);
        const int f = exprFindFunction(name);
        if (f < 0)
            errorTok("Unknown function", e.offset, e.length);
        else if (e.count < xfcgiFunctions[f].minArgs)
            errorTok("Too few arguments for", e.offset, e.length);
        else if (e.count > xfcgiFunctions[f].maxArgs)
            errorTok("Too many arguments for", e.offset, e.length);
    }
    m_out.entries.push_back(e);
}

void Compiler::emitLoad(int op, uint32_t off, uint32_t len) {
    ExprEntry e;
    e.code = code(op, 1);
    e.offset = off;
    e.length = len;
    m_out.entries.push_back(e);
    m_expectOperand = false;
}

int Compiler::emitToParen() {
    while (!m_ops.empty()) {
        if (m_ops.back().op() == EXPR_LPAREN)
            return static_cast<int>(m_ops.size()) - 1;
        ExprEntry e = m_ops.back();
        m_ops.pop_back();
        emit(e);
    }
    return -1;
}

// ")" closes its "(" and, when a call stands below it, counts the last
// argument. "f()" counts one too: the evaluator finds no operand for it
// and the expression gives an empty result.
void Compiler::closeParen() {
    const int p = emitToParen();
    if (p < 0) {
        error("Error: Missing left parens [%.*s] in %s\n", srcLen(), srcData(), m_path);
        return;
    }
    m_ops.pop_back();
    if (!m_ops.empty() && m_ops.back().op() == EXPR_CALL && m_ops.back().count < INT16_MAX)
        ++m_ops.back().count;
    m_expectOperand = false;
}

void Compiler::comma() {
    const int p = emitToParen();
    if (p < 1 || m_ops[static_cast<size_t>(p) - 1].op() != EXPR_CALL) {
        error("Error: Comma out of place [%.*s] in %s\n", srcLen(), srcData(), m_path);
    } else if (m_ops[static_cast<size_t>(p) - 1].count < INT16_MAX) {
        ++m_ops[static_cast<size_t>(p) - 1].count;
    }
    m_expectOperand = true;
}

// A word: an operator ("and", "eq", ...), a function call, the target of a
// store, or a variable.
void Compiler::word(size_t &i) {
    const std::string_view s = src();
    const size_t start = i;
    while (i < s.size() && isWordChar(s[i]))
        ++i;
    const auto off = static_cast<uint32_t>(start);
    const auto len = static_cast<uint32_t>(i - start);
    if (const ExprOperator *r = findOperator(s.substr(start, i - start))) {
        if (m_expectOperand) {
            errorTokInExpr("Out of place", off, len);
            return;
        }
        pushBinary(r->code);
        m_expectOperand = true;
        return;
    }
    size_t k = i;
    while (k < s.size() && isSeparator(s[k]))
        ++k;
    if (k < s.size() && s[k] == '(') {
        push(code(EXPR_CALL, 0), off, len);
        m_expectOperand = true;
        return;
    }
    if (k < s.size() && s[k] == '=' &&
        !(k + 1 < s.size() && (s[k + 1] == '=' || s[k + 1] == '<' || s[k + 1] == '>'))) {
        push(code(EXPR_STORE, 8), off, len);
        i = k + 1;
        m_expectOperand = true;
        return;
    }
    emitLoad(EXPR_LOADVAR, off, len);
}

// Operator characters: prefix operators where an operand is expected,
// otherwise one- and two-character operators or a run looked up whole.
void Compiler::operatorRun(size_t &i) {
    const std::string_view s = src();
    const char c = s[i];
    if (m_expectOperand) {
        if (c == '-') {
            push(code(EXPR_NEG, 2));
            ++i;
            return;
        }
        if (c == '!') {
            push(code(EXPR_NOT, 6));
            ++i;
            return;
        }
        if (c == '+') {
            ++i;
            return;
        }
    }
    size_t len = 1;
    if (std::strchr("-+/*%:?", c) != nullptr) {
        len = 1;
    } else if ((c == '&' || c == '|') && i + 1 < s.size() && s[i + 1] == c) {
        len = 2;
    } else {
        while (i + len < s.size() && !endsOperatorRun(s[i + len]))
            ++len;
    }
    const auto off = static_cast<uint32_t>(i);
    i += len;
    const ExprOperator *r = findOperator(s.substr(off, len));
    if (!r) {
        errorTokInExpr("Invalid operation", off, static_cast<uint32_t>(len));
        return;
    }
    if (m_expectOperand) {
        errorTokInExpr("Out of place", off, static_cast<uint32_t>(len));
        return;
    }
    pushBinary(r->code);
    m_expectOperand = true;
}

// A lone operand in a condition is compared with the empty string; then
// the stack is emptied.
void Compiler::finish() {
    if (!m_valueMode && !m_operatorSeen && m_out.entries.size() == 1) {
        const int op = m_out.entries[0].op();
        if (op == EXPR_LOADVAR || op == EXPR_LOADSTR || op == EXPR_LOADNUM) {
            ExprEntry lit;
            lit.code = code(EXPR_LOADSTR, 1);
            lit.offset = static_cast<uint32_t>(m_out.text.size());
            lit.length = 2;
            m_out.text += "''";
            m_out.entries.push_back(lit);
            ExprEntry ne;
            ne.code = code(EXPR_NE, 5);
            m_out.entries.push_back(ne);
        }
    }
    while (!m_ops.empty()) {
        ExprEntry e = m_ops.back();
        m_ops.pop_back();
        if (e.op() == EXPR_LPAREN)
            error("Error: Missing right parens [%.*s] in %s\n", srcLen(), srcData(), m_path);
        else
            emit(e);
    }
}

int Compiler::run() {
    const std::string_view s = src();
    size_t i = 0;
    while (i < s.size() && !m_stopped) {
        const char c = s[i];
        if (isSeparator(c)) {
            ++i;
        } else if (c == '\'') {
            // A string runs to the next lone quote: a doubled quote or a
            // backslash keeps the next character inside.
            size_t j = i + 1;
            while (j < s.size()) {
                if (s[j] == '\\') {
                    j += 2;
                } else if (s[j] == '\'') {
                    if (j + 1 < s.size() && s[j + 1] == '\'')
                        j += 2;
                    else
                        break;
                } else {
                    ++j;
                }
            }
            const size_t end = j < s.size() ? j + 1 : s.size();
            emitLoad(EXPR_LOADSTR, static_cast<uint32_t>(i), static_cast<uint32_t>(end - i));
            i = end;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            const size_t start = i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
                ++i;
            emitLoad(EXPR_LOADNUM, static_cast<uint32_t>(start), static_cast<uint32_t>(i - start));
        } else if (isWordStart(c)) {
            word(i);
        } else if (c == '(') {
            push(code(EXPR_LPAREN, 9));
            m_expectOperand = true;
            ++i;
        } else if (c == ')') {
            closeParen();
            ++i;
        } else if (c == ',') {
            comma();
            ++i;
        } else {
            operatorRun(i);
        }
    }
    if (!m_stopped)
        finish();
    return m_errorCount;
}

}  // namespace

int parseExpr(ExprList &out, std::string_view text, bool valueMode, FILE *errors,
              const char *templatePath) {
    out.entries.clear();
    out.text.clear();
    out.sourceLength = 0;
    // Offsets are 32-bit; no template expression comes near this.
    constexpr size_t kMaxText = 1u << 24;
    if (text.size() > kMaxText) {
        const char *path = templatePath ? templatePath : "";
        if (errors)
            std::fprintf(errors, "ERROR: Expression too complicated [%.60s] in %s\n",
                         std::string(text.substr(0, 60)).c_str(), path);
        else
            logPrintf("#ERROR: Expression too complicated [%.60s] in %s\n",
                      std::string(text.substr(0, 60)).c_str(), path);
        return 1;
    }
    out.text.assign(text.data(), text.size());
    out.sourceLength = static_cast<uint32_t>(text.size());
    if (text.empty())
        return 0;
    Compiler c(out, valueMode, errors, templatePath);
    return c.run();
}

void dumpExpr(FILE *stream, const ExprList &expr) {
    if (!stream)
        return;
    std::fprintf(stream, "        %12s   %s\n", "Operation", "Data----");
    for (const ExprEntry &e : expr.entries) {
        const std::string_view tok = expr.token(e);
        const char *name = exprOpName(e.code);
        if (e.op() == EXPR_CALL)
            std::fprintf(stream, "        %12s   %.*s( %d args)\n", name,
                         static_cast<int>(tok.size()), tok.data(), e.count);
        else if (!tok.empty())
            std::fprintf(stream, "        %12s   [%.*s]\n", name, static_cast<int>(tok.size()),
                         tok.data());
        else
            std::fprintf(stream, "        %12s\n", name);
    }
}
