// qorshm -t: the gateway's session table as a report of its processes, its
// active sessions and its expired sessions.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <string>

#include "ZelSessionTableLayout.h"
#include "qorshm.h"
#include "regularfile.h"

using namespace sesstbl;

namespace {

constexpr size_t kMaxHostName = 23;

// A process that no longer exists (a pid of 0 or below names none).
bool isMissing(int pid) {
    if (pid <= 0) return false;
    errno = 0;
    kill(pid, 0);
    return errno == ESRCH;
}

const char *missingMark(int pid) { return isMissing(pid) ? " missing;" : ""; }

// A fixed-width text field of the table: up to its first NUL, with
// unprintable bytes shown as '.'.
std::string fieldText(const void *p, size_t n) {
    const char *s = static_cast<const char *>(p);
    std::string text(s, strnlen(s, n));
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '.';
    return text;
}

// Dotted address (or its host name) when the first two octets are set.
std::string clientText(const uint8_t addr[4]) {
    if (addr[0] == 0 || addr[1] == 0) return std::string();
    char dotted[16];
    snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", addr[0], addr[1], addr[2], addr[3]);
    struct in_addr in {};
    memcpy(&in.s_addr, addr, 4);
    if (const hostent *h = gethostbyaddr(&in, sizeof in, AF_INET)) {
        if (h->h_name) return std::string(h->h_name, strnlen(h->h_name, kMaxHostName));
    }
    return dotted;
}

struct tm localTime(time_t t) {
    struct tm tmv {};
    if (!localtime_r(&t, &tmv)) memset(&tmv, 0, sizeof tmv);
    return tmv;
}

long elapsedSince(time_t now, uint32_t word) {
    long d = static_cast<long>(now - WordToTime(word));
    return d < 0 ? 0 : d;
}

std::string sessionText(const SessionRecord &r, bool withLocal) {
    char text[32];
    if (withLocal)
        snprintf(text, sizeof text, "L%X:R%X", r.dtpId, r.localId);
    else
        snprintf(text, sizeof text, "L%X", r.dtpId);
    return text;
}

// The logger's pid file exists in log-server mode only.
void reportLogger(FILE *out, const std::string &root) {
    std::string path = root + "/logs/.pid.qoric.log";
    UniqueFile f = OpenRegularFile(path);
    if (!f) return;
    // The first line as a decimal number; anything unreadable shows as P0.
    char line[64];
    int pid = 0;
    if (fgets(line, sizeof line, f.get())) {
        errno = 0;
        long v = strtol(line, nullptr, 10);
        if (errno == 0 && v >= INT_MIN && v <= INT_MAX) pid = static_cast<int>(v);
    }
    fprintf(out, "  Logger: P%d%s ", pid, missingMark(pid));
}

}  // namespace

const char *elapsedTime(long seconds) {
    static char text[32];
    if (seconds < 0) seconds = 0;
    if (seconds < 3600)
        snprintf(text, sizeof text, "     %02ld:%02ld", seconds / 60, seconds % 60);
    else
        snprintf(text, sizeof text, "%4ld:%02ld:%02ld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
    return text;
}

void qorshmReport(FILE *out, const void *segment, size_t size, const std::string &root) {
    const auto *cb = static_cast<const ControlBlock *>(segment);
    const auto *records = reinterpret_cast<const SessionRecord *>(
        static_cast<const unsigned char *>(segment) + kControlBlockSize);
    // Never read past the segment, whatever the control block claims.
    const unsigned n = std::min<unsigned>(cb->numberOfRecords, RecordsInSegment(size));
    const time_t now = time(nullptr);

    struct tm t = localTime(now);
    fprintf(out, " %4d possible QOR/ic sessions at %04d/%02d/%02d %02d:%02d:%02d", static_cast<int>(n),
            t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    // A count the segment cannot hold is corrupt: say so beside the one used.
    if (cb->numberOfRecords != n)
        fprintf(out, " (the table's count %u is more than the segment holds)", cb->numberOfRecords);
    fprintf(out, "\n\n");
    t = localTime(WordToTime(cb->lastAccessed));
    fprintf(out, " QOR/ic Processes     Last access %02d:%02d:%02d\n", t.tm_hour, t.tm_min, t.tm_sec);

    reportLogger(out, root);
    fprintf(out, " Cleaner: P%d%s ", cb->cleanerPid, missingMark(cb->cleanerPid));
    fprintf(out, "\n Servers:");
    int shown = 0;
    for (int pid : cb->registry) {
        if (pid == 0) continue;
        fprintf(out, " P%d%s ", pid, missingMark(pid));
        if (++shown % 5 == 0) fprintf(out, "\n        : ");
    }
    fprintf(out, "\n");

    int active = 0;
    for (unsigned i = 0; i < n; ++i) {
        const SessionRecord &r = records[i];
        if (r.localId == 0 || r.dtpId == 0) continue;
        if (active++ == 0)
            fprintf(out, "\nLocap    %-16s %-16s Trid      Accessed     Elapsed Server\n",
                    "Client Adrs", "Session");
        t = localTime(WordToTime(r.lastAccessed));
        fprintf(out, "%.8s %-16s %-16s %.8s  %02d:%02d:%02d, %s P%d %s\n",
                fieldText(r.locap, kLocapSize).c_str(), clientText(r.clientAddr).c_str(),
                sessionText(r, true).c_str(),
                fieldText(r.pib + kPibTransactionOffset, kTransactionSize).c_str(), t.tm_hour,
                t.tm_min, t.tm_sec, elapsedTime(elapsedSince(now, r.lastAccessed)), r.lastPid,
                (r.lastPid != 0 && isMissing(r.lastPid)) ? "!!" : "");
    }
    if (active > 0)
        fprintf(out, "***   %d active of possible %d sessions   ***\n", active, static_cast<int>(n));

    int expired = 0;
    for (unsigned i = 0; i < n; ++i) {
        const SessionRecord &r = records[i];
        if (r.localId != 0 || r.dtpId == 0) continue;
        if (expired++ == 0)
            fprintf(out, "\nLocap    %-16s %-16s Trid      Expired      Elapsed\n", "Client Adrs",
                    "Session");
        t = localTime(WordToTime(r.lastAccessed));
        fprintf(out, "%.8s %-16s %-16s %.8s  %02d:%02d:%02d, %s\n",
                fieldText(r.locap, kLocapSize).c_str(), clientText(r.clientAddr).c_str(),
                sessionText(r, false).c_str(),
                fieldText(r.pib + kPibTransactionOffset, kTransactionSize).c_str(), t.tm_hour,
                t.tm_min, t.tm_sec, elapsedTime(elapsedSince(now, r.lastAccessed)));
    }
    if (expired > 0)
        fprintf(out, "***   %d expired of possible %d sessions   ***\n", expired, static_cast<int>(n));
}
