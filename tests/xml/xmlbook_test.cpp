// COBOL record mapping: a map file, a record laid out by it written as XML
// and JSON and read back into the same bytes, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "xml/log_capture.h"
#include "xmlbook.h"
#include "xmlwrite.h"

namespace {

const char* const kMap =
    "# order record\n"
    "* written by hand\n"
    "0,60,12,2048,XB-1.0,28\n"
    "1,order,,G,0,0,0,60,1,,0,0,0,,\n"
    "5,status,,X,1,0,0,1,1,,1,0,0,,\n"
    "5,ordno,,X,8,0,1,8,1,,0,0,0,,\n"
    "5,qty,-,D,5,2,9,5,1,,0,0,0,,\n"
    "5,total,-,P,7,2,14,4,1,,0,0,0,,\n"
    "5,credit,~,D,4,0,18,5,1,,0,0,0,,\n"
    "5,debit,!,D,4,0,23,5,1,,0,0,0,,\n"
    "5,nlines,,B,4,0,28,2,1,,0,0,0,,\n"
    "5,lines,,G,0,0,30,12,2,,0,0,0,nlines,\n"
    "10,item,,X,8,0,30,8,1,\"X(8)\",0,0,Y,,\n"
    "10,price,-,B,9,2,38,4,1,,0,0,0,,\n"
    "5,flags,,X,6,0,54,6,1,,0,0,0,,\n";

// The record the map describes: ORD-0042, qty -123.45 (zoned, overpunch),
// total 1234.56 (packed), credit -42 (leading sign), debit 7 (trailing
// sign), two lines, high values.
std::string record(unsigned char lines = 2) {
    std::string r = "AORD-0042";
    r += "1234u";
    r += std::string("\x01\x23\x45\x6c", 4);
    r += "-0042";
    r += "0007+";
    r += std::string("\x00", 1) + static_cast<char>(lines);
    r += "BOLT    " + std::string("\x00\x00\x00\xfa", 4);
    r += "N&W     " + std::string("\xff\xff\xff\xb5", 4);
    r += std::string(6, '\xff');
    return r;
}

struct Map {
    XmlBook* m;
    explicit Map(const std::string& text) {
        FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        m = XmlBookRead(f, "order");
        std::fclose(f);
    }
    ~Map() { XmlBookFree(m); }
};

struct Tree {
    XmlRef ref{};
    ~Tree() { XmlDestroyIt(&ref); }
};

std::string asText(int (*conv)(XmlBook*, XmlRef*, const char*, size_t, std::string_view,
                               std::string_view, char*, size_t, FILE*),
                   XmlBook* m, const std::string& rec, std::string_view fcc = {},
                   std::string_view crs = {}) {
    Tree t;
    std::vector<char> buf(4096);
    EXPECT_EQ(conv(m, &t.ref, rec.data(), rec.size(), fcc, crs, buf.data(), buf.size(), nullptr), 0);
    return buf.data();
}

}  // namespace

TEST(XmlBook, LoadedFromTheMapFolder) {
    static std::string env;
    char* cwd = getcwd(nullptr, 0);
    env = std::string("QORROOT=") + cwd + "/book";
    std::free(cwd);
    mkdir("book", 0755);
    mkdir("book/qorsoa", 0755);
    std::ofstream("book/qorsoa/order.mapxml") << kMap;
    putenv(env.data());
    XmlBook* m = XmlBookLoad("order");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->recsize, 60);
    EXPECT_EQ(m->xmlsize, 2048);
    ASSERT_EQ(m->fields.size(), 12u);
    EXPECT_EQ(m->fields[9].ownerPos, 8);   // item in lines
    EXPECT_EQ(m->fields[11].ownerPos, 0);  // flags back in order
    EXPECT_EQ(m->fields[8].countInPos, 7);
    EXPECT_EQ(m->fields[9].emask, "X(8)");
    EXPECT_TRUE(m->fields[9].toUpper && m->fields[1].isAttr && m->fields[5].signLdg);
    EXPECT_TRUE(XmlBookPrep(m));
    EXPECT_EQ(m->reclen, 60u);
    XmlBookFree(m);

    LogCapture log;
    EXPECT_EQ(XmlBookLoad("missing"), nullptr);
    EXPECT_EQ(XmlBookLoad("../order"), nullptr);
    EXPECT_TRUE(log.contains("/book/qorsoa/missing.mapxml because 'No such file or directory'"));
    EXPECT_TRUE(log.contains("Map name '../order' refused"));
}

TEST(XmlBook, RecordToXmlAndBackToTheSameBytes) {
    Map map(kMap);
    ASSERT_NE(map.m, nullptr);
    const std::string rec = record();
    const std::string xml = asText(XmlFromCobol, map.m, rec, "F1F2F3", "xy");
    EXPECT_EQ(xml,
              "<order status=\"A\">\r\n"
              " <ordno fcc=\"F2\" crs=\"y\">ORD-0042</ordno>\r\n"
              " <qty fcc=\"F3\">-123.45</qty>\r\n"
              " <total>1234.56</total>\r\n"
              " <credit>-42</credit>\r\n"
              " <debit>7</debit>\r\n"
              " <nlines>2</nlines>\r\n"
              " <lines_List>\r\n"
              "  <lines>\r\n"
              "   <item>BOLT</item>\r\n"
              "   <price>2.50</price>\r\n"
              "  </lines>\r\n"
              "  <lines>\r\n"
              "   <item>N&amp;W</item>\r\n"
              "   <price>-0.75</price>\r\n"
              "  </lines>\r\n"
              " </lines_List>\r\n"
              " <flags>&lt;High-Values&gt;</flags>\r\n"
              "</order>\r\n");

    Tree parsed;
    parsed.ref = XmlCreate();
    ASSERT_EQ(XmlParse(parsed.ref, nullptr, xml.data(), xml.size(), false), 0);
    std::string back(rec.size(), ' ');
    EXPECT_TRUE(XmlToCobol(parsed.ref, map.m, back.data(), back.size()));
    EXPECT_EQ(back, rec);

    // The count field limits what is written.
    const std::string one = asText(XmlFromCobol, map.m, record(1));
    EXPECT_NE(one.find("<item>BOLT</item>"), std::string::npos);
    EXPECT_EQ(one.find("N&amp;W"), std::string::npos);
}

TEST(XmlBook, RecordToJsonAndBack) {
    Map map(kMap);
    const std::string rec = record();
    const std::string json = asText(JsonFromCobol, map.m, rec, "F1F2", "");
    EXPECT_NE(json.find(" \"order\": {\r\n  \"status\": \"A\",\r\n"
                        "  \"status_attr\": {\r\n   \"fcc\": \"F1\"\r\n  },\r\n"
                        "  \"ordno\": \"ORD-0042\",\r\n"
                        "  \"ordno_attr\": {\r\n   \"fcc\": \"F2\"\r\n  },\r\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("  \"lines\": [\r\n   {\r\n    \"item\": \"BOLT\",\r\n"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"flags\": \"<High-Values>\""), std::string::npos);
    Tree parsed;
    parsed.ref = XmlCreate();
    ASSERT_EQ(JsonParse(parsed.ref, nullptr, json.data(), json.size()), 0);
    std::string back(rec.size(), ' ');
    EXPECT_TRUE(XmlToCobol(parsed.ref, map.m, back.data(), back.size()));
    EXPECT_EQ(back, rec);

    // No lines: an empty array, and a count of 0 read back.
    const std::string none = asText(JsonFromCobol, map.m, record(0));
    EXPECT_NE(none.find("\"lines\": [],"), std::string::npos) << none;
    Tree empty;
    empty.ref = XmlCreate();
    ASSERT_EQ(JsonParse(empty.ref, nullptr, none.data(), none.size()), 0);
    back = rec;
    EXPECT_TRUE(XmlToCobol(empty.ref, map.m, back.data(), back.size()));
    EXPECT_EQ(back.substr(28, 2), std::string("\0\0", 2));
}

TEST(XmlBook, ValuesThatDoNotFit) {
    Map map(kMap);
    struct Case {
        const char* doc;
        const char* message;
    } cases[] = {
        {"<order><qty>abc</qty></order>", "Node qty value 'abc' does not fit D(5)"},
        {"<order><qty>1234.5</qty></order>", "Node qty value '1234.5' does not fit D(5)"},
        {"<order><credit>12345</credit></order>", "does not fit D(5)"},
        {"<order><nlines>-1</nlines></order>", "Node nlines value '-1' does not fit B(2)"},
        {"<order><nlines>65536</nlines></order>", "does not fit B(2)"},
        {"<order><ordno>TOO-LONG-1</ordno></order>", "Node ordno value cut to 8 bytes"},
        {"<order><qty>1.234</qty></order>", "has more than 2 decimal places"},
        {"<order><lines/><lines/><lines/></order>", "Node lines occurs more than 2 times"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Tree t;
        t.ref = XmlCreate();
        ASSERT_EQ(XmlParse(t.ref, nullptr, c.doc, std::strlen(c.doc), false), 0);
        std::string rec = record();
        EXPECT_FALSE(XmlToCobol(t.ref, map.m, rec.data(), rec.size())) << c.doc;
        EXPECT_TRUE(log.contains(c.message)) << c.doc << "\n" << log.text();
    }
    // A document nested deeper than any map is refused before the walk,
    // which would otherwise recurse once per level.
    {
        LogCapture log;
        Tree t;
        t.ref = XmlCreate();
        std::string doc = "<order>";
        for (int i = 0; i < 100000; ++i) doc += "<lines_List>";
        XmlParse(t.ref, nullptr, doc.data(), doc.size(), false);
        std::string rec = record();
        EXPECT_FALSE(XmlToCobol(t.ref, map.m, rec.data(), rec.size()));
        EXPECT_TRUE(log.contains("Document for map order nested deeper than 64 levels")) << log.text();
        EXPECT_EQ(rec, record());
    }
    // A record shorter than the map is refused both ways.
    LogCapture log;
    Tree t;
    std::string shortRec = record().substr(0, 59);
    EXPECT_EQ(XmlFromCobol(map.m, &t.ref, shortRec.data(), shortRec.size(), {}, {}, nullptr, 0, nullptr), -1);
    EXPECT_TRUE(log.contains("Record of 59 bytes is shorter than the 60 bytes map order needs"));
}

TEST(XmlBook, MapsThatAreRefused) {
    std::string deep = "0,100,22,0,XB-1.0\n";
    for (int i = 1; i <= 21; ++i) deep += std::to_string(i) + ",g" + std::to_string(i) + ",,G,0,0,0,1,1\n";
    deep += "22,x,,X,1,0,0,1,1\n";
    struct Case {
        std::string text;
        bool loads;  // and is refused by XmlBookPrep
        const char* message;
    } cases[] = {
        {"0,10,1,0,XB-2.0\n1,a,,X,1,0,0,1,1\n", false,
         "Cobol Copy Book version XB-2.0 but want version XB-1.0"},
        {deep, false, "Map order nests groups deeper than 20 levels at g21"},
        {"0,10,2,0,XB-1.0\n1,a,,X,1,0,0,1,1\n", false, "Map order has 1 fields, its header says 2"},
        {"0,10,1,0,XB-1.0\n1,a,,X,1,0,0,1,2,,0,0,0,n\n", false, "Map order has no count field n for a"},
        {"0,10,1,0,XB-1.0\n1,a,,X,x,0,0,1,1\n", false, "Map order line 2: bad nlen 'x'"},
        // More fields than a group index can name.
        {"0,10,32768,0,XB-1.0\n1,a,,X,1,0,0,1,1\n", false, "Map order line 1: bad field count '32768'"},
        {"0,10,1,0,XB-1.0\n1,a,,X,4,0,8,4,1\n", true, "field a (X, 4 bytes at 8): lies beyond the record"},
        {"0,10,2,0,XB-1.0\n1,g,,G,0,0,0,4,2\n5,a,,X,4,0,2,4,1\n", true, "field a (X, 4 bytes at 2): lies outside its group"},
        {"0,10,1,0,XB-1.0\n1,a,-,B,9,0,0,9,1\n", true, "binary fields hold at most 8 bytes"},
        {"0,10,1,0,XB-1.0\n1,a,~,D,1,2,0,2,1\n", true, "has more decimal places than digits"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Map map(c.text);
        EXPECT_EQ(map.m != nullptr, c.loads) << c.text;
        if (map.m) {
            EXPECT_FALSE(XmlBookPrep(map.m)) << c.text;
        }
        EXPECT_TRUE(log.contains(c.message)) << c.text << "\n" << log.text();
    }
}

TEST(XmlBook, TypesWithoutAConversion) {
    Map map("0,4,2,0,XB-1.0\n1,r,,G,0,0,0,4,1\n5,z,,Z,4,0,0,4,1\n");
    ASSERT_NE(map.m, nullptr);
    LogCapture log;
    const std::string xml = asText(XmlFromCobol, map.m, "abcd");
    EXPECT_EQ(xml, "<r></r>\r\n");
    EXPECT_TRUE(log.contains("Not yet coded z for type Z"));
    Tree t;
    t.ref = XmlCreate();
    const char doc[] = "<r><z>1</z></r>";
    ASSERT_EQ(XmlParse(t.ref, nullptr, doc, sizeof doc - 1, false), 0);
    std::string rec = "abcd";
    EXPECT_FALSE(XmlToCobol(t.ref, map.m, rec.data(), rec.size()));
    EXPECT_TRUE(log.contains("Node z has unknown type 'Z'"));
}

namespace {

// A map with every field type the mapping converts: X (an attribute among
// them), E, N, zoned decimals with each sign form, packed decimals, binary
// fields, an occurring group with a count field and an occurring field.
const char* const kAllTypes =
    "0,103,18,4096,XB-1.0\n"
    "1,rec,,G,0,0,0,103,1,,0,0,0,,\n"
    "5,code,,X,1,0,0,1,1,,1,0,0,,\n"
    "5,name,,X,12,0,1,12,1,,0,0,0,,\n"
    "5,amount,,E,8,0,13,8,1,,0,0,0,,\n"
    "5,seq,,N,8,0,21,8,1,,0,0,0,,\n"
    "5,qty,-,D,5,2,29,5,1,,0,0,0,,\n"
    "5,credit,~,D,4,0,34,5,1,,0,0,0,,\n"
    "5,debit,!,D,4,0,39,5,1,,0,0,0,,\n"
    "5,plain,,D,4,0,44,4,1,,0,0,0,,\n"
    "5,total,-,P,7,2,48,4,1,,0,0,0,,\n"
    "5,upk,,P,5,0,52,3,1,,0,0,0,,\n"
    "5,big,-,B,18,0,55,8,1,,0,0,0,,\n"
    "5,count,,B,4,0,63,2,1,,0,0,0,,\n"
    "5,lines,,G,0,0,65,16,2,,0,0,0,count,\n"
    "10,item,,X,8,0,65,8,1,,0,0,0,,\n"
    "10,price,-,B,9,2,73,4,1,,0,0,0,,\n"
    "10,ref,,N,4,0,77,4,1,,0,0,0,,\n"
    "5,tags,,X,3,0,97,3,2,,0,0,0,,\n";

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s += static_cast<char>(c);
    return s;
}

std::string be64(int64_t v) {
    std::string s(8, '\0');
    for (int i = 7; i >= 0; --i, v = static_cast<int64_t>(static_cast<uint64_t>(v) >> 8))
        s[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
    return s;
}

// A record through a document (XML or JSON, in a file or a buffer) and
// back into a record of blanks.
bool roundTrip(bool json, bool file, XmlBook* m, const std::string& rec, std::string& back) {
    FILE* f = file ? std::tmpfile() : nullptr;
    std::vector<char> buf(file ? 0 : 4096);
    Tree out, in;
    in.ref = XmlCreate();
    if ((json ? JsonFromCobol : XmlFromCobol)(m, &out.ref, rec.data(), rec.size(), {}, {}, buf.data(),
                                              buf.size(), f) != 0)
        return false;
    if (f) std::rewind(f);
    const size_t len = file ? 0 : std::strlen(buf.data());
    const int parsed = json ? JsonParse(in.ref, f, buf.data(), len)
                       : f  ? XmlParseDecoded(in.ref, f)
                            : XmlParse(in.ref, nullptr, buf.data(), len, false);
    if (f) std::fclose(f);
    return parsed == 0 && XmlToCobol(in.ref, m, back.data(), back.size());
}

}  // namespace

TEST(XmlBook, EveryFieldTypeComesBackTheSameWhicheverWayItTravels) {
    Map map(kAllTypes);
    ASSERT_NE(map.m, nullptr);
    struct Record {
        const char* what;
        std::string bytes;
    } records[] = {
        {"text to escape, numbers of every kind, two lines",
         "A" "N&W A<B>C \"'" "  123.45" "     042" "1234u" "-0042" "0007+" "0815" +
             bytes({0x01, 0x23, 0x45, 0x6c, 0x12, 0x34, 0x5f}) + be64(-1234567890123) + bytes({0, 2}) +
             "BOLT    " + bytes({0, 0, 0, 0xfa}) + "  17" + "N&W     " + bytes({0xff, 0xff, 0xff, 0xb5}) +
             "   3" + "a<b" + "   "},
        {"blanks, zeros, high values, no lines",
         " " + std::string(12, '\xff') + "        " + "       0" + "00000" + "+0000" + "0000+" + "0000" +
             bytes({0, 0, 0, 0x0c, 0, 0, 0x0f}) + be64(0) + bytes({0, 0}) + std::string(32, ' ') + "   " + "x  "},
        {"widest values, one line",
         "z" "x           " "-1234.56" "12345678" "9999y" "-9999" "9999-" "9999" +
             bytes({0x99, 0x99, 0x99, 0x9d, 0x99, 0x99, 0x9f}) + be64(INT64_MIN) + bytes({0, 1}) +
             "&&&&&&&&" + bytes({0x7f, 0xff, 0xff, 0xff}) + "9999" + std::string(16, ' ') + ">>>" + "<<<"},
    };
    const struct {
        const char* name;
        bool json, file;
    } ways[] = {{"XML through a file", false, true}, {"XML in a buffer", false, false},
                {"JSON through a file", true, true}, {"JSON in a buffer", true, false}};
    for (const Record& r : records) {
        ASSERT_EQ(r.bytes.size(), 103u) << r.what;
        for (const auto& way : ways) {
            LogCapture log;
            std::string back(r.bytes.size(), ' ');
            EXPECT_TRUE(roundTrip(way.json, way.file, map.m, r.bytes, back))
                << r.what << ", " << way.name << "\n" << log.text();
            EXPECT_EQ(back, r.bytes) << r.what << ", " << way.name;
        }
    }
}
