// The fatal-signal report.
//
// The report runs inside the signal handler and uses the log, popen and the
// heap, none of which is safe there when the fault hit inside them. An
// alarm armed on entry (default action: end the process) guarantees that a
// report that deadlocks cannot hang the process; a second fatal signal
// during the report ends the process at once.
//
// Symbols come from "nm -Bv" on the program file, and source lines from
// addr2line. Both work with link-time addresses, so run-time addresses
// inside the program are moved back by the program's load bias (position-
// independent executables are loaded at a random base).
#include "goscore.h"

#include "logprint.h"
#include "qorstring.h"

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <link.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kMaxBinaryName = 249;   // characters that fit the 250-byte name
constexpr size_t kMaxReportText = 499;   // characters of the report text
constexpr int kMaxFrames = 16;
constexpr unsigned kReportSeconds = 30;  // the whole report must end within this
constexpr size_t kAltStackSize = 256 * 1024;
const char kUnknownBinary[] = "Binary: U n k n o w n";
const char kStars[] = "**************************************\n";
const int kReportSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS};

struct Range {
    uintptr_t begin, end;
};

struct CoreState {
    std::string binaryName = kUnknownBinary;
    std::string svLogCmd;
    std::string coreDumpMsgs;
    QorCoreUserFunc userHandler = nullptr;
    uintptr_t loadBias = 0;
    std::vector<Range> programText;  // executable segments of the program, run-time addresses
    bool altStack = false;
};

CoreState &core()
{
    static CoreState s;
    return s;
}

volatile sig_atomic_t s_inReport = 0;

struct Symbol {
    uintptr_t addr = 0;
    std::string name;
};

int recordProgram(struct dl_phdr_info *info, size_t, void *data)
{
    // The first object reported is the program itself.
    CoreState &s = *static_cast<CoreState *>(data);
    s.loadBias = info->dlpi_addr;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X))
            s.programText.push_back({info->dlpi_addr + ph.p_vaddr,
                                     info->dlpi_addr + ph.p_vaddr + ph.p_memsz});
    }
    return 1;
}

bool inProgram(uintptr_t addr)
{
    for (const Range &r : core().programText)
        if (addr >= r.begin && addr < r.end)
            return true;
    return false;
}

// The address as nm and addr2line know it.
uintptr_t linkAddress(uintptr_t addr)
{
    return inProgram(addr) ? addr - core().loadBias : addr;
}

uintptr_t faultAddress(void *context)
{
    if (!context)
        return 0;
    const ucontext_t *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

void trimRight(std::string &s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
        s.pop_back();
}

// One "address type name" line of nm; false for lines to skip.
bool parseSymbol(std::string line, Symbol &sym)
{
    trimRight(line);
    size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos)
        return false;
    if (line.compare(p, 2, "0x") == 0)
        p += 2;
    const size_t addrEnd = line.find(' ', p);
    if (addrEnd == std::string::npos)
        return false;
    const std::string addrText = line.substr(p, addrEnd - p);
    char *end = nullptr;
    sym.addr = static_cast<uintptr_t>(std::strtoull(addrText.c_str(), &end, 16));
    if (addrText.empty() || *end != '\0')
        return false;
    const size_t typePos = line.find_first_not_of(' ', addrEnd);
    if (typePos == std::string::npos)
        return false;
    const size_t namePos = line.find_first_not_of(' ', typePos + 1);
    if (namePos == std::string::npos)
        return false;
    sym.name = line.substr(namePos);
    if (sym.name.compare(0, 2, ".L") == 0)
        return false;
    if (sym.name[0] == '.')
        sym.name.erase(0, 1);
    return !sym.name.empty();
}

bool readLine(FILE *f, std::string &line)
{
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        line += static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return !line.empty();
}

// The text symbol that contains addr: the last one at or below it, with a
// following symbol to measure the function's size against.
bool findFunction(uintptr_t addr, Symbol &func, unsigned &offset, int &percent)
{
    const std::string cmd = "nm -Bv " + qorShellQuote(core().binaryName) + " 2>/dev/null | grep ' [Tt] '";
    FILE *nm = popen(cmd.c_str(), "r");
    if (!nm)
        return false;
    bool haveBelow = false, found = false;
    std::string line;
    Symbol sym;
    while (readLine(nm, line)) {
        if (!parseSymbol(line, sym))
            continue;
        if (sym.addr <= addr) {
            func = sym;
            haveBelow = true;
        } else if (haveBelow && !found) {
            const uintptr_t size = sym.addr - func.addr;
            offset = static_cast<unsigned>(addr - func.addr);
            percent = static_cast<int>((addr - func.addr) * 100 / size);
            found = true;
        }
    }
    pclose(nm);
    return found;
}

void appendReport(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void appendReport(const char *fmt, ...)
{
    char buf[kMaxReportText + 1];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::string &msgs = core().coreDumpMsgs;
    msgs += buf;
    if (msgs.size() > kMaxReportText)
        msgs.resize(kMaxReportText);
}

void logStackTrace(void **frames, int nFrames, uintptr_t fault)
{
    FILE *log = logGetFILE();
    for (int i = 0; i < 3; ++i)
        logPrintf("%s", kStars);
    logPrintf("'backtrace' follows\n");
    logForceFlush();
    std::fflush(log);
    backtrace_symbols_fd(frames, nFrames, fileno(log));

    // The frames after the faulting one; all of them, the first replaced by
    // the fault address, when the fault is not among them.
    int first = 0;
    for (int i = 0; i < nFrames; ++i)
        if (reinterpret_cast<uintptr_t>(frames[i]) == fault) {
            first = i + 1;
            break;
        }
    uintptr_t addrs[kMaxFrames];
    int n = 0;
    for (int i = first; i < nFrames; ++i)
        addrs[n++] = (first == 0 && i == 0) ? fault : reinterpret_cast<uintptr_t>(frames[i]);
    gosLogSourceLines(core().binaryName, addrs, n, false);
    for (int i = 0; i < 3; ++i)
        logPrintf("%s", kStars);
}

void gosCoreReport(int sig, siginfo_t *info, void *context)
{
    if (s_inReport)
        _exit(sig);
    s_inReport = 1;
    // Whatever happens below, the process ends within kReportSeconds.
    signal(SIGALRM, SIG_DFL);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kReportSeconds);

    CoreState &s = core();
    const bool haveLog = logGetFILE() != nullptr;
    if (haveLog) {
        logForceFlush();
        logOptions("N");
    }
    char text[80];
    snprintf(text, sizeof text, "signal %d code %d errno %d", sig, info ? info->si_code : 0,
             info ? info->si_errno : 0);

    const uintptr_t fault = faultAddress(context);
    void *frames[kMaxFrames];
    const int nFrames = backtrace(frames, kMaxFrames);
    signal(sig, SIG_DFL);
    signal(sig, SIG_IGN);
    s.coreDumpMsgs.clear();
    appendReport("%s: Core dump %s\n", s.binaryName.c_str(), text);

    Symbol func;
    unsigned offset = 0;
    int percent = 0;
    const uintptr_t where = linkAddress(fault);
    // Only the program's own symbols are listed; a fault inside a shared
    // library is reported without a function.
    const bool inOwnCode = fault && (s.programText.empty() || inProgram(fault));
    if (inOwnCode && findFunction(where, func, offset, percent)) {
        if (!haveLog)
            fprintf(stderr, "%s: at %lX: %s + 0x%X  [%d%% in]\n", s.binaryName.c_str(),
                    static_cast<unsigned long>(where), func.name.c_str(), offset, percent);
        logPrintf("#%s: %s\n", s.binaryName.c_str(), text);
        logPrintf("#Abort adrs 0x%lX is at %s + 0x%X  [%d%% in]\n", static_cast<unsigned long>(where),
                  func.name.c_str(), offset, percent);
        appendReport("Core %s at %lX: %s + 0x%X  [%d%% in]\n", text, static_cast<unsigned long>(where),
                     func.name.c_str(), offset, percent);
    } else {
        logPrintf("#%s: core %s\n", s.binaryName.c_str(), text);
    }

    if (haveLog)
        logStackTrace(frames, nFrames, fault);
    else
        backtrace_symbols_fd(frames, nFrames, STDERR_FILENO);

    if (!s.svLogCmd.empty()) {
        logPrintf("#Exec: %s\n", s.svLogCmd.c_str());
        logForceFlush();
        if (system(s.svLogCmd.c_str()) == -1)
            logPrintf("#%s :: %s\n", std::strerror(errno), s.svLogCmd.c_str());
    }

    if (!s.userHandler) {
        signal(SIGABRT, SIG_DFL);
        signal(SIGILL, SIG_DFL);
        abort();
    }
    alarm(0);
    s.userHandler(sig);
}

void installReport(int sig)
{
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_sigaction = gosCoreReport;
    act.sa_flags = SA_SIGINFO | SA_NODEFER | (core().altStack ? SA_ONSTACK : 0);
    sigaction(sig, &act, nullptr);
}

// A stack overflow can only be reported from a stack of its own. It is
// mapped once and never released (a sanitizer runtime may unmap whatever
// alternate stack is current when a thread ends).
void ensureAltStack()
{
    CoreState &s = core();
    if (s.altStack)
        return;
    void *mem = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED)
        return;
    stack_t ss {};
    ss.ss_sp = mem;
    ss.ss_size = kAltStackSize;
    if (sigaltstack(&ss, nullptr) == 0)
        s.altStack = true;
    else
        munmap(mem, kAltStackSize);
}

} // namespace

void gosLogSourceLines(const std::string &binary, const uintptr_t *addrs, int n, bool baseNames)
{
    CoreState &s = core();
    if (s.programText.empty())
        dl_iterate_phdr(recordProgram, &s);
    std::string cmd = "addr2line -e " + qorShellQuote(binary) + " ";
    char addr[32];
    for (int i = 0; i < n; ++i) {
        snprintf(addr, sizeof addr, "0x%lx ", static_cast<unsigned long>(linkAddress(addrs[i])));
        cmd += addr;
    }
    FILE *a2l = popen(cmd.c_str(), "r");
    if (!a2l) {
        logPrintf("#%s :: %s\n", std::strerror(errno), cmd.c_str());
        return;
    }
    logPrintf("#Stack back trace follows\n");
    std::string line;
    int shown = 0;
    while (readLine(a2l, line)) {
        trimRight(line);
        if (line.empty() || line.find("_start") != std::string::npos || line.find("??") != std::string::npos)
            continue;
        const size_t slash = baseNames ? line.rfind('/') : std::string::npos;
        logPrintf("%2d)  %s\n", ++shown, slash == std::string::npos ? line.c_str() : line.c_str() + slash + 1);
    }
    pclose(a2l);
}

void gosCoreHandler(const char *programPath, QorCoreUserFunc userHandler)
{
    CoreState &s = core();
    if (programPath && *programPath && std::strlen(programPath) <= kMaxBinaryName)
        s.binaryName = programPath;
    else
        s.binaryName = kUnknownBinary;
    s.userHandler = userHandler;
    if (s.programText.empty())
        dl_iterate_phdr(recordProgram, &s);
    // The first backtrace loads the unwinder; do it now, not in the handler.
    void *warm[2];
    backtrace(warm, 2);
    ensureAltStack();
    for (int sig : kReportSignals)
        installReport(sig);
}

void gosCoreExtra(const char *command, bool withAbort)
{
    CoreState &s = core();
    s.svLogCmd.clear();
    const std::string pid = std::to_string(getpid());
    for (const char *p = command; p && *p; ++p) {
        if (p[0] == '$' && p[1] == '$') {
            s.svLogCmd += pid;
            ++p;
        } else {
            s.svLogCmd += *p;
        }
    }
    if (withAbort)
        installReport(SIGABRT);
}

std::string gosCoreCopyCommand(const std::string &logName)
{
    const std::string quoted = qorShellQuote(logName);
    return "cp " + quoted + " " + quoted + "$$.err";
}

const char *gosCoreBinary() { return core().binaryName.c_str(); }

const char *gosCoreDumpMsgs() { return core().coreDumpMsgs.c_str(); }
