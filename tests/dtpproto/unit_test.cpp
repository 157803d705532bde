// Parts of the protocol that need no host: message names, the DezUR reply
// split, the cleaner's timing and the converter's settings.
#include <gtest/gtest.h>

#include "ZelCleaner.h"
#include "ZelDtpProtocol.h"
#include "ZelMCSConverter.h"

TEST(DtpProtocolUnit, MessageTypeNames) {
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(1), "Open");
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(8), "PREN");
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(33), "MCSRFMT");
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(116), "HelloDTP");
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(99), "<99>");
    EXPECT_STREQ(CZelDtpProtocol::tcpMesgType(-3), "<-3>");
}

TEST(DtpProtocolUnit, DezUrReplyTextsStayInsideTheBody) {
    CBuffer body(64);
    body.SetWORD(60, 3);
    body.SetWORD(62, 2);
    body.AddChars("abc\0de\0", 7);
    std::string header, screen;
    ASSERT_TRUE(CZelDtpProtocol::GetDezUrTexts(body, header, screen));
    EXPECT_EQ(header, "abc");
    EXPECT_EQ(screen, "de");

    body.SetWORD(62, 200);   // runs past the body
    EXPECT_FALSE(CZelDtpProtocol::GetDezUrTexts(body, header, screen));
    EXPECT_TRUE(header.empty());
    CBuffer tooShort(20);
    EXPECT_FALSE(CZelDtpProtocol::GetDezUrTexts(tooShort, header, screen));
}

TEST(DtpProtocolUnit, CleanerTiming) {
    CZelCleanerTimeouts t = CZelCleanerTimeouts::From(120, 240);
    EXPECT_EQ(t.record, 120u);
    EXPECT_EQ(t.table, 240u);
    EXPECT_EQ(t.wake, 40u);
    EXPECT_FALSE(t.adjusted);

    t = CZelCleanerTimeouts::From(300, 240);
    EXPECT_EQ(t.table, 540u);
    EXPECT_TRUE(t.adjusted);
    EXPECT_EQ(t.wake, 100u);

    // Short time-outs never make the cleaner spin.
    EXPECT_EQ(CZelCleanerTimeouts::From(2, 240).wake, 1u);
    EXPECT_EQ(CZelCleanerTimeouts::From(1, 240).wake, 1u);
    EXPECT_EQ(CZelCleanerTimeouts::From(0, 240).record, 1u);
    EXPECT_EQ(CZelCleanerTimeouts::From(3, 3).table, 3u);
}

TEST(DtpProtocolUnit, ConverterSettings) {
    CZelMCSConverter c;
    c.SetOutputDirectory("/var/cache");
    EXPECT_EQ(c.GetOutputDirectory(), "/var/cache/");
    c.SetOutputDirectory("/var/cache/");
    EXPECT_EQ(c.GetOutputDirectory(), "/var/cache/");
    c.SetOutputDirectory("");
    EXPECT_EQ(c.GetOutputDirectory(), "");
    c.SetFccModsStyle(FccModsFull);
    EXPECT_EQ(c.GetFccModsStyle(), FccModsFull);
    // 48 zero bytes: a header without a name, no format.
    CBuffer format(48);
    EXPECT_EQ(c.Convert(format), Result::FormatConversionError);
}

TEST(DtpProtocolUnit, ConvertedFilesAreNamedAsTheGatewayLooksForThem) {
    // The gateway shows format AB_C with page abac.htx, AB C with ab.htx.
    EXPECT_EQ(CZelMCSConverter::FileBaseName("AB_C"), "abac");
    EXPECT_EQ(CZelMCSConverter::FileBaseName("AB C"), "ab");
    EXPECT_EQ(CZelMCSConverter::FileBaseName("MENU    "), "menu");
    EXPECT_EQ(CZelMCSConverter::FileBaseName("_X_\tY"), "axa");
    EXPECT_EQ(CZelMCSConverter::FileBaseName(""), "");
}
