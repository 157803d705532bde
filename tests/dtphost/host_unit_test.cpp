// dtphost's parts in-process: the script reader, the fault switches, and
// the engine fed with random and truncated bodies (where the sanitizers see
// every byte it reads).
#include "Engine.h"
#include "Faults.h"
#include "HexLog.h"
#include "Script.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

using namespace dtphost;

namespace {

std::string parseError(const std::string& text)
{
    Script s;
    std::string error;
    EXPECT_FALSE(parseScript(text, "t.dts", s, error)) << text;
    return error;
}

TEST(Script, ReadsScreensFieldsAndRules)
{
    Script s;
    std::string error;
    ASSERT_TRUE(parseScript(R"(
transaction T1 A   # comment
transaction * B
screen A
  kind E
  size 30
  terminal TRM1
  field 0 5 "a \"q\" \x41\\"
  input 5 3
  error "E # not a comment"
  cursor 4
  fcc "\xFF\x00"
  enter -> B
  key 3 -> end
  key 4 -> end K "cda text"
  key * -> close
screen B
  key 1 -> same
)", "t.dts", s, error)) << error;
    ASSERT_EQ(s.transactions.size(), 2u);
    EXPECT_EQ(s.find("T1")->first, "A");
    EXPECT_EQ(s.find("OTHER")->first, "B");
    const ScreenDef* a = s.screen("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kind, 'E');
    EXPECT_EQ(a->size, 30u);
    EXPECT_EQ(a->terminal, "TRM1");
    ASSERT_EQ(a->fields.size(), 2u);
    EXPECT_EQ(a->fields[0].text, "a \"q\" A\\");
    EXPECT_TRUE(a->fields[1].input);
    EXPECT_EQ(a->error, "E # not a comment");
    EXPECT_EQ(a->cursor, 4);
    EXPECT_EQ(a->fcc, std::string("\xFF\x00", 2));
    EXPECT_EQ(a->targetFor(' ').kind, Target::Screen);
    EXPECT_EQ(a->targetFor('3').kind, Target::End);
    EXPECT_EQ(a->targetFor('3').reason, ' ');
    EXPECT_EQ(a->targetFor('4').reason, 'K');
    EXPECT_EQ(a->targetFor('4').cda, "cda text");
    EXPECT_EQ(a->targetFor('9').kind, Target::Close);
    EXPECT_EQ(s.screen("B")->targetFor(' ').kind, Target::Same);  // no rule: redisplay
    EXPECT_TRUE(parseScript(builtinScript(), "built-in", s, error)) << error;
}

TEST(Script, ReportsErrorsWithTheirLine)
{
    EXPECT_EQ(parseError("screen A\n  bogus 1\n"), "t.dts:2: unknown keyword 'bogus'");
    EXPECT_EQ(parseError("field 0 1\n"), "t.dts:1: 'field' outside a screen block");
    EXPECT_EQ(parseError("screen TOOLONGNAME\n"), "t.dts:1: screen needs a name of 1 to 8 characters");
    EXPECT_EQ(parseError("screen A\nscreen A\n"), "t.dts:2: screen A defined twice");
    EXPECT_EQ(parseError("screen A\n field 0 \"x\n"), "t.dts:2: unterminated quoted text");
    EXPECT_EQ(parseError("screen A\n field 0 2 \"\\x4\"\n"), "t.dts:2: \\x needs two hexadecimal digits");
    EXPECT_NE(parseError("screen A\n field 31999 5\n").find("t.dts:2: field needs"), std::string::npos);
    EXPECT_NE(parseError("screen A\n field 0 0\n").find("t.dts:2: field needs"), std::string::npos);
    EXPECT_EQ(parseError("screen A\n kind X\n"), "t.dts:2: kind must be O, V or E");
    EXPECT_EQ(parseError("screen A\n enter B\n"), "t.dts:2: expected '-> target'");
    EXPECT_EQ(parseError("screen A\n key 12 -> A\n"), "t.dts:2: key needs one printable character (or *)");
    EXPECT_EQ(parseError("screen A\n key 1 -> end XY\n"), "t.dts:2: end reason must be one character");
    EXPECT_EQ(parseError("transaction T A\nscreen A\n enter -> NOWHERE\n"), "t.dts:3: no screen named NOWHERE");
    EXPECT_EQ(parseError("transaction T NOWHERE\n"), "t.dts:1: no screen named NOWHERE");
    EXPECT_EQ(parseError("screen A\n"), "t.dts: no transaction defined");
}

// The demo's screen formats hold data fields of exactly the bytes that its
// screens send, so a converted page lines up with the screen data.
TEST(Samples, DemoScreensMatchTheirFormats)
{
    const char* src = std::getenv("QOR_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::string dir = std::string(src) + "/testhost/samples";
    Script script;
    std::string error;
    ASSERT_TRUE(loadScript(dir + "/demo.dts", script, error)) << error;
    for (const auto& kv : script.screens) {
        const ScreenDef& sc = kv.second;
        unsigned size = sc.size;
        for (const FieldDef& f : sc.fields) size = std::max(size, f.offset + f.length);
        std::string lower;
        for (char c : sc.name) lower += char(std::tolower(static_cast<unsigned char>(c)));
        std::ifstream in(dir + "/formats/" + lower + ".t3z", std::ios::binary);
        Bytes t3z((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(t3z.size(), 48u) << sc.name;
        EXPECT_EQ(getName(&t3z[20], 8), sc.name);
        EXPECT_EQ(getU16(&t3z[34]), size) << sc.name;
        ASSERT_EQ(getU16(&t3z[38]), t3z.size() - 48) << sc.name;
        unsigned data = 0;
        for (size_t pos = 48; pos < t3z.size();) {
            uint8_t b0 = t3z[pos];
            if (b0 >= 0xC0) {
                pos += 1;       // repeat spaces
                continue;
            }
            ASSERT_LE(pos + 3, t3z.size());
            uint8_t code = t3z[pos + 1] & 0x1F;
            ASSERT_LT(b0, 0x80);
            if (code == 0x13) {
                pos += 3 + b0;  // heading text
            } else if (code == 0x14 || code == 0x12 || (code >= 0x16 && code <= 0x1D)) {
                pos += 3;       // new line, error field, system value
            } else if (code == 0x0C) {
                ASSERT_LE(pos + 5, t3z.size());
                data += t3z[pos + 4] & 0x3F;   // numeric edited: the digits
                pos += 5 + b0;
            } else {
                ASSERT_TRUE(code == 1 || code == 2 || code == 4 || code == 9 || code == 10)
                    << "field kind " << int(code);
                data += b0;
                pos += 3;
            }
        }
        EXPECT_EQ(data, size) << sc.name;
    }
}

TEST(FaultSwitch, DefaultsKeysAndCounting)
{
    Fault f;
    std::string error;
    ASSERT_TRUE(parseFault("close:to=other", f, error)) << error;
    EXPECT_EQ(f.pos, Fault::Before);
    EXPECT_EQ(f.on, "input");
    ASSERT_TRUE(parseFault("mcso", f, error));
    EXPECT_EQ(f.pos, Fault::After);
    ASSERT_TRUE(parseFault("pren:reason=,cda=a\\,b\\x41", f, error));
    EXPECT_EQ(f.reason, ' ');
    EXPECT_EQ(f.cda, "a,bA");
    ASSERT_TRUE(parseFault("drop:after=send:mcso,skip=1,times=2", f, error));
    EXPECT_FALSE(f.fireFrame(true, kMcso));  // skipped
    EXPECT_FALSE(f.fireFrame(false, kMcso));
    EXPECT_FALSE(f.fireFrame(true, kProk));
    EXPECT_TRUE(f.fireFrame(true, kMcso));
    EXPECT_TRUE(f.fireFrame(true, kMcso));
    EXPECT_FALSE(f.fireFrame(true, kMcso));  // used up
    ASSERT_TRUE(parseFault("escreen:on=input", f, error));
    EXPECT_TRUE(f.fire("key"));
    EXPECT_TRUE(f.fire("enter"));
    EXPECT_FALSE(f.fire("prst"));
    ASSERT_TRUE(parseFault("msgo:on=any", f, error));
    EXPECT_TRUE(f.fire("format"));
    EXPECT_FALSE(f.fire("connect"));

    EXPECT_FALSE(parseFault("reject:reason=x", f, error));
    EXPECT_FALSE(parseFault("hello-locap", f, error));
    EXPECT_EQ(error, "hello-locap needs name=");
    EXPECT_FALSE(parseFault("drop", f, error));
    EXPECT_FALSE(parseFault("drop:after=up:open", f, error));
    EXPECT_FALSE(parseFault("first-frame:on=open", f, error));
    EXPECT_FALSE(parseFault("close:to=nobody", f, error));
    EXPECT_FALSE(parseFault("close:pos=later", f, error));
    EXPECT_FALSE(parseFault("close:x=1", f, error));
    EXPECT_FALSE(parseFault("close:times=1,times=2", f, error));
    EXPECT_FALSE(parseFault("garbage:kind=pretty", f, error));
    EXPECT_FALSE(parseFault("dezur:on=input", f, error));
    EXPECT_FALSE(parseFault("reject:on=prst", f, error));
    EXPECT_FALSE(parseFault("escreen:on=format", f, error));
}

TEST(WireDecoders, CheckEveryInnerLength)
{
    std::vector<std::string> w;
    McsMessage m;
    Bytes b(48, 0);
    b[0] = kMcso;
    putText(b, 8, "", 12);
    putU16(b, off::kMcsCount, 1);
    b.insert(b.end(), {0x00, 0x04, 0x00, 0x03, 'a', 'b'});  // 4 announced, 2 present
    EXPECT_NE(decodeMcso(b, m, w), "");
    b.back() = 'c';
    b.insert(b.end(), {'d', 'e'});
    m = McsMessage{};
    EXPECT_EQ(decodeMcso(b, m, w), "");
    EXPECT_EQ(m.params.at(0).length, 4u);
    EXPECT_FALSE(w.empty());  // parameter bytes word disagrees

    DezUrRead d;
    Bytes z(64, 0);
    z[0] = kDezUrRead;
    putU16(z, 56, 3);
    z.insert(z.end(), {'a', 'b', 0});
    EXPECT_EQ(decodeDezUrRead(z, d, w), "");
    EXPECT_EQ(d.texts[0], "ab");
    putU16(z, 58, 1);
    EXPECT_NE(decodeDezUrRead(z, d, w), "");
}

// A PRST as the gateway builds it, with the Unix user id bytes 12-20 given.
Bytes prstWithUnixUser(const Bytes& user9)
{
    Bytes p(108, ' ');
    p[0] = kPrst;
    p[1] = p[2] = p[3] = 0;
    std::copy(user9.begin(), user9.end(), p.begin() + 12);
    p[21] = 3; p[22] = 1; p[23] = 0;
    p[60] = p[61] = p[62] = 0xFF; p[63] = 0x11;
    putU16(p, 64, 24);
    putU16(p, 66, 80);
    p[68] = 14;
    std::fill(p.begin() + 69, p.begin() + 96, 0);
    putU32(p, 104, 0);
    return p;
}

TEST(WireDecoders, PrstUnixUserIdLayout)
{
    const auto warns = [](const Bytes& user9) {
        std::vector<std::string> w;
        Prst p;
        EXPECT_EQ(decodePrst(prstWithUnixUser(user9), p, w), "");
        return w;
    };
    EXPECT_TRUE(warns({'w', 'e', 'b', 0, 0, 0, 0, 0, 0}).empty());
    EXPECT_TRUE(warns(Bytes(9, 0)).empty());
    EXPECT_TRUE(warns({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0}).empty());
    EXPECT_TRUE(warns({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', ' '}).empty());  // a 9+ char id
    for (const Bytes& bad : {Bytes(9, ' '), Bytes{'w', 'e', 'b', 0, 'x', 0, 0, 0, 0},
                             Bytes{'w', 'e', 'b', ' ', ' ', ' ', ' ', ' ', 0},
                             Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}}) {
        const auto w = warns(bad);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0], "PRST: Unix user id bytes 12-20 malformed");
    }
}

// Screens whose texts would overflow the 16-bit parameter words are cut so
// that the program message stays well formed.
TEST(EngineScreens, OverlongTextsAreCutToFitTheMessage)
{
    HexLog log;
    ASSERT_TRUE(log.open("/dev/null"));
    Script script;
    std::string error;
    ASSERT_TRUE(parseScript("transaction * BIG\nscreen BIG\n  size 32000\n"
                            "  error \"${IN:0:32000}${IN:0:32000}\"\n"
                            "  fcc \"${IN:0:100}\"\n",
                            "big.dts", script, error)) << error;
    Engine engine(HostConfig{}, script, {}, log);
    Peer peer;
    peer.id = 1;
    engine.greet(peer);
    Bytes open(32, 0);
    open[0] = kOpen;
    putU32(open, 4, 5);
    const auto accepted = engine.onFrame(peer, open);
    ASSERT_FALSE(accepted.empty());
    Bytes prst = prstWithUnixUser(Bytes(9, 0));
    putU32(prst, 4, getU32(&accepted.back().bytes[4]));
    Bytes screen;
    for (const Output& o : engine.onFrame(peer, prst))
        if (!o.bytes.empty() && o.bytes[0] == kMcso) screen = o.bytes;
    ASSERT_FALSE(screen.empty());
    // The host's program message read back through the strict decoder: the
    // parameter bytes word and every length agree with the bytes present.
    McsMessage m;
    std::vector<std::string> w;
    ASSERT_EQ(decodeMcso(screen, m, w), "");
    EXPECT_TRUE(w.empty()) << w.front();
    ASSERT_EQ(m.params.size(), 5u);
    EXPECT_EQ(m.params[1].length, 20u + 32000u);
    EXPECT_EQ(m.params[0].length + m.params[1].length + m.params[2].length + m.params[3].length +
                  m.params[4].length + 20,
              0xFFFFu);
}

// Closed sessions are forgotten, by either side's CLOSE; the last
// kClosedKept of them keep their gateway id for the CLOSE that answers a
// late PRST or MCSO, older ones are answered with receiver 0.
TEST(EngineSessions, ClosedSessionsAreForgotten)
{
    HexLog log;
    ASSERT_TRUE(log.open("/dev/null"));
    Script script;
    std::string error;
    ASSERT_TRUE(parseScript("transaction * ONE\nscreen ONE\n  key 9 -> close\n", "t.dts", script, error)) << error;
    Engine engine(HostConfig{}, script, {}, log);
    Peer peer;
    peer.id = 1;
    engine.greet(peer);
    auto open = [&](uint32_t R) {
        Bytes o(32, 0);
        o[0] = kOpen;
        putU32(o, 4, R);
        const auto out = engine.onFrame(peer, o);
        return getU32(&out.back().bytes[4]);
    };
    auto closeFrom = [&](const std::vector<Output>& out) -> std::pair<uint32_t, uint32_t> {
        if (out.size() != 1 || out[0].bytes.empty() || out[0].bytes[0] != kClose) return {0, 0xFFFFFFFF};
        return {getU32(&out[0].bytes[4]), getU32(&out[0].bytes[8])};
    };
    const size_t n = Engine::kClosedKept + 10;
    std::vector<uint32_t> ids;
    for (uint32_t R = 1; R <= n; ++R) {
        const uint32_t L = open(R);
        ids.push_back(L);
        Bytes prst = prstWithUnixUser(Bytes(9, 0));
        putU32(prst, 4, L);
        engine.onFrame(peer, prst);
        if (R % 2) {
            Bytes c(32, 0);
            c[0] = kClose;
            putU32(c, 4, R);
            putU32(c, 8, L);
            EXPECT_TRUE(engine.onFrame(peer, c).empty());
        } else {
            // The host ends the session itself (key 9 -> close).
            Bytes header(kMcsHeaderSize, ' ');
            std::copy_n("ONE", 3, header.begin());
            header[14] = header[15] = header[18] = header[19] = 0;
            header[16] = '9';
            const uint32_t ids[4] = {0, 0, 0, 0};
            const Bytes key = buildMcso(L, ids, kMcsScreenInput, 3, {{Bytes(kPibLong, 0)}, {header}});
            EXPECT_EQ(closeFrom(engine.onFrame(peer, key)), std::make_pair(L, R));
        }
    }
    for (uint32_t R = 90001; R <= 90003; ++R) open(R);
    EXPECT_EQ(engine.openSessions(), 3u);
    EXPECT_EQ(engine.knownSessions(), 3u) << "closed sessions are not kept";

    // A PRST for a recently closed session: CLOSE names its gateway id.
    Bytes prst = prstWithUnixUser(Bytes(9, 0));
    putU32(prst, 4, ids[n - 1 - 1]);   // R = n - 1, odd: closed
    EXPECT_EQ(closeFrom(engine.onFrame(peer, prst)), std::make_pair(ids[n - 2], static_cast<uint32_t>(n - 1)));
    // The first closed one has been forgotten altogether.
    putU32(prst, 4, ids[0]);
    EXPECT_EQ(closeFrom(engine.onFrame(peer, prst)), std::make_pair(ids[0], 0u));
    EXPECT_EQ(engine.knownSessions(), 3u);
}

TEST(EngineFuzz, RandomAndTruncatedBodiesAreHandled)
{
    HexLog log;
    ASSERT_TRUE(log.open("/dev/null"));
    Script script;
    std::string error;
    ASSERT_TRUE(parseScript(builtinScript(), "built-in", script, error));
    std::vector<Fault> faults;
    for (const char* given : {"msgo:times=50", "escreen:skip=3,times=20", "mcso:to=other,times=30",
                             "close:to=other,on=prst,times=10", "dezur:skip=5,times=5"}) {
        Fault f;
        ASSERT_TRUE(parseFault(given, f, error)) << error;
        faults.push_back(f);
    }
    Engine engine(HostConfig{}, script, faults, log);
    Peer peer;
    peer.id = 1;
    engine.greet(peer);

    // Valid conversations first, so that random bodies meet live sessions.
    std::mt19937 rng(7);
    std::vector<Bytes> seeds;
    for (uint32_t R = 1; R <= 8; ++R) {
        Bytes open(32, 0);
        open[0] = kOpen;
        putU32(open, 4, R);
        auto out = engine.onFrame(peer, open);
        ASSERT_FALSE(out.empty());
        uint32_t L = getU32(&out.back().bytes[4]);
        Bytes prst(108, ' ');
        prst[0] = kPrst;
        prst[1] = prst[2] = prst[3] = 0;
        putU32(prst, 4, L);
        putU32(prst, 104, 0);
        for (const Output& o : engine.onFrame(peer, prst))
            if (!o.bytes.empty() && o.bytes[0] == kMcso) seeds.push_back(o.bytes);
        seeds.push_back(prst);
        seeds.push_back(open);
    }
    ASSERT_FALSE(seeds.empty());
    for (int i = 0; i < 20000; ++i) {
        Bytes b = seeds[rng() % seeds.size()];
        switch (rng() % 4) {
        case 0: b.resize(rng() % (b.size() + 1)); break;            // truncated
        case 1: b[rng() % b.size()] = uint8_t(rng()); break;        // one byte changed
        case 2: for (int k = 0; k < 4; ++k) b[rng() % b.size()] = uint8_t(rng()); break;
        default: b.resize(rng() % 300); for (uint8_t& x : b) x = uint8_t(rng()); break;
        }
        if (b.size() > 40 && b[0] == kMcso && rng() % 2) {
            putU16(b, off::kMcsType, rng() % 2 ? kMcsScreenInput : kMcsFormatRequest);
        }
        engine.onFrame(peer, b);
        engine.dropAfter(peer, false, b.empty() ? 0 : b[0]);
    }
    SUCCEED();
}

}  // namespace
