// qorshm -l: every shared-memory segment of the machine, as "ipcs -m" names
// them, with size, use count, owner and group.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qorshm.h"

namespace {

// ipcs by absolute path with a fixed environment: the caller's PATH and
// locale never choose what runs or how its output looks.
const char *const kIpcsPaths[] = {"/usr/bin/ipcs", "/bin/ipcs"};

struct IpcsPipe {
    FILE *stream = nullptr;
    pid_t pid = -1;
};

bool startIpcs(IpcsPipe &p) {
    const char *path = nullptr;
    for (const char *candidate : kIpcsPaths) {
        if (access(candidate, X_OK) == 0) {
            path = candidate;
            break;
        }
    }
    if (!path) {
        errno = ENOENT;
        return false;
    }
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        close(fds[0]);
        close(fds[1]);
        errno = err;
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        char *const args[] = {const_cast<char *>("ipcs"), const_cast<char *>("-m"), nullptr};
        char *const env[] = {const_cast<char *>("PATH=/usr/bin:/bin"),
                             const_cast<char *>("LC_ALL=C"), nullptr};
        execve(path, args, env);
        _exit(127);
    }
    close(fds[1]);
    p.stream = fdopen(fds[0], "r");
    p.pid = pid;
    if (!p.stream) {
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        return false;
    }
    return true;
}

void stopIpcs(IpcsPipe &p) {
    if (p.stream) fclose(p.stream);
    if (p.pid > 0) {
        int status;
        while (waitpid(p.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string sizeText(unsigned long long size) {
    char text[32];
    if (size > 2097152)
        snprintf(text, sizeof text, "%lluM", size >> 20);
    else if (size > 10240)
        snprintf(text, sizeof text, "%lluK", size >> 10);
    else
        snprintf(text, sizeof text, "%llu ", size);
    return text;
}

std::string ownerText(uid_t uid) {
    char text[300];
    if (const passwd *pw = getpwuid(uid))
        snprintf(text, sizeof text, "%s(%d)", pw->pw_name, static_cast<int>(uid));
    else
        snprintf(text, sizeof text, "%d undefined", static_cast<int>(uid));
    return text;
}

std::string groupText(gid_t gid) {
    char text[300];
    if (const group *gr = getgrgid(gid))
        snprintf(text, sizeof text, "%s(%d)", gr->gr_name, static_cast<int>(gid));
    else
        snprintf(text, sizeof text, "%d undefined", static_cast<int>(gid));
    return text;
}

}  // namespace

int qorshmList() {
    IpcsPipe ipcs;
    if (!startIpcs(ipcs)) {
        printf("Error %s starting 'ipcs -m'\n", strerror(errno));
        return kQorshmFailure;
    }
    char line[256];
    int listed = 0;
    while (fgets(line, sizeof line, ipcs.stream)) {
        int id = 0;
        unsigned key = 0;
        if (strncmp(line, "m   ", 4) == 0 && strlen(line) > 5) {
            if (sscanf(line + 5, "%d %x", &id, &key) != 2) continue;
        } else if (strncmp(line, "0x", 2) == 0) {
            if (sscanf(line + 2, "%x %d", &key, &id) != 2) continue;
        } else {
            continue;
        }
        struct shmid_ds ds {};
        if (shmctl(id, IPC_STAT, &ds) != 0) {
            printf("Problem Stat %d errno %s\n", listed, strerror(errno));
            break;
        }
        if (listed++ == 0) printf("    Shmid     ShmKey     Size  #use  Owner / Group\n");
        printf("%9d 0x%08X %9s %4d  %s / %s\n", id, key,
               sizeText(static_cast<unsigned long long>(ds.shm_segsz)).c_str(),
               static_cast<int>(ds.shm_nattch), ownerText(ds.shm_perm.uid).c_str(),
               groupText(ds.shm_perm.gid).c_str());
    }
    stopIpcs(ipcs);
    return kQorshmFailure;
}
