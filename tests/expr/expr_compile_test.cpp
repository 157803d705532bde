// The expression compiler: postfix order, precedence and associativity,
// tokens, the condition rewrite, error messages and the listing.
#include <gtest/gtest.h>

#include "expr_test_util.h"

namespace {

std::string postfix(const std::string &text, bool valueMode = true) {
    ExprList x;
    std::string msgs;
    const int errors = compile(x, text, valueMode, &msgs);
    EXPECT_EQ(errors, 0) << text << ": " << msgs;
    return render(x);
}

// Compiles text expecting exactly one error; returns its message.
std::string oneError(const std::string &text, bool valueMode = true) {
    ExprList x;
    std::string msgs;
    EXPECT_EQ(compile(x, text, valueMode, &msgs), 1) << text << ": " << msgs;
    return msgs;
}

TEST(ExprCompile, OrderOfTheExamples) {
    EXPECT_EQ(postfix("a + b * 2"), "a b 2 * +");
    EXPECT_EQ(postfix("10 - 2 + 3"), "10 2 - 3 +");
    EXPECT_EQ(postfix("total = a + 1"), "a 1 + =total");
    EXPECT_EQ(postfix("substr(name, 1, 3)"), "name 1 3 substr/3");
    EXPECT_EQ(postfix("a AND b"), "a b and");
    EXPECT_EQ(postfix("-a"), "a Unary -");
}

TEST(ExprCompile, PrecedenceAndAssociativity) {
    EXPECT_EQ(postfix("(a + b) * 2"), "a b + 2 *");
    EXPECT_EQ(postfix("a * b + c"), "a b * c +");
    EXPECT_EQ(postfix("a / b % c"), "a b / c %");
    EXPECT_EQ(postfix("a == b and c != d"), "a b == c d != and");
    EXPECT_EQ(postfix("a or b and c"), "a b or c and");  // equal precedence
    EXPECT_EQ(postfix("a || b && c"), "a b or c and");
    EXPECT_EQ(postfix("a < b + 1"), "a b 1 + <");
    // Negate binds tighter than multiplication; "!" looser than comparisons.
    EXPECT_EQ(postfix("-a * b"), "a Unary - b *");
    EXPECT_EQ(postfix("a - -b"), "a b Unary - -");
    EXPECT_EQ(postfix("!a == b"), "a b == !");
    EXPECT_EQ(postfix("a * !b"), "a b ! *");
    EXPECT_EQ(postfix("- - a"), "a Unary - Unary -");
    EXPECT_EQ(postfix("+a + +1"), "a 1 +");
    // Stores apply from right to left.
    EXPECT_EQ(postfix("x = y = 3"), "3 =y =x");
    EXPECT_EQ(postfix("f = max(1, 2) + 1"), "1 2 max/2 1 + =f");
}

TEST(ExprCompile, OperatorSpellings) {
    EXPECT_EQ(postfix("a >= b"), "a b >=");
    EXPECT_EQ(postfix("a => b"), "a b >=");
    EXPECT_EQ(postfix("a =< b"), "a b <=");
    EXPECT_EQ(postfix("a <= b"), "a b <=");
    EXPECT_EQ(postfix("a Eq b"), "a b eq");
    EXPECT_EQ(postfix("a ne b"), "a b ne");
    EXPECT_EQ(postfix("a lt b or a gt b"), "a b lt a b gt or");
    EXPECT_EQ(postfix("a le b and a ge b"), "a b le a b ge and");
    EXPECT_EQ(postfix("a contains 'x' or a begins 'y'"), "a 'x' contains a 'y' begins or");
    // The word and symbol comparisons stay distinct operations.
    ExprList x;
    compile(x, "a eq b", true);
    ASSERT_EQ(x.entries.size(), 3u);
    EXPECT_EQ(x.entries[2].op(), EXPR_EQW);
    EXPECT_EQ(x.entries[2].code, EXPR_EQW * 16 + 5);
    compile(x, "a == b", true);
    EXPECT_EQ(x.entries[2].op(), EXPR_EQ);
}

TEST(ExprCompile, Tokens) {
    // Separators: blanks, tabs, line ends, form feeds.
    EXPECT_EQ(postfix("a\t+\r\nb\f*2"), "a b 2 * +");
    // Strings keep their quotes; doubled quotes and backslashes stay inside.
    EXPECT_EQ(postfix("'it''s' + 'a\\'b'"), "'it''s' 'a\\'b' +");
    EXPECT_EQ(postfix("'open"), "'open");
    EXPECT_EQ(postfix("12abc"), "12 abc");  // a number then a name
    EXPECT_EQ(postfix("_x.y + .z"), "_x.y .z +");
    EXPECT_EQ(postfix("mcs.fccmods[3].off eq 0"), "mcs.fccmods[3].off 0 eq");
    // A name followed by "(" is a call, by a lone "=" a store.
    EXPECT_EQ(postfix("length (a)"), "a length/1");
    EXPECT_EQ(postfix("x == y"), "x y ==");
    // Abbreviated function names are accepted.
    EXPECT_EQ(postfix("sub('abc', 2)"), "'abc' 2 sub/2");
    EXPECT_EQ(postfix("concat(min(1, 2), max(3, 4, 5))"), "1 2 min/2 3 4 5 max/3 concat/2");
}

TEST(ExprCompile, ConditionRewrite) {
    EXPECT_EQ(postfix("x", false), "x '' !=");
    EXPECT_EQ(postfix("'a'", false), "'a' '' !=");
    EXPECT_EQ(postfix("(x)", false), "x '' !=");
    EXPECT_EQ(postfix("x", true), "x");
    EXPECT_EQ(postfix("x == 1", false), "x 1 ==");
    EXPECT_EQ(postfix("length(x)", false), "x length/1");
    // The added literal lives after the source text, which stays as given.
    ExprList x;
    compile(x, "x", false);
    EXPECT_EQ(x.source(), "x");
    EXPECT_EQ(x.entries[2].code, EXPR_NE * 16 + 5);
}

TEST(ExprCompile, ErrorMessages) {
    EXPECT_EQ(oneError("* 3"), "Error: Out of place [*] in [* 3] in t.htx\n");
    EXPECT_EQ(oneError("and b"), "Error: Out of place [and] in [and b] in t.htx\n");
    EXPECT_EQ(oneError("a <> b"), "Error: Invalid operation [<>] in [a <> b] in t.htx\n");
    EXPECT_EQ(oneError("a==1"), "Error: Invalid operation [==1] in [a==1] in t.htx\n");
    EXPECT_EQ(oneError("a ? b"), "Error: Invalid operation [?] in [a ? b] in t.htx\n");
    EXPECT_EQ(oneError("length(a, b)"), "Error: Too many arguments for [length] in t.htx\n");
    EXPECT_EQ(oneError("substr(a)"), "Error: Too few arguments for [substr] in t.htx\n");
    // "f()" counts one argument (the evaluator then finds no operand).
    EXPECT_EQ(postfix("length()"), "length/1");
    EXPECT_EQ(oneError("concat()"), "Error: Too few arguments for [concat] in t.htx\n");
    EXPECT_EQ(oneError("foo(1)"), "Error: Unknown function [foo] in t.htx\n");
    EXPECT_EQ(oneError("(a, b)"), "Error: Comma out of place [(a, b)] in t.htx\n");
    EXPECT_EQ(oneError("a, b"), "Error: Comma out of place [a, b] in t.htx\n");
    EXPECT_EQ(oneError("(a + b"), "Error: Missing right parens [(a + b] in t.htx\n");
    EXPECT_EQ(oneError("a + b)"), "Error: Missing left parens [a + b)] in t.htx\n");
    // "!" where an operator belongs is taken from the table like any other.
    EXPECT_EQ(postfix("a ! b"), "a b !");
    // Compilation goes on after an error with what it has.
    ExprList x;
    EXPECT_EQ(compile(x, "* 3 + 4", true), 1);
    EXPECT_EQ(render(x), "3 4 +");
    EXPECT_EQ(compile(x, "length(a, b) + foo(1)", true), 2);
    EXPECT_EQ(render(x), "a b length/2 1 foo/1 +");
}

TEST(ExprCompile, MessagesGoToTheLogWithoutAStream) {
    ExprLog log("compile.log");
    ExprList x;
    EXPECT_EQ(parseExpr(x, "* 3", true, nullptr, "p.htx"), 1);
    EXPECT_TRUE(log.contains("Error: Out of place [*] in [* 3] in p.htx")) << log.text();
}

TEST(ExprCompile, TooComplicated) {
    ExprLog log("complicated.log");
    std::string deep(300, '(');
    deep += "1";
    ExprList x;
    std::string msgs;
    EXPECT_EQ(compile(x, deep, true, &msgs), 1);
    EXPECT_EQ(msgs.rfind("ERROR: Expression too complicated [((((", 0), 0u) << msgs;
    EXPECT_TRUE(log.contains("ERROR: Expression too complicated")) << log.text();
    // Just below the limit is fine.
    std::string ok(250, '(');
    ok += "1" + std::string(250, ')');
    EXPECT_EQ(compile(x, ok, true, &msgs), 0) << msgs;
    EXPECT_EQ(render(x), "1");
}

TEST(ExprCompile, EmptyAndOversized) {
    ExprList x;
    EXPECT_EQ(compile(x, "", false), 0);
    EXPECT_TRUE(x.empty());
    EXPECT_EQ(compile(x, "   ", false), 0);
    EXPECT_TRUE(x.empty());
    // A list is replaced, never appended to.
    compile(x, "a + b", true);
    compile(x, "c", true);
    EXPECT_EQ(render(x), "c");
}

TEST(ExprCompile, ListingAndNames) {
    ExprList x;
    compile(x, "n = substr(s, 2) + 1", true);
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    dumpExpr(f, x);
    std::fclose(f);
    const std::string listing(buf, len);
    std::free(buf);
    EXPECT_EQ(listing,
              "           Operation   Data----\n"
              "            Load var   [s]\n"
              "            Load num   [2]\n"
              "                exec   substr( 2 args)\n"
              "            Load num   [1]\n"
              "                   +\n"
              "               Store   [n]\n");
    EXPECT_STREQ(exprOpName(EXPR_NEG * 16 + 2), "Unary -");
    EXPECT_STREQ(exprOpName(EXPR_AND * 16 + 7), "and");
    EXPECT_STREQ(exprOpName(31 * 16), "Unknown");
    EXPECT_EQ(exprFindFunction("SOUND"), 11);
    EXPECT_EQ(exprFindFunction("s"), 2);  // the first that begins so: sum
    EXPECT_EQ(exprFindFunction("lengthy"), -1);
    EXPECT_EQ(exprFindFunction(""), -1);
}

TEST(ExprCompile, CopiesStayValid) {
    ExprList x;
    compile(x, "a + 'b'", true);
    ExprList y = x;
    x = ExprList();
    EXPECT_EQ(render(y), "a 'b' +");
}

}  // namespace
