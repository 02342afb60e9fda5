// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// The HTTP transport of move-rename-web: connections, TLS, and every limit a request meets while
// its bytes arrive (sizes, deadlines, connections per address), with one log line a request.
// What a request means is left to a Handler.
namespace web {

// The limits, in one place so that a reader sees them together.
struct Limits
{
    static constexpr size_t kMaxHeader = 16 * 1024; // request line and header fields together
    static constexpr int kMaxFields = 100;
    static constexpr size_t kMaxBody = 1 << 20; // counted as it arrives, whatever the coding
    static constexpr int kHeaderSeconds = 10;   // the whole header block, from its first byte
    static constexpr int kBodySeconds = 20;     // the whole body
    static constexpr int kIdleSeconds = 10;     // a connection waiting for its next request
    static constexpr int kWriteSeconds = 20;    // each write of an answer
    static constexpr int kPerAddress = 16;      // connections open from one address
    static constexpr int kConnections = 256;    // connections open in all
    static constexpr int kWorkers = 16;         // threads that run the handler
    static constexpr int kQueued = 256;         // requests waiting for one of them, then 503
};

struct Request
{
    std::string method;
    std::string target; // as sent
    std::string path;   // the target's path, percent-decoded
    QMap<QString, QString> query;
    std::map<std::string, std::string> headers; // by name in lower case
    std::string peer;                           // the address of the connection's other end
    std::string local; // the address the client reached this server at (IPv4 as such)
    QByteArray body;

    // The value of header name (lower case), empty when it was not sent.
    std::string Header(const std::string &name) const;
    bool Has(const std::string &name) const { return headers.count(name) != 0; }
};

// Writes one line of a streamed answer; the line's end is added.
using LineSink = std::function<void(const QByteArray &line)>;

struct Response;
// Gives a request its answer, once, from any thread.
using Answer = std::function<void(Response)>;

struct Response
{
    int status = 200;
    std::string contentType;
    QByteArray body;
    std::vector<std::pair<std::string, std::string>> headers; // besides the transport's own
    // When set, the answer is streamed: run writes its lines (NDJSON) as they are known, on a
    // worker thread; a client that goes away does not stop it.
    std::function<void(const LineSink &)> run;
    // When set, the answer comes later: later runs on a worker thread and hands answer on to
    // whatever gives the answer; until then the connection waits, holding no thread. (Its
    // initializer lets the answers written as {status, type, body, headers, run} leave it out.)
    std::function<void(const Answer &answer)> later = nullptr;
};

class Handler
{
public:
    virtual ~Handler() = default;
    // An answer for a request that is refused on its headers alone, before its body is read.
    virtual std::optional<Response> Refuse(const Request &headersOnly) = 0;
    // The answer to a whole request; runs on a worker thread.
    virtual Response Handle(const Request &request) = 0;
};

struct Listen
{
    std::string address; // a numeric address
    int port = 0;        // 0: any free port
    QString tlsCert;     // both set: HTTPS
    QString tlsKey;
};

// Serves handler until SIGINT or SIGTERM, writing "listening on URL" and then one line per
// request to standard error; requests under way are finished first. Returns 0, or 2 when it
// cannot start (error says why).
int ServeHttp(const Listen &listen, Handler &handler, QString *error);

// For the fuzz target: parses bytes as the transport does, with its limits; the request, or the
// status it is refused with.
std::variant<Request, int> ParseRequest(const std::string &bytes);

// text, with control characters, non-ASCII bytes and backslashes escaped, for a log line.
std::string Printable(const std::string &text);

} // namespace web
