// qorshm: the administrator's tool for System V shared memory on a gateway
// machine: list (-l), dump (-m id), remove (-r id) and decode the gateway's
// session table (-t).  Meant to be run by root; it attaches read-only.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include "ZelSessionTableLayout.h"
#include "gossig.h"
#include "logprint.h"
#include "qorshm.h"
#include "regularfile.h"

namespace {

constexpr size_t kMaxPath = PATH_MAX;

// Options and their results, as the command line leaves them.
struct Options {
    std::string root;           // installation root
    // Segment to show. Every number is an id: the first segment made after
    // a boot has id 0, and that is often the gateway's table.
    bool show = false;
    int shmId = -1;
    bool decode = false;        // -t: decode a session table
    bool list = false;          // -l
    bool removed = false;       // a -r succeeded
    FILE *out = stdout;         // dump or report
    std::string outName;
    std::string noTable;        // where and why the last -t found no table id
};

bool usagePending = true;

void usage(const char *prog) {
    if (!usagePending) return;
    usagePending = false;
    printf("QOR/ix shared memory display/dump\n");
    printf("      Shared memory and QOR/ic session table inspector\n");
    printf("%s options:\n", prog);
    printf(" -m shmid    Shared memory ID to display/dump\n");
    printf(" -o outfile  File to dump memory to; Default: stdout\n");
    printf(" -r shmid    Remove Shared memory ID\n");
    printf(" -l          List all shared memory usage\n");
    printf(" -t          Decode QOR/ic shared memory\n");
    printf("\n");
}

// A decimal number that is all of the text and fits an int.
bool parseId(const char *text, int &id) {
    if (!text || !*text) return false;
    errno = 0;
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return false;
    id = static_cast<int>(v);
    return true;
}

// An environment value that fits a path; longer ones are not used.
const char *boundedEnv(const char *name) {
    const char *v = getenv(name);
    if (v && strlen(v) >= kMaxPath) {
        printf("%s is too long; ignored\n", name);
        return nullptr;
    }
    return v;
}

// QORICCONFPATH less its last two components, else QORICROOT, else the
// default installation root.
std::string defaultRoot() {
    if (const char *conf = boundedEnv("QORICCONFPATH")) {
        std::string root = conf;
        for (int cut = 0; cut < 2; ++cut) {
            size_t slash = root.rfind('/');
            if (slash != std::string::npos) root.erase(slash);
        }
        return root;
    }
    if (const char *root = boundedEnv("QORICROOT")) return root;
    return "/usr/local/qoric/";
}

// -t: the gateway wrote its segment id into <root>/logs/.shmid.  A file
// that opens gives the decode switch, and the id when its first line is a
// number (else no segment to show); one that does not open changes nothing.
void readShmIdFile(Options &o) {
    std::string path = o.root + "/logs/.shmid";
    std::string why;
    UniqueFile f = OpenRegularFile(path, &why);
    if (!f) {
        o.noTable = "No session table under the root folder " + o.root + ": " + path + " cannot be read (" +
                    why + ").";
        return;
    }
    char line[64];
    int id = 0;
    bool haveId = false;
    if (fgets(line, sizeof line, f.get())) {
        line[strcspn(line, "\r\n")] = '\0';
        haveId = parseId(line, id);
    }
    f.reset();
    o.show = haveId;
    o.shmId = haveId ? id : -1;
    o.decode = true;
    o.noTable = haveId ? std::string()
                       : "No session table under the root folder " + o.root + ": " + path + " holds no segment id.";
}

void openOutput(Options &o, const char *name) {
    FILE *f = fopen(name, "w");
    if (!f) {
        printf("Error '%s' opening '%s'\n", strerror(errno), name);
        return;
    }
    if (o.out != stdout) fclose(o.out);
    o.out = f;
    o.outName = name;
}

void removeSegment(Options &o, const char *arg) {
    int id = 0;
    if (!parseId(arg, id)) {
        printf("Error '%s' removing '%s'\n", strerror(EINVAL), arg);
        return;
    }
    if (shmctl(id, IPC_RMID, nullptr) != 0) {
        printf("Error '%s' removing '%s'\n", strerror(errno), arg);
        return;
    }
    printf("Shared memory '%s' has been removed\n", arg);
    o.removed = true;
}

// Hex dump of the whole segment, in pieces that fit the dumper's int length.
void dumpSegment(FILE *out, const unsigned char *p, size_t size) {
    const size_t piece = 1u << 30;
    for (size_t at = 0; at < size; at += piece) {
        size_t n = size - at < piece ? size - at : piece;
        dumpHex(out, p + at, static_cast<unsigned>(at), static_cast<int>(n), nullptr);
    }
}

int showSegment(Options &o) {
    struct shmid_ds ds {};
    if (shmctl(o.shmId, IPC_STAT, &ds) != 0) {
        printf("Unable to attach %d; '%s'\n", o.shmId, strerror(errno));
        return kQorshmFailure;
    }
    const size_t size = ds.shm_segsz;
    fprintf(o.out, "Shared memory id %d is %d bytes long\n\n", o.shmId, static_cast<int>(size));
    void *p = shmat(o.shmId, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void *>(-1)) {
        printf("Unable to address %d; '%s'\n", o.shmId, strerror(errno));
        return kQorshmFailure;
    }
    const auto *cb = static_cast<const sesstbl::ControlBlock *>(p);
    if (o.decode && size >= sizeof(sesstbl::ControlBlock) && cb->marker == sesstbl::kMarker) {
        qorshmReport(o.out, p, size, o.root);
        fprintf(o.out, "\n Lock file: %s\n", sesstbl::LockFilePath(static_cast<int32_t>(ds.shm_perm.__key)).c_str());
    } else
        dumpSegment(o.out, static_cast<const unsigned char *>(p), size);
    shmdt(p);
    if (o.out != stdout) {
        fclose(o.out);
        o.out = stdout;
        printf("Shared memory id %d dumped to %s\n\n", o.shmId, o.outName.c_str());
    }
    fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    qorIgnoreSigPipe();
    // Meant for root; a normal user keeps the rights they have.
    if (setuid(0) != 0) { /* not root: carry on with the caller's rights */ }
    if (setuid(0) != 0) { /* as above */ }

    Options o;
    o.root = defaultRoot();
    const char *prog = argc > 0 ? argv[0] : "qorshm";

    int c;
    while ((c = getopt(argc, argv, "tlhm:o:r:d:")) != -1) {
        switch (c) {
        case 'm': {
            // Only the id: after -t the segment is still decoded.
            int id = 0;
            o.show = parseId(optarg, id);
            o.shmId = o.show ? id : -1;
            o.noTable.clear();
            break;
        }
        case 'l':
            o.show = false;
            o.shmId = -1;
            o.list = true;
            o.noTable.clear();
            break;
        case 't':
            readShmIdFile(o);
            break;
        case 'o':
            openOutput(o, optarg);
            break;
        case 'r':
            removeSegment(o, optarg);
            break;
        case 'd':
            if (strlen(optarg) >= kMaxPath)
                printf("Root directory is too long; ignored\n");
            else
                o.root = optarg;
            break;
        case 'h':
            usage(prog);
            return 0;
        default:
            usage(prog);
            break;
        }
    }

    if (o.show) return showSegment(o);
    // The usage text does not say where -t looks: one line says it first.
    if (!o.noTable.empty())
        printf("%s -d, given before -t, names the gateway's root folder (the parent of its working "
               "folder, holding logs/.shmid).\n",
               o.noTable.c_str());
    if (!o.list) {
        if (o.removed) return 0;
        usage(prog);
    }
    fflush(stdout);
    return qorshmList();
}
