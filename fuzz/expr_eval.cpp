// fuzz-libs: qor_xfcgi qor_arc
// Compiles arbitrary expression text (first byte: condition or value mode)
// and runs it against a small output table; also substitutes references in
// the same text. Nothing may crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "xfcgiexpr.h"
#include "xfcgiout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FILE *sink = std::fopen("/dev/null", "w");
    if (size == 0)
        return 0;
    const bool valueMode = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);

    xFcgiPutClear();
    xFcgiPutStr("a", "12");
    xFcgiPutStr("name", "abcdef");
    xFcgiPutRaw("min", "-9223372036854775808");

    ExprList expr;
    parseExpr(expr, text, valueMode, sink, "fuzz.htx");
    dumpExpr(sink, expr);
    ExprValue v = execExpr(expr);
    (void)v;
    ExprValue s = getSetStr(text);
    (void)s;
    exprClearContainsIndex();
    return 0;
}
