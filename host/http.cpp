// HTTP client over libcurl, and the url! read and write actions for http and https.
#include "host/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/dispatch.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "host/files.h"
#include "host/shared_library.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::host {

using namespace rt;

namespace {

// A body larger than a series can hold ends the exchange as a failure.
constexpr size_t MAX_BODY = 0xC0000000u;

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::vector<u8>*>(user);
    size_t n = size * count;
    if (body->size() + n > MAX_BODY) return 0;
    body->insert(body->end(), data, data + n);
    return n;
}

// Header lines: a status line starts a new response (after a redirect), then each
// "Name: value" line adds a pair.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(user);
    size_t n = size * count;
    std::string line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        headers->clear();
        return n;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= line.size() || line[colon + 1] != ' ') return n;
    std::string name = line.substr(0, colon);
    if (name.find_first_of(" \t") != std::string::npos) return n;
    size_t end = line.find('\r', colon + 2);
    if (end == std::string::npos) end = line.find('\n', colon + 2);
    if (end == std::string::npos) end = line.size();
    headers->emplace_back(name, line.substr(colon + 2, end - colon - 2));
    return n;
}

// libcurl, bound on the first exchange (host/shared_library.h).
struct CurlApi {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_reset) easy_reset;
    decltype(&curl_easy_setopt) setopt;
    decltype(&curl_easy_perform) perform;
    decltype(&curl_easy_getinfo) getinfo;
    decltype(&curl_easy_strerror) strerror;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};
CurlApi curl;

// One handle for the whole process: its connection cache makes repeated requests to one
// server cheap. The evaluator is single-threaded.
CURL* shared_handle() {
    static CURL* handle = [] {
        bind_shared_library("libcurl.so.4",
                            {{"curl_global_init", &curl.global_init}, {"curl_easy_init", &curl.easy_init},
                             {"curl_easy_reset", &curl.easy_reset}, {"curl_easy_setopt", &curl.setopt},
                             {"curl_easy_perform", &curl.perform}, {"curl_easy_getinfo", &curl.getinfo},
                             {"curl_easy_strerror", &curl.strerror}, {"curl_slist_append", &curl.slist_append},
                             {"curl_slist_free_all", &curl.slist_free_all}});
        curl.global_init(CURL_GLOBAL_DEFAULT);
        return curl.easy_init();
    }();
    return handle;
}

}  // namespace

HttpTimeouts http_timeouts() {
    HttpTimeouts t{30, 60};
    if (const char* env = std::getenv("KEL_HTTP_TIMEOUT")) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end && *end == 0 && v >= 1 && v <= 3600) t.connect_seconds = t.idle_seconds = v;
    }
    return t;
}

bool http_exchange(const HttpRequest& request, HttpResponse& response, std::string* error) {
    CURL* h = shared_handle();
    if (!h) {
        if (error) *error = "no HTTP handle";
        return false;
    }
    curl.easy_reset(h);
    response = HttpResponse{};
    char reason[CURL_ERROR_SIZE] = {0};
    HttpTimeouts t = http_timeouts();
    curl.setopt(h, CURLOPT_ERRORBUFFER, reason);
    curl.setopt(h, CURLOPT_URL, request.url.c_str());
    curl.setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl.setopt(h, CURLOPT_MAXREDIRS, 20L);
    curl.setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl.setopt(h, CURLOPT_CONNECTTIMEOUT, t.connect_seconds);
    curl.setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.setopt(h, CURLOPT_LOW_SPEED_TIME, t.idle_seconds);
    curl.setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl.setopt(h, CURLOPT_WRITEDATA, &response.body);
    curl.setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl.setopt(h, CURLOPT_HEADERDATA, &response.headers);
    if (request.method == "GET") {
        curl.setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
        curl.setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        if (request.method != "POST") curl.setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (request.send_body || request.method == "POST") {
            curl.setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
            curl.setopt(h, CURLOPT_POSTFIELDS, request.body.empty() ? "" : (const char*)request.body.data());
        }
    }
    curl_slist* list = nullptr;
    for (const std::string& line : request.headers) list = curl.slist_append(list, line.c_str());
    // Bodies go at once: no wait for a "100 Continue" that some servers never send.
    list = curl.slist_append(list, "Expect:");
    curl.setopt(h, CURLOPT_HTTPHEADER, list);
    CURLcode rc = curl.perform(h);
    curl.slist_free_all(list);
    if (rc != CURLE_OK) {
        if (error) *error = reason[0] ? reason : curl.strerror(rc);
        response = HttpResponse{};
        return false;
    }
    curl.getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    return true;
}

namespace {

// Text of header names and values from the wire: UTF-8, an ill-formed byte as U+FFFD.
Cell* push_lenient_text(const std::string& s) {
    std::vector<u32> cps;
    const u8* p = reinterpret_cast<const u8*>(s.data());
    const u8* end = p + s.size();
    while (p < end) {
        i32 cp;
        const u8* next = utf8_decode_char(p, end, &cp);
        if (cp < 0 || next == p) {
            cps.push_back(0xFFFD);
            next = next == p ? p + 1 : next;
        } else {
            cps.push_back(u32(cp));
        }
        p = next;
    }
    return dt::push_string_from(cps);
}

std::string text_of(Cell* v) {
    Cell* s = stack_push(v);
    if (!dt::is_any_string_type(type_of(s))) {
        Cell* f = dt::push_string(16);
        dt::form_dispatch(s, f, nullptr, INT_MAX);
        *s = *f;
        stack_pop(1);
    }
    i32 len = -1;
    const char* t = string_to_utf8(s, &len);
    std::string out(t, size_t(len));
    stack_pop(1);
    return out;
}

// The response headers as a map!: each name once, a repeated name with a block! of its
// values in order.
Cell* push_header_map(const std::vector<std::pair<std::string, std::string>>& headers) {
    std::vector<std::pair<std::string, std::vector<std::string>>> grouped;
    for (const auto& [name, value] : headers) {
        auto same = [&, &name = name](const auto& g) {
            return g.first.size() == name.size() &&
                   std::equal(name.begin(), name.end(), g.first.begin(),
                              [](char a, char b) { return std::tolower(u8(a)) == std::tolower(u8(b)); });
        };
        auto it = std::find_if(grouped.begin(), grouped.end(), same);
        if (it == grouped.end())
            grouped.push_back({name, {value}});
        else
            it->second.push_back(value);
    }
    Cell* blk = dt::push_new_block(i32(grouped.size() * 2));
    for (const auto& [name, values] : grouped) {
        Cell w = dt::load_word(name.c_str());
        set_cell_type(&w, T_SET_WORD);
        stack_push(&w);
        dt::append_top_to_block(blk);
        stack_pop(1);
        if (values.size() == 1) {
            push_lenient_text(values[0]);
        } else {
            Cell* inner = dt::push_new_block(i32(values.size()));
            for (const std::string& v : values) {
                push_lenient_text(v);
                dt::append_top_to_block(inner);
                stack_pop(1);
            }
        }
        dt::append_top_to_block(blk);
        stack_pop(1);
    }
    Cell proto;
    set_cell(&proto, T_DATATYPE, T_MAP);
    Cell* map = dt::handler<A_MAKE>(T_MAP)(&proto, blk, T_MAP);
    *blk = *map;
    stack_pop(u32(stack_top() - blk));
    return blk;
}

Cell* push_body(const std::vector<u8>& body, bool binary, bool lines) {
    if (binary) return dt::push_binary_copy(body.data(), u32(body.size()));
    if (lines) return push_split_lines(body.data(), body.size());
    return dt::load_string(body.data(), u32(body.size()), 0);
}

std::string method_text(const Cell* method) {
    std::string m = symbol_name(word_symbol(method));
    for (char& c : m) c = char(std::toupper(u8(c)));
    return m;
}

}  // namespace

Cell* http_request(const Cell* method, Cell* url, Cell* headers, Cell* data, bool binary, bool lines, bool info) {
    HttpRequest req;
    req.method = method_text(method);
    {
        Cell* u = stack_push(url);
        Cell* enc = dt::push_string(dt::string_length(u) + 8);
        dt::percent_encode_into(u, 255, enc);
        req.url = text_of(enc);
        stack_pop(2);
    }
    if (headers) {
        Cell* blk = stack_push(headers);
        i32 n = dt::ks_length_q(blk);
        for (i32 i = 0; i + 1 < n; i += 2) {
            Cell name = *dt::ks_abs_at(blk, series_head(blk) + i);
            Cell value = *dt::ks_abs_at(blk, series_head(blk) + i + 1);
            std::string name_text = dt::is_any_word_type(type_of(&name)) ? symbol_name(word_symbol(&name))
                                                                          : text_of(&name);
            req.headers.push_back(name_text + ": " + text_of(&value));
        }
        stack_pop(1);
    } else {
        req.headers = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                       "User-Agent: Mozilla/5.0 (X11; Linux x86_64)"};
    }
    if (data && req.method != "GET" && req.method != "HEAD") {
        req.send_body = true;
        if (type_of(data) == T_BINARY) {
            const u8* p = dt::binary_head_ptr(data);
            req.body.assign(p, p + dt::binary_length(data));
        } else {
            std::string t = text_of(data);
            req.body.assign(t.begin(), t.end());
        }
    }
    HttpResponse res;
    if (!http_exchange(req, res)) return nullptr;
    if (!info) return push_body(res.body, binary, lines);
    Cell* blk = dt::push_new_block(3);
    Cell status;
    set_cell(&status, T_INTEGER, 0, u32(i32(res.status)));
    stack_push(&status);
    dt::append_top_to_block(blk);
    stack_pop(1);
    push_header_map(res.headers);
    dt::append_top_to_block(blk);
    stack_pop(1);
    push_body(res.body, binary, lines);
    dt::append_top_to_block(blk);
    stack_pop(1);
    return blk;
}

namespace {

// The url! datatype sends only HTTP and HTTPS urls here; other schemes go through ports.
Cell* url_read_action(Cell* url, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (part || seek || as) raise_error(Err::internal_not_done);
    Cell get = dt::load_word("get");
    Cell* r = http_request(&get, url, nullptr, nullptr, binary, lines, info);
    if (!r) raise_error(Err::access_no_connect, url);
    return r;
}

Cell* url_write_action(Cell* url, Cell* value, bool binary, bool lines, bool info, bool, Cell*, Cell* seek,
                       Cell* allow, Cell* as) {
    if (seek || allow || as) raise_error(Err::internal_not_done);
    Cell method = dt::load_word("post");
    Cell* headers = nullptr;
    Cell* data = value;
    if (type_of(value) == T_BLOCK) {
        i32 n = dt::ks_length_q(value);
        data = nullptr;
        if (n <= 0) {
            method = dt::load_word("get");
        } else {
            Cell* first = stack_push(dt::ks_abs_at(value, series_head(value)));
            if (type_of(first) != T_WORD) raise_error(Err::script_invalid_arg, first);
            method = *first;
            if (n >= 2) {
                headers = stack_push(dt::ks_abs_at(value, series_head(value) + 1));
                if (type_of(headers) != T_BLOCK) raise_error(Err::script_invalid_arg, headers);
            }
            if (n >= 3) data = stack_push(dt::ks_abs_at(value, series_head(value) + 2));
        }
    }
    if (data && type_of(data) != T_BLOCK && type_of(data) != T_STRING && type_of(data) != T_BINARY)
        raise_error(Err::script_invalid_arg, data);
    Cell* r = http_request(&method, url, headers, data, binary, lines, info);
    if (!r) raise_error(Err::access_no_connect, url);
    return r;
}

struct Installer {
    Installer() {
        dt::g_resource_io.url_read = url_read_action;
        dt::g_resource_io.url_write = url_write_action;
    }
} g_installer;

}  // namespace

}  // namespace kel::host
