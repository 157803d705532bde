// The expression evaluator: operators, functions, operand loading and
// substitution with the output table and the environment, data marks, and
// defined results for overflow, division by zero and broken lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "expr_test_util.h"
#include "xfcgiout.h"

namespace {

class ExprEval : public ::testing::Test {
protected:
    void SetUp() override {
        xFcgiPutClear();
        exprClearContainsIndex();
    }
    // Compiles and runs text; compile messages are expected to be none
    // unless allowErrors.
    static ExprValue run(const std::string &text, bool valueMode = true, bool allowErrors = false) {
        ExprList x;
        std::string msgs;
        const int errors = compile(x, text, valueMode, &msgs);
        if (!allowErrors) {
            EXPECT_EQ(errors, 0) << text << ": " << msgs;
        }
        return execExpr(x);
    }
    static std::string eval(const std::string &text, bool valueMode = true) {
        return run(text, valueMode).text;
    }
    static std::string var(const char *name) {
        const int i = searchOutTab(name, static_cast<int>(std::strlen(name)));
        return i < 0 ? std::string("<none>") : std::string(xFcgiVarValue(i));
    }
};

TEST_F(ExprEval, Arithmetic) {
    EXPECT_EQ(eval("10 - 2 + 3"), "11");
    xFcgiPutStr("a", "1");
    xFcgiPutStr("b", "2");
    EXPECT_EQ(eval("a + b * 2"), "5");
    EXPECT_EQ(eval("(a + b) * 2"), "6");
    EXPECT_EQ(eval("7 / 2"), "3");
    EXPECT_EQ(eval("-7 / 2"), "-3");  // truncates toward zero
    EXPECT_EQ(eval("-7 % 3"), "-1");
    EXPECT_EQ(eval("7 % -3"), "1");
    EXPECT_EQ(eval("-a"), "-1");
    EXPECT_EQ(eval("'  12abc' + 1"), "13");  // blanks skipped, stops at a non-digit
    EXPECT_EQ(eval("'abc' + 1"), "1");
    EXPECT_EQ(eval("'-5' * '+2'"), "-10");
    EXPECT_EQ(eval("3 and 0"), "0");
    EXPECT_EQ(eval("3 and -1"), "1");
    EXPECT_EQ(eval("0 or 0"), "0");
    EXPECT_EQ(eval("0 || 2"), "1");
}

TEST_F(ExprEval, UndefinedVariableCountsAsZero) {
    ExprLog log("undefined.log");
    const int saved = logCtrlFlgs;
    logCtrlFlgs |= LOG_DETAIL;
    EXPECT_EQ(eval("x + 1"), "1");
    logCtrlFlgs = saved;
    EXPECT_TRUE(log.contains("Expression error: x not defined (nest 0)")) << log.text();
}

TEST_F(ExprEval, NotKeepsItsMeaning) {
    // "!" gives "1" for a non-zero operand and "0" for zero.
    EXPECT_EQ(eval("!5"), "1");
    EXPECT_EQ(eval("!0"), "0");
    EXPECT_EQ(eval("!'abc'"), "0");
    EXPECT_EQ(eval("!1 == 2"), "0");  // ! applies to the comparison
}

TEST_F(ExprEval, StringComparisons) {
    EXPECT_EQ(eval("'abc ' == 'ABC'"), "1");
    EXPECT_EQ(eval("'ab' < 'abc'"), "1");
    EXPECT_EQ(eval("'b' > 'abc'"), "1");
    EXPECT_EQ(eval("'10' > '9'"), "0");
    EXPECT_EQ(eval("'a' != 'A'"), "0");
    EXPECT_EQ(eval("'a' <= 'a'"), "1");
    EXPECT_EQ(eval("'a' >= 'b'"), "0");
    EXPECT_EQ(compStrings("", ""), 0);
    EXPECT_LT(compStrings("", "a"), 0);
    EXPECT_GT(compStrings(" ", ""), 0);  // never trimmed below one character
    EXPECT_EQ(compStrings("  ", " "), 0);
    EXPECT_EQ(compStrings("x  ", "X"), 0);
}

TEST_F(ExprEval, WordComparisons) {
    EXPECT_EQ(eval("10 gt 9"), "1");
    EXPECT_EQ(eval("' 10' eq '10'"), "1");
    EXPECT_EQ(eval("9 lt 10"), "1");
    EXPECT_EQ(eval("10 le 10"), "1");
    EXPECT_EQ(eval("10 ge 11"), "0");
    EXPECT_EQ(eval("10 ne 10"), "0");
    xFcgiPutStr("x", "y");
    EXPECT_EQ(eval("x eq 'Y'"), "1");  // a letter: compared as strings
    xFcgiPutStr("x", "yes");
    EXPECT_EQ(eval("x eq 'Y'"), "0");
    EXPECT_EQ(eval("'10' gt 'abc'"), "0");  // one side not numeric: as strings
    EXPECT_EQ(eval("'' eq ''"), "1");
    // An empty left value counts as 0 against a number; a number against an
    // empty right value still compares as text.
    EXPECT_EQ(eval("unset eq 0"), "1");
    EXPECT_EQ(eval("'' ge 1"), "0");
    xFcgiPutStr("x", "0");
    EXPECT_EQ(eval("x ne ''"), "1");
}

TEST_F(ExprEval, ContainsAndBegins) {
    EXPECT_EQ(eval("'Hello World' contains 'WORLD'"), "1");
    EXPECT_EQ(exprContainsIndex(), "7");
    exprClearContainsIndex();
    EXPECT_EQ(eval("'Hello' contains 'xyz'"), "0");
    EXPECT_EQ(exprContainsIndex(), "");
    EXPECT_EQ(eval("'ab' contains 'abc'"), "0");
    EXPECT_EQ(eval("'Hello' begins 'hE'"), "1");
    EXPECT_EQ(eval("'Hello' begins 'ello'"), "0");
    EXPECT_EQ(eval("'He' begins 'Hello'"), "0");
}

TEST_F(ExprEval, Conditions) {
    EXPECT_EQ(eval("x", false), "0");  // undefined: empty
    xFcgiPutStr("x", "0");
    EXPECT_EQ(eval("x", false), "1");  // "0" is not empty
    xFcgiPutStr("x", " ");
    EXPECT_EQ(eval("x", false), "1");
    xFcgiPutStr("x", "");
    EXPECT_EQ(eval("x", false), "0");
}

TEST_F(ExprEval, Functions) {
    EXPECT_EQ(eval("avg(1, 2)"), "1");
    EXPECT_EQ(eval("avg(-1, -2)"), "-1");
    EXPECT_EQ(eval("min(5, -3, 2)"), "-3");
    EXPECT_EQ(eval("max(5, -3, 2)"), "5");
    EXPECT_EQ(eval("sum('7x', 3)"), "10");
    EXPECT_EQ(eval("abs(-4)"), "4");
    EXPECT_EQ(eval("toupper('abC1')"), "ABC1");
    EXPECT_EQ(eval("tolower('ABc1')"), "abc1");
    EXPECT_EQ(eval("length('hello')"), "5");
    EXPECT_EQ(eval("length('')"), "0");
    EXPECT_EQ(eval("concat('a', 1, 'b')"), "a1b");
    EXPECT_EQ(eval("SUB('abcde', 2)"), "bcde");  // abbreviated, any case
    EXPECT_EQ(eval("soundex('Robert')"), "R163");
    EXPECT_EQ(eval("soundex('Tymczak')"), "T522");
    EXPECT_EQ(eval("soundex('Pfister')"), "P236");   // first letter's code counts
    EXPECT_EQ(eval("soundex('Ashcraft')"), "A226");  // H separates equal codes
    EXPECT_EQ(eval("soundex('Lee')"), "L000");
    EXPECT_EQ(eval("soundex('12 !')"), "0000");
    EXPECT_EQ(eval("soundex('o''Hara')"), "O600");
}

TEST_F(ExprEval, Substr) {
    EXPECT_EQ(eval("substr('abcde', 2)"), "bcde");
    EXPECT_EQ(eval("substr('abcde', 2, 10)"), "bcde");
    EXPECT_EQ(eval("substr('abcde', 1, 5)"), "abcde");
    EXPECT_EQ(eval("substr('abcde', 2, 2)"), "bc");
    // Clamped: a start below 1 is 1; beyond the end, or a length below 1,
    // gives nothing.
    EXPECT_EQ(eval("substr('abcde', 0, 2)"), "ab");
    EXPECT_EQ(eval("substr('abcde', -9)"), "abcde");
    EXPECT_EQ(eval("substr('abcde', 6)"), "");
    EXPECT_EQ(eval("substr('abcde', 99999999999999999999, 1)"), "");
    EXPECT_EQ(eval("substr('abcde', 2, 0)"), "");
    EXPECT_EQ(eval("substr('abcde', 2, -1)"), "");
}

TEST_F(ExprEval, Printf) {
    EXPECT_EQ(eval("printf('%05d|%s', 42, 'ab')"), "00042|ab");
    EXPECT_EQ(eval("printf('%d%%', 5)"), "5%%");  // the rest after the last argument
    EXPECT_EQ(eval("printf('%% %d', 5)"), "% 5");
    EXPECT_EQ(eval("printf('[%-4s][%4s][%.2s]', 'ab', 'cd', 'xyz')"), "[ab  ][  cd][xy]");
    EXPECT_EQ(eval("printf('[%+d][%-4d][%.3d]', 7, 7, 7)"), "[+7][7   ][007]");
    EXPECT_EQ(eval("printf('%.2f|%f|%#.0f', '3.14159', '2', 3)"), "3.14|2.000000|3.");
    EXPECT_EQ(eval("printf('%#d', 5)"), "5");
    EXPECT_EQ(eval("printf('%ld %lld %hd %jd %zd', 1, 2, 3, 4, 5)"), "1 2 3 4 5");
    // Anything but a plain conversion is copied as it stands.
    EXPECT_EQ(eval("printf('%n%s', 'x')"), "%nx");
    EXPECT_EQ(eval("printf('%*d%s', 'x')"), "%*dx");
    EXPECT_EQ(eval("printf('%x %s', 'y')"), "%x y");
    EXPECT_EQ(eval("printf('100% %s', 'sure')"), "100% sure");
    EXPECT_EQ(eval("printf('%s %', 'a')"), "a %");
    EXPECT_EQ(eval("printf('%s', 'a', 'b')"), "a");
    // Widths are capped.
    EXPECT_EQ(eval("printf('%999999999d', 1)").size(), 256u);
    EXPECT_EQ(eval("printf('%.999999999f', 1)").size(), 258u);
    EXPECT_EQ(eval("printf('%300s', 'a')").size(), 256u);
}

TEST_F(ExprEval, LoadsAndSubstitution) {
    xFcgiPutStr("name", "abcdef");
    EXPECT_EQ(eval("'${name(2:3)}'"), "bcd");
    EXPECT_EQ(eval("'${name(6)}'"), "f");
    EXPECT_EQ(eval("'<\\{name}>'"), "<abcdef>");
    EXPECT_EQ(eval("'${name(0:99)}'"), "abcdef");  // out of range: whole value
    EXPECT_EQ(eval("'${nothing}x'"), "x");
    EXPECT_EQ(eval("'${name'"), "abcdef");  // runs to the end of the text
    EXPECT_EQ(eval("'it''s \\'q\\''"), "it's 'q'");
    EXPECT_EQ(eval("NAME"), "abcdef");  // case ignored
    EXPECT_EQ(getSetStr("a ${'lit'} ${42} b").text, "a lit 42 b");
    EXPECT_EQ(getSetStr("no references $ \\ {").text, "no references $ \\ {");
    EXPECT_EQ(getSetStr("${" + std::string(64, 'n') + "}.").text, ".");  // name too long
    EXPECT_EQ(getOpVal("'q'").text, "q");
    EXPECT_EQ(getOpVal("007").text, "007");
    // The environment stands behind the table.
    setenv("QOR_EXPR_TEST_ENV", "from-env", 1);
    EXPECT_EQ(eval("QOR_EXPR_TEST_ENV"), "from-env");
    EXPECT_EQ(eval("'[${QOR_EXPR_TEST_ENV}]'"), "[from-env]");
    xFcgiPutStr("QOR_EXPR_TEST_ENV", "from-table");
    EXPECT_EQ(eval("QOR_EXPR_TEST_ENV"), "from-table");
    unsetenv("QOR_EXPR_TEST_ENV");
}

TEST_F(ExprEval, StoreKeepsTheValueAndItsMark) {
    xFcgiPutStr("a", "41");
    EXPECT_EQ(eval("total = a + 1"), "42");
    EXPECT_EQ(var("total"), "42");
    int i = searchOutTab("total", 5);
    ASSERT_GE(i, 0);
    EXPECT_EQ(xFcgiVarMark(i), XVarMark::Data);  // computed from data
    EXPECT_EQ(eval("x = y = 'lit'"), "lit");
    EXPECT_EQ(var("x"), "lit");
    EXPECT_EQ(var("y"), "lit");
    i = searchOutTab("x", 1);
    EXPECT_EQ(xFcgiVarMark(i), XVarMark::Raw);
    // Long target names are cut to 255 characters.
    const std::string longName(300, 'n');
    eval(longName + " = 1");
    EXPECT_EQ(var(std::string(255, 'n').c_str()), "1");
}

TEST_F(ExprEval, DataMarks) {
    xFcgiPutStr("d", "<b>");
    xFcgiPutRaw("r", "<i>");
    EXPECT_TRUE(run("d").data);
    EXPECT_FALSE(run("r").data);
    EXPECT_FALSE(run("'lit' + 1").data);
    EXPECT_TRUE(run("concat(r, d)").data);
    EXPECT_FALSE(run("concat(r, 'x')").data);
    EXPECT_TRUE(run("'x${d}'").data);
    EXPECT_FALSE(run("'x${r}'").data);
    EXPECT_TRUE(run("length(d)").data);
    EXPECT_TRUE(getSetStr("${d}").data);
}

TEST_F(ExprEval, OverflowSaturates) {
    xFcgiPutStr("min", "-9223372036854775808");
    EXPECT_EQ(eval("9223372036854775807 + 1"), "9223372036854775807");
    EXPECT_EQ(eval("min - 1"), "-9223372036854775808");
    EXPECT_EQ(eval("0 - min"), "9223372036854775807");
    EXPECT_EQ(eval("min / -1"), "9223372036854775807");
    EXPECT_EQ(eval("min % -1"), "0");
    EXPECT_EQ(eval("-min"), "9223372036854775807");
    EXPECT_EQ(eval("abs(min)"), "9223372036854775807");
    EXPECT_EQ(eval("4294967296 * 4294967296"), "9223372036854775807");
    EXPECT_EQ(eval("-4294967296 * 4294967296"), "-9223372036854775808");
    EXPECT_EQ(eval("99999999999999999999999999 + 0"), "9223372036854775807");
    EXPECT_EQ(eval("'-99999999999999999999999999' + 0"), "-9223372036854775808");
    EXPECT_EQ(eval("sum(9223372036854775807, 9223372036854775807)"), "9223372036854775807");
    EXPECT_EQ(eval("avg(9223372036854775807, 9223372036854775807)"), "9223372036854775807");
    EXPECT_EQ(eval("2000000000 + 2000000000"), "4000000000");  // 64-bit
    EXPECT_EQ(exprToInt("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(exprToInt("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(exprToInt("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(exprToInt(" \t-12x3"), -12);
    EXPECT_EQ(exprToInt("-"), 0);
}

TEST_F(ExprEval, DivisionByZeroGivesZeroAndALogLine) {
    ExprLog log("divzero.log");
    EXPECT_EQ(eval("7 / 0"), "0");
    EXPECT_TRUE(log.contains("Error: Division by zero in [7 / 0]")) << log.text();
    EXPECT_EQ(eval("7 % (1 - 1)"), "0");
    EXPECT_TRUE(log.contains("Division by zero in [7 % (1 - 1)]"));
}

TEST_F(ExprEval, BrokenListsGiveAnEmptyResult) {
    ExprLog log("broken.log");
    // "f()" counts one argument that is not there: the call finds no
    // operand and the result is empty.
    EXPECT_EQ(run("length()", true, true).text, "");
    EXPECT_TRUE(log.contains("Expression stack underflow in [length()]")) << log.text();
    // Too many arguments: the call is refused, not run.
    EXPECT_EQ(run("length('a', 'b')", true, true).text, "");
    EXPECT_TRUE(log.contains("Wrong number of arguments (2) for length")) << log.text();
    // An operator without its operands.
    EXPECT_EQ(run("1 +", true, true).text, "");
    ExprList x;
    compile(x, "a +", true);
    EXPECT_EQ(execExpr(x).text, "");
    EXPECT_TRUE(log.contains("Expression stack underflow in [a +]"));
    // A long run of operands overflows the bounded stack.
    std::string many;
    for (int i = 0; i < kExprEvalStackMax + 10; ++i)
        many += "1 ";
    EXPECT_EQ(run(many, true, true).text, "");
    EXPECT_TRUE(log.contains("Expression stack overflow"));
    // Nested calls with many arguments stay within bounds.
    std::string args;
    for (int i = 0; i < 127; ++i)
        args += "1, ";
    EXPECT_EQ(eval("sum(" + args + "sum(" + args + "1))"), "255");
}

TEST_F(ExprEval, UnknownOperationsAreLoggedAndSkipped) {
    ExprLog log("unknown.log");
    ExprList x;
    compile(x, "1 + 2", true);
    ExprEntry bad;
    bad.code = EXPR_LPAREN * 16 + 9;
    x.entries.insert(x.entries.begin() + 2, bad);
    EXPECT_EQ(execExpr(x).text, "3");
    EXPECT_TRUE(log.contains("Error: Unexpected opcode 28 in [1 + 2]")) << log.text();
    // A call of a name that no function begins with.
    ExprList y;
    compile(y, "5 + foo(1)", true, nullptr);
    EXPECT_EQ(render(y), "5 1 foo/1 +");
    EXPECT_EQ(execExpr(y).text, "6");  // foo left its argument in place
    EXPECT_TRUE(log.contains("Error: Invalid fuction foo in [5 + foo(1)]"));
    EXPECT_EQ(execExpr(ExprList()).text, "");
}

TEST_F(ExprEval, LongValuesAreCapped) {
    ExprLog log("cap.log");
    xFcgiPutStr("a", std::string(40000, 'a').c_str());
    EXPECT_EQ(eval("concat(a, a)").size(), 65535u);
    EXPECT_TRUE(log.contains("Expression value cut to 65535 bytes"));
    // Repeated doubling through stores stays bounded.
    EXPECT_EQ(eval("concat(a = concat(a, a), a = concat(a, a), a)").size(), 65535u);
}

}  // namespace
