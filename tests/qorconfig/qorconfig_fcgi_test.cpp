// qorconfig as a web server runs it: the program listens on descriptor 0
// and each request comes through cgi-fcgi (the web server's side of
// FastCGI), with the form posted as the request body.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "ZelSessionTable.h"
#include "editor_test_util.h"
#include "sesstbl/own_key_folder.h"

namespace {

using edtest::ReadFile;
using edtest::WriteFile;

const std::string kHead =
    "Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n<html>\n"
    "<head><title>QOR/ic Configuration Display</title></head>\n<body>\n";
const std::string kTail = "</body>\n</html>\n";

// How the editor process is run: as another user, with a limit on the
// size of the files it writes, and with the request files in a folder
// other than its working folder.
struct EditorOptions {
    uid_t uid = 0;                   // 0: as the test runs
    gid_t gid = 0;
    rlim_t fileSizeLimit = RLIM_INFINITY;
    std::string ioDir;               // empty: the working folder
    std::string program = QORCONFIG_PATH;
};

// A running qorconfig with its listening socket; killed and reaped at the end.
class Editor {
public:
    Editor(const std::string &dir, const std::vector<std::string> &env,
           const EditorOptions &opt = EditorOptions())
        : dir_(opt.ioDir.empty() ? dir : opt.ioDir) {
        // A socket path must stay short, wherever the tree lies.
        char sockTmpl[] = "/tmp/qedit-XXXXXX";
        if (mkdtemp(sockTmpl)) sockDir_ = sockTmpl;
        const std::string sock = socketPath();
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            listen(fd, 5) != 0) {
            ADD_FAILURE() << "cannot listen on " << sock;
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fd, 0);
            close(fd);
            if (opt.uid != 0 && (setgroups(0, nullptr) != 0 || setgid(opt.gid) != 0 ||
                                 setuid(opt.uid) != 0))
                _exit(125);
            if (opt.fileSizeLimit != RLIM_INFINITY) {
                // A write past the limit then fails with EFBIG instead of
                // ending the process.
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{opt.fileSizeLimit, opt.fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (chdir(dir.c_str()) != 0) _exit(126);
            std::vector<char *> envp;
            std::vector<std::string> keep(env);
            for (auto &e : keep) envp.push_back(&e[0]);
            envp.push_back(nullptr);
            execle(opt.program.c_str(), "qorconfig", static_cast<char *>(nullptr), envp.data());
            _exit(127);
        }
        close(fd);
    }
    ~Editor() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (!sockDir_.empty()) {
            unlink(socketPath().c_str());
            rmdir(sockDir_.c_str());
        }
    }

    // One POST through cgi-fcgi; its whole output.
    std::string Post(const std::string &body, const std::string &extraEnv = "") {
        WriteFile(dir_ + "/body", body);
        const std::string cmd = "cd '" + dir_ + "' && env -i REQUEST_METHOD=POST "
                                "CONTENT_TYPE=application/x-www-form-urlencoded CONTENT_LENGTH=" +
                                std::to_string(body.size()) + " " + extraEnv +
                                " timeout 20 cgi-fcgi -bind -connect '" + socketPath() + "' <body >out 2>err";
        if (std::system(cmd.c_str()) != 0) return "<cgi-fcgi failed>";
        return ReadFile(dir_ + "/out");
    }

private:
    std::string socketPath() const { return sockDir_ + "/editor.sock"; }

    std::string dir_;
    std::string sockDir_;
    pid_t pid_ = -1;
};

std::string Scalars() {
    return "ServerRoot=%2Fusr%2Flocal%2Fqoric&ServerAdmin=a%41b+c%2Bd&RegularStore=%2Fr&Cache=%2Fc"
           "&ThisLocap=ICL&AdditionalHtml=&DefaultStylesheet=&FccModsSupport=full"
           "&OnPRENPage=p.htx&OnErrorPage=e.htx&InstanceCleanup=120&SystemCleanup=240"
           "&MaxSessions=16&LocapCount=1&LocapName0=A&LocapHost0=h&LocapPort0=7000&DefaultLocap=0"
           "&TransactionCount=1&TransactionName0=T&TransactionId0=P&nextaction=write_file";
}

TEST(QorconfigFastCgi, WithoutAConfiguredPathTheErrorPage) {
    edtest::TempDir dir;
    Editor editor(dir.path(), {});
    EXPECT_EQ(editor.Post(""), kHead +
                                   "qorconfig: Error: path to the qoric config file is not set in "
                                   "the web server configuration!" +
                                   kTail);
}

TEST(QorconfigFastCgi, ShowSaveAndRefuseThroughTheProtocol) {
    edtest::TempDir dir;
    const std::string conf = dir.file("qoric.conf");
    WriteFile(conf, "<ZelConf><ServerAdmin value=\"before\"/></ZelConf>");
    WriteFile(dir.file("victim"), "keep me");
    Editor editor(dir.path(), {"QORICCONFPATH=" + conf, "SCRIPT_NAME=/cgi/qorconfig"});

    std::string page = editor.Post("");
    ASSERT_EQ(page.rfind(kHead + "<h2><font color=\"teal\"> QOR/ic Configuration </font></h2> \n"
                                 "<form action=\"/cgi/qorconfig\" method=\"post\">\n",
                         0),
              0u)
        << page;
    EXPECT_EQ(page.substr(page.size() - kTail.size()), kTail);
    EXPECT_NE(page.find("value=\"before\">"), std::string::npos);

    EXPECT_EQ(editor.Post("nextaction=nowrite"),
              kHead + "<h2>qorconfig: error dispatch request, unknown action [nowrite]</h2>\n" +
                  kTail);

    // A posted ConfigFile or ScriptName changes nothing.
    page = editor.Post(Scalars() + "&ConfigFile=" + dir.file("victim") + "&ScriptName=%22evil");
    EXPECT_EQ(ReadFile(dir.file("victim")), "keep me");
    EXPECT_NE(page.find("<form action=\"/cgi/qorconfig\""), std::string::npos);
    const std::string saved = ReadFile(conf);
    EXPECT_NE(saved.find("<ServerAdmin value=\"aAb c+d\"/>\n"), std::string::npos);
    EXPECT_NE(saved.find("<Locap name=\"A\" address=\"h\" port=\"7000\" default=\"yes\"/>\n"),
              std::string::npos);
    EXPECT_NE(page.find("value=\"aAb c+d\">"), std::string::npos);   // the new file shown

    // A refused save.
    page = editor.Post("Cache=%22&" + Scalars());
    EXPECT_EQ(page, kHead + "<br>zelconfig: Error: Can't save config file!<br>"
                            "the value of Cache contains a double quote<br>" +
                        kTail);
    EXPECT_EQ(ReadFile(conf), saved);

    // A body over the cap: the save is refused, the process carries on.
    page = editor.Post(Scalars() + "&pad=" + std::string(1024 * 1024, 'x'));
    EXPECT_NE(page.find("was not read whole"), std::string::npos);
    EXPECT_EQ(ReadFile(conf), saved);
    EXPECT_NE(editor.Post("").find("value=\"aAb c+d\">"), std::string::npos);
}

TEST(QorconfigFastCgi, TestPathFromTheEnvironmentWins) {
    edtest::TempDir dir;
    WriteFile(dir.file("a.conf"), "<ServerAdmin value=\"from-a\"/>");
    WriteFile(dir.file("b.conf"), "<ServerAdmin value=\"from-b\"/>");
    Editor editor(dir.path(), {"QORICCONFPATH=" + dir.file("a.conf"),
                               "QORICCONFPATHTEST=" + dir.file("b.conf")});
    EXPECT_NE(editor.Post("").find("value=\"from-b\">"), std::string::npos);

    // An empty test path does not count.
    const std::string two = dir.file("two");
    mkdir(two.c_str(), 0700);
    Editor other(two, {"QORICCONFPATH=" + dir.file("a.conf"), "QORICCONFPATHTEST="});
    EXPECT_NE(other.Post("").find("value=\"from-a\">"), std::string::npos);
}

// Stamping needs a gateway table in the editor's working directory; the
// test makes one in a forked child (the table's key comes from the working
// directory) and removes it at the end.
TEST(QorconfigFastCgi, SaveStampsTheGatewayTableOnlyWhenOneExists) {
    edtest::TempDir dir;
    const std::string work = dir.file("work");
    sesstbl::MakeFolderWithOwnKey(work, 0700);
    mkdir(dir.file("logs").c_str(), 0700);
    const std::string conf = dir.file("qoric.conf");
    WriteFile(conf, "<ZelConf/>");
    Editor editor(work, {"QORICCONFPATH=" + conf});

    const key_t key = ftok(work.c_str(), 'j');
    ASSERT_NE(key, -1);
    // No table: the file is written, the form shown, nothing is created.
    std::string page = editor.Post(Scalars());
    EXPECT_NE(page.find("<form action"), std::string::npos) << page;
    EXPECT_NE(ReadFile(conf).find("aAb c+d"), std::string::npos);
    EXPECT_LT(shmget(key, 0, 0600), 0);
    EXPECT_NE(access(dir.file("logs/.shmid").c_str(), F_OK), 0);

    pid_t child = fork();
    if (child == 0) {
        if (chdir(work.c_str()) != 0) _exit(1);
        CZelSessionTable table;
        _exit(ResultCode(table.Init(4, 1, 150000)) >= 0 ? 0 : 2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const int shmid = shmget(key, 0, 0600);
    ASSERT_GE(shmid, 0);
    void *mem = shmat(shmid, nullptr, SHM_RDONLY);
    ASSERT_NE(mem, reinterpret_cast<void *>(-1));
    const auto *cb = static_cast<const sesstbl::ControlBlock *>(mem);
    const uint32_t stampBefore = cb->lastReconfigured;

    const uint32_t t0 = static_cast<uint32_t>(std::time(nullptr));
    page = editor.Post(Scalars());
    const uint32_t t1 = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_NE(page.find("<form action"), std::string::npos);
    // The editor, which lives on, let the table go: only this test holds it.
    struct shmid_ds ds {};
    ASSERT_EQ(shmctl(shmid, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_nattch, 1u);
    uint32_t stamp = 0;
    std::memcpy(&stamp, static_cast<const char *>(mem) + 12, sizeof stamp);
    EXPECT_NE(stamp, stampBefore);
    EXPECT_GE(stamp, t0);
    EXPECT_LE(stamp, t1);

    shmdt(mem);
    shmctl(shmid, IPC_RMID, nullptr);
    unlink(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str());
}

// A private folder under /tmp (short socket paths), removed at the end.
struct ShortDir {
    std::string path;
    ShortDir() {
        char tmpl[] = "/tmp/qcfgXXXXXX";
        path = mkdtemp(tmpl) ? tmpl : "";
        chmod(path.c_str(), 0755);
    }
    ~ShortDir() {
        const std::string cmd = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
        if (!path.empty() && std::system(cmd.c_str()) != 0) std::perror("cleanup");
    }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

ino_t InodeOf(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A folder the editor may not write, holding a file it may write (the
// folder root's, the file the editor user's): the file is saved in place,
// and when writing fails its old text goes back.
TEST(QorconfigFastCgi, WhereOnlyTheFileIsWritableItIsSavedInPlace) {
    ShortDir io;
    const std::string conf = io.file("conf");
    ASSERT_EQ(mkdir(conf.c_str(), 0755), 0);
    const std::string file = conf + "/qoric.conf";
    const std::string old = "<ZelConf><ServerAdmin value=\"old\"/><LogLevel value=\"debug\"/></ZelConf>\n";
    WriteFile(file, old);
    chmod(file.c_str(), 0640);
    EditorOptions run;
    run.ioDir = io.path;
    if (geteuid() == 0) {
        // As root every folder is writable: the editor runs as nobody.
        const passwd *nobody = getpwnam("nobody");
        if (!nobody) GTEST_SKIP() << "no user nobody";
        run.uid = nobody->pw_uid;
        run.gid = nobody->pw_gid;
        ASSERT_EQ(chown(file.c_str(), run.uid, run.gid), 0);
        chmod(io.path.c_str(), 0777);   // its socket
        // The build folder may lie where only root may enter (a clone in
        // root's home): nobody runs a copy of the editor from this folder.
        run.program = io.file("qorconfig");
        ASSERT_EQ(std::system(("cp '" + std::string(QORCONFIG_PATH) + "' '" + run.program + "'").c_str()), 0);
        chmod(run.program.c_str(), 0755);
    } else {
        chmod(conf.c_str(), 0555);
    }
    const ino_t inode = InodeOf(file);
    {
        Editor editor(conf, {"QORICCONFPATH=" + file}, run);
        const std::string page = editor.Post(Scalars());
        EXPECT_NE(page.find("<form action"), std::string::npos) << page;
        const std::string saved = ReadFile(file);
        EXPECT_NE(saved.find("<ServerAdmin value=\"aAb c+d\"/>"), std::string::npos);
        EXPECT_NE(saved.find("<LogLevel value=\"debug\"/>"), std::string::npos);
        EXPECT_EQ(InodeOf(file), inode);
    }
    // A write that fails part-way (the file may grow no further than 1000
    // bytes, the new text is longer): the old text is back.
    WriteFile(file, old);
    run.fileSizeLimit = 1000;
    Editor limited(conf, {"QORICCONFPATH=" + file}, run);
    const std::string page = limited.Post(Scalars());
    EXPECT_NE(page.find("Can't save config file"), std::string::npos) << page;
    EXPECT_NE(page.find("its old text was written back"), std::string::npos) << page;
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(InodeOf(file), inode);
}

// Temporary files of earlier saves that were left behind: only the
// editor's own, of this file, older than a minute are removed. A save
// that fails while writing its temporary file leaves nothing behind.
TEST(QorconfigFastCgi, LeftoverTemporaryFilesAndAFailedTemporaryFile) {
    ShortDir io;
    const std::string file = io.file("qoric.conf");
    const std::string old = "<ZelConf><ServerAdmin value=\"old\"/></ZelConf>\n";
    WriteFile(file, old);
    const time_t longAgo = std::time(nullptr) - 120;
    const struct {
        const char *name;
        bool old, otherOwner, removed;
    } leftovers[] = {
        {"qoric.conf.qorconfig-save.Ab12Cd", true, false, true},
        {"qoric.conf.qorconfig-save.Xy34Zw", false, false, false},   // a save going on now
        {"qoric.conf.qorconfig-save.Mn56Op", true, true, false},     // another user's
        {"qoric.conf.backup", true, false, false},
        {"other.conf.qorconfig-save.Qr78St", true, false, false},
        {"qoric.conf.qorconfig-save.toolong1", true, false, false},
    };
    const bool root = geteuid() == 0;
    for (const auto &l : leftovers) {
        WriteFile(io.file(l.name), "x");
        if (l.otherOwner && root && chown(io.file(l.name).c_str(), 65534, 65534) != 0) FAIL();
        if (l.old) {
            const timeval times[2] = {{longAgo, 0}, {longAgo, 0}};
            utimes(io.file(l.name).c_str(), times);
        }
    }
    EditorOptions run;
    run.fileSizeLimit = 1000;
    Editor limited(io.path, {"QORICCONFPATH=" + file}, run);
    const std::string page = limited.Post(Scalars());
    EXPECT_NE(page.find("cannot write " + file + ".qorconfig-save."), std::string::npos) << page;
    EXPECT_EQ(ReadFile(file), old);
    for (const auto &l : leftovers) {
        if (l.otherOwner && !root) continue;
        EXPECT_EQ(access(io.file(l.name).c_str(), F_OK) != 0, l.removed) << l.name;
    }
    // Nothing new beside the file: the failed temporary file is gone.
    const std::string listing = io.path + "/listing";
    ASSERT_EQ(std::system(("ls -A '" + io.path + "' | grep -c qorconfig-save >'" + listing + "'").c_str()), 0);
    EXPECT_EQ(ReadFile(listing), root ? "4\n" : "3\n");
}

}  // namespace
