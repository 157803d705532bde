// The report of the C library's heap checking (mcheck): a program that
// wants it installs memCheckError with mcheck(memCheckError).
#ifndef QOR_XFCGIMCHECK_H
#define QOR_XFCGIMCHECK_H

#include <mcheck.h>

// Logs what the heap check found ("#Mcheck: Block freed twice", "#Mcheck:
// Block clobbered", "#Mcheck Disabled"; nothing at all for MCHECK_OK),
// then the source lines of the calls that led here, found by addr2line in
// the program saved by saveBinaryName, and a closing line of stars.
void memCheckError(enum mcheck_status status);

#endif
