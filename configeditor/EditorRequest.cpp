// Parsing of the posted form and dispatch on its action.
#include "EditorRequest.h"

#include <cstdlib>
#include <ctime>
#include <istream>
#include <ostream>

#include "ConfigForm.h"
#include "ConfigWriter.h"
#include "FormElements.h"

namespace {

// A browser posts a blank as "+" and a "+" as "%2B": "+" becomes a blank,
// so that a value with blanks is saved as it was typed. "%" and the two
// characters after it become one byte, the two read as strtol reads base
// 16 (leading hexadecimal digits; none gives 0). A "%" with fewer than two
// characters after it is kept as it is, with what follows.
std::string Decode(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '+') {
            out += ' ';
            continue;
        }
        if (raw[i] != '%' || i + 2 >= raw.size()) {
            out += raw[i];
            continue;
        }
        const char hex[3] = {raw[i + 1], raw[i + 2], '\0'};
        out += static_cast<char>(std::strtol(hex, nullptr, 16));
        i += 2;
    }
    return out;
}

}  // namespace

std::string SaveTimeText(time_t t) {
    struct tm local {};
    char text[32];
    if (!localtime_r(&t, &local) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return std::to_string(static_cast<long long>(t));
    return text;
}

void ParseRequestBody(std::string_view body, RequestMap_t &map) {
    map.clear();
    std::size_t pos = 0;
    while (pos < body.size()) {
        const std::size_t eq = body.find('=', pos);
        if (eq == std::string_view::npos) break;   // a name without "=": the end
        std::string name(body.substr(pos, eq - pos));
        std::size_t amp = body.find('&', eq + 1);
        if (amp == std::string_view::npos) amp = body.size();
        map.emplace(std::move(name), Decode(body.substr(eq + 1, amp - eq - 1)));
        pos = amp + 1;
    }
}

bool ParseRequest(std::istream &in, std::ostream & /*out*/, std::ostream & /*err*/,
                  RequestMap_t &map) {
    std::string body;
    char chunk[8192];
    bool complete = true;
    while (in.good()) {
        in.read(chunk, sizeof chunk);
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        if (body.size() + got > kMaxRequestBody) {
            body.append(chunk, kMaxRequestBody - body.size());
            complete = false;
            break;
        }
        body.append(chunk, got);
    }
    ParseRequestBody(body, map);
    return complete;
}

void DispatchRequest(std::istream &in, std::ostream &out, std::ostream &err,
                     const RequestMap_t &map, const RequestContext &context) {
    const auto action = map.find("nextaction");
    if (action == map.end() || action->second == "read_file") {
        ShowConfigEditForm(in, out, err, map);
    } else if (action->second == "write_file") {
        std::string why;
        if (IsSameOrigin(context.source, why) &&
            WriteConfigFile(map, context.bodyComplete, &why)) {
            ShowConfigEditForm(in, out, err, map, SaveTimeText(std::time(nullptr)));
        } else {
            out << "<br>zelconfig: Error: Can't save config file!<br>";
            if (!why.empty()) out << Html(why) << "<br>";
        }
    } else {
        out << "<h2>qorconfig: error dispatch request, unknown action [" << Html(action->second)
            << "]</h2>\n";
    }
}
