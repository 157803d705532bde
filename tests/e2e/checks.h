// What the gateway tests look for in pages and in the host's log.
#pragma once

#include "page.h"
#include "stack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// `s` cut or padded with blanks to `n` bytes.
std::string pad(const std::string& s, size_t n);

// The screen input a host expects: the 20-byte MCS header (name, four blank
// terminal bytes, blank function and hold, size, status, filler, count; the
// numbers big-endian) followed by the screen data.
std::string mcsInput(const std::string& name, uint16_t size, char status, char filler, uint16_t count,
                     const std::string& data = "");

// Frames of one class that the host received or sent ("recv", "send"), read
// from its hex log: each frame's body bytes.
std::vector<std::string> hostFrames(const std::string& hostLog, const std::string& direction,
                                    const std::string& className);
// True when one MCSO frame the host received ends with `input`.
bool hostReceived(const std::string& hostLog, const std::string& input);
size_t framesCount(const std::string& hostLog, const std::string& direction, const std::string& cls);
// Waits up to 30 s for the host to have logged `n` frames of a class: a
// frame the gateway sends just before its page may be logged a moment
// after the page has arrived (long after on a busy machine).
::testing::AssertionResult hostLogged(const Stack& s, const std::string& direction, const std::string& cls,
                                      size_t n);
// Waits up to 30 s for the gateway's log to hold `text` at least `n` times:
// the log server writes a line a moment after the worker has answered.
::testing::AssertionResult gatewayLogged(const Stack& s, const std::string& text, size_t n = 1);
// Number of screen inputs the host has taken.
size_t inputsCount(const std::string& hostLog);

// A page of the conversation: HTTP 200, a form named after the screen, and
// nothing the template toolkit writes for a fault.
::testing::AssertionResult isScreen(const HttpResponse& r, const std::string& screen);
// An error page (configured error.htx or the built-in one) for `code`.
::testing::AssertionResult isErrorPage(const HttpResponse& r, int code);
// The code an error page shows, or 0 when the page is no error page.
int errorCodeOf(const std::string& body);

// Waits until the single worker `worker` has retired and its program has
// started afresh in the same process (the web server never saw it go).
::testing::AssertionResult startedAfresh(Stack& s, pid_t worker);
// HTTP 200 with the header block and an empty body: an end without a page.
::testing::AssertionResult isEmptyAnswer(const HttpResponse& r);

// Stack options with extra configuration elements.
inline StackOptions withConfig(const std::string& extra, int workers = 2)
{
    StackOptions o;
    o.configExtra = extra;
    o.workers = workers;
    return o;
}

// Configuration elements used by several tests.
inline const char* kBuiltInErrorPage = "<OnErrorPage VALUE=\"\"/>";
inline const char* kNoPrenPage = "<OnPRENPage VALUE=\"\"/>";

}  // namespace e2e
