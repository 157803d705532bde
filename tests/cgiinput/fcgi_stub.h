// Replacement of the six FastCGI calls for tests: the request body comes
// from a string, the response is collected in another.
#pragma once

#include <cstddef>
#include <string>

namespace fcgistub {
// Bytes FCGI_fread hands out, in order.
extern std::string body;
extern size_t bodyPos;
// errno left by a read that finds the body exhausted (0: none).
extern int errnoAtEnd;
// Largest byte count one FCGI_fread asked for, and the number of reads.
extern size_t largestAsk;
extern int reads;
// Everything written through FCGI_fwrite and FCGI_printf.
extern std::string output;

void reset(const std::string& newBody = "");
}  // namespace fcgistub
