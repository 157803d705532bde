#include "Faults.h"

#include "Wire.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace dtphost {

namespace {

bool toUnsigned(const std::string& s, unsigned long max, unsigned long& out)
{
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (errno || *end || v > max) return false;
    out = v;
    return true;
}

// Splits "k=v,k=v" where a value may hold "\," "\\" and "\xHH".
bool splitKeys(const std::string& text, std::map<std::string, std::string>& out,
               std::string& error)
{
    size_t i = 0;
    while (i < text.size()) {
        size_t eq = text.find('=', i);
        if (eq == std::string::npos) {
            error = "expected key=value in '" + text.substr(i) + "'";
            return false;
        }
        std::string key = text.substr(i, eq - i), value;
        i = eq + 1;
        while (i < text.size() && text[i] != ',') {
            char c = text[i++];
            if (c != '\\' || i >= text.size()) { value += c; continue; }
            char e = text[i++];
            if (e == 'x' && i + 2 <= text.size() && std::isxdigit(static_cast<unsigned char>(text[i])) &&
                std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                value += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
                i += 2;
            } else {
                value += e;
            }
        }
        if (i < text.size()) ++i;  // the comma
        if (key.empty() || out.count(key)) {
            error = key.empty() ? "empty key" : "key '" + key + "' given twice";
            return false;
        }
        out[key] = value;
    }
    return true;
}

struct KindInfo {
    Fault::Kind kind;
    const char* on;   // default request filter
    Fault::Pos pos;   // default position
};

const std::map<std::string, KindInfo>& kinds()
{
    static const std::map<std::string, KindInfo> k = {
        {"first-frame", {Fault::FirstFrame, "connect", Fault::Instead}},
        {"hello-locap", {Fault::HelloLocap, "connect", Fault::Instead}},
        {"reject", {Fault::Reject, "open", Fault::Instead}},
        {"accept-other", {Fault::AcceptOther, "open", Fault::Before}},
        {"close", {Fault::Close, "input", Fault::Instead}},
        {"mcso", {Fault::Mcso, "input", Fault::Before}},
        {"pren", {Fault::Pren, "input", Fault::Instead}},
        {"msgo", {Fault::Msgo, "input", Fault::Before}},
        {"free", {Fault::Free, "input", Fault::Before}},
        {"escreen", {Fault::EScreen, "input", Fault::Instead}},
        {"drop", {Fault::Drop, "", Fault::Instead}},
        {"garbage", {Fault::Garbage, "input", Fault::Instead}},
        {"dezur", {Fault::DezUr, "prst", Fault::Instead}},
        {"silent", {Fault::Silent, "input", Fault::Instead}},
        {"format-reply", {Fault::FormatReply, "prst", Fault::Before}},
    };
    return k;
}

}  // namespace

bool parseClass(const std::string& text, uint8_t& out)
{
    static const std::map<std::string, uint8_t> names = {
        {"open", kOpen}, {"accept", kAccept}, {"reject", kReject}, {"close", kClose},
        {"prst", kPrst}, {"prok", kProk}, {"pren", kPren}, {"msgo", kMsgo},
        {"mcso", kMcso}, {"dezurread", kDezUrRead}, {"dezursend", kDezUrSend},
        {"hello", kHello}, {"hellodtp", kHello},
    };
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = names.find(lower);
    if (it != names.end()) {
        out = it->second;
        return true;
    }
    unsigned long v = 0;
    if (!toUnsigned(text, 255, v) || v == 0) return false;
    out = static_cast<uint8_t>(v);
    return true;
}

bool Fault::fire(const std::string& event)
{
    bool match = on == "any" ? event != "connect" : on == event ||
                 (on == "input" && (event == "enter" || event == "key"));
    if (!match || times == 0) return false;
    if (skip > 0) {
        --skip;
        return false;
    }
    if (times > 0) --times;
    return true;
}

bool Fault::fireFrame(bool sent, uint8_t frameClass)
{
    if (kind != Drop || sent != afterSend || (cls != kAnyClass && cls != frameClass) || times == 0)
        return false;
    if (skip > 0) {
        --skip;
        return false;
    }
    if (times > 0) --times;
    return true;
}

bool parseFault(const std::string& given, Fault& out, std::string& error)
{
    out = Fault{};
    out.given = given;
    size_t colon = given.find(':');
    std::string name = given.substr(0, colon);
    auto k = kinds().find(name);
    if (k == kinds().end()) {
        error = "unknown fault '" + name + "'";
        return false;
    }
    out.kind = k->second.kind;
    out.on = k->second.on;
    out.pos = k->second.pos;
    std::map<std::string, std::string> keys;
    if (colon != std::string::npos && !splitKeys(given.substr(colon + 1), keys, error)) return false;

    bool posGiven = false;
    for (const auto& kv : keys) {
        const std::string& key = kv.first;
        const std::string& v = kv.second;
        unsigned long n = 0;
        auto number = [&](unsigned long max) {
            if (toUnsigned(v, max, n)) return true;
            error = "fault key " + key + " needs a number up to " + std::to_string(max);
            return false;
        };
        if (key == "on") {
            static const char* ok[] = {"open", "prst", "input", "enter", "key", "format", "dezur", "any"};
            bool found = out.kind == Fault::Silent && v == "connect";   // no greeting
            for (const char* o : ok) found = found || v == o;
            if (!found || out.on == "connect" || out.kind == Fault::Drop) {
                error = "fault " + name + " cannot take on=" + v;
                return false;
            }
            out.on = v;
        } else if (key == "pos") {
            if (v == "before") out.pos = Fault::Before;
            else if (v == "instead") out.pos = Fault::Instead;
            else if (v == "after") out.pos = Fault::After;
            else { error = "pos must be before, instead or after"; return false; }
            posGiven = true;
        } else if (key == "delay") {
            if (!number(60000)) return false;
            out.delayMs = static_cast<unsigned>(n);
        } else if (key == "skip") {
            if (!number(1000000)) return false;
            out.skip = static_cast<unsigned>(n);
        } else if (key == "times") {
            if (!number(1000000)) return false;
            out.times = static_cast<long>(n);
        } else if (key == "to") {
            unsigned long id = 0;
            if (v != "self" && v != "other" && !toUnsigned(v, 0xFFFFFFFFul, id)) {
                error = "to must be self, other or a session id";
                return false;
            }
            out.to = v;
        } else if (key == "reason") {
            if (out.kind == Fault::Reject) {
                if (!number(255)) return false;
                out.rejectReason = static_cast<uint8_t>(n);
            } else {
                if (v.size() > 1) { error = "reason must be one character"; return false; }
                out.reason = v.empty() ? ' ' : v[0];
            }
        } else if (key == "cda") {
            out.cda = v;
        } else if (key == "name") {
            out.name = v;
        } else if (key == "group") {
            out.group = v;
        } else if (key == "form") {
            out.form = v;
        } else if (key == "header") {
            out.header = v;
        } else if (key == "screen") {
            out.screen = v;
        } else if (key == "kind") {
            static const char* ok[] = {"class", "short", "empty", "huge", "mcs", "function"};
            bool found = false;
            for (const char* o : ok) found = found || v == o;
            if (!found) { error = "garbage kind must be class, short, empty, huge, mcs or function"; return false; }
            out.garbage = v;
        } else if (key == "class") {
            if (!parseClass(v, out.cls)) { error = "unknown packet class '" + v + "'"; return false; }
        } else if (key == "length") {
            if (!number(4096) || n < 1) { error = "length must be 1 to 4096"; return false; }
            out.length = static_cast<unsigned>(n);
        } else if (key == "after") {
            // send:CLASS or recv:CLASS, CLASS may be "any"
            size_t c = v.find(':');
            std::string dir = v.substr(0, c), cls = c == std::string::npos ? "any" : v.substr(c + 1);
            if (dir != "send" && dir != "recv") { error = "after must be send:CLASS or recv:CLASS"; return false; }
            out.afterSend = dir == "send";
            if (cls == "any") out.cls = Fault::kAnyClass;
            else if (!parseClass(cls, out.cls)) { error = "unknown packet class '" + cls + "'"; return false; }
        } else {
            error = "unknown fault key '" + key + "'";
            return false;
        }
    }

    // Defaults that depend on other keys.
    if (out.kind == Fault::FirstFrame && out.cls == Fault::kAnyClass) out.cls = kAccept;
    if (out.kind == Fault::AcceptOther && !keys.count("to")) out.to = "other";
    if (!posGiven && (out.kind == Fault::Close || out.kind == Fault::Pren) && out.to != "self")
        out.pos = Fault::Before;
    if (!posGiven && out.kind == Fault::Mcso && out.to == "self") out.pos = Fault::After;
    if (out.kind == Fault::Garbage && out.garbage.empty()) out.garbage = "class";
    if (out.kind == Fault::HelloLocap && !keys.count("name")) {
        error = "hello-locap needs name=";
        return false;
    }
    if (out.kind == Fault::Drop && !keys.count("after")) {
        error = "drop needs after=send:CLASS or after=recv:CLASS";
        return false;
    }
    bool onOpen = out.on == "open", onInput = out.on == "input" || out.on == "enter" ||
                                                out.on == "key" || out.on == "any";
    if ((out.kind == Fault::Reject || out.kind == Fault::AcceptOther) && !onOpen) {
        error = name + " only runs on open";
        return false;
    }
    if (out.kind == Fault::EScreen && !onInput) {
        error = "escreen only runs on screen input";
        return false;
    }
    if (out.kind == Fault::DezUr) {
        if (out.on != "prst") { error = "dezur only runs on prst"; return false; }
        if (out.form.empty()) out.form = "DEZURFORM";
        if (out.group.empty()) out.group = "DEZUR";
    }
    return true;
}

}  // namespace dtphost
