// The host pools: descriptors, attaching and mapping, and the reports.
#include "vmu.h"

#include "logprint.h"
#include "qorfiles.h"
#include "regularfile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Pool {
    vmu desc{};
    char *base = nullptr;  // setupVmu's mapping of the whole pool
    bool writable = false;
};

// One pmMap: what to undo, and the address handed out.
struct Mapping {
    int pool;
    char *base;      // what shmat or mmap returned
    size_t length;   // mmap only
    char *given;
};

// The library's putenv keeps the caller's pointer: each variable has two
// strings, the one in the environment and the one that replaces it next.
struct EnvSlots {
    std::string text[2];
    int current = 0;
};

struct State {
    Pool pools[kVmuPools];
    std::vector<Mapping> maps;
    EnvSlots vmem, mmapFd;  // QORVMEM, QORMMAPFD
};

State &state()
{
    static State s;
    return s;
}

bool validPool(int pool) { return pool >= 0 && pool < kVmuPools; }

void exportEnv(EnvSlots &slots, const std::string &text)
{
    slots.current = 1 - slots.current;
    slots.text[slots.current] = text;
    putenv(&slots.text[slots.current][0]);
}

// The QORMMAPFD descriptor, or -1.
int mmapFd()
{
    const char *v = std::getenv("QORMMAPFD");
    if (!v || !*v)
        return -1;
    char *end = nullptr;
    const long fd = std::strtol(v, &end, 16);
    return *end == '\0' && fd >= 0 && fd < 65536 ? static_cast<int>(fd) : -1;
}

// Reads up to 8 hexadecimal digits ending at stop; false otherwise.
bool hex32(const char *&p, char stop, uint32_t &out)
{
    uint32_t v = 0;
    int digits = 0;
    for (; *p && *p != stop; ++p, ++digits) {
        const char c = *p;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (digits == 8)
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    out = v;
    return digits > 0;
}

void detachAll()
{
    State &s = state();
    for (const Mapping &m : s.maps) {
        if (m.length)
            munmap(m.base, m.length);
        else
            shmdt(m.base);
    }
    s.maps.clear();
    for (Pool &p : s.pools) {
        p.base = nullptr;
        p.desc = vmu{};
    }
}

} // namespace

int parseVmuText(const char *text, vmu pools[kVmuPools])
{
    if (!text)
        return 0;
    int n = 0;
    const char *p = text;
    while (*p) {
        if (n == kVmuPools) {
            logPrintf("#error: %s unparseable\n", text);
            return -1;
        }
        const char type = *p++;
        if (type != 'S' && type != 'M') {
            logPrintf("#%s has unknown type %c\n", text, type);
            return -1;
        }
        vmu d{type, 0, 0};
        if (!hex32(p, '/', d.param) || *p++ != '/' || !hex32(p, ',', d.size) || d.size == 0) {
            logPrintf("#error: %s unparseable\n", text);
            return -1;
        }
        pools[n++] = d;
        if (*p == ',' && *++p == '\0') {
            logPrintf("#error: %s unparseable\n", text);
            return -1;
        }
    }
    return n;
}

std::string vmuText(const vmu pools[kVmuPools])
{
    std::string out;
    for (int i = 0; i < kVmuPools; ++i) {
        if (pools[i].type == 0 || pools[i].size == 0)
            continue;
        char one[32];
        snprintf(one, sizeof one, "%c%x/%x", static_cast<char>(pools[i].type),
                 static_cast<unsigned>(pools[i].param), static_cast<unsigned>(pools[i].size));
        if (!out.empty())
            out += ',';
        out += one;
    }
    return out;
}

int openMmap(const char *path)
{
    const int fd = path ? open(path, O_RDWR | O_CLOEXEC) : -1;
    if (fd < 0) {
        logPrintf("#openMmap %s: %s\n", path ? path : "(none)", std::strerror(errno));
        return -1;
    }
    // Child processes get the descriptor: it must survive exec.
    fcntl(fd, F_SETFD, 0);
    char text[32];
    snprintf(text, sizeof text, "%s=%x", "QORMMAPFD", static_cast<unsigned>(fd));
    exportEnv(state().mmapFd, text);
    return fd;
}

void *pmMap(bool writable, int pool, uint32_t offset, uint32_t size, void *address)
{
    if (!validPool(pool))
        return nullptr;
    State &s = state();
    const vmu d = s.pools[pool].desc;
    if (d.type == 0 || offset > d.size || size > d.size - offset) {
        logPrintf("#pmMap: pool %d has no bytes %u..%u\n", pool, offset, offset + size);
        return nullptr;
    }
    // The descriptor comes from the boot block or the environment: the
    // memory behind it must really hold the bytes it claims, or a read of
    // the pool would run past the mapping.
    if (d.type == 'S') {
        shmid_ds ds{};
        if (shmctl(static_cast<int>(d.param), IPC_STAT, &ds) == 0 && ds.shm_segsz < d.size) {
            logPrintf("#pmMap: segment %u of pool %d has %zu bytes, not %u\n", d.param, pool,
                      static_cast<size_t>(ds.shm_segsz), d.size);
            return nullptr;
        }
        void *at = shmat(static_cast<int>(d.param), address, writable ? 0 : SHM_RDONLY);
        if (at == reinterpret_cast<void *>(-1)) {
            logPrintf("#pmMap (shmem) failed: %s\n", std::strerror(errno));
            return nullptr;
        }
        char *base = static_cast<char *>(at);
        s.maps.push_back({pool, base, 0, base + offset});
        return base + offset;
    }
    // A device part: mmap needs a page-aligned file offset.
    const int fd = mmapFd();
    const uint64_t fileOffset = uint64_t{d.param} + offset;
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) < fileOffset + size) {
        logPrintf("#pmMap: file of pool %d has %lld bytes, not 0x%llx\n", pool,
                  static_cast<long long>(st.st_size), static_cast<unsigned long long>(fileOffset + size));
        return nullptr;
    }
    const long pageSize = sysconf(_SC_PAGESIZE);
    const uint64_t slack = fileOffset % static_cast<uint64_t>(pageSize);
    void *at = fd < 0 ? MAP_FAILED
                      : mmap(address ? static_cast<char *>(address) - slack : nullptr, size + slack,
                             writable ? PROT_READ | PROT_WRITE : PROT_READ,
                             MAP_SHARED | (address ? MAP_FIXED_NOREPLACE : 0), fd,
                             static_cast<off_t>(fileOffset - slack));
    if (at == MAP_FAILED) {
        logPrintf("#pmMap (mmap) failed: %s; fd %d offset 0x%llx size 0x%x address %p\n",
                  fd < 0 ? "no QORMMAPFD" : std::strerror(errno), fd,
                  static_cast<unsigned long long>(fileOffset), size, address);
        return nullptr;
    }
    char *base = static_cast<char *>(at);
    s.maps.push_back({pool, base, size + slack, base + slack});
    return base + slack;
}

int pmUnmap(int pool, void *address, uint32_t)
{
    State &s = state();
    for (auto it = s.maps.begin(); it != s.maps.end(); ++it) {
        if (it->pool != pool || it->given != address)
            continue;
        const int rc = it->length ? munmap(it->base, it->length) : shmdt(it->base);
        for (Pool &p : s.pools)
            if (p.base == it->given)
                p.base = nullptr;
        s.maps.erase(it);
        return rc == 0 ? 0 : -1;
    }
    return -1;
}

char *pmGetMap(int pool, uint32_t *size)
{
    if (!validPool(pool))
        return nullptr;
    Pool &p = state().pools[pool];
    if (size)
        *size = p.base ? p.desc.size : 0;
    return p.base;
}

bool pmWritable(int pool)
{
    return validPool(pool) && state().pools[pool].base && state().pools[pool].writable;
}

int setupVmu(bool writable, VmuBoot *boot)
{
    detachAll();
    vmu wanted[kVmuPools] = {};
    if (boot) {
        for (int i = 0; i < kVmuPools; ++i)
            wanted[i] = boot->pool[i];
    } else if (parseVmuText(std::getenv("QORVMEM"), wanted) < 0) {
        return -1;
    }
    State &s = state();
    int attached = 0;
    for (int i = 0; i < kVmuPools; ++i) {
        vmu d = wanted[i];
        if (d.type == 0 || d.size == 0)
            continue;
        bool created = false;
        if (d.type == 'S' && d.param == kVmuNone) {
            const int id = writable ? shmget(IPC_PRIVATE, d.size, IPC_CREAT | 0600) : -1;
            if (id < 0) {
                logPrintf("#setupVmu: cannot create pool %d of %u bytes: %s\n", i, d.size,
                          writable ? std::strerror(errno) : "read-only");
                detachAll();
                return -1;
            }
            d.param = static_cast<uint32_t>(id);
            if (boot)
                boot->pool[i].param = d.param;
            created = true;
        }
        s.pools[i].desc = d;
        s.pools[i].writable = writable;
        s.pools[i].base = static_cast<char *>(pmMap(writable, i, 0, d.size, nullptr));
        if (!s.pools[i].base) {
            if (created)
                shmctl(static_cast<int>(d.param), IPC_RMID, nullptr);
            detachAll();
            return -1;
        }
        if (created)
            pmInit(i, d.size);
        ++attached;
    }
    if (attached > 0) {
        vmu now[kVmuPools];
        for (int i = 0; i < kVmuPools; ++i)
            now[i] = s.pools[i].desc;
        exportEnv(s.vmem, "QORVMEM=" + vmuText(now));
    }
    return attached;
}

int destroyVmu(VmuBoot *boot)
{
    State &s = state();
    vmu pools[kVmuPools];
    for (int i = 0; i < kVmuPools; ++i)
        pools[i] = boot ? boot->pool[i] : s.pools[i].desc;
    detachAll();
    int rc = 0;
    for (int i = 0; i < kVmuPools; ++i) {
        if (pools[i].type != 'S' || pools[i].param == kVmuNone)
            continue;
        if (shmctl(static_cast<int>(pools[i].param), IPC_RMID, nullptr) != 0 && errno != EINVAL &&
            errno != EIDRM)
            rc = -1;
        if (boot)
            boot->pool[i].param = kVmuNone;
    }
    return rc;
}

std::string badAddrOf(const char *file, int line, const void *address, uint32_t offset)
{
    const char *at = static_cast<const char *>(address);
    char where[32] = "outside every pool";
    for (int i = 0; i < kVmuPools; ++i) {
        uint32_t size = 0;
        const char *base = pmGetMap(i, &size);
        if (base && at >= base && at < base + size) {
            snprintf(where, sizeof where, "in pool %d", i);
            break;
        }
    }
    char text[256];
    snprintf(text, sizeof text, "%s:%d: bad address %p (offset 0x%x) %s", file ? file : "?", line,
             address, offset, where);
    return text;
}

int writeHistory(const char *fmt, ...)
{
    const std::string path = qorixroot() + "log/HISTORY";
    // Appended to without waiting: a FIFO put at the path is refused.
    FILE *f = OpenRegularFileToWrite(path, O_WRONLY | O_CREAT | O_APPEND).release();
    if (!f)
        return -1;
    const time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmNow);
    std::fprintf(f, "%s P%d ", stamp, static_cast<int>(getpid()));
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    const size_t len = std::strlen(fmt);
    if (len == 0 || fmt[len - 1] != '\n')
        std::fputc('\n', f);
    return std::fclose(f) == 0 ? 0 : -1;
}
