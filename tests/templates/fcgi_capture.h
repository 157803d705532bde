// Replacement of the six FastCGI calls for the template tests: the
// response is collected in a string; writes can be made to fail.
#pragma once

#include <cstddef>
#include <string>

namespace fcgicapture {
extern std::string output;   // everything written
extern int flushes;          // FCGI_fflush calls
extern size_t largestWrite;  // largest single FCGI_fwrite
extern int failWithErrno;    // non-zero: every write fails with this errno

void reset();
}  // namespace fcgicapture
