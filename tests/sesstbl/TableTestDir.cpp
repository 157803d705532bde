#include "TableTestDir.h"

#include "ZelSessionTableLayout.h"
#include "sesstbl/own_key_folder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/ipc.h>
#include <cstring>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TableTestDir::TableTestDir() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) m_oldCwd = cwd;
    char templ[] = "/tmp/qor-sesstbl-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    m_base = templ;
    m_root = m_base + "/root";
    mkdir(m_root.c_str(), 0700);
    sesstbl::MakeFolderWithOwnKey(Work(), 0700);
    mkdir(Logs().c_str(), 0700);
    if (chdir(Work().c_str()) != 0) throw std::runtime_error("chdir failed");
}

TableTestDir::~TableTestDir() {
    const key_t key = Key();
    RemoveSegments();
    // The table's own lock file goes with it.
    if (key != -1) unlink(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str());
    if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) {
    }
    std::error_code ec;
    std::filesystem::remove_all(m_base, ec);
}

key_t TableTestDir::Key() const { return ftok(Work().c_str(), 'j'); }

void TableTestDir::RemoveSegments() {
    key_t key = Key();
    for (int guard = 0; key != -1 && guard < 16; ++guard) {
        int id = shmget(key, 0, 0);
        if (id < 0 || shmctl(id, IPC_RMID, nullptr) != 0) break;
    }
    for (int id : m_extra) shmctl(id, IPC_RMID, nullptr);
    m_extra.clear();
}

ForkedChild::ForkedChild(const std::function<int(int, int)> &body) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) throw std::runtime_error("pipe failed");
    fflush(nullptr);
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        close(up[0]);
        close(down[1]);
        int rc = 100;
        try {
            rc = body(up[1], down[0]);
        } catch (...) {
            rc = 101;
        }
        _exit(rc);
    }
    close(up[1]);
    close(down[0]);
    m_ready = up[0];
    m_command = down[1];
}

ForkedChild::~ForkedChild() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_ready >= 0) close(m_ready);
    if (m_command >= 0) close(m_command);
}

bool ForkedChild::WaitReady(int timeoutMs) {
    struct pollfd p {m_ready, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    char c;
    return read(m_ready, &c, 1) == 1;
}

void ForkedChild::Release() {
    char c = 'g';
    if (write(m_command, &c, 1) != 1) {
    }
}

int ForkedChild::Wait(int timeoutMs) {
    if (m_pid <= 0) return -1;
    for (int waited = 0;; waited += 5) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -1;
        }
        if (waited >= timeoutMs) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        usleep(5000);
    }
}

void ChildAwait(int command) {
    char c;
    while (read(command, &c, 1) < 0 && errno == EINTR) {
    }
}

void ChildReady(int ready) {
    char c = 'r';
    if (write(ready, &c, 1) != 1) {
    }
}
