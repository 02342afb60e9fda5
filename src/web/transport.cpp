// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "transport.h"

#include <QFile>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <thread>

namespace web {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Parser = http::request_parser<http::string_body>;
using std::chrono::seconds;

// What a streamed answer may hold back for a client that does not read before it counts as gone.
constexpr size_t kMaxPending = 8 << 20;
// How long and how much of a refused request's rest is read and thrown away after the answer, so
// that closing does not reset the connection before the client has read why.
constexpr auto kLinger = seconds(2);
constexpr size_t kMaxLinger = 2 * Limits::kMaxBody;

std::string Decode(std::string_view text, bool plusIsSpace)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(uchar(text[i + 1])) &&
            std::isxdigit(uchar(text[i + 2]))) {
            decoded += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += plusIsSpace && text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

QMap<QString, QString> Query(std::string_view text)
{
    QMap<QString, QString> query;
    while (!text.empty()) {
        const size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        const size_t equals = std::min(pair.find('='), pair.size());
        const QString name = QString::fromStdString(Decode(pair.substr(0, equals), true));
        if (!query.contains(name)) // the first of a repeated name counts
            query.insert(name, QString::fromStdString(
                                   Decode(pair.substr(std::min(equals + 1, pair.size())), true)));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return query;
}

// The request's line and headers; the status to refuse it with when its headers break a rule
// of the transport, 0 when they do not.
int TakeHeader(const Parser &parser, Request &request)
{
    const auto &header = parser.get();
    request.method = std::string(header.method_string());
    request.target = std::string(header.target());
    const size_t question = std::min(request.target.find('?'), request.target.size());
    request.path = Decode(std::string_view(request.target).substr(0, question), false);
    request.query = Query(
        std::string_view(request.target).substr(std::min(question + 1, request.target.size())));
    int fields = 0;
    for (const auto &field : header) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return char(std::tolower(uchar(c))); });
        std::string &value = request.headers[name];
        value += (value.empty() ? "" : name == "cookie" ? "; " : ", ") + std::string(field.value());
        ++fields;
    }
    if (fields > Limits::kMaxFields)
        return 431;
    // A small body may not unpack into a large one: no coding but the identity is taken.
    if (request.Has("content-encoding"))
        return 415;
    if (request.method == "POST" && !parser.content_length() && !parser.chunked())
        return 411;
    return 0;
}

// The status that a read's error makes of its request: 0 when the client went away with it.
int FailureStatus(const beast::error_code &error)
{
    if (error == http::error::header_limit)
        return 431;
    if (error == http::error::body_limit)
        return 413;
    if (error == beast::error::timeout)
        return 408;
    if (error == http::error::end_of_stream || error == net::error::eof ||
        error == net::error::connection_reset || error == net::error::operation_aborted)
        return 0;
    return 400;
}

QByteArray ErrorBody(int status)
{
    static const std::map<int, const char *> reasons{
        {400, "malformed request"},
        {408, "the request took too long"},
        {411, "a POST needs a Content-Length or chunked coding"},
        {413, "the body is over 1 MiB"},
        {415, "Content-Encoding is not accepted"},
        {431, "the header block is over 16 KiB or 100 fields"},
        {500, "the server failed on this request"},
        {503, "the server is busy: try again"}};
    const auto reason = reasons.find(status);
    return QByteArray("{\"error\":\"") + (reason == reasons.end() ? "refused" : reason->second) +
           "\"}";
}

// Runs jobs on a fixed set of threads; a bounded number may wait.
class WorkQueue
{
public:
    WorkQueue(int threads, int bound)
        : bound(bound)
    {
        for (int i = 0; i < threads; ++i)
            workers.emplace_back([this] { Work(); });
    }
    ~WorkQueue() { Finish(); }

    // False when the queue is full or finishing.
    bool Post(std::function<void()> job)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (finishing || int(jobs.size()) >= bound)
            return false;
        jobs.push_back(std::move(job));
        wake.notify_one();
        return true;
    }

    // Runs what was posted, then ends the threads.
    void Finish()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            finishing = true;
        }
        wake.notify_all();
        for (std::thread &worker : workers)
            if (worker.joinable())
                worker.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return finishing || !jobs.empty(); });
            if (jobs.empty())
                return;
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job();
        }
    }

    const int bound;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool finishing = false;
    std::vector<std::thread> workers;
};

// The connections open, in all and by address.
class ConnectionCount
{
public:
    bool Take(const std::string &address)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        int &mine = byAddress[address];
        if (total >= Limits::kConnections || mine >= Limits::kPerAddress) {
            if (mine == 0)
                byAddress.erase(address);
            return false;
        }
        ++mine;
        ++total;
        return true;
    }

    void Give(const std::string &address)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        --total;
        if (--byAddress[address] == 0)
            byAddress.erase(address);
    }

private:
    std::mutex mutex;
    std::map<std::string, int> byAddress;
    int total = 0;
};

struct Shared
{
    Handler &handler;
    WorkQueue &work;
    ConnectionCount &count;
};

// One client's connection: its requests one after the other, each read within its limits and
// answered, all on the connection's strand; the handler runs on the work queue.
template<class Stream>
class Connection : public std::enable_shared_from_this<Connection<Stream>>
{
public:
    Connection(Stream stream, std::string peer, Shared &shared)
        : stream(std::move(stream))
        , peer(std::move(peer))
        , shared(shared)
    {}
    ~Connection() { shared.count.Give(peer); }

    void Start()
    {
        if constexpr (kTls) {
            Lowest().expires_after(seconds(Limits::kHeaderSeconds));
            stream.async_handshake(ssl::stream_base::server,
                                   [self = this->shared_from_this()](beast::error_code error) {
                                       if (!error)
                                           self->Next();
                                   });
        } else {
            Next();
        }
    }

private:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
    beast::tcp_stream &Lowest() { return beast::get_lowest_layer(stream); }

    // Waits, within the idle limit, for the next request's first byte.
    void Next()
    {
        parser.emplace();
        parser->header_limit(Limits::kMaxHeader);
        parser->body_limit(Limits::kMaxBody);
        request = Request{};
        request.peer = peer;
        beast::error_code ignored;
        const net::ip::address local = Lowest().socket().local_endpoint(ignored).address();
        // On "::", an IPv4 client arrives at "::ffff:10.0.0.1" but asked for "10.0.0.1".
        request.local =
            local.is_v6() && local.to_v6().is_v4_mapped()
                ? net::ip::make_address_v4(net::ip::v4_mapped, local.to_v6()).to_string()
                : local.to_string();
        if (buffer.size() > 0)
            return ReadHeader();
        Lowest().expires_after(seconds(Limits::kIdleSeconds));
        stream.async_read_some(
            buffer.prepare(Limits::kMaxHeader),
            [self = this->shared_from_this()](beast::error_code error, size_t n) {
                if (error)
                    return self->Close(); // idle or gone: no request to log
                self->buffer.commit(n);
                self->ReadHeader();
            });
    }

    void ReadHeader()
    {
        started = Clock::now();
        Lowest().expires_after(seconds(Limits::kHeaderSeconds));
        http::async_read_header(stream, buffer, *parser,
                                [self = this->shared_from_this()](beast::error_code error, size_t) {
                                    if (error)
                                        return self->Fail(error);
                                    self->OnHeader();
                                });
    }

    void OnHeader()
    {
        if (const int status = TakeHeader(*parser, request))
            return Send(Refusal(status), true);
        if (std::optional<Response> refusal = shared.handler.Refuse(request))
            return Send(std::move(*refusal), !parser->is_done());
        if (parser->is_done())
            return Dispatch();
        Lowest().expires_after(seconds(Limits::kBodySeconds));
        http::async_read(stream, buffer, *parser,
                         [self = this->shared_from_this()](beast::error_code error, size_t) {
                             if (error)
                                 return self->Fail(error);
                             self->request.body =
                                 QByteArray::fromStdString(self->parser->get().body());
                             self->Dispatch();
                         });
    }

    static Response Refusal(int status)
    {
        return {status, "application/json; charset=utf-8", ErrorBody(status), {}, {}};
    }

    void Fail(const beast::error_code &error)
    {
        // A header block cut short logs what its request line said, if it said anything.
        if (request.method.empty()) {
            request.method = std::string(parser->get().method_string());
            request.target = std::string(parser->get().target());
        }
        const int status = FailureStatus(error);
        if (status == 408 || status == 0) {
            // A timed-out stream is closed already; a client that left reads nothing.
            Log(status == 0 ? 400 : 408);
            return Close();
        }
        Send(Refusal(status), true);
    }

    // Runs the handler on the work queue, or answers 503 at once when too many wait for it.
    void Dispatch()
    {
        const bool queued = shared.work.Post([self = this->shared_from_this()] {
            Response response;
            try {
                response = self->shared.handler.Handle(self->request);
                if (response.later)
                    return response.later(
                        [self](Response answer) { self->Answer(std::move(answer)); });
            } catch (const std::exception &) {
                response = Refusal(500);
            }
            self->Answer(std::move(response));
        });
        if (!queued)
            Send(Refusal(503), true);
    }

    // From the thread that has the answer: sends it on the strand, or streams its lines from
    // this thread.
    void Answer(Response response)
    {
        const auto self = this->shared_from_this();
        if (!response.run) {
            net::post(stream.get_executor(), [self, response = std::move(response)]() mutable {
                self->Send(std::move(response), false);
            });
            return;
        }
        net::post(stream.get_executor(), [self, response] { self->SendHead(response); });
        response.run([&self](const QByteArray &line) { self->Queue(line + '\n'); });
        {
            const std::lock_guard<std::mutex> lock(streamMutex);
            runDone = true;
        }
        net::post(stream.get_executor(), [self] { self->Flush(); });
    }

    template<class Message>
    void SetHeaders(Message &message, const Response &response)
    {
        message.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
        message.set("X-Content-Type-Options", "nosniff");
        message.set("Referrer-Policy", "no-referrer");
        message.set(http::field::cache_control, "no-store");
        if (!response.contentType.empty())
            message.set(http::field::content_type, response.contentType);
        for (const auto &[name, value] : response.headers)
            message.set(name, value);
    }

    void Send(Response response, bool close)
    {
        auto message = std::make_shared<http::response<http::string_body>>(
            http::status(response.status), parser->get().version() ? parser->get().version() : 11);
        SetHeaders(*message, response);
        message->body() = response.body.toStdString();
        message->keep_alive(!close && parser->keep_alive());
        message->prepare_payload();
        Lowest().expires_after(seconds(Limits::kWriteSeconds));
        http::async_write(
            stream, *message,
            [self = this->shared_from_this(), message](beast::error_code error, size_t) {
                self->Log(message->result_int());
                if (error)
                    return self->Close();
                if (!message->keep_alive())
                    return self->Linger();
                self->Next();
            });
    }

    // The head of a streamed answer, its lines then going out in chunks as Queue gets them.
    void SendHead(const Response &response)
    {
        auto message = std::make_shared<http::response<http::empty_body>>(
            http::status(response.status), parser->get().version());
        SetHeaders(*message, response);
        message->keep_alive(parser->keep_alive());
        message->chunked(true);
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*message);
        Lowest().expires_after(seconds(Limits::kWriteSeconds));
        http::async_write_header(stream, *serializer,
                                 [self = this->shared_from_this(), message,
                                  serializer](beast::error_code error, size_t) {
                                     self->headSent = true;
                                     self->keepAlive = message->keep_alive();
                                     if (error)
                                         self->Broken();
                                     self->Flush();
                                 });
    }

    // From the worker thread: one line of a streamed answer.
    void Queue(const QByteArray &line)
    {
        {
            const std::lock_guard<std::mutex> lock(streamMutex);
            if (broken)
                return;
            pending.append(line.constData(), size_t(line.size()));
            if (pending.size() > kMaxPending) {
                broken = true;
                pending.clear();
            }
        }
        net::post(stream.get_executor(), [self = this->shared_from_this()] { self->Flush(); });
    }

    void Broken()
    {
        const std::lock_guard<std::mutex> lock(streamMutex);
        broken = true;
        pending.clear();
    }

    // Writes what is pending of a streamed answer, one write at a time, and its end.
    void Flush()
    {
        if (writing || !headSent || ended)
            return;
        auto chunk = std::make_shared<std::string>();
        bool done = false;
        bool gone = false;
        {
            const std::lock_guard<std::mutex> lock(streamMutex);
            chunk->swap(pending);
            done = runDone;
            gone = broken;
        }
        const auto self = this->shared_from_this();
        if (gone) {
            if (done) {
                ended = true;
                Log(200);
                Close();
            }
            return;
        }
        Lowest().expires_after(seconds(Limits::kWriteSeconds));
        writing = true;
        if (!chunk->empty()) {
            net::async_write(stream, http::make_chunk(net::buffer(*chunk)),
                             [self, chunk](beast::error_code error, size_t) {
                                 self->writing = false;
                                 if (error)
                                     self->Broken();
                                 self->Flush();
                             });
        } else if (done) {
            ended = true;
            net::async_write(stream, http::make_chunk_last(),
                             [self](beast::error_code error, size_t) {
                                 self->writing = false;
                                 self->Log(200);
                                 if (error || !self->keepAlive)
                                     return self->Close();
                                 self->ResetStream();
                                 self->Next();
                             });
        } else {
            writing = false;
        }
    }

    void ResetStream()
    {
        headSent = ended = false;
        const std::lock_guard<std::mutex> lock(streamMutex);
        runDone = broken = false;
    }

    // After an answer that closes the connection: stops sending, reads what the client still
    // sends for a little while, then closes.
    void Linger()
    {
        beast::error_code ignored;
        Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
        Lowest().expires_after(kLinger);
        auto scrap = std::make_shared<std::array<char, 16384>>();
        Discard(scrap, 0);
    }

    void Discard(const std::shared_ptr<std::array<char, 16384>> &scrap, size_t read)
    {
        Lowest().async_read_some(net::buffer(*scrap), [self = this->shared_from_this(), scrap,
                                                       read](beast::error_code error, size_t n) {
            if (error || read + n > kMaxLinger)
                return self->Close();
            self->Discard(scrap, read + n);
        });
    }

    void Close()
    {
        beast::error_code ignored;
        Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        Lowest().close();
    }

    void Log(int status) const
    {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        // The path as sent, still percent-encoded, so that it holds no space either.
        const std::string path = request.target.substr(0, request.target.find('?'));
        std::fprintf(stderr, "%s %s %d %lld ms\n",
                     request.method.empty() ? "-" : Printable(request.method).c_str(),
                     path.empty() ? "-" : Printable(path).c_str(), status,
                     static_cast<long long>(ms.count()));
    }

    Stream stream;
    const std::string peer;
    Shared &shared;
    // Holds what was read ahead of the request being parsed; never more than a header block.
    beast::flat_buffer buffer{Limits::kMaxHeader};
    std::optional<Parser> parser;
    Request request;
    Clock::time_point started = Clock::now();

    // A streamed answer: pending, runDone and broken are shared with the worker thread.
    std::mutex streamMutex;
    std::string pending;
    bool runDone = false;
    bool broken = false;
    bool headSent = false; // the rest on the strand only
    bool writing = false;
    bool ended = false;
    bool keepAlive = false;
};

} // namespace

std::string Request::Header(const std::string &name) const
{
    const auto value = headers.find(name);
    return value == headers.end() ? std::string() : value->second;
}

std::string Printable(const std::string &text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = uchar(c);
        if (byte < 0x20 || byte >= 0x7f || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::variant<Request, int> ParseRequest(const std::string &bytes)
{
    Parser parser;
    parser.header_limit(Limits::kMaxHeader);
    parser.body_limit(Limits::kMaxBody);
    parser.eager(true);
    beast::error_code error;
    size_t used = 0;
    while (!error && used < bytes.size() && !parser.is_done()) {
        const size_t n = parser.put(net::buffer(bytes.data() + used, bytes.size() - used), error);
        if (n == 0 && !error)
            break; // wants more than there is
        used += n;
    }
    if (!error && !parser.is_done())
        parser.put_eof(error);
    if (error && !parser.is_header_done())
        return std::max(FailureStatus(error), 400);
    Request request;
    if (const int status = TakeHeader(parser, request))
        return status;
    if (error)
        return std::max(FailureStatus(error), 400);
    request.body = QByteArray::fromStdString(parser.get().body());
    return request;
}

int ServeHttp(const Listen &listen, Handler &handler, QString *error)
{
    // Each thread would otherwise get a malloc arena of its own, 64 MiB of address space each
    // that keeps what was freed in it; the threads mostly wait, and two arenas serve them.
    mallopt(M_ARENA_MAX, 2);
    // Declared before the io_context, which ends the connections that use them.
    std::optional<ssl::context> tls;
    ConnectionCount count;
    WorkQueue work(Limits::kWorkers, Limits::kQueued);
    Shared shared{handler, work, count};
    net::io_context io;

    if (!listen.tlsCert.isEmpty()) {
        tls.emplace(ssl::context::tls_server);
        tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                         ssl::context::no_tlsv1_1);
        beast::error_code failed;
        tls->use_certificate_chain_file(QFile::encodeName(listen.tlsCert).toStdString(), failed);
        if (!failed)
            tls->use_private_key_file(QFile::encodeName(listen.tlsKey).toStdString(),
                                      ssl::context::pem, failed);
        if (failed) {
            *error = QStringLiteral("cannot use the TLS certificate %1 with the key %2")
                         .arg(listen.tlsCert, listen.tlsKey);
            return 2;
        }
    }

    tcp::acceptor acceptor(io);
    beast::error_code failed;
    const tcp::endpoint endpoint(net::ip::make_address(listen.address, failed),
                                 static_cast<unsigned short>(listen.port));
    if (!failed)
        acceptor.open(endpoint.protocol(), failed);
    if (!failed)
        acceptor.set_option(net::socket_base::reuse_address(true), failed);
    if (!failed)
        acceptor.bind(endpoint, failed);
    if (!failed)
        acceptor.listen(net::socket_base::max_listen_connections, failed);
    const std::string shownHost =
        endpoint.address().is_v6() ? '[' + listen.address + ']' : listen.address;
    // SO_REUSEADDR lets a restart bind while the last run's connections linger, never a second
    // server beside a listening one: that is refused, so answers never alternate between two.
    if (failed) {
        *error = QStringLiteral("%1 %2:%3")
                     .arg(failed == net::error::address_in_use
                              ? QStringLiteral("address in use:")
                              : QStringLiteral("cannot listen (%1) on")
                                    .arg(QString::fromStdString(failed.message())))
                     .arg(QString::fromStdString(shownHost))
                     .arg(listen.port);
        return 2;
    }
    std::fprintf(stderr, "listening on %s://%s:%d/\n", tls ? "https" : "http", shownHost.c_str(),
                 acceptor.local_endpoint().port());
    std::fflush(stderr);

    std::function<void()> accept = [&] {
        acceptor.async_accept(net::make_strand(io), [&](beast::error_code failed,
                                                        tcp::socket socket) {
            if (failed) {
                if (acceptor.is_open())
                    accept();
                return;
            }
            beast::error_code ignored;
            const std::string peer = socket.remote_endpoint(ignored).address().to_string();
            if (!count.Take(peer)) {
                socket.close(ignored);
            } else {
                // An answer goes out in several writes; waiting for the acknowledgement of the
                // first (Nagle's algorithm) would add 40 ms to every screen of rows.
                socket.set_option(tcp::no_delay(true), ignored);
                if (tls)
                    std::make_shared<Connection<beast::ssl_stream<beast::tcp_stream>>>(
                        beast::ssl_stream<beast::tcp_stream>(std::move(socket), *tls), peer, shared)
                        ->Start();
                else
                    std::make_shared<Connection<beast::tcp_stream>>(
                        beast::tcp_stream(std::move(socket)), peer, shared)
                        ->Start();
            }
            accept();
        });
    };
    accept();

    // SIGINT and SIGTERM end the server once the requests under way (a run among them) are done.
    std::signal(SIGPIPE, SIG_IGN);
    net::signal_set stopSignals(io, SIGINT, SIGTERM);
    std::thread finisher;
    stopSignals.async_wait([&](beast::error_code, int) {
        beast::error_code ignored;
        acceptor.close(ignored);
        finisher = std::thread([&] {
            work.Finish();
            io.stop();
        });
    });
    std::thread second([&] { io.run(); });
    io.run();
    second.join();
    if (finisher.joinable())
        finisher.join();
    return 0;
}

} // namespace web
