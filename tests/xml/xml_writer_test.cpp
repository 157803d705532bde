// XML and JSON writers and the JSON reader: exact output, trees written and
// read back, escapes, limits and errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "xml/log_capture.h"
#include "xmlparse.h"
#include "xmlwrite.h"

namespace {

struct Tree {
    XmlRef ref = XmlCreate();
    ~Tree() { XmlDestroyIt(&ref); }
    int xml(const std::string& text) { return XmlParse(ref, nullptr, text.data(), text.size(), false); }
    int json(const std::string& text) { return JsonParse(ref, nullptr, text.data(), text.size()); }
};

// The document a writer makes, through a stream.
std::string written(int (*writer)(XmlRef, FILE*, char*, size_t), XmlRef ref, int* rc = nullptr) {
    char* text = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&text, &len);
    const int r = writer(ref, f, nullptr, 0);
    std::fclose(f);
    if (rc) *rc = r;
    std::string out(text, len);
    std::free(text);
    return out;
}

// Every node of a tree, one line each, with its depth, flags and
// attributes: two trees are the same when their shapes are equal.
std::string shape(const xmlNode* n, int depth = 0) {
    std::string out;
    for (; n; n = n->next) {
        out += std::string(depth, ' ') + n->tag + "=" + (n->value ? std::string(n->value, n->vallen) : "");
        out += n->isClosed ? " closed" : "";
        for (const xmlNode* a = n->attr; a; a = a->next)
            out += std::string(" @") + a->tag + "=" + (a->value ? a->value : "");
        out += "\n" + shape(n->sub, depth + 1);
    }
    return out;
}

std::string shape(const Tree& t) { return shape(t.ref.root->root->sub); }

std::string nested(const std::string& open, const std::string& close, int depth,
                   const std::string& inner) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

}  // namespace

TEST(XmlWrite, ExactTextAndTheSameTreeReadBack) {
    const std::string doc =
        "<order id=\"7\" note='x'><line n=\"a &amp; b &quot;q&quot;\">Bolt &lt;M8&gt; &amp; nut</line>"
        "<line>Nut</line><empty/><lt>&lt;b&gt;</lt><mixed>text<child>c</child></mixed></order>";
    Tree t;
    ASSERT_EQ(t.xml(doc), 0);
    int rc;
    const std::string out = written(XmlWrite, t.ref, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out,
              "<order id=\"7\" note=\"'x'\">\r\n"
              " <line n=\"a &amp; b &quot;q&quot;\">Bolt &lt;M8&gt; &amp; nut</line>\r\n"
              " <line>Nut</line>\r\n"
              " <empty/>\r\n"
              " <lt>&lt;b&gt;</lt>\r\n"
              " <mixed>text\r\n"
              "  <child>c</child>\r\n"
              " </mixed>\r\n"
              "</order>\r\n");
    Tree back;
    ASSERT_EQ(back.xml(out), 0);
    EXPECT_EQ(shape(back), shape(t));

    // Into a buffer: NUL-ended; with "\n" line ends.
    t.ref.root->useCrLf = 0;
    std::vector<char> buf(out.size());
    EXPECT_EQ(XmlWrite(t.ref, nullptr, buf.data(), buf.size()), 0);
    EXPECT_EQ(std::string(buf.data()).substr(0, 26), "<order id=\"7\" note=\"'x'\">\n");
    // Too small a buffer fails and holds a cut, NUL-ended text.
    char small[10];
    EXPECT_EQ(XmlWrite(t.ref, nullptr, small, sizeof small), -1);
    EXPECT_EQ(std::string(small), "<order id");
}

TEST(XmlWrite, NestingIsBoundedAt64) {
    LogCapture log;
    Tree ok, deep;
    ASSERT_EQ(ok.xml(nested("<a>", "</a>", 64, "x")), 0);
    ASSERT_EQ(deep.xml(nested("<a>", "</a>", 65, "x")), 0);
    int rc;
    EXPECT_FALSE(written(XmlWrite, ok.ref, &rc).empty());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(written(XmlWrite, deep.ref, &rc), "");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(written(JsonWrite, deep.ref, &rc), "");
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(log.contains("nested deeper than 64 levels"));
}

TEST(JsonWrite, ExactTextEscapesAndArrays) {
    Tree t;
    std::string value = "q\"b\\/\b\f\n\r\t\v\x01\x7f";
    value += "\xe9\xff";
    ASSERT_EQ(t.xml("<r a=\"1\"><s>x</s><s>y</s><s>z</s><o><p>1</p></o><o/></r><v/>"), 0);
    t.ref.root->root->sub->sub->setValue(value.data(), value.size());
    EXPECT_EQ(written(JsonWrite, t.ref),
              "{\r\n"
              " \"r\": {\r\n"
              "  \"@a\": \"1\",\r\n"
              "  \"s\": [\r\n"
              "   \"q\\\"b\\\\/\\b\\f\\n\\r\\t\\u000b\\u0001\\u007f\\u00e9\\u00ff\",\r\n"
              "   \"y\",\r\n"
              "   \"z\"\r\n"
              "  ],\r\n"
              "  \"o\": [\r\n"
              "   {\r\n"
              "    \"p\": \"1\"\r\n"
              "   },\r\n"
              "   \"\"\r\n"
              "  ]\r\n"
              " },\r\n"
              " \"v\": \"\"\r\n"
              "}\r\n");
    std::string s;
    EXPECT_EQ(JsonStrCpy(s, "a\0b", 3), 8u);
    EXPECT_EQ(s, "a\\u0000b");
}

TEST(JsonParse, MembersArraysEscapesAndLiterals) {
    Tree t;
    ASSERT_EQ(t.json(" {\"a\": \"x\\u00e9\\u00FF\xc3\xa9\xc2\x80\\n\\\"\", \"n\": -12.5e3, \"t\": true,"
                     " \"z\": null, \"o\": {\"@id\": 4, \"#text\": \"body\", \"k\": false},"
                     " \"e\": [], \"eo\": {}, \"l\": [1, {\"m\": \"2\"}, \"3\"]} "),
              0);
    EXPECT_EQ(shape(t),
              "a=x\xe9\xff\xe9\x80\n\"\n"
              "n=-12.5e3\n"
              "t=true\n"
              "z=\n"
              "o=body @id=4\n"
              " k=false\n"
              "e=\n"
              "eo=\n"
              "l=1\n"
              "l=\n"
              " m=2\n"
              "l=3\n");
    const xmlNode* z = t.ref.root->root->sub->next->next->next;
    EXPECT_EQ(z->value, nullptr);
    const xmlNode* l = z->next->next->next->next;
    EXPECT_TRUE(l->bgnArray && l->next->midArray && l->next->next->endArray);
    // Written and read back: the same tree, then the same text.
    const std::string once = written(JsonWrite, t.ref);
    Tree back;
    ASSERT_EQ(back.json(once), 0) << once;
    EXPECT_EQ(shape(back), shape(t));
    EXPECT_EQ(written(JsonWrite, back.ref), once);
    EXPECT_NE(once.find("\"e\": [],"), std::string::npos) << once;
    EXPECT_NE(once.find("\"eo\": {},"), std::string::npos) << once;
}

TEST(JsonParse, ErrorsAndDepth) {
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"{a: 1}", "ERROR JSON syntax error at : no string near (a: 1})"},
        {"{\"a\" 1}", "ERROR JP parse error near 1}"},
        {"{\"a\": @}", "ERROR what is @"},
        {"{\"a\": \"x", "ERROR JP parse error near"},
        {"{\"a\": \"\\q\"}", "ERROR JP parse error near \\q"},
        {"{\"a\": \"\\ud800\"}", "ERROR JP parse error near"},
        {"{\"a\": [[1]]}", "ERROR JSON array inside an array near [1]]}"},
        {"{\"a\": 1} x", "ERROR JP parse error near x"},
        {"[1]", "ERROR JP parse error near [1]"},
        {"{\"a\": 01}", "ERROR JP parse error near 1}"},
        {"{\"a\": \"tab\there\"}", "ERROR JP parse error near"},
        // One byte a character: above U+00FF, escaped or raw, and bytes
        // that are not UTF-8 are refused.
        {"{\"a\": \"\xc3\xa9\\u00ff\\u20ac\"}", "ERROR JSON character U+20AC is above U+00FF near \\u20ac\"}"},
        {"{\"a\": \"\\ud83d\\ude00\"}", "ERROR JSON character U+1F600 is above U+00FF near \\ud83d"},
        {"{\"a\": \"x\xe2\x82\xac\"}", "ERROR JSON character U+20AC is above U+00FF near ...\"}"},
        {"{\"\xc4\x80\": 1}", "ERROR JSON character U+0100 is above U+00FF near"},
        {"{\"a\": \"caf\xe9\"}", "ERROR JSON text is not UTF-8 near .\"}"},
        {"{\"a\": \"\x80\"}", "ERROR JSON text is not UTF-8 near"},
        {"{\"a\": \"\xc0\xa9\"}", "ERROR JSON text is not UTF-8 near"},          // overlong
        {"{\"a\": \"\xed\xa0\x80\"}", "ERROR JSON text is not UTF-8 near"},      // a surrogate
        {"{\"a\": \"\xf4\x90\x80\x80\"}", "ERROR JSON text is not UTF-8 near"},  // past U+10FFFF
        {"{\"a\": \"\xc3", "ERROR JSON text is not UTF-8 near"},                  // cut
        {"{\"a\":" + nested("{\"a\":", "}", 64, "1") + "}", "ERROR JSON nested deeper than 64 levels"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Tree t;
        EXPECT_EQ(t.json(c.text), -1) << c.text;
        EXPECT_TRUE(log.contains(c.message)) << c.text << "\n" << log.text();
    }
    Tree deepest;
    EXPECT_EQ(deepest.json("{\"a\":" + nested("{\"a\":", "}", 63, "1") + "}"), 0);
    int rc;
    written(JsonWrite, deepest.ref, &rc);
    EXPECT_EQ(rc, 0);
}

TEST(JsonParse, FromAStream) {
    const std::string text = "{\"a\": \"1\"}";
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    Tree t;
    EXPECT_EQ(JsonParse(t.ref, f, nullptr, 0), 0);
    std::fclose(f);
    EXPECT_EQ(shape(t), "a=1\n");
    EXPECT_TRUE(t.ref.root->isJson);
}

TEST(XmlMorphName, FirstEightCharacters) {
    char out[9];
    EXPECT_STREQ(XmlMorphName("CUST_NO$AMOUNT", out), "custxno_");
    EXPECT_STREQ(XmlMorphName("AB CD", nullptr), "ab");
    EXPECT_STREQ(XmlMorphName("X\tY", out), "x");
}
