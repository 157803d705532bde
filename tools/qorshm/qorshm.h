// qorshm: lists, dumps and removes System V shared-memory segments and
// prints the gateway's session table.  Plain functions; each unit keeps
// its own state.
#ifndef QOR_QORSHM_H
#define QOR_QORSHM_H

#include <cstdio>
#include <string>

// Exit status after a listing and after every error.
constexpr int kQorshmFailure = 255;

// Lists every segment through "ipcs -m" on stdout.  Returns the exit
// status (always kQorshmFailure, as after every listing).
int qorshmList();

// Writes the session report of a mapped session table of `size` bytes.
// `root` is the installation root (for the logger's pid file).
void qorshmReport(FILE *out, const void *segment, size_t size, const std::string &root);

// "     mm:ss" below an hour, else "hhhh:mm:ss"; one static buffer.
const char *elapsedTime(long seconds);

#endif
