// The fatal-signal report: on SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGSYS
// (and SIGABRT on request) the log gets the faulting function with its
// offset and a symbolic stack trace, an optional shell command runs (the
// gateway copies its log beside itself), and the process aborts with a core
// file unless a user handler takes over.
#ifndef QOR_GOSCORE_H
#define QOR_GOSCORE_H

#include <cstdint>
#include <string>

using QorCoreUserFunc = void (*)(int);

// Installs the report. programPath names the executable for symbol lookup
// (null or too long: "Binary: U n k n o w n"); userHandler, when not null,
// is called with the signal number in place of the final abort.
void gosCoreHandler(const char *programPath, QorCoreUserFunc userHandler);

// Stores a shell command run after the report, each "$$" replaced by the
// process id (null or "" runs none); withAbort adds SIGABRT to the report.
// Paths in the command must be quoted (qorShellQuote).
void gosCoreExtra(const char *command, bool withAbort);

// "cp 'log' 'log'$$.err" for gosCoreExtra: the command that leaves a copy
// of the log, named after it with the process id and ".err" added.
std::string gosCoreCopyCommand(const std::string &logName);

// The program path the report uses ("Binary: U n k n o w n" when unset).
const char *gosCoreBinary();

// Logs "#Stack back trace follows" and the source lines addr2line gives
// for n run-time addresses of binary, as "%2d)  %s" numbered from 1,
// leaving out lines with "_start" or "??"; with baseNames a line shows only
// what follows its last '/'. When addr2line cannot be started:
// "#<error> :: <command>".
void gosLogSourceLines(const std::string &binary, const uintptr_t *addrs, int n, bool baseNames);

// The text of the last report (signal, program and faulting function), for
// a user handler.
const char *gosCoreDumpMsgs();

#endif
