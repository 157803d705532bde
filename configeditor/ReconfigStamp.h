// The reconfiguration stamp: tells running gateway processes that the
// configuration has changed, through the session table of the working
// directory (the gateway's).
#ifndef QOR_RECONFIGSTAMP_H
#define QOR_RECONFIGSTAMP_H

#include <ctime>

// Attaches to an existing gateway session table (never creating a lock
// file, a segment or ".shmid") and moves its reconfiguration stamp to now,
// and at least one second past the stamp it held, so that every worker
// reloads however close two saves are. False when there is no table to
// stamp.
bool StampReconfiguration(time_t now);

#endif
