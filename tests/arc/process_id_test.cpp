// The cached process id: right in the process, and in every forked child
// and grandchild, also when the parent had asked for it before the fork.
#include "gospid.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a forked child; its exit status.
template <class Body> int inChild(Body body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(ProcessId, RenewedInEveryForkedChild)
{
    const pid_t parent = gosProcessId();
    EXPECT_EQ(parent, getpid());
    EXPECT_EQ(gosProcessId(), parent);
    EXPECT_EQ(inChild([&] {
                  if (gosProcessId() != getpid() || gosProcessId() == parent)
                      return 1;
                  const pid_t child = gosProcessId();
                  return inChild([&] { return gosProcessId() == getpid() && gosProcessId() != child ? 0 : 1; });
              }),
              0);
    EXPECT_EQ(gosProcessId(), parent);
}

} // namespace
