// MCS header and screen data: the 20 header bytes, the bookmark, and reads
// that never pass the data whatever count the host sent.
#include <gtest/gtest.h>

#include "ArcMcsData.h"
#include "wire_util.h"

using namespace wiretest;

namespace {

Bytes Stored(const CArcMcsHdr &h) {
    CBuffer b;
    h.StoreInBuffer(b);
    return Body(b);
}

CBuffer Buf(const Bytes &b) { return CBuffer(b.data(), static_cast<int>(b.size())); }

}  // namespace

TEST(McsHeader, FreshHeader) {
    CArcMcsHdr h;
    EXPECT_EQ(h.GetLength(), 20);
    EXPECT_EQ(Hex(Stored(h)), Hex(Pad("", 12) + "  " + Zeros(2) + "  " + Zeros(2)));
}

TEST(McsHeader, FieldsAndWidths) {
    CArcMcsHdr h;
    h.SetName("ABCDEFGHIJ");
    h.SetTerminal("T1");
    h.SetFunction('F');
    h.SetHold('H');
    h.SetSize(1920);
    h.SetStatus('3');
    h.SetFiller('x');
    h.SetCount(300);
    const Bytes b = Stored(h);
    EXPECT_EQ(Hex(b), Hex(Bytes("ABCDEFGHT1  FH") + Be16(1920) + "3x" + B({0x01, 0x2C})));

    CArcMcsHdr back;
    CBuffer in = Buf(Stored([] {
        CArcMcsHdr abc;
        abc.SetName("ABC");
        abc.SetCount(300);
        return abc;
    }()) + "rest");
    back.LoadFromBuffer(in, 0);
    EXPECT_EQ(back.GetName(), "ABC     ");
    EXPECT_EQ(back.GetTerminal(), "    ");
    EXPECT_EQ(back.GetCount(), 300);
    EXPECT_EQ(Body(in), "rest");
}

TEST(McsHeader, NulEndsTheNameAndShortInputIsNotReadPast) {
    CBuffer in = Buf(Bytes("AB") + Zeros(1) + "CDEFGT1");
    CArcMcsHdr h;
    h.LoadFromBuffer(in, 0);
    EXPECT_EQ(h.GetName(), "AB      ");
    EXPECT_EQ(h.GetTerminal(), "T1  ");   // only 2 bytes of it arrived
    EXPECT_EQ(h.GetFunction(), 0);
    EXPECT_EQ(h.GetCount(), 0);
    EXPECT_EQ(in.GetLength(), 0);
    EXPECT_EQ(in.GetOffset(), 10);   // consumed what was there, not grown
}

TEST(McsData, SetDataFillsAndMarks) {
    CArcMcsData d;
    EXPECT_EQ(d.SetData(Buf("abc"), 10, 5), 5);
    EXPECT_EQ(Hex(Body(d.GetDataBuffer())), Hex(Zeros(10) + "abc  "));
    EXPECT_EQ(d.GetCount(), 15);
    EXPECT_EQ(d.GetBookmark(), 10);

    // Writing inside keeps the count; the source is read from its offset.
    CBuffer src = Buf("XYZ");
    src.SetOffset(1);
    EXPECT_EQ(d.SetData(src, 0, 2), 2);
    EXPECT_EQ(d.GetCount(), 15);
    EXPECT_EQ(Body(d.GetDataBuffer()).substr(0, 2), "YZ");

    EXPECT_EQ(d.SetData(Buf("a"), -1, 1), 0);
    EXPECT_EQ(d.SetData(Buf("a"), 0, -1), 0);
    EXPECT_EQ(d.SetData(Buf("a"), 65535, 1), 0);
    EXPECT_EQ(d.GetCount(), 15);

    // Its own data as the source.
    EXPECT_EQ(d.SetData(d.GetDataBuffer(), 15, 15), 15);
    EXPECT_EQ(Body(d.GetDataBuffer()).substr(15), Body(d.GetDataBuffer()).substr(0, 15));
}

TEST(McsData, BookmarkDecidesWhatIsStored) {
    CArcMcsData d;
    d.SetName("MENU");
    d.SetData(Buf("0123456789"), 0, 10);
    d.SetData(Buf("ABCDE"), 10, 5);
    ASSERT_EQ(d.GetCount(), 15);
    ASSERT_EQ(d.GetBookmark(), 10);

    d.EnableLastBookmark(1);
    CBuffer on;
    d.StoreInBuffer(on);
    EXPECT_EQ(d.GetLength(), 25);
    EXPECT_EQ(on.GetLength(), 25);
    EXPECT_EQ(Body(on).substr(20), "ABCDE");
    EXPECT_EQ(Hex(Body(on).substr(18, 2)), Hex(Be16(15)));

    d.EnableLastBookmark(0);
    CBuffer off;
    d.StoreInBuffer(off);
    EXPECT_EQ(d.GetLength(), 35);
    EXPECT_EQ(off.GetLength(), 35);
    EXPECT_EQ(Body(off).substr(20), "0123456789ABCDE");
}

TEST(McsData, LoadKeepsTheHostCountButNeverReadsPastTheData) {
    CArcMcsHdr h;
    h.SetName("MENU");
    h.SetCount(500);   // more than is sent
    CBuffer in = Buf(Stored(h) + "0123456789");
    CArcMcsData d;
    d.LoadFromBuffer(in, 30);
    EXPECT_EQ(d.GetCount(), 500);
    EXPECT_EQ(d.GetDataBuffer().GetLength(), 10);

    CBuffer out;
    d.GetData(out, 0, 1000, 0);
    EXPECT_EQ(Body(out), "0123456789");
    d.GetData(out, 4, 3, 0);
    EXPECT_EQ(Body(out), "456");
    d.GetData(out, 8, 100, 1);
    EXPECT_EQ(Body(out), "89");
    d.GetData(out, 10, 5, 0);
    EXPECT_EQ(out.GetLength(), 0);
    d.GetData(out, 4000, 5, 1);
    EXPECT_EQ(out.GetLength(), 0);
    d.GetData(out, -3, 5, 0);
    EXPECT_EQ(out.GetLength(), 0);
    d.GetData(out, 0, -1, 0);
    EXPECT_EQ(out.GetLength(), 0);

    // Stored back, the count is cut to the data.
    CBuffer stored;
    d.StoreInBuffer(stored);
    EXPECT_EQ(stored.GetLength(), 30);
    EXPECT_EQ(d.GetLength(), 30);
    EXPECT_EQ(Hex(Body(stored).substr(18, 2)), Hex(Be16(10)));
}

TEST(McsData, CountLimitsReadsUnlessAllIsAsked) {
    CArcMcsHdr h;
    h.SetCount(4);
    CBuffer in = Buf(Stored(h) + "0123456789");
    CArcMcsData d;
    d.LoadFromBuffer(in, 30);
    CBuffer out;
    d.GetData(out, 0, 100, 0);
    EXPECT_EQ(Body(out), "0123");
    d.GetData(out, 0, 100, 1);
    EXPECT_EQ(Body(out), "0123456789");
}

TEST(McsData, LoadSizes) {
    CArcMcsHdr h;
    CBuffer headerOnly = Buf(Stored(h) + "tail");
    CArcMcsData d;
    d.LoadFromBuffer(headerOnly, 20);
    EXPECT_EQ(d.GetDataBuffer().GetLength(), 0);
    EXPECT_EQ(Body(headerOnly), "tail");

    CBuffer small = Buf(Stored(h) + "tail");
    d.LoadFromBuffer(small, 5);   // a total below the header
    EXPECT_EQ(d.GetDataBuffer().GetLength(), 0);

    // Announcing more than there is: the data has the announced length,
    // the bytes that came first and zeros behind them.
    CBuffer partial = Buf(Stored(h) + "abc");
    d.LoadFromBuffer(partial, 30);
    EXPECT_EQ(Hex(Body(d.GetDataBuffer())), Hex("abc" + Zeros(7)));
    EXPECT_EQ(partial.GetLength(), 0);
    EXPECT_EQ(partial.GetOffset(), 23);

    // A load into data that held more before leaves none of the old bytes.
    CArcMcsData reused;
    CBuffer big = Buf(Stored(h) + Bytes(40, 'x'));
    reused.LoadFromBuffer(big, 60);
    CBuffer small2 = Buf(Stored(h) + "ab");
    reused.LoadFromBuffer(small2, 25);
    EXPECT_EQ(Hex(Body(reused.GetDataBuffer())), Hex("ab" + Zeros(3)));
    CBuffer all;
    reused.GetData(all, 0, 100, 1);
    EXPECT_EQ(Hex(Body(all)), Hex("ab" + Zeros(3)));
}

TEST(McsData, CopiesAreIndependent) {
    CArcMcsData a;
    a.SetName("A");
    a.SetData(Buf("xyz"), 0, 3);
    CArcMcsData b(a);
    CArcMcsData c;
    c = a;
    a.SetData(Buf("Q"), 0, 1);
    EXPECT_EQ(Body(b.GetDataBuffer()), "xyz");
    EXPECT_EQ(Body(c.GetDataBuffer()), "xyz");
    EXPECT_EQ(c.GetName(), "A");
}
