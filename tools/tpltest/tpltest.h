// tpltest: command-line driver of the template toolkit. Shared state of its
// units: the test log, the version line and the form test.
#ifndef QOR_TPLTEST_H
#define QOR_TPLTEST_H

#include <cstdio>
#include <string>

struct tcpHTML;

// The log opened by -t; null when logging is off. The FastCGI
// replacements write the response into it.
extern FILE* tpltestLog;

// Where -t logs: "xfcgi.log" in TMPDIR, else in /tmp.
std::string tpltestLogPath();
// Opens that log, emptied, unless it is a symbolic link or anything but a
// regular file of the running user (said on standard error; null then).
FILE* tpltestOpenLog();

// Builds the version line "QOR/ix ver ..." into a process-wide buffer and,
// when stream is not null, writes it there between line ends. Returns 210.
int qorver(FILE* stream);
// The version line built by the last qorver call.
const char* qorverLine();

// The form test with the sample file: fills the template with the sample
// screen data into the log, then reads the sample form input back into
// screen data. Returns the exit status: 0, or 255 when the sample or the
// template's field file cannot be opened.
int tpltestFormTest(tcpHTML* tmpl, const std::string& samplePath);

#endif
