// Session table records: creation and look-up by id, GUID and pool, the
// record handle's fields, the client address, and the screen-data files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "TableTestDir.h"
#include "ZelBuffer.h"
#include "ZelName.h"
#include "ZelSessionTable.h"

using namespace sesstbl;
using Table = CZelSessionTable;
using RecordPtr = std::unique_ptr<Table::Record>;

namespace {

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class SessTblRecord : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("REMOTE_ADDR");
        ASSERT_GE(ResultCode(table.Init(6, 1, 100)), 0);
    }
    void TearDown() override { unsetenv("REMOTE_ADDR"); }
    SessionRecord &rec(unsigned i) { return table.GetSessionTableAddress()[i]; }
    RecordPtr Create(bool touch = false) {
        RecordPtr h;
        EXPECT_EQ(table.Get(0u, h, true, touch), Result::Success);
        return h;
    }

    TableTestDir dir;
    Table table;
};

// ---------------------------------------------------------------------------
// GUID text

TEST(SessTblGuid, TextIsThirtyTwoLowerCaseDigits) {
    uint32_t w[4] = {0x20, 0xDEADBEEF, 0, 0x12345678};
    Table::Guid_t g(w);
    EXPECT_EQ(g.ToText(), "00000020deadbeef0000000012345678");
    Table::Guid_t back;
    ASSERT_TRUE(Table::Guid_t::FromText(g.ToText(), back));
    EXPECT_EQ(back, g);
    ASSERT_TRUE(Table::Guid_t::FromText("00000020DEADBEEF0000000012345678", back));
    EXPECT_EQ(back, g);
    EXPECT_EQ(back[1], 0xDEADBEEFu);
}

TEST(SessTblGuid, ParseIsStrict) {
    Table::Guid_t g;
    const char *bad[] = {"",
                         "0000002000000000000000000000000",      // 31 digits
                         "000000200000000000000000000000000",    // 33 digits
                         "0000002000000000000000000000000g",
                         " 0000002000000000000000000000000",
                         "0x000020000000000000000000000000",
                         "-0000020000000000000000000000000",
                         "00000020 0000000 00000000 0000000"};
    for (const char *text : bad) {
        EXPECT_FALSE(Table::Guid_t::FromText(text, g)) << text;
        EXPECT_TRUE(g.IsZero());
    }
    std::string withNul("0000002000000000000000000000000", 31);
    withNul.push_back('\0');
    EXPECT_FALSE(Table::Guid_t::FromText(withNul, g));
}

// ---------------------------------------------------------------------------
// Creation and look-up

TEST_F(SessTblRecord, NewSessionGetsIdAndUnguessableGuid) {
    time_t before = time(nullptr);
    RecordPtr a = Create();
    time_t after = time(nullptr);
    ASSERT_TRUE(a && a->IsLockSuccessful());
    EXPECT_EQ(a->GetLocalSessionId(), 1u);
    EXPECT_EQ(rec(0).localId, 1u);
    Table::Guid_t g;
    a->GetSessionGuid(g);
    EXPECT_EQ(g[0], 0x20u);
    EXPECT_GE(g[3], static_cast<uint32_t>(before) << 5);
    EXPECT_LE(g[3], static_cast<uint32_t>(after) << 5);
    std::string text = g.ToText();
    EXPECT_EQ(text.substr(0, 8), "00000020");

    RecordPtr b = Create();
    Table::Guid_t g2;
    b->GetSessionGuid(g2);
    EXPECT_EQ(g2[0], 2u << 5);
    // The middle words come from the kernel's random source.
    EXPECT_FALSE(g[1] == g2[1] && g[2] == g2[2]);
    EXPECT_FALSE(g[1] == 0 && g[2] == 0 && g2[1] == 0 && g2[2] == 0);
}

TEST_F(SessTblRecord, LookupsByIdAndGuid) {
    RecordPtr a = Create();
    Table::Guid_t g;
    a->GetSessionGuid(g);
    unsigned id = a->GetLocalSessionId();
    a.reset();

    RecordPtr h;
    EXPECT_EQ(table.Get(id, h, true, false), Result::Success);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->GetLocalSessionId(), id);
    h.reset();
    EXPECT_EQ(table.Get(g, h, true, false), Result::Success);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->GetPosition(), 0u);
    h.reset();

    EXPECT_EQ(table.Get(99u, h, true, false), Result::SessTblInvalidSessId);
    EXPECT_FALSE(h);
    uint32_t other[4] = {g[0], g[1] ^ 1, g[2], g[3]};
    EXPECT_EQ(table.Get(Table::Guid_t(other), h, true, false), Result::SessTblInvalidSessGuid);
    EXPECT_FALSE(h);
    // Never-used records carry the zero GUID; it finds nothing.
    EXPECT_EQ(table.Get(Table::Guid_t(), h, true, false), Result::SessTblInvalidSessGuid);

    // The raw-pointer forms: no out pointer, no record.
    EXPECT_EQ(table.Get(0u, static_cast<Table::Record **>(nullptr), true, false), Result::Success);
    EXPECT_EQ(table.GetNumberOfNotEmptyEntries(), 1u);
    Table::Record *raw = nullptr;
    EXPECT_EQ(table.Get(id, &raw, false, false), Result::Success);
    ASSERT_NE(raw, nullptr);
    delete raw;
    EXPECT_EQ(table.Get(g, static_cast<Table::Record **>(nullptr), true, false), Result::Success);
}

TEST_F(SessTblRecord, LookupsNeverFindTheSessionThatLeftARecord) {
    // A process remembers where it found a session; the record may since
    // have been freed and claimed by another one.
    RecordPtr a = Create();
    Table::Guid_t ga;
    a->GetSessionGuid(ga);
    const unsigned idA = a->GetLocalSessionId();
    a.reset();
    RecordPtr h;
    ASSERT_EQ(table.Get(ga, h, true, false), Result::Success);
    h->Remove();
    h.reset();
    RecordPtr b = Create();
    ASSERT_EQ(b->GetPosition(), 0u);
    Table::Guid_t gb;
    b->GetSessionGuid(gb);
    const unsigned idB = b->GetLocalSessionId();
    b.reset();
    EXPECT_EQ(table.Get(idA, h, true, false), Result::SessTblInvalidSessId);
    EXPECT_EQ(table.Get(ga, h, true, false), Result::SessTblInvalidSessGuid);
    ASSERT_EQ(table.Get(idB, h, true, false), Result::Success);
    EXPECT_EQ(h->GetPosition(), 0u);
    h.reset();
    // Records moved under the process: found where they are now.
    std::swap(rec(0), rec(4));
    ASSERT_EQ(table.Get(gb, h, true, false), Result::Success);
    EXPECT_EQ(h->GetPosition(), 4u);
    h.reset();
    ASSERT_EQ(table.Get(idB, h, true, false), Result::Success);
    EXPECT_EQ(h->GetPosition(), 4u);
}

TEST_F(SessTblRecord, ExpiredRecordStillFoundByGuid) {
    RecordPtr a = Create();
    Table::Guid_t g;
    a->GetSessionGuid(g);
    a.reset();
    table.RemoveByPos(0);
    RecordPtr h;
    EXPECT_EQ(table.Get(g, h, true, false), Result::Success);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->GetLocalSessionId(), 0u);
}

TEST_F(SessTblRecord, FullTableAndReuse) {
    std::vector<RecordPtr> all;
    for (int i = 0; i < 6; ++i) all.push_back(Create());
    RecordPtr h;
    EXPECT_EQ(table.Get(0u, h, true, false), Result::SessTblFull);
    EXPECT_FALSE(h);
    EXPECT_EQ(table.GetByPidPool(0u, h, true, false), Result::SessTblFull);
    all[3]->Remove();
    all.clear();
    RecordPtr again = Create();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetPosition(), 3u);
    EXPECT_EQ(again->GetLocalSessionId(), 7u);
}

TEST_F(SessTblRecord, ReclaimedRecordKeepsNothingOfTheOldSession) {
    RecordPtr a = Create();
    a->SetDtpSessionId(0x55);
    a->SetOpenState(true);
    a->SetMcsIds(1, 2, 3, 4);
    CBuffer pib(std::string(156, 'P').c_str(), 156);
    a->SetPib(pib);
    a.reset();
    table.ExpireAll();
    RecordPtr b = Create();
    EXPECT_EQ(b->GetPosition(), 0u);
    EXPECT_EQ(b->GetDtpSessionId(), 0u);
    EXPECT_FALSE(b->IsOpen());
    unsigned w, x, y, z;
    b->GetMcsIds(w, x, y, z);
    EXPECT_EQ(w + x + y + z, 0u);
    EXPECT_EQ(rec(0).pib[0], 0);
}

TEST_F(SessTblRecord, PoolNumbers) {
    rec(0).localId = 50;
    rec(0).pidPool = 1;
    rec(2).localId = 51;
    rec(2).pidPool = 3;
    table.GetControlBlockAddress()->lastSessionId = 51;
    RecordPtr h;
    ASSERT_EQ(table.GetByPidPool(0u, h, true, false), Result::Success);
    EXPECT_EQ(h->GetSessionPidPool(), 2u);
    EXPECT_EQ(h->GetPosition(), 1u);
    Table::Guid_t g;
    h->GetSessionGuid(g);
    EXPECT_EQ(g[0], 52u << 5);
    h.reset();

    EXPECT_EQ(table.GetByPidPool(3u, h, true, false), Result::Success);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->GetLocalSessionId(), 51u);
    h.reset();
    EXPECT_EQ(table.GetByPidPool(77u, h, true, false), Result::SessTblInvalidSessId);
    EXPECT_FALSE(h);
    EXPECT_EQ(table.GetByPidPool(0u, static_cast<Table::Record **>(nullptr), true, false), Result::Success);

    // Every number of a range taken: the new record stays without one.
    table.GetControlBlockAddress()->pidPoolLow = 1;
    table.GetControlBlockAddress()->pidPoolHigh = 4;
    rec(1).pidPool = 2;
    ASSERT_EQ(table.GetByPidPool(0u, h, true, false), Result::Success);
    EXPECT_EQ(h->GetSessionPidPool(), 0u);
}

// ---------------------------------------------------------------------------
// Fields

TEST_F(SessTblRecord, HandleFieldsLandAtTheirOffsets) {
    RecordPtr h = Create();
    h->SetDtpSessionId(0xABCD);
    h->SetSessionPidPool(77);
    h->SetOpenState(true);
    h->SetProgramStartedState(true);
    h->SetMcsIds(11, 22, 33, 44);
    h->SetLocap(CZelName("AB", 8));
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(&rec(0));
    EXPECT_EQ(rec(0).dtpId, 0xABCDu);
    EXPECT_EQ(rec(0).pidPool, 77u);
    EXPECT_EQ(raw[40], 0x03);
    h->SetOpenState(false);
    EXPECT_EQ(raw[40], 0x02);
    EXPECT_TRUE(h->IsProgramStarted());
    EXPECT_FALSE(h->IsOpen());
    EXPECT_EQ(std::memcmp(raw + 28, "AB      ", 8), 0);
    unsigned a, b, c, d;
    h->GetMcsIds(a, b, c, d);
    EXPECT_EQ(a, 11u);
    EXPECT_EQ(d, 44u);
    CZelName locap(8);
    h->GetLocap(locap);
    EXPECT_TRUE(locap == "AB");
    h->SetLocap(CZelName("LONGNAMEXYZ", 11));
    EXPECT_EQ(std::memcmp(raw + 28, "LONGNAME", 8), 0);
}

TEST_F(SessTblRecord, PibIsCutAndZeroFilled) {
    RecordPtr h = Create();
    std::string big(200, 'x');
    big[0] = 'a';
    CBuffer b(big.c_str(), 200);
    h->SetPib(b);
    EXPECT_EQ(rec(0).pib[0], 'a');
    EXPECT_EQ(rec(0).pib[155], 'x');
    EXPECT_EQ(rec(0).clientAddr[0], 0);     // nothing past the PIB

    CBuffer small("0123456789ABCDEF", 16);
    small.SetOffset(6);                     // copies from the read offset
    h->SetPib(small);
    EXPECT_EQ(std::memcmp(rec(0).pib, "6789ABCDEF", 10), 0);
    for (int k = 10; k < kPibSize; ++k) ASSERT_EQ(rec(0).pib[k], 0);

    CBuffer out("head", 4);
    h->GetPib(out);
    EXPECT_EQ(out.GetLength(), 4 + kPibSize);
}

TEST_F(SessTblRecord, ClientAddressFromRemoteAddr) {
    struct Case {
        const char *value;
        uint8_t expect[4];
    } cases[] = {
        {"10.1.2.3", {10, 1, 2, 3}},       {"255.255.255.255", {255, 255, 255, 255}},
        {"::1", {0, 0, 0, 0}},             {"fe80::1%eth0", {0, 0, 0, 0}},
        {"1.2.3.256", {0, 0, 0, 0}},       {"1.2.3", {0, 0, 0, 0}},
        {"1.2.3.4.5", {0, 0, 0, 0}},       {"1.2.3.4x", {0, 0, 0, 0}},
        {" 1.2.3.4", {0, 0, 0, 0}},        {"1..3.4", {0, 0, 0, 0}},
        {"0001.2.3.4", {0, 0, 0, 0}},      {"", {0, 0, 0, 0}},
        {"-1.2.3.4", {0, 0, 0, 0}},        {"99999999999.1.1.1", {0, 0, 0, 0}},
    };
    RecordPtr h = Create();
    unsigned id = h->GetLocalSessionId();
    h.reset();
    for (const Case &c : cases) {
        std::memset(rec(0).clientAddr, 0xEE, 4);
        setenv("REMOTE_ADDR", c.value, 1);
        RecordPtr t;
        ASSERT_EQ(table.Get(id, t, true, true), Result::Success);
        EXPECT_EQ(std::memcmp(rec(0).clientAddr, c.expect, 4), 0) << c.value;
        EXPECT_EQ(rec(0).lastPid, static_cast<int32_t>(getpid()));
    }
    unsetenv("REMOTE_ADDR");
    std::memset(rec(0).clientAddr, 0xEE, 4);
    RecordPtr t;
    ASSERT_EQ(table.Get(id, t, true, true), Result::Success);
    EXPECT_EQ(rec(0).clientAddr[0], 0);
}

TEST_F(SessTblRecord, TouchStampsRecordAndTable) {
    RecordPtr h = Create();
    unsigned id = h->GetLocalSessionId();
    h.reset();
    rec(0).lastAccessed = 1000;
    table.GetControlBlockAddress()->lastAccessed = 1000;
    {
        RecordPtr quiet;
        ASSERT_EQ(table.Get(id, quiet, true, false), Result::Success);
    }
    EXPECT_EQ(rec(0).lastAccessed, 1000u);
    {
        RecordPtr t;
        ASSERT_EQ(table.Get(id, t, true, true), Result::Success);
        EXPECT_GT(rec(0).lastAccessed, 1000u);
        rec(0).lastAccessed = 1000;
    }
    // The destructor stamps again.
    EXPECT_GT(rec(0).lastAccessed, 1000u);
    EXPECT_GT(table.GetControlBlockAddress()->lastAccessed, 1000u);

    // Same client and process: only the pid is rewritten.
    rec(0).clientAddr[0] = 9;
    setenv("REMOTE_ADDR", "1.1.1.1", 1);
    RecordPtr t;
    ASSERT_EQ(table.Get(id, t, true, false), Result::Success);
    t->SetLastAccessed(5000);
    EXPECT_EQ(rec(0).lastAccessed, 5000u);
    EXPECT_EQ(rec(0).clientAddr[0], 9);
    rec(0).lastPid = 1;                      // another process touched it last
    t->SetLastAccessed(6000);
    EXPECT_EQ(rec(0).clientAddr[0], 1);
    EXPECT_EQ(rec(0).lastPid, static_cast<int32_t>(getpid()));
}

// ---------------------------------------------------------------------------
// Screen-data files

TEST_F(SessTblRecord, FileNameIsTheGuidInDecimal) {
    RecordPtr h = Create();
    uint32_t words[4] = {32, 0, 0, 160};
    std::memcpy(rec(0).guid, words, sizeof words);
    EXPECT_EQ(h->GetLatestDataFileName(), "32-0-0-160");
}

TEST_F(SessTblRecord, ScreenDataRoundTripAndRemoval) {
    RecordPtr h = Create();
    const std::string dirName = table.GetLatestMcsDataDirectory();
    EXPECT_EQ(dirName, "./latestmcsdata/");
    struct stat st {};
    ASSERT_EQ(stat("latestmcsdata", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string path = dirName + h->GetLatestDataFileName();

    // No file yet: reading fails with an empty buffer, storing nothing is fine.
    CBuffer out("junk", 4);
    EXPECT_EQ(h->GetLatestMcsData(out), Result::SessTblLatestMcsDataFile);
    EXPECT_EQ(out.GetLength(), 0);
    EXPECT_EQ(h->SetLatestMcsData(CBuffer()), Result::Success);

    std::string screen("HDRNAME TERM\0\x01", 14);
    screen += std::string(300, 'S');
    CBuffer data(screen.data(), static_cast<int>(screen.size()));
    data.SetOffset(3);                      // stored from the read offset
    ASSERT_EQ(h->SetLatestMcsData(data), Result::Success);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(screen.size() - 3));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(h->GetLatestMcsData(out), Result::Success);
    ASSERT_EQ(out.GetLength(), static_cast<int>(screen.size() - 3));
    EXPECT_EQ(std::string(out.GetBuffer(), out.GetLength()), screen.substr(3));

    EXPECT_EQ(h->SetLatestMcsData(CBuffer()), Result::Success);
    EXPECT_FALSE(Exists(path));
    ASSERT_EQ(h->SetLatestMcsData(data), Result::Success);
    h->Remove();
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(rec(0).localId, 0u);
}

TEST_F(SessTblRecord, ShorterScreenReplacesALongerOne) {
    RecordPtr h = Create();
    const std::string path = table.GetLatestMcsDataDirectory() + h->GetLatestDataFileName();
    const std::string longer(5000, 'L'), shorter = "SHORT";
    ASSERT_EQ(h->SetLatestMcsData(CBuffer(longer.data(), static_cast<int>(longer.size()))), Result::Success);
    ASSERT_EQ(h->SetLatestMcsData(CBuffer(shorter.data(), static_cast<int>(shorter.size()))), Result::Success);
    std::ifstream f(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()), shorter);
    CBuffer out;
    ASSERT_EQ(h->GetLatestMcsData(out), Result::Success);
    EXPECT_EQ(std::string(out.GetBuffer(), out.GetLength()), shorter);
}

TEST_F(SessTblRecord, FileThatCannotBeDeletedIsReportedOnce) {
    RecordPtr h = Create();
    const std::string path = table.GetLatestMcsDataDirectory() + h->GetLatestDataFileName();
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);        // unlink() of it fails
    const std::string message =
        "CZelSessionTable::Record::Remove(): Can't unlink() file " + path + ", errno: 21\n";

    testing::internal::CaptureStderr();
    EXPECT_EQ(h->SetLatestMcsData(CBuffer()), Result::SessTblLatestMcsDataFile);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);

    testing::internal::CaptureStderr();
    h->Remove();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    EXPECT_EQ(rec(0).localId, 0u);
    rmdir(path.c_str());
}

TEST_F(SessTblRecord, FreedRecordsLoseTheirFiles) {
    CBuffer data("screen", 6);
    RecordPtr a = Create();
    RecordPtr b = Create();
    ASSERT_EQ(a->SetLatestMcsData(data), Result::Success);
    ASSERT_EQ(b->SetLatestMcsData(data), Result::Success);
    std::string pathA = "./latestmcsdata/" + a->GetLatestDataFileName();
    std::string pathB = "./latestmcsdata/" + b->GetLatestDataFileName();
    a.reset();
    b.reset();

    table.ExpireAll();
    EXPECT_FALSE(Exists(pathA));
    EXPECT_FALSE(Exists(pathB));

    // A record freed by other means still loses its file when claimed again.
    RecordPtr c = Create();
    ASSERT_EQ(c->SetLatestMcsData(data), Result::Success);
    std::string pathC = "./latestmcsdata/" + c->GetLatestDataFileName();
    unsigned pos = c->GetPosition();
    c.reset();
    rec(pos).localId = 0;
    ASSERT_TRUE(Exists(pathC));
    for (unsigned i = 0; i < 6; ++i) Create().reset();
    EXPECT_FALSE(Exists(pathC));
}

// A screen and its modifications are stored as a pair: whatever happens to
// either file afterwards reads as a loss naming the file; a session before
// its first screen has none, which is no loss.
TEST_F(SessTblRecord, ALostScreenOrModificationsFileIsToldApart) {
    const std::string screen(48, 'S'), mods = "\x31\x32\x02\x13";
    RecordPtr other = Create();
    ASSERT_EQ(other->SetLatestScreen(CBuffer("SCREEN02", 8), CBuffer()), Result::Success);
    const struct {
        const char *damage;     // to $F, the screen file ($T: the other session's)
        const char *named;      // in the loss; null: none
    } rows[] = {{"true", nullptr},
                {"rm $F.fcc", ".fcc: No such file"},
                {"truncate -s 14 $F.fcc", ".fcc: not stored together"},
                {"truncate -s 6 $F.fcc", ".fcc: not a modifications file"},
                {"rm $F.fcc && mkfifo $F.fcc", ".fcc: not a regular file"},
                {"rm $F", ": No such file"},
                {"truncate -s 0 $F", "(0 bytes)"},
                {"cp $T $F", "not stored together"},
                {"cp $T $F && cp $T.fcc $F.fcc", "not stored together"}};
    for (const auto &row : rows) {
        RecordPtr h = Create();
        const std::string path = table.GetLatestMcsDataDirectory() + h->GetLatestDataFileName();
        ASSERT_EQ(h->SetLatestScreen(CBuffer(screen.data(), 48), CBuffer(mods.data(), 4)), Result::Success);
        ASSERT_EQ(std::system(("F=" + path + " T=" + table.GetLatestMcsDataDirectory() +
                               other->GetLatestDataFileName() + "; " + row.damage).c_str()), 0);
        CBuffer data, back;
        std::string lost;
        h->GetLatestScreen(data, back, lost);
        EXPECT_EQ(lost.find(path), row.named ? 0u : std::string::npos) << row.damage << ": " << lost;
        if (row.named) EXPECT_NE(lost.find(row.named), std::string::npos) << row.damage << ": " << lost;
        else EXPECT_EQ(std::string(back.GetBuffer(), back.GetLength()) + std::string(data.GetBuffer(), data.GetLength()), mods + screen);
        // A screen stored alone keeps modifications only when they were intact.
        ASSERT_EQ(h->SetLatestMcsData(CBuffer("SCREEN03", 8)), Result::Success);
        h->GetLatestScreen(data, back, lost);
        EXPECT_EQ(lost.empty(), !row.named) << row.damage << ": " << lost;
        h->Remove();
    }

    RecordPtr h = Create();
    CBuffer data, back;
    std::string lost = "x";
    ASSERT_EQ(h->SetLatestScreen(CBuffer(), CBuffer()), Result::Success);
    EXPECT_EQ(h->GetLatestScreen(data, back, lost), Result::SessTblLatestMcsDataFile);
    EXPECT_EQ(lost, "");
    EXPECT_FALSE(h->HasStoredScreen()) << "no screen yet, as in a DezUR exchange";
    // A store that fails marks the session until a store of both succeeds;
    // the session has had a screen all the same (flags byte 40, bit 3).
    const std::string fcc = table.GetLatestMcsDataDirectory() + h->GetLatestDataFileName() + ".fcc";
    ASSERT_TRUE(unlink(fcc.c_str()) == 0 && mkdir(fcc.c_str(), 0700) == 0);
    EXPECT_EQ(h->SetLatestScreen(CBuffer("SCREEN04", 8), CBuffer()), Result::SessTblLatestMcsDataFile);
    EXPECT_EQ(reinterpret_cast<const unsigned char *>(&rec(h->GetPosition()))[40], 0x0C);
    EXPECT_TRUE(h->HasStoredScreen());
    ASSERT_EQ(rmdir(fcc.c_str()), 0);
    h->GetLatestScreen(data, back, lost);
    EXPECT_NE(lost.find("could not be stored"), std::string::npos) << lost;
    ASSERT_EQ(h->SetLatestScreen(CBuffer("SCREEN05", 8), CBuffer()), Result::Success);
    h->GetLatestScreen(data, back, lost);
    EXPECT_EQ(lost, "");
}

TEST_F(SessTblRecord, DataDirectoryIsBuiltComponentByComponent) {
    EXPECT_EQ(table.SetLatestMcsDataDirectory("deep/er/dir"), Result::Success);
    EXPECT_EQ(table.GetLatestMcsDataDirectory(), "deep/er/dir/");
    struct stat st {};
    ASSERT_EQ(stat("deep/er/dir", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string abs = dir.Root() + "/abs/data";
    EXPECT_EQ(table.SetLatestMcsDataDirectory(abs), Result::Success);
    EXPECT_TRUE(Exists(abs));
    // A file where a directory should be stops the creation.
    std::ofstream("blocker") << "x";
    EXPECT_EQ(table.SetLatestMcsDataDirectory("blocker/sub"), Result::SessTblLatestMcsDataDir);
    EXPECT_EQ(table.SetLatestMcsDataDirectory(""), Result::Success);
    EXPECT_EQ(table.GetLatestMcsDataDirectory(), "./latestmcsdata/");

    table.SetLatestMcsDataDirectory("deep/er/dir");
    RecordPtr h = Create();
    ASSERT_EQ(h->SetLatestMcsData(CBuffer("abc", 3)), Result::Success);
    EXPECT_TRUE(Exists("deep/er/dir/" + h->GetLatestDataFileName()));
}

}  // namespace
