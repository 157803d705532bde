// CBuffer misuse: sizes, positions and reads outside the data are bounded,
// logged as assertions, and never touch memory outside the storage.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "ZelBuffer.h"
#include "logprint.h"

namespace {

// Each test writes the log into its own file in the working directory.
class CBufferBounds : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::string("bounds_") + info->name() + ".log";
        ASSERT_NE(logOpen(path_.c_str(), 0), nullptr);
    }
    void TearDown() override {
        logClose();
        logCtrlFlgs &= ~LOG_DETAIL;
    }
    std::string LogText() {
        logForceFlush();
        std::ifstream in(logGetFname());
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    int Asserts() {
        const std::string text = LogText();
        int n = 0;
        for (size_t at = text.find("Something asserted"); at != std::string::npos;
             at = text.find("Something asserted", at + 1))
            ++n;
        return n;
    }
    std::string path_;
};

}  // namespace

TEST_F(CBufferBounds, NegativeSetLengthGivesFreshEmptyStorage) {
    CBuffer b("old", 3);
    b.SetLength(-10, 0);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetActualLength(), 512);
    b.SetLength(-1000, 0);
    EXPECT_EQ(b.GetActualLength(), 1024);
    EXPECT_EQ(LogText().find("SetLength given"), std::string::npos);

    logCtrlFlgs |= LOG_DETAIL;
    b.SetLength(-10, 0);
    EXPECT_NE(LogText().find("WARNING: CBuffer  SetLength given -10\n"), std::string::npos);
}

TEST_F(CBufferBounds, AssertionLineNamesTheSourceFile) {
    CBuffer b("x", 1);
    b.SetAt(5, 'y');
    // The file's own name, as the source tree has it: no build directories.
    EXPECT_NE(LogText().find(" ZelBuffer.cpp Line "), std::string::npos) << LogText();
    EXPECT_EQ(LogText().find("/ZelBuffer.cpp"), std::string::npos);
}

TEST_F(CBufferBounds, HugeSizesAreRefused) {
    CBuffer b("data", 4);
    b.SetLength(INT_MAX, 1);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_GE(b.GetActualLength(), 0);
    // Rounding up near 2^31 must never produce a negative capacity.
    b.SetLength(0x7FFFFF80, 0);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_GE(b.GetActualLength(), 0);
    b.SetLength(INT_MIN, 0);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetActualLength(), 0);
    CBuffer c(-INT_MAX);
    EXPECT_EQ(c.GetLength(), 0);
    EXPECT_NE(LogText().find("SetLength given 2147483647"), std::string::npos);
}

TEST_F(CBufferBounds, WordAccessorsStayInsideTheData) {
    CBuffer b("\x11\x22\x33", 3);
    EXPECT_EQ(b.GetDWORD(1), 0x22330000u);   // missing bytes read as zero
    EXPECT_EQ(b.GetWORD(2), 0x3300);
    EXPECT_EQ(b.GetWORD(-1), 0x0011);
    EXPECT_EQ(b.GetDWORD(INT_MAX), 0u);
    EXPECT_EQ(b.GetDWORD(INT_MIN), 0u);
    b.SetWORD(2, 0xFFFF);                     // would pass the end: refused
    b.SetDWORD(-1, 0xFFFFFFFFu);
    b.SetDWORD(INT_MAX, 0xFFFFFFFFu);
    EXPECT_EQ(std::string(b.GetBuffer(), 3), "\x11\x22\x33");
    EXPECT_EQ(Asserts(), 8);

    CBuffer none;
    EXPECT_EQ(none.GetDWORD(0), 0u);
}

TEST_F(CBufferBounds, ByteAccessOutsideTheData) {
    CBuffer b("ab", 2);
    EXPECT_EQ(b.GetAt(-1), 0);
    EXPECT_EQ(b.GetAt(2), 0);
    EXPECT_EQ(b[~size_t{0}], 0);
    EXPECT_EQ(b[-5], 0);
    b.SetAt(2, 'x');
    b.SetAt(-1, 'x');
    EXPECT_EQ(std::string(b.GetBuffer(), 2), "ab");
    CBuffer none;
    EXPECT_EQ(none.GetAt(0), 0);
    EXPECT_EQ(Asserts(), 7);
}

TEST_F(CBufferBounds, OneByteReadWithNothingLeft) {
    CBuffer b;
    char c = 'q';
    b >> c;
    EXPECT_EQ(c, 0);
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetOffset(), 0);
    EXPECT_EQ(Asserts(), 1);
}

TEST_F(CBufferBounds, GetStringAndSetOffsetAreClamped) {
    CBuffer b("abc", 3);
    std::string s;
    b.GetString(s, 10);
    EXPECT_EQ(s, "abc");
    b.GetString(s, -1);
    EXPECT_EQ(s, "");
    b.SetOffset(10);
    EXPECT_EQ(b.GetOffset(), 3);
    EXPECT_EQ(b.GetLength(), 0);
    b.SetOffset(-10);
    EXPECT_EQ(b.GetOffset(), 0);
    EXPECT_EQ(b.GetLength(), 3);
    b.SetOffset(INT_MIN);
    b.SetOffset(INT_MAX);
    EXPECT_EQ(b.GetLength(), 0);
    b.GetCobolString(s, -4, 1);
    EXPECT_EQ(s, "");
    EXPECT_EQ(Asserts(), 7);
}

TEST_F(CBufferBounds, FreeExtraKeepsTheValidBytesFromTheOffset) {
    std::string text(300, '\0');
    for (int i = 0; i < 300; ++i) text[i] = static_cast<char>(i & 0x7F);
    CBuffer b(text.data(), 300);
    ASSERT_EQ(b.GetActualLength(), 512);
    b.SetOffset(100);
    b.FreeExtra();
    EXPECT_EQ(b.GetActualLength(), 256);
    EXPECT_EQ(b.GetOffset(), 0);
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), text.substr(100));

    // Fewer than 64 spare bytes: nothing changes.
    b.FreeExtra();
    EXPECT_EQ(b.GetActualLength(), 256);

    CBuffer gone(text.data(), 100);
    gone.SetOffset(100);
    gone.FreeExtra();   // nothing valid: the storage goes
    EXPECT_EQ(gone.GetActualLength(), 0);
    EXPECT_EQ(gone.GetOffset(), 0);
    gone << 'x';
    EXPECT_EQ(gone.GetActualLength(), 32);
}

TEST_F(CBufferBounds, NullAndNegativeArgumentsAreRefused) {
    CBuffer b("ab", 2);
    b.AddChars(nullptr, 4);
    b.AddChars("xyz", -1);
    b.SetBuffer(nullptr, 1);
    b.CopyBuffer(static_cast<const CBuffer *>(nullptr));
    EXPECT_EQ(b.Attach(nullptr, -1), 0);
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "ab");
    EXPECT_EQ(Asserts(), 4);
}
