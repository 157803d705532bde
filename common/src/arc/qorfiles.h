// The transaction host's root directory and the file names made from it.
#ifndef QOR_QORFILES_H
#define QOR_QORFILES_H

#include <string>

// Sets the host names once: the root is QORROOT, else root, else "/qorix",
// always with a trailing '/'. Later calls only return the host-process
// flag unless again is true, which sets the names anew.
// Returns 1 when QoRsHmId is in the environment (a host process), else 0.
int qorfiles(const char *root, bool again = false);

// The host root with its trailing '/', "<root>qorfiles" and
// "<root>qorboot.sys". Each sets the names first (qorfiles(nullptr)) when
// that has not happened yet.
const std::string &qorixroot();
const std::string &qorixfiles();
const std::string &qorixboot();

#endif
