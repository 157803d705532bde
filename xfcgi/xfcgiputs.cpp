// The typed puts of the output-variable table, all made through the
// common put xFcgiChgFld (see xfcgiout.h).
#include "xfcgiout.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <string>

int xFcgiPutStr(const char *name, const char *value)
{
    return xFcgiChgFld(name, value, -1, XVarMark::Data);
}

int xFcgiPutFld(const char *name, const char *value, int maxLen)
{
    return xFcgiChgFld(name, value, maxLen < 0 ? 0 : maxLen, XVarMark::Data);
}

int xFcgiPutRaw(const char *name, const char *value)
{
    return xFcgiChgFld(name, value, -1, XVarMark::Raw);
}

int xFcgiPutInt(const char *name, int32_t value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%d", static_cast<int>(value));
    return xFcgiChgFld(name, buf, -1, XVarMark::Data);
}

int xFcgiPutHex(const char *name, uint32_t value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(value));
    return xFcgiChgFld(name, buf, -1, XVarMark::Data);
}

int xFcgiPutChr(const char *name, char c)
{
    if (name == nullptr)
        return 0;
    return xFcgiChgVar(name, std::string_view(&c, 1), XVarMark::Data);
}

int xFcgiPutDbl(const char *name, double value, int width, int flag)
{
    width = std::clamp(width, 0, 64);
    int n = flag ? snprintf(nullptr, 0, "%*f", width, value)
                 : snprintf(nullptr, 0, "%*.*f", width, 0, value);
    if (n < 0)
        return 0;
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    if (flag)
        snprintf(buf.data(), buf.size(), "%*f", width, value);
    else
        snprintf(buf.data(), buf.size(), "%*.*f", width, 0, value);
    buf.resize(static_cast<size_t>(n));
    return xFcgiChgFld(name, buf.c_str(), -1, XVarMark::Data);
}

int xFcgiPutSid(const char *value)
{
    const char *sid = xFcgiSidName(nullptr);
    if (static_cast<unsigned char>(sid[0]) <= ' ')
        return 1;
    return xFcgiChgFld(sid, value, -1, XVarMark::Data);
}

int xFcgiPutValues(char *scratch, ...)
{
    if (scratch)
        *scratch = '\0';
    va_list ap;
    va_start(ap, scratch);
    int rc = 1;
    for (;;) {
        const char *name = va_arg(ap, const char *);
        if (name == nullptr)
            break;
        const int type = std::toupper(static_cast<unsigned char>(name[0]));
        if (type == 'I') {
            int v = va_arg(ap, int);
            if (v == 0) { rc = 0; break; }
            xFcgiPutInt(name, v);
        } else if (type == 'H') {
            unsigned v = va_arg(ap, unsigned);
            if (v == 0) { rc = 0; break; }
            xFcgiPutHex(name, v);
        } else if (type == 'D') {
            double v = va_arg(ap, double);
            int width = va_arg(ap, int);
            int flag = va_arg(ap, int);
            if (v == 0.0) { rc = 0; break; }
            xFcgiPutDbl(name, v, width, flag);
        } else if (type == 'F') {
            const char *v = va_arg(ap, const char *);
            int maxLen = va_arg(ap, int);
            if (v == nullptr) { rc = 0; break; }
            xFcgiPutFld(name, v, maxLen);
        } else {
            const char *v = va_arg(ap, const char *);
            if (v == nullptr) { rc = 0; break; }
            xFcgiPutStr(name, v);
        }
    }
    va_end(ap);
    return rc;
}
