// Helpers of the expression tests: a compact rendering of a compiled list,
// compiling with the messages caught, and reading back the process log.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "logprint.h"
#include "xfcgiexpr.h"

// "a b 2 * +": loads as their token (strings with quotes), calls as
// "name/argc", stores as "=name", other operations by their table name.
inline std::string render(const ExprList &x) {
    std::string out;
    for (const ExprEntry &e : x.entries) {
        if (!out.empty())
            out += ' ';
        const std::string tok(x.token(e));
        switch (e.op()) {
        case EXPR_LOADVAR:
        case EXPR_LOADSTR:
        case EXPR_LOADNUM:
            out += tok;
            break;
        case EXPR_CALL:
            out += tok + "/" + std::to_string(e.count);
            break;
        case EXPR_STORE:
            out += "=" + tok;
            break;
        default:
            out += exprOpName(e.code);
        }
    }
    return out;
}

// Compiles text; the messages the compiler wrote land in *messages.
inline int compile(ExprList &x, const std::string &text, bool valueMode,
                   std::string *messages = nullptr, const char *path = "t.htx") {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    const int n = parseExpr(x, text, valueMode, f, path);
    std::fclose(f);
    if (messages)
        messages->assign(buf, len);
    std::free(buf);
    return n;
}

// The process log opened on a file of the test's working folder.
class ExprLog {
public:
    explicit ExprLog(const char *name) : m_path(name) {
        logClose();
        std::remove(name);
        logOpen(name, 0);
    }
    ~ExprLog() { logClose(); }
    std::string text() const {
        logForceFlush();
        std::ifstream in(m_path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool contains(const std::string &s) const { return text().find(s) != std::string::npos; }

private:
    std::string m_path;
};
