// The calling process's id (see gospid.h).
#include "gospid.h"

#include <pthread.h>
#include <unistd.h>

namespace {

// 0 until asked for, and again in the child of a fork.
volatile pid_t cachedPid = 0;

void forgetInChild() { cachedPid = 0; }

// Registered before the first id is handed out, so no fork can come
// between the two and leave the child with its parent's id.
const bool forkHookInstalled = pthread_atfork(nullptr, nullptr, forgetInChild) == 0;

} // namespace

pid_t gosProcessId()
{
    pid_t pid = cachedPid;
    if (pid == 0 || !forkHookInstalled) {
        pid = getpid();
        if (forkHookInstalled)
            cachedPid = pid;
    }
    return pid;
}
