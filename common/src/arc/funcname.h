// Names of the host message function codes, for log lines.
#ifndef QOR_FUNCNAME_H
#define QOR_FUNCNAME_H

// The name of function code `code` ("dFlogin"), blank-padded to at least
// 10 characters. A code without a name, and any code outside 0..259, gives
// "dF#<code>". A negative code (the answer to a request) gives the name of
// its absolute value in upper case ("DFLOGIN", "DF#300").
//
// The text lives in one of three buffers of the calling thread used in
// turn, so up to three results can appear in one log line.
const char *funcName(int code);

#endif
