// qorshm run from its command line against segments the tests make,
// including a session table made by the session-table code; and the
// session report and elapsed-time text on crafted tables.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ZelBuffer.h"
#include "ZelName.h"
#include "ZelSessionTable.h"
#include "qorshm.h"
#include "sesstbl/TableTestDir.h"

using namespace sesstbl;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs qorshm with the arguments and the environment changes given
// ("NAME=value" sets, "NAME" alone unsets).
RunResult RunQorshm(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    int fds[2];
    RunResult r;
    if (pipe(fds) != 0) return r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        unsetenv("QORICCONFPATH");
        unsetenv("QORICROOT");
        for (const std::string &e : env) {
            size_t eq = e.find('=');
            if (eq == std::string::npos)
                unsetenv(e.c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>("qorshm"));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(QORSHM_PROGRAM, argv.data());
        _exit(126);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

const std::string kUsage =
    "QOR/ix shared memory display/dump\n"
    "      Shared memory and QOR/ic session table inspector\n"
    "qorshm options:\n"
    " -m shmid    Shared memory ID to display/dump\n"
    " -o outfile  File to dump memory to; Default: stdout\n"
    " -r shmid    Remove Shared memory ID\n"
    " -l          List all shared memory usage\n"
    " -t          Decode QOR/ic shared memory\n"
    "\n";
const std::string kListHead = "    Shmid     ShmKey     Size  #use  Owner / Group\n";

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

bool StartsWith(const std::string &text, const std::string &head) {
    return text.compare(0, head.size(), head) == 0;
}

// The fixed columns of a report line, up to its access time.
std::string ReportColumns(const char *locap, const char *client, const char *session, const char *trid) {
    char text[200];
    snprintf(text, sizeof text, "%.8s %-16s %-16s %.8s  ", locap, client, session, trid);
    return text;
}

std::string ReadFile(const std::string &path) {
    std::ifstream f(path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool SegmentExists(int id) {
    struct shmid_ds ds {};
    return shmctl(id, IPC_STAT, &ds) == 0;
}

class QorshmCli : public ::testing::Test {
protected:
    // A private segment of `size` bytes, filled with `fill`.
    int Segment(size_t size, unsigned char fill = 0) {
        int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        EXPECT_GE(id, 0);
        if (id < 0) return id;
        dir.Track(id);
        if (fill) {
            void *p = shmat(id, nullptr, 0);
            memset(p, fill, size);
            shmdt(p);
        }
        return id;
    }
    void WriteShmId(int id) { std::ofstream(dir.Logs() + "/.shmid") << id << "\n"; }

    TableTestDir dir;
};

// ---------------------------------------------------------------------------
// Command line

TEST_F(QorshmCli, HelpAndUsage) {
    Segment(4096);                          // so that the listing has a line
    RunResult r = RunQorshm({"-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);

    r = RunQorshm({});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(StartsWith(r.out, kUsage));
    EXPECT_TRUE(Contains(r.out, kListHead)) << r.out;

    // Unknown options print the usage once; parsing goes on.
    r = RunQorshm({"-x", "-y", "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
}

TEST_F(QorshmCli, ListingShowsSizesAndOwners) {
    int a = Segment(10240), b = Segment(10241), c = Segment(2097153);
    RunResult r = RunQorshm({"-l"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(StartsWith(r.out, kListHead)) << r.out;
    auto line = [](int id, const char *size) {
        char text[200];
        snprintf(text, sizeof text, "%9d 0x%08X %9s %4d  root(0) / root(0)\n", id, 0u, size, 0);
        return std::string(text);
    };
    if (geteuid() == 0) {
        EXPECT_TRUE(Contains(r.out, line(a, "10240 "))) << r.out;
        EXPECT_TRUE(Contains(r.out, line(b, "10K"))) << r.out;
        EXPECT_TRUE(Contains(r.out, line(c, "2M"))) << r.out;
    }
    // The size column of an attached segment counts its users.
    void *p = shmat(a, nullptr, SHM_RDONLY);
    r = RunQorshm({"-l"});
    char attached[64];
    snprintf(attached, sizeof attached, "%9d 0x%08X %9s %4d  ", a, 0u, "10240 ", 1);
    EXPECT_TRUE(Contains(r.out, attached)) << r.out;
    shmdt(p);
}

TEST_F(QorshmCli, DumpOfASegment) {
    int id = Segment(10240, 'Q');
    RunResult r = RunQorshm({"-m", std::to_string(id)});
    EXPECT_EQ(r.status, 0);
    std::string head = "Shared memory id " + std::to_string(id) + " is 10240 bytes long\n\n";
    ASSERT_TRUE(StartsWith(r.out, head)) << r.out;
    EXPECT_TRUE(Contains(r.out, " 000000 : 51515151 51515151 51515151 51515151 51515151 51515151 "
                                "'QQQQQQQQQQQQQQQQQQQQQQQQ'\n"))
        << r.out;

    // Into a file: the notice goes to the terminal.
    std::string file = dir.Root() + "/dump.txt";
    r = RunQorshm({"-o", file, "-m", std::to_string(id)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Shared memory id " + std::to_string(id) + " dumped to " + file + "\n\n");
    std::string dumped = ReadFile(file);
    EXPECT_TRUE(StartsWith(dumped, head));
    EXPECT_TRUE(Contains(dumped, " 000000 : 51515151"));

    // An output file that cannot be made: stdout is kept.
    std::string bad = dir.Root() + "/no/such/dir/out";
    r = RunQorshm({"-o", bad, "-m", std::to_string(id)});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Error 'No such file or directory' opening '" + bad + "'\n" + head));
}

TEST_F(QorshmCli, MissingSegment) {
    int missing = 999999;
    while (SegmentExists(missing)) ++missing;
    RunResult r = RunQorshm({"-m", std::to_string(missing)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Unable to attach " + std::to_string(missing) + "; 'Invalid argument'\n");
}

TEST_F(QorshmCli, Removal) {
    int id = Segment(4096);
    RunResult r = RunQorshm({"-r", std::to_string(id)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Shared memory '" + std::to_string(id) + "' has been removed\n");
    EXPECT_FALSE(SegmentExists(id));

    int id2 = Segment(4096);
    Segment(4096);                          // left for the listing
    r = RunQorshm({"-r", std::to_string(id2), "-l"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(StartsWith(r.out, "Shared memory '" + std::to_string(id2) + "' has been removed\n" + kListHead))
        << r.out;
    EXPECT_FALSE(SegmentExists(id2));

    // Not a number: nothing is removed, and the usage and listing follow.
    r = RunQorshm({"-r", "12abc"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(StartsWith(r.out, "Error 'Invalid argument' removing '12abc'\n" + kUsage)) << r.out;
}

TEST_F(QorshmCli, DecodeDumpsASegmentThatIsNoTable) {
    int id = Segment(4096, 0x11);
    WriteShmId(id);
    // -d comes after -t: -t has already looked under the root it had then.
    // A line before the usage says where it looked.
    const std::string elsewhere = dir.Root() + "/elsewhere";
    RunResult r = RunQorshm({"-t", "-d", dir.Root()}, {"QORICROOT=" + elsewhere});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(StartsWith(r.out, "No session table under the root folder " + elsewhere + ": " + elsewhere +
                                      "/logs/.shmid cannot be read (No such file or directory). -d, given before -t, "
                                      "names the gateway's root folder (the parent of its working folder, "
                                      "holding logs/.shmid).\n" +
                                      kUsage))
        << r.out;
    r = RunQorshm({"-d", dir.Root(), "-t"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, " 000000 : 11111111 11111111")) << r.out;
    // The root from QORICCONFPATH (less its last two components).
    r = RunQorshm({"-t"}, {"QORICCONFPATH=" + dir.Root() + "/conf/qoric.conf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, " 000000 : 11111111")) << r.out;
    r = RunQorshm({"-t"}, {"QORICROOT=" + dir.Root()});
    EXPECT_EQ(r.status, 0);
    // An over-long root from the environment is not used.
    r = RunQorshm({"-t"}, {"QORICROOT=" + std::string(5000, 'r')});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(Contains(r.out, "QORICROOT is too long; ignored\n"));
}

TEST_F(QorshmCli, DecodeSwitchAndIdFromTheOptions) {
    CZelSessionTable table;
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    const std::string tableId = std::to_string(table.GetSharedMemoryId());
    const std::string report = " is 2496 bytes long\n\n    2 possible QOR/ic sessions at ";
    int plain = Segment(4096, 0x22);
    WriteShmId(plain);

    // -m after -t names the segment; the decode switch stays on.
    RunResult r = RunQorshm({"-d", dir.Root(), "-t", "-m", tableId});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(StartsWith(r.out, "Shared memory id " + tableId + report)) << r.out;
    // Without -t the same segment is dumped.
    r = RunQorshm({"-m", tableId});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, " 000000 : 07DEFA00 ")) << r.out;
    // -l in between does not switch decoding off either.
    r = RunQorshm({"-d", dir.Root(), "-t", "-l", "-m", tableId});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(StartsWith(r.out, "Shared memory id " + tableId + report)) << r.out;

    // A .shmid that opens but holds no number (or nothing) gives no id:
    // usage and listing.
    for (const char *text : {"garbage\n", ""}) {
        std::ofstream(dir.Logs() + "/.shmid") << text;
        r = RunQorshm({"-m", tableId, "-d", dir.Root(), "-t"});
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(StartsWith(r.out, "No session table under the root folder " + dir.Root() + ": " + dir.Logs() +
                                          "/.shmid holds no segment id. -d, given before -t, names"))
            << r.out;
        EXPECT_TRUE(Contains(r.out, ").\n" + kUsage)) << r.out;
    }
    // 0 is an id like any other (the first segment after a boot has it),
    // from the file and from -m: it is shown, whether or not it exists here.
    WriteShmId(0);
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-d", dir.Root(), "-t"},
                                                 std::vector<std::string>{"-m", "0"}}) {
        r = RunQorshm(args);
        EXPECT_TRUE(StartsWith(r.out, "Unable to attach 0; '") || StartsWith(r.out, "Unable to address 0; '") ||
                    (r.status == 0 && StartsWith(r.out, "Shared memory id 0 is ")))
            << r.out;
    }
    // A later -l or -m wins over the -t: no such line.
    r = RunQorshm({"-d", dir.Root(), "-t", "-l"});
    EXPECT_TRUE(StartsWith(r.out, kListHead)) << r.out;
    // A missing one changes nothing; nor does a FIFO in its place, which
    // is not waited on.
    const std::string idFile = dir.Logs() + "/.shmid";
    unlink(idFile.c_str());
    for (bool fifo : {false, true}) {
        if (fifo) {
            ASSERT_EQ(mkfifo(idFile.c_str(), 0600), 0);
        }
        r = RunQorshm({"-m", tableId, "-d", dir.Root(), "-t"});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(Contains(r.out, " 000000 : 07DEFA00 ")) << r.out;
    }
    r = RunQorshm({"-d", dir.Root(), "-t"});
    EXPECT_TRUE(StartsWith(r.out, "No session table under the root folder " + dir.Root() + ": " + idFile +
                                      " cannot be read (not a regular file)."))
        << r.out;
}

TEST_F(QorshmCli, SessionReportOfARealTable) {
    CZelSessionTable table;
    ASSERT_GE(ResultCode(table.Init(4, 1, 100)), 0);
    const int me = static_cast<int>(getpid());
    {
        setenv("REMOTE_ADDR", "10.0.0.5", 1);
        std::unique_ptr<CZelSessionTable::Record> h;
        ASSERT_EQ(table.Get(0u, h, true, true), Result::Success);
        h->SetDtpSessionId(2);
        h->SetLocap(CZelName("LOC1", 8));
        std::string pib(156, '\0');
        memcpy(&pib[8], "TRX1    ", 8);
        h->SetPib(CBuffer(pib.data(), 156));
        unsetenv("REMOTE_ADDR");
    }
    {
        std::unique_ptr<CZelSessionTable::Record> h;
        ASSERT_EQ(table.Get(0u, h, true, true), Result::Success);
        h->SetDtpSessionId(0x5A);
        h->SetLocap(CZelName("OLD", 8));
        h->Remove();                        // expired: host id left, local id 0
    }
    std::ofstream(dir.Logs() + "/.pid.qoric.log") << me << "\n";
    // Registered last: touching the table may clear dead processes.
    ForkedChild dead([](int, int) { return 0; });
    int deadPid = dead.Pid();
    ASSERT_EQ(dead.Wait(), 0);
    ASSERT_EQ(table.RegisterProcessID(me), Result::Success);
    ASSERT_EQ(table.RegisterProcessID(deadPid), Result::Success);

    RunResult r = RunQorshm({"-d", dir.Root(), "-t"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string &o = r.out;
    EXPECT_TRUE(StartsWith(o, "Shared memory id " + std::to_string(table.GetSharedMemoryId()) +
                                  " is 2944 bytes long\n\n"))
        << o;
    EXPECT_TRUE(Contains(o, "\n    4 possible QOR/ic sessions at ")) << o;
    EXPECT_TRUE(std::regex_search(o, std::regex("\n QOR/ic Processes     Last access \\d\\d:\\d\\d:\\d\\d\n"))) << o;
    EXPECT_TRUE(Contains(o, "  Logger: P" + std::to_string(me) + "  Cleaner: P0 \n Servers: P" +
                                std::to_string(me) + "  P" + std::to_string(deadPid) + " missing; \n"))
        << o;
    EXPECT_TRUE(Contains(o, "\nLocap    Client Adrs      Session          Trid      Accessed     Elapsed Server\n"))
        << o;
    // 10.0.0.5 has a zero second octet: the client column stays empty.
    std::string active = ReportColumns("LOC1    ", "", "L2:R1", "TRX1    ");
    ASSERT_TRUE(Contains(o, "\n" + active)) << o;
    EXPECT_TRUE(std::regex_search(o.substr(o.find(active) + active.size()),
                                  std::regex("^\\d\\d:\\d\\d:\\d\\d,      00:0\\d P" + std::to_string(me) + " \n")))
        << o;
    EXPECT_TRUE(Contains(o, "***   1 active of possible 4 sessions   ***\n")) << o;
    EXPECT_TRUE(Contains(o, "\nLocap    Client Adrs      Session          Trid      Expired      Elapsed\n")) << o;
    std::string gone = ReportColumns("OLD     ", "", "L5A", "");
    ASSERT_TRUE(Contains(o, "\n" + gone)) << o;
    EXPECT_TRUE(std::regex_search(o.substr(o.find(gone) + gone.size()),
                                  std::regex("^\\d\\d:\\d\\d:\\d\\d,      00:0\\d\n")))
        << o;
    EXPECT_TRUE(Contains(o, "***   1 expired of possible 4 sessions   ***\n")) << o;
    // The table's own lock file, on a line of its own.
    EXPECT_TRUE(Contains(o, "\n Lock file: " + table.GetLockFilePath() + "\n")) << o;
}

// ---------------------------------------------------------------------------
// Report pieces on crafted tables

struct Crafted {
    std::vector<unsigned char> bytes;
    ControlBlock &cb() { return *reinterpret_cast<ControlBlock *>(bytes.data()); }
    SessionRecord &rec(unsigned i) {
        return reinterpret_cast<SessionRecord *>(bytes.data() + kControlBlockSize)[i];
    }
    explicit Crafted(unsigned records) : bytes(SegmentSize(records), 0) { cb().marker = kMarker; }
    std::string Report(const std::string &root = "/nonexistent") {
        FILE *f = tmpfile();
        qorshmReport(f, bytes.data(), bytes.size(), root);
        std::string text(static_cast<size_t>(ftell(f)), '\0');
        rewind(f);
        size_t n = fread(&text[0], 1, text.size(), f);
        text.resize(n);
        fclose(f);
        return text;
    }
};

TEST(QorshmReport, RecordCountIsClampedToTheSegment) {
    Crafted t(3);
    t.cb().numberOfRecords = 1000000;
    for (unsigned i = 0; i < 3; ++i) {
        t.rec(i).localId = i + 1;
        t.rec(i).dtpId = 0x10 + i;
        t.rec(i).lastAccessed = TimeToWord(time(nullptr));
    }
    std::string o = t.Report();
    EXPECT_TRUE(StartsWith(o, "    3 possible QOR/ic sessions at ")) << o;
    // The stored count is shown beside the one used.
    EXPECT_TRUE(Contains(o, " (the table's count 1000000 is more than the segment holds)\n\n")) << o;
    EXPECT_TRUE(Contains(o, "***   3 active of possible 3 sessions   ***\n")) << o;
    t.cb().numberOfRecords = 3;
    EXPECT_FALSE(Contains(t.Report(), "the table's count")) << t.Report();
}

TEST(QorshmReport, EmptyCountGivesHeadAndProcessesOnly) {
    Crafted t(2);
    t.cb().numberOfRecords = 0;
    t.cb().cleanerPid = static_cast<int32_t>(getpid());
    for (int k = 0; k < 6; ++k) t.cb().registry[k] = static_cast<int32_t>(getpid());
    t.rec(0).localId = 1;
    t.rec(0).dtpId = 1;
    std::string o = t.Report();
    EXPECT_TRUE(StartsWith(o, "    0 possible QOR/ic sessions at ")) << o;
    std::string p = " P" + std::to_string(getpid()) + " ";
    EXPECT_TRUE(Contains(o, " Cleaner:" + p + "\n Servers:" + p + p + p + p + p + "\n        : " + p + "\n"))
        << o;
    EXPECT_FALSE(Contains(o, "Locap")) << o;
    EXPECT_FALSE(Contains(o, "***")) << o;
}

TEST(QorshmReport, LoggerPidFileThatHoldsNoNumber) {
    char templ[] = "/tmp/qor-qorshm-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string root = templ;
    ASSERT_EQ(mkdir((root + "/logs").c_str(), 0700), 0);
    Crafted t(1);
    t.cb().numberOfRecords = 1;
    std::ofstream(root + "/logs/.pid.qoric.log") << "\n";
    std::string o = t.Report(root);
    EXPECT_TRUE(Contains(o, "\n  Logger: P0  Cleaner: P0 \n Servers:\n")) << o;
    std::ofstream(root + "/logs/.pid.qoric.log") << getpid() << "\n";
    o = t.Report(root);
    EXPECT_TRUE(Contains(o, "\n  Logger: P" + std::to_string(getpid()) + "  Cleaner: P0 \n")) << o;
    unlink((root + "/logs/.pid.qoric.log").c_str());
    o = t.Report(root);
    EXPECT_TRUE(Contains(o, "\n Cleaner: P0 \n")) << o;
    EXPECT_FALSE(Contains(o, "Logger")) << o;
    rmdir((root + "/logs").c_str());
    rmdir(root.c_str());
}

TEST(QorshmReport, ClientColumnAndUnprintableFields) {
    Crafted t(3);
    t.cb().numberOfRecords = 3;
    // A dotted address that does not resolve to a name stays dotted.
    t.rec(0).localId = 1;
    t.rec(0).dtpId = 1;
    uint8_t addr[4] = {198, 51, 100, 77};     // documentation range, no reverse name
    memcpy(t.rec(0).clientAddr, addr, 4);
    memcpy(t.rec(0).locap, "AB\x01\x02\0\0\0\0", 8);   // unprintable bytes shown as dots
    std::string o = t.Report();
    EXPECT_TRUE(Contains(o, "\n" + ReportColumns("AB..", "198.51.100.77", "L1:R1", ""))) << o;
}

TEST(QorshmReport, ElapsedTimeText) {
    EXPECT_STREQ(elapsedTime(0), "     00:00");
    EXPECT_STREQ(elapsedTime(61), "     01:01");
    EXPECT_STREQ(elapsedTime(3599), "     59:59");
    EXPECT_STREQ(elapsedTime(3600), "   1:00:00");
    EXPECT_STREQ(elapsedTime(36000 * 10 + 62), " 100:01:02");
    EXPECT_STREQ(elapsedTime(-5), "     00:00");
}

}  // namespace
