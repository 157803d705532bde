// dtphost over loopback: greeting, session set-up, screens from the script,
// screen formats, sessions shared between connections, many connections,
// the hex log and the command line.
#include "host_harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace hosttest;

namespace {

const char* kScript = R"(# test transactions
transaction PROG1 MENU
transaction PROG2 DETAIL

screen MENU
  terminal T001
  field 0 8 "${L}"
  field 8 4 "${N}"
  input 12 10 "NAME"
  field 22 12 "${CDA}"
  error "HELLO ${R}"
  cursor 2
  fcc "AB"
  enter -> DETAIL
  key 3 -> end " " "BYE ${L}"
  key 9 -> close
  key * -> same

screen DETAIL
  kind V
  size 40
  field 0 10 "${IN:12:10}"
  field 10 6 "${TRX}"
  input 16 4
  enter -> MENU
  key 1 -> end E "FAILED ${N}"
)";

// A screen format file: 48-byte header and a heading and a data field.
std::string t3zBytes()
{
    std::string h(48, '\0');
    h[8] = 24;
    h[9] = 80;
    std::string name = "MENU    ";
    h.replace(20, 8, name);
    h[28] = 0x01;
    h[30] = 0x3A;
    h[31] = h[32] = 1;
    h[33] = 6;
    h[39] = 11;
    h[40] = 3;
    h[41] = 2;
    h[42] = 2;
    h[43] = 4;
    return h + std::string("\x05\x93\x00HELLO\x0A\x02\x00", 11);
}

class Conversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        writeFile(dir + "/test.dts", kScript);
        std::string fmt = dir + "/formats";
        mkdir(fmt.c_str(), 0755);
        writeFile(fmt + "/menu.t3z", t3zBytes());
        host = std::make_unique<HostProcess>(
            dir, std::vector<std::string>{"--locap", "LOC1", "--script", dir + "/test.dts",
                                          "--formats", fmt, "--first-id", "0x20001",
                                          "--pib-date", "991231235959"});
    }

    void TearDown() override
    {
        if (host) {
            EXPECT_EQ(host->stop(), 0) << host->errors();
        }
        host.reset();
        removeTree(dir);
    }

    std::string dir;
    std::unique_ptr<HostProcess> host;
};

// The MCS header and data of a program message.
struct Screen {
    std::string name, terminal;
    uint16_t size = 0, count = 0;
    std::string data;
};

Screen screenOf(const McsMsg& m)
{
    const Bytes& mcs = m.params.at(1);
    Screen s;
    s.name = asText(mcs, 0, 8);
    s.terminal = asText(mcs, 8, 4);
    EXPECT_EQ(slice(mcs, 12, 2), Bytes({' ', ' '}));
    s.size = rd16(mcs, 14);
    EXPECT_EQ(slice(mcs, 16, 2), Bytes({' ', ' '}));
    s.count = rd16(mcs, 18);
    s.data = asText(mcs, 20, mcs.size() - 20);
    EXPECT_EQ(s.count, s.data.size());
    return s;
}

TEST_F(Conversation, GreetsWithHelloForItsLocapAndIgnoresHelloAndClose)
{
    Client c(host->port());
    Bytes h = c.read();
    EXPECT_EQ(h, Bytes({0x74, 0x44, 0x54, 0x50, 0x00, 0x21, 0x57, 0x00, 'L', 'O', 'C', '1', ' ', ' ', ' ', ' '}));
    c.send(hello("WEB1"));
    EXPECT_TRUE(c.silent(300));
    c.send(closePkt(7, 0x20001));  // for a session the host does not know
    EXPECT_TRUE(c.silent(300));
    EXPECT_NE(host->log().find("warning: CLOSE from R7 for unknown session L20001"), std::string::npos);
}

TEST_F(Conversation, OpenIsAcceptedWithTheHostsOwnSessionIds)
{
    Client c(host->port());
    Bytes a1, a2;
    EXPECT_EQ(c.greetAndOpen(5, &a1), 0x20001u);
    EXPECT_EQ(a1, cat({{2, 0, 0, 0}, be32(0x20001), be32(5), text("WEB1", 8), text("", 8),
                       {0x09, 0x00, 0x18, 0x50}}));
    c.send(openPkt(6));
    a2 = c.read();
    EXPECT_EQ(rd32(a2, 4), 0x20002u);
    EXPECT_EQ(rd32(a2, 8), 6u);
}

TEST_F(Conversation, PrstGivesProkAndTheFirstScreenAsAProgramMessage)
{
    Client c(host->port());
    uint32_t L = c.greetAndOpen(0x11);
    c.send(prstPkt(L, "PROG1", "XYZ"));
    EXPECT_EQ(c.read(), cat({{7, 0, 0, 0}, be32(0x11), Bytes(12, 0)}));
    McsMsg m = parseMcso(c.read());
    EXPECT_EQ(m.receiver, 0x11u);
    EXPECT_EQ(m.type, 129);
    EXPECT_EQ(m.index, 1);  // 'O'
    ASSERT_EQ(m.count, 5);
    EXPECT_EQ(m.ids[0], L);
    EXPECT_EQ(m.ids[1], 1u);
    EXPECT_EQ(m.ids[3], 0x11u);

    const Bytes& pib = m.params[0];
    ASSERT_EQ(pib.size(), 156u);
    EXPECT_EQ(asText(pib, 8, 8), "PROG1   ");
    EXPECT_EQ(slice(pib, 28, 4), Bytes({0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pib[47], 1);
    EXPECT_EQ(asText(pib, 90, 8), "MENU    ");
    EXPECT_EQ(asText(pib, 112, 16), "LOC1    WEB1    ");
    EXPECT_EQ(asText(pib, 128, 12), "991231235959");
    EXPECT_EQ(slice(pib, 140, 16), Bytes(16, 0));
    EXPECT_EQ(slice(pib, 58, 15), Bytes(15, 0));

    Screen s = screenOf(m);
    EXPECT_EQ(s.name, "MENU    ");
    EXPECT_EQ(s.terminal, "T001");
    EXPECT_EQ(s.size, 34);
    EXPECT_EQ(s.data, "20001   0   NAME      XYZ         ");
    EXPECT_EQ(m.params[2], str("AB"));
    EXPECT_EQ(m.params[3], str("  *"));
    EXPECT_EQ(m.params[4], str("HELLO 11"));
}

TEST_F(Conversation, InputAndFunctionKeysLeadWhereTheScriptSays)
{
    Client c(host->port());
    McsMsg menu;
    uint32_t L = c.startSession(3, "PROG1", menu);

    // Enter on MENU leads to DETAIL, a 'V' message echoing the input.
    c.send(inputPkt(L, menu.ids, menu.params[0], "MENU", ' ', "20001   0   ALICE     "));
    McsMsg detail = parseMcso(c.read());
    EXPECT_EQ(detail.index, 2);  // 'V'
    EXPECT_EQ(detail.ids[1], 2u);
    Screen d = screenOf(detail);
    EXPECT_EQ(d.name, "DETAIL  ");
    EXPECT_EQ(d.size, 40);
    EXPECT_EQ(d.data, "ALICE     PROG1 " + std::string(24, ' '));
    EXPECT_TRUE(detail.params[2].empty());
    EXPECT_TRUE(detail.params[3].empty());

    // Enter on DETAIL goes back to MENU, whose counter shows two inputs.
    c.send(inputPkt(L, detail.ids, detail.params[0], "DETAIL", ' ', d.data));
    McsMsg menu2 = parseMcso(c.read());
    EXPECT_EQ(screenOf(menu2).data.substr(0, 12), "20001   2   ");

    // A key without its own rule follows "key *": the same screen again.
    c.send(inputPkt(L, menu2.ids, menu2.params[0], "MENU", 'B'));
    McsMsg again = parseMcso(c.read());
    EXPECT_EQ(screenOf(again).name, "MENU    ");
    EXPECT_EQ(again.ids[1], 4u);

    // Key 3 ends the program with a PREN carrying the CDA.
    c.send(inputPkt(L, again.ids, again.params[0], "MENU", '3'));
    Bytes pren = c.read();
    EXPECT_EQ(pren, cat({{8, 0, 0, 0}, be32(3), Bytes(12, 0), {' ', ' ', 0, 0}, be32(9), str("BYE 20001")}));
    // The gateway closes after a program end: no answer.
    c.send(closePkt(3, L));
    EXPECT_TRUE(c.silent(200));
    std::string log = host->log();
    EXPECT_EQ(log.find("warning:"), std::string::npos) << log;
}

TEST_F(Conversation, DetailKeyEndsWithReasonAndInputAfterEndIsRefused)
{
    Client c(host->port());
    McsMsg first;
    uint32_t L = c.startSession(4, "PROG2", first);
    EXPECT_EQ(screenOf(first).name, "DETAIL  ");
    c.send(inputPkt(L, first.ids, first.params[0], "DETAIL", '1'));
    Bytes pren = c.read();
    ASSERT_EQ(pren.size(), 28u + 8);
    EXPECT_EQ(pren[20], 'E');
    EXPECT_EQ(asText(pren, 28, 8), "FAILED 1");
    c.send(inputPkt(L, first.ids, first.params[0], "DETAIL", ' ', "x"));
    Bytes again = c.read();
    EXPECT_EQ(again[0], 8);
    EXPECT_EQ(again[20], 'E');
}

TEST_F(Conversation, KeyLeadingToCloseAndUnknownTransaction)
{
    Client c(host->port());
    McsMsg menu;
    uint32_t L = c.startSession(8, "PROG1", menu);
    c.send(inputPkt(L, menu.ids, menu.params[0], "MENU", '9'));
    EXPECT_EQ(c.read(), cat({{4, 0, 0, 0}, be32(L), be32(8), text("LOC1", 8), text("", 8),
                             {0x09, 0x00, 0x18, 0x50}}));

    c.send(openPkt(9));
    uint32_t L2 = rd32(c.read(), 4);
    c.send(prstPkt(L2, "NOPE"));
    Bytes pren = c.read();
    EXPECT_EQ(pren[0], 8);
    EXPECT_EQ(pren[20], 'N');
    EXPECT_EQ(asText(pren, 28, rd32(pren, 24)), "UNKNOWN TRANSACTION NOPE");
}

TEST_F(Conversation, ScreenFormatsComeFromTheFormatsDirectory)
{
    Client c(host->port());
    McsMsg menu;
    uint32_t L = c.startSession(21, "PROG1", menu);
    c.send(formatRequest(L, menu.ids, "MENU"));
    McsMsg f = parseMcso(c.read());
    EXPECT_EQ(f.receiver, 21u);
    EXPECT_EQ(f.type, 199);
    ASSERT_EQ(f.count, 2);
    EXPECT_EQ(f.params[0], text("MENU", 8));
    const Bytes& rec = f.params[1];
    std::string t3z = t3zBytes();
    ASSERT_EQ(rec.size(), 68 + t3z.size());
    EXPECT_EQ(rec[0], 0x3A);
    EXPECT_EQ(asText(rec, 1, 16), "LOC1    MENU    ");
    EXPECT_GE(rec[20], 50);  // written after 2020
    EXPECT_GE(rec[21], 1);
    EXPECT_LE(rec[21], 12);
    EXPECT_EQ(asText(rec, 28, 40).substr(0, 18), "Screen format MENU");
    EXPECT_EQ(asText(rec, 68, t3z.size()), t3z);

    // Unknown names and names that are no plain file name get a record
    // without format bytes.
    for (const char* name : {"NOSUCH", "../x", "a/b"}) {
        c.send(formatRequest(L, menu.ids, name));
        McsMsg n = parseMcso(c.read());
        EXPECT_EQ(n.type, 199);
        EXPECT_EQ(n.params.at(1).size(), 68u) << name;
    }
}

TEST_F(Conversation, SessionsOutliveConnectionsAndAnyConnectionMayUseThem)
{
    auto a = std::make_unique<Client>(host->port());
    McsMsg menu;
    uint32_t L = a->startSession(31, "PROG1", menu);
    a.reset();

    // A new connection continues the session without OPEN.
    Client b(host->port());
    b.read();
    b.send(hello("WEB1"));
    b.send(inputPkt(L, menu.ids, menu.params[0], "MENU", ' ', "20001   0   BOB       "));
    McsMsg detail = parseMcso(b.read());
    EXPECT_EQ(detail.receiver, 31u);
    EXPECT_EQ(screenOf(detail).data.substr(0, 10), "BOB       ");

    // A third one closes it; afterwards input for it is answered by CLOSE.
    Client c(host->port());
    c.read();
    c.send(hello("WEB1"));
    c.send(closePkt(31, L));
    EXPECT_TRUE(c.silent(200));
    b.send(inputPkt(L, detail.ids, detail.params[0], "DETAIL", ' ', "x"));
    EXPECT_EQ(b.read(), cat({{4, 0, 0, 0}, be32(L), be32(31), text("LOC1", 8), text("", 8),
                             {0x09, 0x00, 0x18, 0x50}}));
}

TEST_F(Conversation, ShortPibAndIdsAreCheckedWhenEchoed)
{
    Client c(host->port());
    McsMsg menu;
    uint32_t L = c.startSession(41, "PROG1", menu);
    Bytes pib = menu.params[0];
    pib[47] = 0;  // a gateway may send 0 here
    uint32_t wrongIds[4] = {1, 2, 3, 4};
    c.send(inputPkt(L, wrongIds, pib, "MENU", ' ', "x"));
    McsMsg detail = parseMcso(c.read());
    Bytes changed = detail.params[0];
    changed[8] = 'Q';
    c.send(inputPkt(L, detail.ids, changed, "OTHER", ' ', "x"));
    c.read();
    std::string log = host->log();
    EXPECT_NE(log.find("warning: MCS ids 1 2 3 4 differ"), std::string::npos);
    EXPECT_NE(log.find("warning: PIB byte 8 differs"), std::string::npos);
    EXPECT_EQ(log.find("warning: PIB byte 47"), std::string::npos);
    EXPECT_NE(log.find("warning: input names screen OTHER, the session shows DETAIL"), std::string::npos);
}

TEST_F(Conversation, EveryFrameIsLoggedInHex)
{
    {
        Client c(host->port());
        c.greetAndOpen(0x51);
    }
    std::string log = host->log();
    EXPECT_NE(log.find("[c1] send HelloDTP (116), 16 bytes\n"
                       "    0000  74 44 54 50 00 21 57 00  4C 4F 43 31 20 20 20 20  |tDTP.!W.LOC1    |"),
              std::string::npos) << log;
    EXPECT_NE(log.find("[c1] recv Open (1), 32 bytes\n    0000  01 00 00 00 00 00 00 51"), std::string::npos);
    EXPECT_NE(log.find("[c1] send Accept (2), 32 bytes"), std::string::npos);
}

TEST_F(Conversation, ManyConnectionsAndSessionsAtOnce)
{
    // 40 connections at once, each running 5 sessions one after the other;
    // every screen must show its own session's id and input count.
    constexpr int kConns = 40, kSessions = 5;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kConns; ++t) {
        threads.emplace_back([&, t] {
            try {
                Client c(host->port());
                c.read();
                c.send(hello("WEB1"));
                for (int s = 0; s < kSessions; ++s) {
                    uint32_t R = uint32_t(1000 + t * kSessions + s);
                    c.send(openPkt(R));
                    Bytes a = c.read();
                    uint32_t L = rd32(a, 4);
                    c.send(prstPkt(L, "PROG1"));
                    c.read();
                    McsMsg m = parseMcso(c.read());
                    for (int i = 0; i < 2; ++i) {
                        char want[16];
                        std::snprintf(want, sizeof want, "%-8X%-4d", L, 2 * i);
                        if (m.receiver != R || screenOf(m).data.substr(0, 12) != want) return;
                        c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
                        m = parseMcso(c.read());
                        c.send(inputPkt(L, m.ids, m.params[0], "DETAIL", ' ', "y"));
                        m = parseMcso(c.read());
                    }
                    c.send(closePkt(R, L));
                    ++good;
                }
            } catch (const std::exception&) {
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), kConns * kSessions);
    EXPECT_TRUE(host->alive());
}

// A log that passes its limit becomes host.log.1 and begins anew: a host
// left running for days keeps at most twice the limit on disk, while many
// connections write at once.
TEST(HexLog, AFullLogIsRotated)
{
    const std::string dir = makeTempDir();
    const size_t kLimit = 16 * 1024;
    {
        HostProcess host(dir, {"--log-limit", "16K"});
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&host, t] {
                Client c(host.port());
                c.read();
                c.send(hello("WEB1"));
                for (uint32_t R = 1; R <= 40; ++R) {
                    c.send(openPkt(R + 100 * t));
                    const uint32_t L = rd32(c.read(), 4);
                    c.send(closePkt(R + 100 * t, L));
                }
            });
        }
        for (auto& th : threads) th.join();
        EXPECT_EQ(host.stop(), 0) << host.errors();
    }
    struct stat now {}, old {};
    ASSERT_EQ(stat((dir + "/host.log").c_str(), &now), 0);
    ASSERT_EQ(stat((dir + "/host.log.1").c_str(), &old), 0);
    // An entry that starts below the limit is written whole: a few KiB more.
    EXPECT_LT(static_cast<size_t>(old.st_size), kLimit + 4096);
    EXPECT_GE(static_cast<size_t>(old.st_size), kLimit);
    EXPECT_LT(static_cast<size_t>(now.st_size), kLimit + 4096);
    // Both files hold whole entries: each begins with a time stamp.
    for (const char* name : {"/host.log", "/host.log.1"}) {
        std::ifstream in(dir + name);
        std::string first;
        std::getline(in, first);
        EXPECT_TRUE(first.size() > 13 && first[2] == ':' && first[8] == '.') << name << ": " << first;
    }
    removeTree(dir);
}

TEST(CommandLine, RejectsBadArgumentsAndScripts)
{
    std::string err;
    EXPECT_EQ(runHost({"--bogus"}, err), 2);
    EXPECT_NE(err.find("unknown option --bogus"), std::string::npos);
    EXPECT_EQ(runHost({"--log-limit", "12X"}, err), 2);
    EXPECT_NE(err.find("--log-limit needs a size"), std::string::npos) << err;
    EXPECT_EQ(runHost({"--port", "70000"}, err), 2);
    EXPECT_EQ(runHost({"--fault", "nonsense"}, err), 2);
    EXPECT_NE(err.find("unknown fault 'nonsense'"), std::string::npos);
    EXPECT_EQ(runHost({"--fault", "reject:reason=300"}, err), 2);

    std::string dir = makeTempDir();
    writeFile(dir + "/bad.dts", "transaction T1 A\nscreen A\n  field 0 \"x\"\n");
    EXPECT_EQ(runHost({"--script", dir + "/bad.dts"}, err), 2);
    EXPECT_NE(err.find("bad.dts:3: field needs an offset"), std::string::npos) << err;
    EXPECT_EQ(runHost({"--script", dir + "/missing.dts"}, err), 2);

    EXPECT_EQ(runHost({"--check", "--fault", "pren:reason=E,cda=x\\,y"}, err), 0);
    EXPECT_EQ(runHost({"--help"}, err), 0);
    removeTree(dir);
}

}  // namespace
