// The process environment as this library keeps it, and the login name.
//
// This library carries its own putenv and unsetenv (declared by <cstdlib>),
// which replace the C library's in every program that links it. putenv
// stores the caller's pointer, so a string put into the environment must
// stay alive (and unchanged unless meant) for as long as it is there.
//   putenv("NAME=value"): adds or replaces the entry; 0, or -1 (errno
//     ENOMEM) when the table cannot grow; the environment is then unchanged.
//     A string without '=' removes the entry of that name.
//   unsetenv("NAME"): removes every entry of that name; 0, or -1 when absent.
#ifndef QOR_QORUTENV_H
#define QOR_QORUTENV_H

#include <cstdlib>

// Index in environ of the entry whose name matches name (compared up to
// '=' or the end of name), or -1 with errno ENOENT.
int lookenviron(const char *name);

// Makes sure this library's own table is the process environment and has
// at least two free slots. 0, or -1 when it cannot be (re)allocated.
int checkenviron();

// Sets the locale from LANG (and LC_CTYPE) and returns the login name of
// the real user id, at most 15 characters ("" when the id has no entry).
// The text is kept by this unit (see qorixuser).
const char *getUnixUser();

// The login name found by the last getUnixUser ("" before).
const char *qorixuser();

#endif
