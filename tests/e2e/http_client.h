// A small HTTP/1.0 client for the end-to-end tests: one request per
// connection, blocking, with a time-out.  Transport failures come back as
// status -1 with the reason in the body, so load tests can count them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse {
    int status = -1;       // -1: no HTTP answer (the reason is in body)
    HeaderList headers;    // in the order received
    std::string body;

    // First header of that name (any case), or "".
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    // Values of every header of that name, e.g. each Set-Cookie line.
    std::vector<std::string> all(const std::string& name) const;
};

// Sends `method target` to 127.0.0.1:port.  A POST body is sent as
// application/x-www-form-urlencoded unless `headers` name a content type.
HttpResponse httpRequest(uint16_t port, const std::string& method, const std::string& target,
                         const std::string& body = "", const HeaderList& headers = {},
                         int timeoutMs = 15000);

// application/x-www-form-urlencoded value encoding (blank as '+').
std::string formEncode(const std::string& value);
std::string formEncode(const HeaderList& fields);

// Decodes a URL query value (%XX, '+').
std::string formDecode(const std::string& value);

}  // namespace e2e
