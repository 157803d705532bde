// A replacement of the six FastCGI calls for tests of the request loop:
// accept results are scripted, finishes are counted.
#ifndef QOR_TEST_FAKE_FCGI_H
#define QOR_TEST_FAKE_FCGI_H

namespace fakefcgi {

// Result of the next FCGI_Accept calls (0: a request, negative: none).
extern int acceptResult;
// When set, FCGI_Accept blocks until a signal ends the process, the way
// the kit's accept waits for a connection.
extern bool acceptBlocks;
extern int acceptCalls;
extern int finishCalls;

} // namespace fakefcgi

#endif
