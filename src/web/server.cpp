// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "server.h"

#include "api.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSysInfo>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include <httplib.h>
#include <pthread.h>
#include <sodium.h>

namespace web {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSessionIdle = std::chrono::minutes(30);
constexpr int kMaxSessions = 100;
constexpr int kMaxFailures = 5; // wrong passwords from one address within kFailureWindow
constexpr auto kFailureWindow = std::chrono::minutes(1);
constexpr size_t kMaxBody = 1 << 20;
constexpr int kTimeoutSeconds = 5;

// When the request being served on this thread began, for its log line.
thread_local Clock::time_point requestStart;

std::string Std(const QString &text)
{
    return text.toStdString();
}

QString Qt(const std::string &text)
{
    return QString::fromStdString(text);
}

void Send(httplib::Response &res, const Reply &reply)
{
    res.status = reply.status;
    if (!reply.body.isEmpty())
        // With the charset named, httplib leaves the answer uncompressed: it would compress JSON
        // with brotli at its slowest setting, some 25 ms for one screen of rows.
        res.set_content(reply.body.toStdString(), "application/json; charset=utf-8");
}

// The sessions of those who logged in, and the wrong passwords of each address.
class Sessions
{
public:
    std::string Create()
    {
        unsigned char bytes[32]; // 256 random bits
        randombytes_buf(bytes, sizeof bytes);
        const std::string token =
            QByteArray(reinterpret_cast<char *>(bytes), sizeof bytes).toHex().toStdString();
        const std::lock_guard<std::mutex> lock(mutex);
        if (sessions.size() >= kMaxSessions)
            sessions.erase(sessions.begin());
        sessions.push_back({token, Clock::now()});
        return token;
    }

    // Whether token names a live session; it lives on then. Every session is compared in full
    // and in constant time, so that timing tells nothing about how much of a guess was right.
    bool Valid(const std::string &token)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const Clock::time_point now = Clock::now();
        sessions.erase(
            std::remove_if(sessions.begin(), sessions.end(),
                           [now](const Session &s) { return now - s.used > kSessionIdle; }),
            sessions.end());
        bool found = false;
        for (Session &session : sessions) {
            if (session.token.size() == token.size() &&
                sodium_memcmp(session.token.data(), token.data(), token.size()) == 0) {
                session.used = now;
                found = true;
            }
        }
        return found;
    }

    void End(const std::string &token)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                      [&token](const Session &s) { return s.token == token; }),
                       sessions.end());
    }

    bool Blocked(const std::string &address)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto until = blockedUntil.find(address);
        return until != blockedUntil.end() && Clock::now() < until->second;
    }

    void Failed(const std::string &address)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const Clock::time_point now = Clock::now();
        std::vector<Clock::time_point> &times = failures[address];
        times.erase(std::remove_if(times.begin(), times.end(),
                                   [now](Clock::time_point t) { return now - t > kFailureWindow; }),
                    times.end());
        times.push_back(now);
        if (int(times.size()) >= kMaxFailures) {
            blockedUntil[address] = now + kFailureWindow;
            times.clear();
        }
    }

private:
    struct Session
    {
        std::string token;
        Clock::time_point used;
    };
    std::mutex mutex;
    std::vector<Session> sessions;
    std::map<std::string, std::vector<Clock::time_point>> failures;
    std::map<std::string, Clock::time_point> blockedUntil;
};

std::string SessionCookie(const httplib::Request &req)
{
    const QStringList cookies = Qt(req.get_header_value("Cookie")).split(QLatin1Char(';'));
    for (const QString &cookie : cookies) {
        const QString trimmed = cookie.trimmed();
        if (trimmed.startsWith(QLatin1String("session=")))
            return Std(trimmed.mid(8));
    }
    return {};
}

// The host part of a Host header: "[::1]" of "[::1]:8087", "example.org" of "example.org:80".
QString HostPart(const QString &header)
{
    if (header.startsWith(QLatin1Char('[')))
        return header.left(header.indexOf(QLatin1Char(']')) + 1);
    return header.left(header.indexOf(QLatin1Char(':')));
}

// A log line cannot be broken, nor its encoding, by what a client put into its path.
std::string Printable(const std::string &text)
{
    std::string shown = text;
    for (char &c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '?';
    }
    return shown;
}

const char *ContentType(const QString &name)
{
    static const std::map<QString, const char *> types{
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("ico"), "image/vnd.microsoft.icon"}};
    const auto type = types.find(name.section(QLatin1Char('.'), -1));
    return type == types.end() ? "application/octet-stream" : type->second;
}

std::optional<QJsonObject> Body(const httplib::Request &req, httplib::Response &res)
{
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
    if (error.error != QJsonParseError::NoError) {
        Send(res, Error(400, QStringLiteral("malformed JSON at offset %1: %2")
                                 .arg(error.offset)
                                 .arg(error.errorString())));
        return std::nullopt;
    }
    if (!document.isObject()) {
        Send(res, Error(400, QStringLiteral("expected a JSON object")));
        return std::nullopt;
    }
    return document.object();
}

struct Route
{
    const char *method;
    const char *pattern;
    std::function<void(const httplib::Request &, httplib::Response &)> handle;
    std::regex path = std::regex(pattern);
};

class Server
{
public:
    Server(const ServerOptions &options)
        : options(options)
        , api(options.roots)
        , tls(!options.tlsCert.isEmpty())
    {
        allowedHosts = QSet<QString>(options.hostNames.begin(), options.hostNames.end());
        allowedHosts.insert(options.host.contains(QLatin1Char(':'))
                                ? QLatin1Char('[') + options.host + QLatin1Char(']')
                                : options.host.toLower());
        // On every address, the server is reached by the machine's own name too.
        if (options.host == QLatin1String("0.0.0.0") || options.host == QLatin1String("::"))
            allowedHosts += {QSysInfo::machineHostName().toLower(),
                             QSysInfo::machineHostName().toLower() + QStringLiteral(".local")};
        if (IsLoopback(options.host))
            allowedHosts +=
                {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("[::1]")};
        for (const QString &name : QDir(QStringLiteral(":/page")).entryList(QDir::Files))
            pageFiles.insert(QLatin1Char('/') + name);
        CreateRoutes();
    }

    int Run(QString *error);

private:
    void CreateRoutes();
    httplib::Server::HandlerResponse Check(const httplib::Request &req, httplib::Response &res);
    void Login(const httplib::Request &req, httplib::Response &res);
    template<typename Call>
    void WithBody(const httplib::Request &req, httplib::Response &res, Call call);

    const ServerOptions options;
    Api api;
    Sessions sessions;
    const bool tls;
    QSet<QString> allowedHosts;
    QSet<QString> pageFiles;
    std::vector<Route> routes;
};

template<typename Call>
void Server::WithBody(const httplib::Request &req, httplib::Response &res, Call call)
{
    if (const std::optional<QJsonObject> body = Body(req, res))
        Send(res, call(*body));
}

void Server::CreateRoutes()
{
    const auto param = [](const httplib::Request &req, const char *name) {
        return Qt(req.get_param_value(name));
    };
    routes.push_back(
        {"POST", "/api/login", [this](const auto &req, auto &res) { Login(req, res); }});
    routes.push_back({"POST", "/api/logout", [this](const auto &req, auto &res) {
                          if (Body(req, res)) {
                              sessions.End(SessionCookie(req));
                              res.status = 204;
                          }
                      }});
    routes.push_back(
        {"GET", "/api/roots", [this](const auto &, auto &res) { Send(res, api.Roots()); }});
    routes.push_back({"GET", "/api/folders", [this, param](const auto &req, auto &res) {
                          Send(res, api.Folders(param(req, "root"), param(req, "path")));
                      }});
    routes.push_back({"POST", "/api/scans", [this](const auto &req, auto &res) {
                          WithBody(req, res, [this](const QJsonObject &o) { return api.Scan(o); });
                      }});
    routes.push_back({"GET", "/api/scans/([0-9a-f]+)/rows",
                      [this](const httplib::Request &req, httplib::Response &res) {
                          QMap<QString, QString> query;
                          for (const auto &[name, value] : req.params)
                              query.insert(Qt(name), Qt(value));
                          Send(res, api.Rows(Qt(req.matches[1]), query));
                      }});
    routes.push_back({"POST", "/api/scans/([0-9a-f]+)/apply",
                      [this](const httplib::Request &req, httplib::Response &res) {
                          const std::optional<QJsonObject> body = Body(req, res);
                          if (!body)
                              return;
                          std::function<void(const std::function<void(const QByteArray &)> &)> run;
                          const Reply reply = api.Apply(Qt(req.matches[1]), *body, &run);
                          if (reply.status != 200)
                              return Send(res, reply);
                          // The run goes on in the provider, on this request's thread, each row's
                          // line sent as soon as it is known. A client that goes away does not stop
                          // it.
                          res.set_chunked_content_provider(
                              "application/x-ndjson", [run](size_t, httplib::DataSink &sink) {
                                  run([&sink](const QByteArray &line) {
                                      const QByteArray withEnd = line + '\n';
                                      sink.write(withEnd.constData(), size_t(withEnd.size()));
                                  });
                                  sink.done();
                                  return true;
                              });
                      }});
    routes.push_back(
        {"GET", "/api/journals", [this](const auto &, auto &res) { Send(res, api.Journals()); }});
    routes.push_back({"POST", "/api/undo", [this](const auto &req, auto &res) {
                          WithBody(req, res, [this](const QJsonObject &o) { return api.Undo(o); });
                      }});
    routes.push_back({"GET", "/[^/]*", [this](const httplib::Request &req, httplib::Response &res) {
                          const QString name =
                              req.path == "/" ? QStringLiteral("/index.html") : Qt(req.path);
                          QFile file(QStringLiteral(":/page") + name);
                          if (!pageFiles.contains(name) || !file.open(QIODevice::ReadOnly))
                              return Send(res, Error(404, QStringLiteral("not found")));
                          res.set_content(file.readAll().toStdString(), ContentType(name));
                      }});
}

httplib::Server::HandlerResponse Server::Check(const httplib::Request &req, httplib::Response &res)
{
    requestStart = Clock::now();
    const auto refuse = [&res](int status, const QString &why) {
        Send(res, Error(status, why));
        return httplib::Server::HandlerResponse::Handled;
    };
    // A page on another site that got its name to resolve here (DNS rebinding) still sends
    // that name.
    const QString host = Qt(req.get_header_value("Host")).toLower();
    if (!allowedHosts.contains(HostPart(host)))
        return refuse(403, QStringLiteral("this server is not reached by that name (Host)"));

    const Route *route = nullptr;
    bool pathKnown = false;
    for (const Route &candidate : routes) {
        if (!std::regex_match(req.path, candidate.path))
            continue;
        pathKnown = true;
        if (req.method == candidate.method) {
            route = &candidate;
            break;
        }
    }
    if (!route)
        return pathKnown ? refuse(405, QStringLiteral("method not allowed"))
                         : refuse(404, QStringLiteral("no such route"));
    if (req.path.rfind("/api/", 0) != 0)
        return httplib::Server::HandlerResponse::Unhandled;

    const QString origin = Qt(req.get_header_value("Origin")).toLower();
    if (req.has_header("Origin") &&
        origin != (tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host)
        return refuse(403, QStringLiteral("requests from another site are refused (Origin)"));
    // A form on another site can post only form types and plain text, never JSON.
    if (req.method == "POST" &&
        !Qt(req.get_header_value("Content-Type")).startsWith(QLatin1String("application/json")))
        return refuse(403, QStringLiteral("a change needs a JSON body (Content-Type: "
                                          "application/json)"));
    if (!options.passwordHash.isEmpty() && req.path != "/api/login" &&
        !sessions.Valid(SessionCookie(req)))
        return refuse(401, QStringLiteral("log in first"));
    return httplib::Server::HandlerResponse::Unhandled;
}

void Server::Login(const httplib::Request &req, httplib::Response &res)
{
    const std::optional<QJsonObject> body = Body(req, res);
    if (!body)
        return;
    const QJsonValue password = body->value(QLatin1String("password"));
    if (!password.isString())
        return Send(res, Error(400, QStringLiteral("expected {\"password\": \"...\"}")));
    if (options.passwordHash.isEmpty()) {
        res.status = 204;
        return;
    }
    if (sessions.Blocked(req.remote_addr))
        return Send(res, Error(429, QStringLiteral("too many wrong passwords: try again in a "
                                                   "minute")));
    if (!PasswordMatches(options.passwordHash, password.toString().toUtf8())) {
        sessions.Failed(req.remote_addr);
        return Send(res, Error(401, QStringLiteral("wrong password")));
    }
    res.set_header("Set-Cookie", "session=" + sessions.Create() +
                                     "; HttpOnly; SameSite=Strict; Path=/" +
                                     (tls ? "; Secure" : ""));
    res.status = 204;
}

int Server::Run(QString *error)
{
    std::unique_ptr<httplib::Server> server;
    if (tls)
        server =
            std::make_unique<httplib::SSLServer>(QFile::encodeName(options.tlsCert).constData(),
                                                 QFile::encodeName(options.tlsKey).constData());
    else
        server = std::make_unique<httplib::Server>();
    if (!server->is_valid()) {
        *error = QStringLiteral("cannot use the TLS certificate %1 with the key %2")
                     .arg(options.tlsCert, options.tlsKey);
        return 2;
    }
    server->set_payload_max_length(kMaxBody);
    server->set_read_timeout(kTimeoutSeconds, 0);
    server->set_write_timeout(kTimeoutSeconds, 0);
    server->set_keep_alive_timeout(kTimeoutSeconds);
    // A page asks for a screen of rows at every keystroke: one connection serves many of them.
    server->set_keep_alive_max_count(1000);
    // An answer goes out in several writes; waiting for the client's acknowledgement of the first
    // (Nagle's algorithm) would add 40 ms to every screen of rows.
    server->set_tcp_nodelay(true);
    server->set_default_headers(
        {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
         {"X-Content-Type-Options", "nosniff"},
         {"Referrer-Policy", "no-referrer"},
         {"Cache-Control", "no-store"}});
    server->set_pre_routing_handler(
        [this](const httplib::Request &req, httplib::Response &res) { return Check(req, res); });
    for (const Route &route : routes) {
        if (std::string(route.method) == "GET")
            server->Get(route.pattern, route.handle);
        else
            server->Post(route.pattern, route.handle);
    }
    // What httplib answers by itself (413, a request it cannot parse) is JSON too.
    server->set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            Send(res, Error(res.status, res.status == 413 ? QStringLiteral("the body is over 1 MiB")
                                                          : QStringLiteral("bad request")));
    });
    server->set_logger([](const httplib::Request &req, const httplib::Response &res) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - requestStart);
        std::fprintf(stderr, "%s %s %d %lld ms\n", Printable(req.method).c_str(),
                     Printable(req.path).c_str(), res.status, static_cast<long long>(ms.count()));
    });

    const std::string host = Std(options.host);
    int port = options.port;
    if (port == 0)
        port = server->bind_to_any_port(host);
    else if (!server->bind_to_port(host, port))
        port = -1;
    if (port < 0) {
        *error = QStringLiteral("cannot listen on %1:%2").arg(options.host).arg(options.port);
        return 2;
    }
    const QString shownHost = options.host.contains(QLatin1Char(':'))
                                  ? QLatin1Char('[') + options.host + QLatin1Char(']')
                                  : options.host;
    std::fprintf(stderr, "listening on %s://%s:%d/\n", tls ? "https" : "http",
                 Std(shownHost).c_str(), port);
    std::fflush(stderr);

    // SIGINT and SIGTERM end the server once the requests under way (a run among them) are
    // done: blocked in every thread, and waited for in one.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopping, &signal);
        server->stop();
    });
    const bool listened = server->listen_after_bind();
    ::kill(::getpid(), SIGTERM); // ends the waiter when the server stopped by itself
    waiter.join();
    if (!listened && error->isEmpty())
        *error = QStringLiteral("the server stopped unexpectedly");
    return listened ? 0 : 2;
}

} // namespace

bool IsLoopback(const QString &host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("::1") ||
           host.startsWith(QLatin1String("127."));
}

int Serve(const ServerOptions &options, QString *error)
{
    if (sodium_init() < 0) {
        *error = QStringLiteral("cannot start libsodium");
        return 2;
    }
    Server server(options);
    return server.Run(error);
}

} // namespace web
