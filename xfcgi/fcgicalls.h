// The FastCGI calls the toolkit makes, and nothing else.
//
// The toolkit (library qor_xfcgi) reaches FastCGI only through these six
// stdio-style calls and does not link the kit itself. A program supplies
// their definitions at link time:
//   - from libfcgi (link the interface target qor_fcgi), or
//   - from its own replacement set (tpltest writes the response into its
//     log). A replacement set must define all six functions with exactly
//     these signatures, with C linkage, AND the stream array
//         FCGI_FILE _fcgi_sF[3];
//     because FCGI_stdin and FCGI_stdout below are addresses of its
//     elements 0 and 1. Including this header is enough to write one.
//
// The declarations match libfcgi's <fcgi_stdio.h> (libfcgi 2.4.2) so that
// both resolve to the same symbols; the kit's macros that rename printf,
// fread and the other stdio calls are deliberately not brought in.
#ifndef QOR_FCGICALLS_H
#define QOR_FCGICALLS_H

#include <cstddef>
#include <cstdio>

#ifndef _FCGI_STDIO
// Guard of the kit's own header: with it defined, a later <fcgi_stdio.h>
// in the same translation unit does not declare FCGI_FILE a second time.
#define _FCGI_STDIO 1

extern "C" {

struct FCGX_Stream;

// Same layout as the kit's wrapper of a stream: a stdio stream (used when
// the program runs as plain CGI) or a FastCGI stream.
typedef struct {
    FILE *stdio_stream;
    FCGX_Stream *fcgx_stream;
} FCGI_FILE;

// Standard input, output and error of the current request.
extern FCGI_FILE _fcgi_sF[];

// Waits for the next request (finishing the previous one first):
// 0 when one was accepted, negative when none can come.
int FCGI_Accept(void);
// Finishes the current request: its output is flushed and closed.
void FCGI_Finish(void);
size_t FCGI_fread(void *ptr, size_t size, size_t nmemb, FCGI_FILE *fp);
size_t FCGI_fwrite(void *ptr, size_t size, size_t nmemb, FCGI_FILE *fp);
int FCGI_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int FCGI_fflush(FCGI_FILE *fp);

} // extern "C"

#endif // _FCGI_STDIO

#ifndef FCGI_stdin
#define FCGI_stdin (&_fcgi_sF[0])
#endif
#ifndef FCGI_stdout
#define FCGI_stdout (&_fcgi_sF[1])
#endif

#endif
