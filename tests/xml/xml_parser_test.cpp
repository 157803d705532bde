// XML reader: tree shape, lenient closing, entities, GET mode, walk codes
// and the error results.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xml/log_capture.h"
#include "xmlparse.h"

namespace {

// A parsed tree that is destroyed with the test.
struct Tree {
    XmlRef ref = XmlCreate();
    int rc = 0;
    Tree(const std::string& text, bool get = false) {
        rc = XmlParse(ref, nullptr, text.data(), text.size(), get);
    }
    ~Tree() { XmlDestroyIt(&ref); }
    xmlNode* first() { return XmlWalk(&ref, XML_WALK_FIRST); }
    xmlNode* next() { return XmlWalk(&ref, XML_WALK_NEXT); }
    // "tag=value" of every node in walk order.
    std::vector<std::string> walk() {
        std::vector<std::string> out;
        for (xmlNode* n = first(); n; n = next())
            out.push_back(std::string(n->tag) + "=" + (n->value ? n->value : "(null)"));
        return out;
    }
};

std::string val(const xmlNode* n) { return n && n->value ? n->value : "(null)"; }

using V = std::vector<std::string>;

}  // namespace

TEST(XmlParse, ChildrenClosedElementsAndParentText) {
    Tree t("<a><b>x</b><c/>y</a>");
    ASSERT_EQ(t.rc, 0);
    xmlNode* a = t.first();
    ASSERT_STREQ(a->tag, "a");
    EXPECT_EQ(val(a), "y");
    xmlNode* b = a->sub;
    ASSERT_STREQ(b->tag, "b");
    EXPECT_EQ(val(b), "x");
    xmlNode* c = b->next;
    ASSERT_STREQ(c->tag, "c");
    EXPECT_TRUE(c->isClosed);
    EXPECT_EQ(c->owner, a);
    EXPECT_EQ(c->prev, b);
    EXPECT_EQ(c->value, nullptr);
    EXPECT_EQ(t.walk(), (V{"a=y", "b=x", "c=(null)"}));
}

TEST(XmlParse, TextRunsAreJoinedWithOneBlank) {
    Tree t("<a>x<b/>y</a>");
    EXPECT_EQ(val(t.first()), "x y");
    EXPECT_EQ(t.first()->vallen, 3);
    Tree u("<a>  lots   of  \n text   </a>");
    EXPECT_EQ(val(u.first()), "lots   of  \n text");
}

TEST(XmlParse, TagsCompareWithoutCaseAndKeepFirstSpelling) {
    Tree t("<A>1</a>");
    EXPECT_EQ(t.rc, 0);
    Tree u("<cfg><Locap name=\"x\"/><LOCAP name=\"y\"/><locap/></cfg>");
    ASSERT_EQ(u.rc, 0);
    xmlNode* l1 = u.first()->sub;
    EXPECT_STREQ(l1->tag, "Locap");
    EXPECT_STREQ(l1->next->tag, "Locap");
    EXPECT_EQ(l1->tag, l1->next->tag);  // one pooled string
    EXPECT_EQ(l1->next->next->tag, l1->tag);
}

TEST(XmlParse, MissingCloseTagIsForgivenByParent) {
    Tree t("<a><b></a><c/>");
    EXPECT_EQ(t.rc, 0);
    EXPECT_EQ(t.walk(), (V{"a=(null)", "b=(null)", "c=(null)"}));
    xmlNode* a = t.first();
    EXPECT_EQ(a->next->owner, a->owner);  // c is a's sibling
}

TEST(XmlParse, ErrorCodes) {
    {
        LogCapture log;
        Tree t("<a></b>");
        EXPECT_EQ(t.rc, -2);
        EXPECT_TRUE(log.contains("XML: mismatch a != /b"));
        EXPECT_TRUE(log.contains("XML data was"));
        EXPECT_STREQ(t.first()->tag, "a");  // what was built stays walkable
    }
    {
        LogCapture log;
        Tree t("<a></a  x>");
        EXPECT_EQ(t.rc, -1);
        EXPECT_TRUE(log.contains("XML: missing > for a"));
    }
    {
        LogCapture log;
        Tree t("<a b c=1>");
        EXPECT_EQ(t.rc, -3);
        EXPECT_TRUE(log.contains("XML: missing = for attribute b"));
    }
}

TEST(XmlParse, CloseTagAtTopLevelIsMismatch) {
    LogCapture log;
    Tree t("</a>");
    EXPECT_EQ(t.rc, -2);
    Tree u("<a/></b>");
    EXPECT_EQ(u.rc, -2);
    Tree v("text</x>");
    EXPECT_EQ(v.rc, -2);
}

TEST(XmlParse, DeclarationsAndComments) {
    LogCapture log;
    Tree decl("<?xml version=\"1.0\"?><a/>");
    EXPECT_EQ(decl.rc, -3);  // "?" is read as an attribute without '='
    xmlNode* x = decl.first();
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(x->tag, "?xml");
    ASSERT_NE(x->attr, nullptr);
    EXPECT_STREQ(x->attr->tag, "version");
    EXPECT_EQ(val(x->attr), "1.0");

    Tree doc("<!DOCTYPE html><p/>");
    EXPECT_STREQ(doc.first()->tag, "DOCTYPE");

    Tree c("<a><!-- <b>not an element</b> - -- ></a><!->");
    EXPECT_EQ(c.rc, 0);
    EXPECT_EQ(c.walk(), (V{"a=(null)"}));
}

TEST(XmlParse, HashLinesAreDropped) {
    Tree t("<a>\n  # note <b>gone</b>\n keep</a>");
    EXPECT_EQ(t.rc, 0);
    EXPECT_EQ(t.walk(), (V{"a=keep"}));
    // Only a '#' that would begin the text starts a comment.
    Tree u("<a>keep\n#x\n</a>");
    EXPECT_EQ(u.walk(), (V{"a=keep\n#x"}));
}

TEST(XmlParse, AttributesInOrderWithOwnerAndQuote) {
    Tree t("<a one=\"1 2\" two=x three='y z'/>");
    ASSERT_EQ(t.rc, -3);  // 'y z': the unquoted value ends at the blank
    Tree u("<a one=\"1 2\" two=x three='y' />");
    ASSERT_EQ(u.rc, 0);
    xmlNode* a = u.first();
    xmlNode* at = a->attr;
    ASSERT_NE(at, nullptr);
    EXPECT_TRUE(at->isAttribute);
    EXPECT_EQ(at->prev, a);
    EXPECT_EQ(at->owner, a);
    EXPECT_EQ(at->quote, '"');
    EXPECT_EQ(val(at), "1 2");
    EXPECT_EQ(val(at->next), "x");
    EXPECT_EQ(at->next->quote, 0);
    EXPECT_EQ(val(at->next->next), "'y'");
    EXPECT_EQ(at->next->next->prev, at->next);
    EXPECT_TRUE(a->isClosed);
}

TEST(XmlParse, UnquotedValueKeepsSlash) {
    Tree t("<a b=c/><d/>");
    ASSERT_EQ(t.rc, 0);
    xmlNode* a = t.first();
    EXPECT_EQ(val(a->attr), "c/");
    EXPECT_FALSE(a->isClosed);
    EXPECT_EQ(a->sub, t.next());  // d became a child of the open a
}

TEST(XmlParse, EntitiesFromBufferOnly) {
    Tree t("<a v=\"&amp;&lt;&gt;&quot;&nbsp;&#65;&#0066;&#6x5;&#x;&bogus;\">&#67;</a>");
    ASSERT_EQ(t.rc, 0);
    xmlNode* a = t.first();
    EXPECT_EQ(val(a->attr), "&<>\" ABA&#x;&bogus;");
    EXPECT_EQ(val(a), "C");

    std::string text = "<a v=\"&amp;&#65;\"/>";
    FILE* f = fmemopen(text.data(), text.size(), "r");
    XmlRef ref = XmlCreate();
    char scratch[16];
    EXPECT_EQ(XmlParse(ref, f, scratch, sizeof scratch, false), 0);
    EXPECT_EQ(val(XmlWalk(&ref, XML_WALK_FIRST)->attr), "&amp;&#65;");
    XmlDestroyIt(&ref);
    std::fclose(f);
}

TEST(XmlParse, EntityAtEndOfBufferStaysInside) {
    // The buffer is cut right after "&#6": decoding must stop at its end.
    std::string text = "<a>&#65;&#6XYZ";
    Tree t(text.substr(0, 11));
    EXPECT_EQ(t.rc, 0);
    EXPECT_EQ(std::string(t.first()->value, t.first()->vallen), std::string("A\x06", 2));
    Tree u(std::string("<a>&am"));
    EXPECT_EQ(val(u.first()), "&am");
}

TEST(XmlParse, StreamMismatchDumpsTheBufferGivenForIt) {
    LogCapture log;
    std::string text = "<a></b>";
    FILE* f = fmemopen(text.data(), text.size(), "r");
    XmlRef ref = XmlCreate();
    // With a stream the buffer only serves the error dump.
    char shown[8];
    std::memcpy(shown, "QQQQQQQQ", sizeof shown);
    EXPECT_EQ(XmlParse(ref, f, shown, sizeof shown, false), -2);
    EXPECT_TRUE(log.contains("XML data was"));
    EXPECT_TRUE(log.contains("QQQQQQQQ"));
    XmlDestroyIt(&ref);
    std::fclose(f);
    // Without one there is nothing to dump.
    LogCapture quiet("quiet.log");
    f = fmemopen(text.data(), text.size(), "r");
    ref = XmlCreate();
    EXPECT_EQ(XmlParse(ref, f, nullptr, 0, false), -2);
    EXPECT_TRUE(quiet.contains("mismatch a != /b"));
    EXPECT_FALSE(quiet.contains("XML data was"));
    XmlDestroyIt(&ref);
    std::fclose(f);
}

TEST(XmlParse, ArrayRunsOfSiblings) {
    Tree t("<r><i/><I/><i/><i/><j/><k/><k/></r>");
    ASSERT_EQ(t.rc, 0);
    xmlNode* i = t.first()->sub;
    EXPECT_TRUE(i->bgnArray);
    EXPECT_TRUE(i->next->midArray);
    EXPECT_TRUE(i->next->next->midArray);
    EXPECT_TRUE(i->next->next->next->endArray);
    xmlNode* j = i->next->next->next->next;
    EXPECT_FALSE(j->bgnArray || j->midArray || j->endArray);
    EXPECT_TRUE(j->next->bgnArray);
    EXPECT_TRUE(j->next->next->endArray);
    EXPECT_FALSE(j->next->next->midArray);
}

TEST(XmlParse, LongJoinedTextKeepsItsLength) {
    std::string big(20000, 'x');
    Tree t("<a>" + big + "<b/>" + big + "</a>");
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.first()->vallen, 40001);
    EXPECT_EQ(std::strlen(t.first()->value), 40001u);
}

TEST(XmlParse, LongNamesAndValuesAreCut) {
    std::string name(1500, 'n'), value(3000, 'v');
    Tree t("<" + name + " a=\"" + value + "\" b=1 />");
    ASSERT_EQ(t.rc, 0);
    xmlNode* e = t.first();
    EXPECT_EQ(std::strlen(e->tag), 1023u);
    EXPECT_EQ(e->attr->vallen, 2559);
    EXPECT_EQ(val(e->attr->next), "1");  // parsing stays in step after the cut
}

TEST(XmlParse, DeepAndWideTreesDestroyWithoutRecursion) {
    std::string deep;
    for (int i = 0; i < 50000; ++i) deep += "<d>";
    Tree t(deep);
    EXPECT_EQ(t.rc, 0);
    std::string wide;
    for (int i = 0; i < 50000; ++i) wide += "<w x=\"1\"/>";
    Tree u(wide);
    EXPECT_EQ(u.rc, 0);
    int n = 0;
    for (xmlNode* p = u.first(); p; p = u.next()) ++n;
    EXPECT_EQ(n, 50000);
}

// What XmlParse forgives but a strict caller refuses: the first fault of
// the input, with its line; XmlParse's own result stays as it was.
TEST(XmlParseFault, FirstFaultOfTheInputWithItsLine) {
    LogCapture log;
    const struct {
        const char* text;
        int rc;          // XmlParse's result
        int fault;       // XmlParseFault's
        const char* what;
    } cases[] = {
        {"<a><b/>x</a>", 0, 0, ""},
        {"<a><b></a>", 0, 0, ""},                       // a forgiven close tag
        {"<cfg>\n<x v=\"1\"/>\n", 0, XML_FAULT_OPEN, "line 3: the input ends with <cfg> still open"},
        {"<cfg><t n=\"1\"", 0, XML_FAULT_OPEN, "line 1: the input ends inside the tag <t>"},
        {"<cfg><t n=\"1", 0, XML_FAULT_OPEN, "the input ends inside a quoted value"},
        {"<cfg><!-- note", 0, XML_FAULT_OPEN, "the input ends inside a comment"},
        {"", 0, XML_FAULT_OPEN, "line 1: the input holds no element"},
        {" \n<!-- a comment -->\n# a note\n", 0, XML_FAULT_OPEN, "line 4: the input holds no element"},
        {"<cfg><a><b>", 0, XML_FAULT_OPEN, "the input ends with <cfg> <a> <b> still open"},
        {"<a><b><c><d><e><f>", 0, XML_FAULT_OPEN, "the input ends with <a> <b> ... <e> <f> still open"},
        {"<cfg><Max<<Sessions v=\"5\"/></cfg>", 0, XML_FAULT_NAME,
         "the tag name \"Max<<Sessions\" holds '<'"},
        {"<cfg>\n<x a<b=\"1\"/></cfg>", 0, XML_FAULT_NAME, "line 2: the attribute name \"a<b\" holds '<'"},
        {"<cfg><1x/></cfg>", 0, XML_FAULT_NAME, "the tag name \"1x\" holds '1'"},
        {"<cfg><></cfg>", 0, XML_FAULT_NAME, "an empty tag name"},
        {"<cfg><x =\"1\"/></cfg>", 0, XML_FAULT_NAME, "an empty attribute name"},
        {"<cfg><x\x01/></cfg>", 0, XML_FAULT_NAME, "holds the control character 1"},
        {"<my-cfg><a.b_c:d x-y=\"1\"/><\xe9t\xe9/></my-cfg>", 0, 0, ""},
        {"<a>\n</b>", -2, -2, "line 2: the close tag </b> does not close <a>"},
        {"</a>", -2, -2, "the close tag </a> closes no element"},
        {"<a/>\n</b>", -2, -2, "line 2: the close tag </b> closes no element"},
        {"<a><b/></c></a>", -2, -2, "the close tag </c> does not close <a>"},
        {"<a></a x>", -1, -1, "the close tag </a> has no '>'"},
        {"<a b c=1>", -3, -3, "the attribute b has no '='"},
        {"<a x=\"1\"><<b/>", 0, XML_FAULT_NAME, "the tag name \"<b\" holds '<'"},   // the first fault wins
    };
    for (const auto& c : cases) {
        Tree t(c.text);
        EXPECT_EQ(t.rc, c.rc) << c.text;
        std::string what;
        EXPECT_EQ(XmlParseFault(t.ref, &what), c.fault) << c.text;
        EXPECT_NE(what.find(c.what), std::string::npos) << c.text << ": " << what;
        if (c.fault == 0) {
            EXPECT_EQ(what, "");
        }
    }
    // GET mode knows no such faults.
    Tree get("a<b=1", true);
    EXPECT_EQ(XmlParseFault(get.ref), 0);
    Tree none("", true);
    EXPECT_EQ(XmlParseFault(none.ref), 0);
}

TEST(XmlParseFault, StreamThatCannotBeReadAndAFreshParse) {
    FILE* f = std::fopen("/dev/null", "w");   // reading it is an error
    ASSERT_NE(f, nullptr);
    XmlRef ref = XmlCreate();
    EXPECT_EQ(XmlParse(ref, f, nullptr, 0, false), 0);
    std::string what;
    EXPECT_EQ(XmlParseFault(ref, &what), XML_FAULT_READ);
    EXPECT_EQ(what, "line 1: the input could not be read");
    std::fclose(f);
    // A later parse of the same tree reports its own input only.
    const std::string whole = "<a/>";
    EXPECT_EQ(XmlParse(ref, nullptr, whole.data(), whole.size(), false), 0);
    EXPECT_EQ(XmlParseFault(ref, &what), 0);
    XmlDestroyIt(&ref);
    EXPECT_EQ(XmlParseFault(ref), 0);
}

TEST(XmlGet, KeysValuesAndBlanks) {
    Tree t("a=1&b&c=", true);
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.walk(), (V{"a=1", "b= ", "c="}));
    Tree u("&x=%41+b%2&y=\"q r\"&z=%26&w=&v=2", true);
    ASSERT_EQ(u.rc, 0);
    // The '&' behind a quoted value starts an empty key of its own.
    EXPECT_EQ(u.walk(), (V{"x=A b%2", "y=q r", "= ", "z=&", "w= ", "v=2"}));
    // Only a leading '&' is passed over; a later one where a key would
    // start makes an empty key.
    Tree v("&&a=1&&b=2", true);
    ASSERT_EQ(v.rc, 0);
    EXPECT_EQ(v.walk(), (V{"= ", "a=1", "= ", "b=2"}));
}

TEST(XmlGet, StopsAtProtocolWord) {
    Tree t("x=1 HTTP/1.1", true);
    EXPECT_EQ(t.rc, 0);
    EXPECT_EQ(t.walk(), (V{"x=1"}));
}

TEST(XmlGet, MissingEqualsIsReportedWithinTheBuffer) {
    LogCapture log;
    std::string text = "k1=1&key word";
    Tree t(text, true);
    EXPECT_EQ(t.rc, -3);
    EXPECT_TRUE(log.contains("GET missing = for keyword key; At 'word'"));
    EXPECT_TRUE(log.contains("GET Data"));
    Tree u("=", true);  // an empty key right at the start
    EXPECT_EQ(u.rc, 0);
    Tree v("%4", true);  // a cut escape is an ordinary '%'
    EXPECT_EQ(v.rc, -3);
    EXPECT_TRUE(log.contains("GET missing = for keyword %4; At '4'"));
}

TEST(XmlWalk, CodesAndSteps) {
    LogCapture log;
    Tree t("<a><b><c/></b><d/></a><e/>");
    XmlRef& ref = t.ref;
    xmlNode* root = XmlWalk(&ref, XML_WALK_RESET);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->tag, "$ r o o t $");
    xmlNode* a = XmlWalk(&ref, XML_WALK_FIRST);
    EXPECT_EQ(ref.root->nest, 1);
    EXPECT_EQ(ref.root->closeTag, 0);
    XmlWalk(&ref, XML_WALK_NEXT);  // b
    xmlNode* c = XmlWalk(&ref, XML_WALK_NEXT);
    EXPECT_STREQ(c->tag, "c");
    EXPECT_EQ(ref.root->nest, 3);
    xmlNode* d = XmlWalk(&ref, XML_WALK_NEXT);
    EXPECT_STREQ(d->tag, "d");
    EXPECT_EQ(ref.root->closeTag, 2);  // c's list ended, one level climbed
    EXPECT_TRUE(c->endObject);
    xmlNode* e = XmlWalk(&ref, XML_WALK_NEXT);
    EXPECT_STREQ(e->tag, "e");
    EXPECT_EQ(ref.root->closeTag, 2);
    EXPECT_EQ(XmlWalk(&ref, XML_WALK_NEXT), nullptr);
    EXPECT_EQ(ref.node, e);
    EXPECT_TRUE(a->bgnObject);

    EXPECT_EQ(XmlWalk(&ref, 3), nullptr);
    EXPECT_EQ(XmlWalk(&ref, 8), nullptr);
    EXPECT_TRUE(log.contains("XML Walk: bad function 3"));
    EXPECT_TRUE(log.contains("XML Walk: bad function 8"));

    Tree empty("   ");
    EXPECT_EQ(empty.first(), nullptr);
}

TEST(XmlWalk, FindCopiesIntoABoundedBuffer) {
    Tree t("<a><Name>long value here</Name><x/></a>");
    char small[5];
    xmlNode* n = XmlWalk(&t.ref, XML_WALK_FIND, "NAME", small, sizeof small);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(t.ref.node, n);
    EXPECT_STREQ(small, "long");
    char buf[32] = "junk";
    EXPECT_NE(XmlWalk(&t.ref, XML_WALK_FIND, "x", buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "junk");
    EXPECT_EQ(XmlWalk(&t.ref, XML_WALK_FIND, "zz", buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "");
}

TEST(XmlWalk, AddingNodes) {
    XmlRef ref = XmlCreate();
    EXPECT_EQ(ref.node, nullptr);
    xmlNode* top = XmlWalk(&ref, XML_WALK_ADD_CHILD, "top", nullptr);
    xmlNode* k1 = XmlWalk(&ref, XML_WALK_ADD_CHILD, "kid", "1");
    xmlNode* k2 = XmlWalk(&ref, XML_WALK_ADD_SIBLING, "KID", "2");
    EXPECT_EQ(k1->owner, top);
    EXPECT_EQ(k2->owner, top);
    EXPECT_EQ(k2->prev, k1);
    EXPECT_EQ(k2->tag, k1->tag);
    EXPECT_EQ(ref.root->cur, k2);
    std::vector<std::string> seen;
    for (xmlNode* n = XmlWalk(&ref, XML_WALK_FIRST); n; n = XmlWalk(&ref, XML_WALK_NEXT))
        seen.push_back(std::string(n->tag) + (n->value ? n->value : ""));
    EXPECT_EQ(seen, (V{"top", "kid1", "kid2"}));
    XmlDestroyIt(&ref);
    EXPECT_EQ(ref.root, nullptr);
    XmlDestroy(ref);  // a null tree is a no-op
}
