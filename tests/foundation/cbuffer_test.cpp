// CBuffer: storage buckets, big-endian stream, COBOL strings, copying.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ZelBuffer.h"

namespace {

std::vector<unsigned char> Bytes(const CBuffer &b) {
    const auto *p = reinterpret_cast<const unsigned char *>(b.GetBuffer());
    return std::vector<unsigned char>(p, p + b.GetLength());
}

std::vector<unsigned char> V(std::initializer_list<int> l) {
    std::vector<unsigned char> v;
    for (int x : l) v.push_back(static_cast<unsigned char>(x));
    return v;
}

}  // namespace

TEST(CBufferGrowth, BucketsOf32To256ThenMultiplesOf256) {
    CBuffer b;
    EXPECT_EQ(b.GetActualLength(), 0);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_NE(b.GetBuffer(), nullptr);   // never null, even without storage

    const std::vector<std::pair<int, int>> steps = {
        {1, 32}, {32, 32}, {33, 64}, {64, 64}, {65, 128}, {129, 256},
        {256, 256}, {257, 512}, {300, 512}, {513, 768}};
    int total = 0;
    for (auto [upTo, capacity] : steps) {
        while (total < upTo) {
            b << static_cast<char>(total);
            ++total;
        }
        EXPECT_EQ(b.GetLength(), total);
        EXPECT_EQ(b.GetActualLength(), capacity) << "after " << total << " bytes";
    }
    for (int i = 0; i < total; ++i) ASSERT_EQ(b.GetAt(i), static_cast<char>(i));
}

TEST(CBufferGrowth, OneLargeAppendRoundsOnce) {
    std::string s(300, 'x');
    CBuffer b(s.data(), 300);
    EXPECT_EQ(b.GetActualLength(), 512);
    CBuffer z(5);
    EXPECT_EQ(Bytes(z), V({0, 0, 0, 0, 0}));
    EXPECT_EQ(z.GetActualLength(), 32);
}

TEST(CBufferGrowth, HeapHooksSeeRoundedSizePlusSpare) {
    static std::vector<unsigned> requests;
    static int frees = 0;
    requests.clear();
    frees = 0;
    auto alloc = [](unsigned n) -> unsigned char * {
        requests.push_back(n);
        return new unsigned char[n];
    };
    auto release = [](unsigned char *p) {
        ++frees;
        delete[] p;
    };
    const auto oldAlloc = CBuffer::s_pfnAllocate;
    const auto oldFree = CBuffer::s_pfnFree;
    CBuffer::SetHeapFunctions(alloc, release);
    {
        CBuffer b;
        b << 1 << 2;             // 8 bytes: bucket 32
        b.AddChars(std::string(100, 'a').data(), 100);   // 108: bucket 128
    }
    CBuffer::SetHeapFunctions(oldAlloc, oldFree);
    EXPECT_EQ(requests, (std::vector<unsigned>{32 + 48, 128 + 48}));
    EXPECT_EQ(frees, 2);
}

TEST(CBufferStream, WritersAreBigEndian) {
    CBuffer b;
    b << static_cast<short>(-2) << 1u << 'A' << static_cast<unsigned char>(0xC1)
      << static_cast<unsigned short>(0x1234) << -1 << static_cast<signed char>(-3);
    EXPECT_EQ(Bytes(b), V({0xFF, 0xFE, 0, 0, 0, 1, 'A', 0xC1, 0x12, 0x34, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFD}));
    EXPECT_EQ(b.GetOffset(), 0);
}

TEST(CBufferStream, TextWritersOmitTheNul) {
    CBuffer b;
    b << "ab" << std::string("c\0d", 3);
    b += "ef";
    b += 'g';
    const char *none = nullptr;
    b << none;
    b += none;
    EXPECT_EQ(Bytes(b), V({'a', 'b', 'c', 0, 'd', 'e', 'f', 'g'}));
}

TEST(CBufferStream, ReadersRoundTrip) {
    CBuffer b;
    b << static_cast<short>(-2) << static_cast<unsigned short>(65535) << -123456789
      << 0xDEADBEEFu << 'x' << static_cast<unsigned char>(200);
    short s;
    unsigned short us;
    int i;
    unsigned u;
    char c;
    unsigned char uc;
    b >> s >> us >> i >> u >> c >> uc;
    EXPECT_EQ(s, -2);
    EXPECT_EQ(us, 65535);
    EXPECT_EQ(i, -123456789);
    EXPECT_EQ(u, 0xDEADBEEFu);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(uc, 200);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetOffset(), 14);
}

TEST(CBufferStream, ShortIntegerReadsZeroFillAndEmpty) {
    CBuffer b("\x01\x02", 2);
    unsigned u = 7;
    b >> u;
    EXPECT_EQ(u, 0x01020000u);
    EXPECT_EQ(b.GetLength(), 0);

    // The extension goes through SetLength: the valid bytes move to the
    // start of the storage, so the offset ends at the width.
    CBuffer moved("XY\x01\x02", 4);
    moved.SetOffset(2);
    u = 7;
    moved >> u;
    EXPECT_EQ(u, 0x01020000u);
    EXPECT_EQ(moved.GetLength(), 0);
    EXPECT_EQ(moved.GetOffset(), 4);

    CBuffer one("\xAB", 1);
    unsigned short w = 7;
    one >> w;
    EXPECT_EQ(w, 0xAB00);
    EXPECT_EQ(one.GetLength(), 0);

    CBuffer empty;
    int i = 7;
    empty >> i;
    EXPECT_EQ(i, 0);
    EXPECT_EQ(empty.GetLength(), 0);
    // Later appends are not disturbed by the zero fill.
    empty << 'Z';
    char c = 0;
    empty >> c;
    EXPECT_EQ(c, 'Z');
}

TEST(CBufferStream, ReadingAndAppendingInterleave) {
    CBuffer b;
    b << 10 << 20;
    int x;
    b >> x;
    b << 30;
    EXPECT_EQ(b.GetOffset(), 4);
    EXPECT_EQ(b.GetLength(), 8);
    b >> x;
    EXPECT_EQ(x, 20);
    b >> x;
    EXPECT_EQ(x, 30);
    b.SetOffset(-12);   // step back to consumed bytes
    b >> x;
    EXPECT_EQ(x, 10);
}

TEST(CBufferCobol, AddCobolStringPadsOrCuts) {
    CBuffer b;
    b.AddCobolString("ABCDEFGHIJ", 4);
    b.AddCobolString("", 3);
    b.AddCobolString("xy", 5);
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "ABCD   xy   ");
    b.AddCobolString("zz", 0);   // refused
    b.AddCobolString(nullptr, 2);
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "ABCD   xy     ");
}

TEST(CBufferCobol, AddCobolStringFromOwnStorage) {
    CBuffer b;
    b << "0123456789012345678901234567890";   // 31 bytes, capacity 32
    b.AddCobolString(b.GetBuffer() + 2, 40);    // grows while reading itself
    EXPECT_EQ(b.GetLength(), 71);
    std::string tail(b.GetBuffer() + 31, 40);
    EXPECT_EQ(tail, std::string("23456789012345678901234567890") + std::string(11, ' '));
}

TEST(CBufferCobol, GetCobolStringStopsAtNulAndPads) {
    CBuffer b("AB\0XYZ", 6);
    std::string out;
    b.GetCobolString(out, 8, 0);
    EXPECT_EQ(out, "AB      ");
    EXPECT_EQ(b.GetLength(), 6);
    b.GetCobolString(out, 2, 1);
    EXPECT_EQ(out, "AB");
    EXPECT_EQ(b.GetLength(), 4);
    b.GetCobolString(out, 8, 1);   // more than the data: stops at the end
    EXPECT_EQ(out, "        ");
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetOffset(), 6);

    CBuffer e;
    e.GetCobolString(out, 8, 1);
    EXPECT_EQ(out, std::string(8, ' '));
    EXPECT_EQ(e.GetLength(), 0);
    EXPECT_EQ(e.GetOffset(), 0);
}

TEST(CBufferText, StringReaderStopsAtNul) {
    CBuffer b("abc\0de", 6);
    std::string s;
    b >> s;
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "de");
    b >> s;
    EXPECT_EQ(s, "de");
    EXPECT_TRUE(b.IsEmpty());

    CBuffer n("\0x", 2);
    s = "old";
    n >> s;
    EXPECT_EQ(s, "");
    EXPECT_EQ(n.GetLength(), 2);   // nothing consumed
}

TEST(CBufferText, ParseToken) {
    CBuffer b("ab,,cd\0ef", 9);
    std::string t;
    b.ParseToken(t, ',');
    EXPECT_EQ(t, "ab");
    b.ParseToken(t, ',');
    EXPECT_EQ(t, "");
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), std::string("cd\0ef", 5));
    b.ParseToken(t, ',');   // no comma left: the NUL ends the token
    EXPECT_EQ(t, "cd");
    b.ParseToken(t, ',');
    EXPECT_EQ(t, "ef");
    EXPECT_TRUE(b.IsEmpty());
}

TEST(CBufferText, GetStringDoesNotConsume) {
    CBuffer b("hello", 5);
    std::string s;
    b.GetString(s, 3);
    EXPECT_EQ(s, "hel");
    EXPECT_EQ(b.GetLength(), 5);
}

TEST(CBufferCopy, SetBufferFixedSizeReadOrWhole) {
    std::string fifty(50, '\0');
    for (int i = 0; i < 50; ++i) fifty[i] = static_cast<char>('A' + i % 26);
    CBuffer src(fifty.data(), 50);

    CBuffer twenty(20);
    twenty.SetBuffer(&src, 1);
    EXPECT_EQ(std::string(twenty.GetBuffer(), twenty.GetLength()), fifty.substr(0, 20));
    EXPECT_EQ(src.GetLength(), 30);   // consumed

    CBuffer all;
    all.SetBuffer(&src, 0);
    EXPECT_EQ(std::string(all.GetBuffer(), all.GetLength()), fifty.substr(20));
    EXPECT_EQ(src.GetLength(), 30);   // not consumed
}

TEST(CBufferCopy, CopiesTakeTheValidBytes) {
    CBuffer src("xxhello", 7);
    src.SetOffset(2);
    CBuffer copy(src);
    EXPECT_EQ(copy.GetOffset(), 0);
    EXPECT_EQ(std::string(copy.GetBuffer(), copy.GetLength()), "hello");

    CBuffer assigned("a much longer previous content", 30);
    assigned = src;
    EXPECT_EQ(std::string(assigned.GetBuffer(), assigned.GetLength()), "hello");
    EXPECT_EQ(src.GetLength(), 5);

    CBuffer &alias = assigned;
    assigned = alias;   // self-assignment keeps the content
    EXPECT_EQ(std::string(assigned.GetBuffer(), assigned.GetLength()), "hello");

    assigned.CopyBuffer(std::string("xyz"));
    EXPECT_EQ(std::string(assigned.GetBuffer(), assigned.GetLength()), "xyz");
    assigned = "q";
    EXPECT_EQ(std::string(assigned.GetBuffer(), assigned.GetLength()), "q");
    assigned = 'r';
    EXPECT_EQ(std::string(assigned.GetBuffer(), assigned.GetLength()), "r");

    CBuffer moved(std::move(copy));
    EXPECT_EQ(std::string(moved.GetBuffer(), moved.GetLength()), "hello");
    EXPECT_EQ(copy.GetActualLength(), 0);
    copy = std::move(moved);
    EXPECT_EQ(std::string(copy.GetBuffer(), copy.GetLength()), "hello");
}

TEST(CBufferCopy, AppendingItselfDoublesTheData) {
    CBuffer b;
    for (int i = 0; i < 30; ++i) b << static_cast<char>('a' + i % 26);
    const std::string first(b.GetBuffer(), b.GetLength());
    b += b;   // the source moves when the storage grows
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), first + first);
}

TEST(CBufferCopy, Concatenation) {
    CBuffer ab("ab", 2);
    EXPECT_EQ(Bytes('x' + ab), V({'x', 'a', 'b'}));
    EXPECT_EQ(Bytes(ab + 'y'), V({'a', 'b', 'y'}));
    EXPECT_EQ(Bytes("12" + ab), V({'1', '2', 'a', 'b'}));
    EXPECT_EQ(Bytes(ab + "34"), V({'a', 'b', '3', '4'}));
    EXPECT_EQ(Bytes(ab + ab), V({'a', 'b', 'a', 'b'}));
}

TEST(CBufferAccess, WordsAndBytesAtPositions) {
    CBuffer b(8);
    b.SetWORD(0, 0x0102);
    b.SetDWORD(2, 0xA1B2C3D4u);
    b.SetAt(6, 'z');
    EXPECT_EQ(Bytes(b), V({1, 2, 0xA1, 0xB2, 0xC3, 0xD4, 'z', 0}));
    EXPECT_EQ(b.GetWORD(0), 0x0102);
    EXPECT_EQ(b.GetDWORD(2), 0xA1B2C3D4u);
    EXPECT_EQ(b.GetAt(2), static_cast<char>(0xA1));   // a signed char
    EXPECT_EQ(b[6], 'z');
    EXPECT_EQ(b[size_t{6}], 'z');
    EXPECT_TRUE(b.MatchAt(6, 'z'));
    EXPECT_FALSE(b.MatchAt(8, 0));
    EXPECT_TRUE(b.MatchChars(0, "\x01\x02", 2));
    EXPECT_FALSE(b.MatchChars(7, "\0\0", 2));   // would pass the end
    EXPECT_FALSE(b.MatchChars(-1, "", 0));
    // Positions count from the read offset.
    b.SetOffset(2);
    EXPECT_EQ(b.GetWORD(0), 0xA1B2);
}

TEST(CBufferAccess, SetEndOfBufferAndSetLengthKeep) {
    CBuffer b("abcdef", 6);
    b.SetEndOfBuffer(3);
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "abc");
    b.SetEndOfBuffer(6);   // the bytes still in the storage become valid again
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "abcdef");
    b.SetEndOfBuffer(40);  // past the capacity: grows with zero bytes
    ASSERT_EQ(b.GetLength(), 40);
    EXPECT_EQ(std::string(b.GetBuffer(), 7), std::string("abcdef\0", 7));
    EXPECT_EQ(b.GetActualLength(), 64);

    CBuffer k("0123456789", 10);
    k.SetOffset(4);
    k.SetLength(8, 1);   // keeps the valid bytes, moves them to the start
    EXPECT_EQ(k.GetOffset(), 0);
    EXPECT_EQ(Bytes(k), V({'4', '5', '6', '7', '8', '9', 0, 0}));
    k.SetLength(100, 1);
    EXPECT_EQ(k.GetLength(), 100);
    EXPECT_EQ(k.GetAt(5), '9');
    EXPECT_EQ(k.GetAt(99), 0);
    k.SetLength(0, 0);
    EXPECT_TRUE(k.IsEmpty());
    EXPECT_EQ(k.GetActualLength(), 128);   // storage stays

    // Shrinking with an offset moves all valid bytes to the start, so the
    // ones behind the new length come back with SetEndOfBuffer.
    CBuffer m("XXabcdef", 8);
    m.SetOffset(2);
    m.SetLength(2, 1);
    EXPECT_EQ(std::string(m.GetBuffer(), m.GetLength()), "ab");
    m.SetEndOfBuffer(6);
    EXPECT_EQ(std::string(m.GetBuffer(), m.GetLength()), "abcdef");
}

TEST(CBufferOwnership, AttachAndDetach) {
    CBuffer has("x", 1);
    unsigned char *block = CBuffer::s_pfnAllocate(10);
    EXPECT_EQ(has.Attach(block, 10), 0);   // refused: already has storage
    EXPECT_EQ(has.GetLength(), 1);
    CBuffer::s_pfnFree(block);

    CBuffer empty;
    unsigned size = 10;
    block = CBuffer::s_pfnAllocate(size);
    std::memcpy(block, "0123456789", 10);
    EXPECT_EQ(empty.Attach(block, 10), 1);
    EXPECT_EQ(empty.GetLength(), 10);
    EXPECT_EQ(empty.GetActualLength(), 10);
    empty << 'Z';   // grows out of the attached block
    EXPECT_EQ(std::string(empty.GetBuffer(), empty.GetLength()), "0123456789Z");
    void *mine = empty.Detach();
    EXPECT_EQ(empty.GetActualLength(), 0);
    EXPECT_EQ(empty.GetLength(), 0);
    CBuffer::s_pfnFree(static_cast<unsigned char *>(mine));
}
