// The calling process's id, without a system call each time.
//
// Hot paths (the session table's locks and records, the process registry)
// ask for the id many times per request. It is kept here and renewed in
// the child of every fork(), so a forked cleaner or log server never acts
// under its parent's id (registering, unregistering or sparing it).
#ifndef QOR_GOSPID_H
#define QOR_GOSPID_H

#include <sys/types.h>

// The id of the calling process.
pid_t gosProcessId();

#endif
