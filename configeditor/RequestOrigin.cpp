// The origin check of a save.
#include "RequestOrigin.h"

namespace {

std::string Lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// host[:port] without the scheme's default port.
std::string WithoutDefaultPort(const std::string &authority, const std::string &scheme) {
    const std::string port = scheme == "https" ? ":443" : ":80";
    if (authority.size() > port.size() &&
        authority.compare(authority.size() - port.size(), port.size(), port) == 0)
        return authority.substr(0, authority.size() - port.size());
    return authority;
}

// The scheme and the host[:port] of an absolute http(s) URL; false for
// anything else (a user name in it included).
bool SplitUrl(const std::string &url, std::string &scheme, std::string &authority) {
    const std::size_t colon = url.find("://");
    if (colon == std::string::npos) return false;
    scheme = Lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") return false;
    const std::size_t start = colon + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    authority = Lower(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
    return !authority.empty() && authority.find('@') == std::string::npos;
}

}  // namespace

bool IsSameOrigin(const RequestSource &source, std::string &why) {
    const bool fromOrigin = !source.origin.empty();
    const std::string &page = fromOrigin ? source.origin : source.referer;
    if (page.empty()) return true;
    const char *header = fromOrigin ? "Origin" : "Referer";
    std::string scheme, authority;
    if (SplitUrl(page, scheme, authority) && !source.host.empty() &&
        WithoutDefaultPort(authority, scheme) == WithoutDefaultPort(Lower(source.host), scheme))
        return true;
    why = std::string("the form was not posted from a page of this server (") + header + " " +
          page.substr(0, 200) + ", host " + source.host.substr(0, 200) + "); nothing was saved";
    return false;
}
