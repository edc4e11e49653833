// HTTP client over libcurl: one synchronous exchange per call, redirects followed, HTTP and
// HTTPS only. A transport failure of any kind (no connection, a reply that is not HTTP, a
// body cut short, a server silent past the idle limit) is a failed exchange; an HTTP status
// is never a failure.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::host {

struct HttpRequest {
    std::string method;                // "GET", "HEAD", "POST", "PUT" ...
    std::string url;                   // as sent: percent-encoded
    std::vector<std::string> headers;  // "Name: value" lines
    bool send_body = false;
    std::vector<u8> body;
};

struct HttpResponse {
    long status = 0;
    // The final response's header lines as (name, value), in order (a redirect's own
    // headers are dropped).
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<u8> body;
};

// Seconds allowed to connect, and without a byte received once connected. The defaults are
// 30 and 60; the environment variable KEL_HTTP_TIMEOUT (whole seconds, 1-3600) sets both.
struct HttpTimeouts {
    long connect_seconds;
    long idle_seconds;
};
HttpTimeouts http_timeouts();

// The exchange; false on any transport failure, with libcurl's reason in `error`.
bool http_exchange(const HttpRequest& request, HttpResponse& response, std::string* error = nullptr);

// http-request for Kel values: the method word, the url!, a block of header name/value
// pairs or null, the body value or null; the answer pushed on the stack (the body as
// binary!, a block of lines or a string!; with `info` a block of the status, a map! of the
// headers and the body), or null when the exchange failed.
Cell* http_request(const Cell* method, Cell* url, Cell* headers, Cell* data, bool binary, bool lines, bool info);

}  // namespace kel::host
