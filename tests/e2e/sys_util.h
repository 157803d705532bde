// Paths of the trees under test, and the file and process helpers the
// end-to-end harness needs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace e2e {

// Folders of the source and build trees (QOR_SOURCE_DIR, QOR_BINARY_DIR).
std::string sourceDir();
std::string binaryDir();
// The programs; QOR_E2E_QORIC may name a gateway binary built elsewhere.
std::string qoricBinary();
std::string qorconfigBinary();
std::string qorshmBinary();
std::string fixedPageBinary();
bool isExecutable(const std::string& path);

// Files.
std::string readFile(const std::string& path);  // "" when unreadable
size_t countOf(const std::string& text, const std::string& part);  // occurrences of `part`
void writeText(const std::string& path, const std::string& text);
std::string realPath(const std::string& path);
std::string makeDir(const std::string& pattern);  // mkdtemp; the real path
// Modification time in seconds (0 when it cannot be read), and setting it:
// the gateway compares whole seconds.
time_t modTime(const std::string& path);
void setModTime(const std::string& path, time_t t);
// Waits until the clock's whole second is past the file's time: a file
// written after it gets a time that differs.
void waitPastModTime(const std::string& path);
void sleepMs(int ms);

// Loopback ports.
uint16_t freePort();
bool portOpen(uint16_t port);

// Processes.
struct ProcInfo {
    pid_t pid;
    pid_t ppid;
};
std::vector<ProcInfo> allProcesses();      // the living ones (no zombies)
std::string linkOf(pid_t pid, const char* what);  // /proc/PID/<what> ("exe", "cwd")
bool processAlive(pid_t pid);              // exists and is not a zombie
bool waitGone(pid_t pid, int timeoutMs);   // false on time-out
// Waits until the FIFO at path holds no bytes (true also when no one reads it).
bool waitFifoEmpty(const std::string& path, int timeoutMs);
std::vector<char*> argvOf(std::vector<std::string>& all);
// In a forked child: standard input from /dev/null, output to `out`.
void redirectChild(const std::string& out);

}  // namespace e2e
