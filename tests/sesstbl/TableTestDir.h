// Test helpers for the session table: a private installation directory
// (its working directory gives the table its own System V key) that removes
// its segments and files whatever the test's outcome, and forked children
// that can signal the test and be told when to end.
#ifndef QOR_TESTS_TABLETESTDIR_H
#define QOR_TESTS_TABLETESTDIR_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// <tmp>/root with work/ (the working directory while the object lives) and
// logs/ (where the table writes ".shmid").  The destructor also removes the
// table's lock file.
class TableTestDir {
public:
    TableTestDir();
    ~TableTestDir();
    TableTestDir(const TableTestDir &) = delete;
    TableTestDir &operator=(const TableTestDir &) = delete;

    const std::string &Root() const { return m_root; }
    std::string Work() const { return m_root + "/work"; }
    std::string Logs() const { return m_root + "/logs"; }
    key_t Key() const;
    // Also removes this segment at the end (segments made without the key).
    void Track(int shmid) { m_extra.push_back(shmid); }
    // Removes every segment with this directory's key, and tracked ones.
    void RemoveSegments();

private:
    std::string m_base, m_root, m_oldCwd;
    std::vector<int> m_extra;
};

// A forked child running body(ready, command): it writes a byte to `ready`
// to tell the test it has got where it should, and may block reading
// `command` until the test lets it go on.  The body's result is the exit
// status; the child never returns into the test framework.
class ForkedChild {
public:
    explicit ForkedChild(const std::function<int(int ready, int command)> &body);
    ~ForkedChild();                    // kills and reaps a child still running
    ForkedChild(const ForkedChild &) = delete;
    ForkedChild &operator=(const ForkedChild &) = delete;

    pid_t Pid() const { return m_pid; }
    bool WaitReady(int timeoutMs = 10000);   // one byte from the child
    void Release();                           // one byte to the child
    // Exit status, or 128 + signal number when a signal ended it; -1 on
    // time-out (the child is then killed).
    int Wait(int timeoutMs = 20000);

private:
    pid_t m_pid = -1;
    int m_ready = -1, m_command = -1;
};

// Blocks the child until the test calls Release (or goes away).
void ChildAwait(int command);
// Tells the test the child is ready.
void ChildReady(int ready);

#endif
