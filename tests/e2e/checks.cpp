#include "checks.h"

#include <regex>
#include <sstream>

namespace e2e {

std::string pad(const std::string& s, size_t n)
{
    std::string out = s.substr(0, n);
    out.resize(n, ' ');
    return out;
}

std::string mcsInput(const std::string& name, uint16_t size, char status, char filler, uint16_t count,
                     const std::string& data)
{
    std::string h = pad(name, 8) + "    " + " " + " ";
    h += static_cast<char>(size >> 8);
    h += static_cast<char>(size & 0xFF);
    h += status;
    h += filler;
    h += static_cast<char>(count >> 8);
    h += static_cast<char>(count & 0xFF);
    return h + data;
}

bool hostReceived(const std::string& hostLog, const std::string& input)
{
    for (const std::string& f : hostFrames(hostLog, "recv", "MCSO"))
        if (f.size() >= input.size() && f.compare(f.size() - input.size(), input.size(), input) == 0) return true;
    return false;
}

size_t framesCount(const std::string& hostLog, const std::string& direction, const std::string& cls)
{
    return hostFrames(hostLog, direction, cls).size();
}

::testing::AssertionResult hostLogged(const Stack& s, const std::string& direction, const std::string& cls,
                                      size_t n)
{
    size_t seen = 0;
    for (int waited = 0;; waited += 20) {
        seen = framesCount(s.hostLog(), direction, cls);
        if (seen == n) return ::testing::AssertionSuccess();
        if (waited >= 30000 || seen > n) break;
        sleepMs(20);
    }
    return ::testing::AssertionFailure() << "the host logged " << seen << " " << direction << " " << cls
                                         << " frames, not " << n;
}

::testing::AssertionResult gatewayLogged(const Stack& s, const std::string& text, size_t n)
{
    size_t seen = 0;
    for (int waited = 0;; waited += 20) {
        const std::string log = s.gatewayLog();
        seen = 0;
        for (size_t at = log.find(text); at != std::string::npos && seen < n; at = log.find(text, at + 1)) ++seen;
        if (seen == n) return ::testing::AssertionSuccess();
        if (waited >= 30000) break;
        sleepMs(20);
    }
    return ::testing::AssertionFailure() << "the gateway logged '" << text << "' " << seen << " times, fewer than " << n;
}

size_t inputsCount(const std::string& hostLog)
{
    size_t n = 0;
    for (size_t at = hostLog.find("input for session"); at != std::string::npos;
         at = hostLog.find("input for session", at + 1))
        ++n;
    return n;
}

namespace {

std::string excerpt(const HttpResponse& r)
{
    std::string head;
    for (const auto& h : r.headers) head += h.first + ": " + h.second + "\n";
    return "HTTP " + std::to_string(r.status) + "\n" + head + "\n" + r.body.substr(0, 1500);
}

::testing::AssertionResult cleanHtml(const HttpResponse& r)
{
    if (r.status != 200) return ::testing::AssertionFailure() << "not HTTP 200:\n" << excerpt(r);
    if (r.header("Content-Type").find("text/html") != 0)
        return ::testing::AssertionFailure() << "no text/html content type:\n" << excerpt(r);
    for (const char* bad : {"Missing variable", "Unable to find file", "Missing include", "Unknown type"})
        if (r.body.find(bad) != std::string::npos)
            return ::testing::AssertionFailure() << "the page says \"" << bad << "\":\n" << excerpt(r);
    return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult isScreen(const HttpResponse& r, const std::string& screen)
{
    auto clean = cleanHtml(r);
    if (!clean) return clean;
    Form f = parseForm(r.body);
    if (!f.found || f.name != screen)
        return ::testing::AssertionFailure() << "not the " << screen << " screen:\n" << excerpt(r);
    std::string sid = f.actionParam("sid");
    if (!std::regex_match(sid, std::regex("[0-9a-f]{32}")))
        return ::testing::AssertionFailure() << "no session id in the form action '" << f.action << "'";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult isErrorPage(const HttpResponse& r, int code)
{
    auto clean = cleanHtml(r);
    if (!clean) return clean;
    const std::string n = std::to_string(code);
    // error.htx of the demo, or the gateway's built-in page.
    for (const std::string& text : {"Error code " + n + "<", "ended with code " + n + "<"})
        if (r.body.find(text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not the error page for " << code << ":\n" << excerpt(r);
}

int errorCodeOf(const std::string& body)
{
    std::smatch m;
    if (std::regex_search(body, m, std::regex("(Error code|ended with code) (-?[0-9]+)<"))) return std::stoi(m[2]);
    return 0;
}

::testing::AssertionResult isEmptyAnswer(const HttpResponse& r)
{
    if (r.status != 200) return ::testing::AssertionFailure() << "not HTTP 200:\n" << excerpt(r);
    if (!r.body.empty()) return ::testing::AssertionFailure() << "a body:\n" << excerpt(r);
    return ::testing::AssertionSuccess();
}

// The host's log

std::vector<std::string> hostFrames(const std::string& hostLog, const std::string& direction,
                                    const std::string& className)
{
    std::vector<std::string> frames;
    std::istringstream in(hostLog);
    std::string line;
    const std::string mark = " " + direction + " " + className + " (";
    std::string* current = nullptr;
    while (std::getline(in, line)) {
        if (line.find(mark) != std::string::npos) {
            frames.emplace_back();
            current = &frames.back();
            continue;
        }
        // Dump lines: four blanks, a 4-digit offset, two blanks, the bytes, " |text|".
        if (current && line.size() > 10 && line.compare(0, 4, "    ") == 0 &&
            std::isxdigit(static_cast<unsigned char>(line[4]))) {
            size_t bar = line.find(" |", 10);
            std::istringstream hex(line.substr(10, bar == std::string::npos ? std::string::npos : bar - 10));
            std::string byte;
            while (hex >> byte) current->push_back(static_cast<char>(std::stoi(byte, nullptr, 16)));
            continue;
        }
        current = nullptr;
    }
    return frames;
}

::testing::AssertionResult startedAfresh(Stack& s, pid_t worker)
{
    const std::string line = "App: P" + std::to_string(worker) + " retires after";
    for (int i = 0; i < 750; ++i) {
        if (s.gatewayLog().find(line) != std::string::npos && s.workers() == std::vector<pid_t>{worker})
            return ::testing::AssertionSuccess();
        sleepMs(20);
    }
    return ::testing::AssertionFailure() << "worker " << worker << " did not start afresh:\n" << s.gatewayLog();
}

}  // namespace e2e
