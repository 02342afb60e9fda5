// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "server.h"

#include "api.h"
#include "login.h"
#include "settings.h"
#include "transport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSysInfo>

#include <map>
#include <optional>
#include <regex>

#include <sodium.h>

namespace web {

namespace {

constexpr const char *kJson = "application/json; charset=utf-8";

Response Send(const Reply &reply)
{
    return {reply.status, reply.body.isEmpty() ? std::string() : kJson, reply.body, {}, {}};
}

Response NoContent()
{
    return {204, {}, {}, {}, {}};
}

std::string SessionCookie(const Request &req)
{
    const QStringList cookies =
        QString::fromStdString(req.Header("cookie")).split(QLatin1Char(';'));
    for (const QString &cookie : cookies) {
        const QString trimmed = cookie.trimmed();
        if (trimmed.startsWith(QLatin1String("session=")))
            return trimmed.mid(8).toStdString();
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

// A browser that reached the server by a name it does not know is told how to make it known.
Response HostRefusalPage(const QString &name)
{
    const QString shown = name.isEmpty() ? QStringLiteral("NAME") : name.toHtmlEscaped();
    const QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<title>Move &amp; Rename: unknown name</title></head><body>\n"
            "<h1>Move &amp; Rename is not reached by the name %1</h1>\n"
            "<p>The server answers only to the names it knows, so that a page of another site "
            "cannot reach it under a name of its own. If %1 is this server's name, add the "
            "line</p>\n"
            "<pre>host = %1</pre>\n"
            "<p>to its settings file <code>web.conf</code> (in <code>~/.config/move-rename/</code> "
            "of the user it runs as) and start it again.</p>\n</body></html>\n")
            .arg(shown);
    return {403, ContentType(QStringLiteral("x.html")), page.toUtf8(), {}, {}};
}

// The request's body as a JSON object, or the answer that says why it is not one.
std::optional<QJsonObject> Body(const Request &req, Response *refusal)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(req.body, &error);
    if (error.error != QJsonParseError::NoError) {
        *refusal = Send(Error(400, QStringLiteral("malformed JSON at offset %1: %2")
                                       .arg(error.offset)
                                       .arg(error.errorString())));
        return std::nullopt;
    }
    if (!document.isObject()) {
        *refusal = Send(Error(400, QStringLiteral("expected a JSON object")));
        return std::nullopt;
    }
    return document.object();
}

struct Route
{
    const char *method;
    const char *pattern;
    std::function<Response(const Request &, const std::smatch &)> handle;
    std::regex path = std::regex(pattern);
};

// The API's routes and the page, behind the checks every request passes first.
class Routes : public Handler
{
public:
    explicit Routes(const ServerOptions &options)
        : options(options)
        , api(options.roots)
        , sessions(options.loginTimes.sessionIdle)
        , gate(options.loginTimes.window,
               [this](const QByteArray &password) {
                   return PasswordMatches(this->options.passwordHash, password);
               })
        , tls(!options.tlsCert.isEmpty())
        , everyAddress(options.host == QLatin1String("0.0.0.0") ||
                       options.host == QLatin1String("::"))
    {
        allowedHosts = QSet<QString>(options.hostNames.begin(), options.hostNames.end());
        allowedHosts.insert(options.host.contains(QLatin1Char(':'))
                                ? QLatin1Char('[') + options.host + QLatin1Char(']')
                                : options.host.toLower());
        // On every address, the server is reached by the machine's own name too.
        if (everyAddress)
            allowedHosts += {QSysInfo::machineHostName().toLower(),
                             QSysInfo::machineHostName().toLower() + QStringLiteral(".local")};
        if (IsLoopback(options.host) || everyAddress)
            allowedHosts +=
                {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("[::1]")};
        for (const QString &name : QDir(QStringLiteral(":/page")).entryList(QDir::Files))
            pageFiles.insert(QLatin1Char('/') + name);
        CreateRoutes();
    }

    std::optional<Response> Refuse(const Request &req) override;
    Response Handle(const Request &req) override;

private:
    void CreateRoutes();
    const Route *Find(const Request &req, std::smatch *match, bool *pathKnown) const;
    Response Login(const Request &req);
    template<typename Call>
    static Response WithBody(const Request &req, Call call);

    const ServerOptions options;
    Api api;
    Sessions sessions;
    LoginGate gate;
    const bool tls;
    const bool everyAddress; // listening on a wildcard address
    QSet<QString> allowedHosts;
    QSet<QString> pageFiles;
    std::vector<Route> routes;
};

template<typename Call>
Response Routes::WithBody(const Request &req, Call call)
{
    Response refusal;
    if (const std::optional<QJsonObject> body = Body(req, &refusal))
        return Send(call(*body));
    return refusal;
}

void Routes::CreateRoutes()
{
    const auto param = [](const Request &req, const char *name) {
        return req.query.value(QString::fromLatin1(name));
    };
    routes.push_back({"POST", "/api/login",
                      [this](const Request &req, const std::smatch &) { return Login(req); }});
    routes.push_back({"POST", "/api/logout", [this](const Request &req, const std::smatch &) {
                          Response refusal;
                          if (!Body(req, &refusal))
                              return refusal;
                          sessions.End(SessionCookie(req));
                          return NoContent();
                      }});
    routes.push_back({"GET", "/api/roots",
                      [this](const Request &, const std::smatch &) { return Send(api.Roots()); }});
    routes.push_back(
        {"GET", "/api/folders", [this, param](const Request &req, const std::smatch &) {
             return Send(api.Folders(param(req, "root"), param(req, "path")));
         }});
    routes.push_back({"POST", "/api/scans", [this](const Request &req, const std::smatch &) {
                          return WithBody(req,
                                          [this](const QJsonObject &o) { return api.Scan(o); });
                      }});
    routes.push_back({"GET", "/api/scans/([0-9a-f]+)/rows",
                      [this](const Request &req, const std::smatch &match) {
                          return Send(api.Rows(QString::fromStdString(match[1]), req.query));
                      }});
    routes.push_back({"POST", "/api/scans/([0-9a-f]+)/library",
                      [this](const Request &req, const std::smatch &match) {
                          const std::string scan = match[1];
                          return WithBody(req, [this, &scan](const QJsonObject &o) {
                              return api.Library(QString::fromStdString(scan), o);
                          });
                      }});
    routes.push_back({"POST", "/api/scans/([0-9a-f]+)/apply",
                      [this](const Request &req, const std::smatch &match) {
                          Response refusal;
                          const std::optional<QJsonObject> body = Body(req, &refusal);
                          if (!body)
                              return refusal;
                          std::function<void(const LineSink &)> run;
                          const Reply reply =
                              api.Apply(QString::fromStdString(match[1]), *body, &run);
                          if (reply.status != 200)
                              return Send(reply);
                          // Each row's line goes out as soon as it is known.
                          return Response{200, "application/x-ndjson", {}, {}, run};
                      }});
    routes.push_back({"GET", "/api/journals", [this](const Request &, const std::smatch &) {
                          return Send(api.Journals());
                      }});
    routes.push_back({"POST", "/api/undo", [this](const Request &req, const std::smatch &) {
                          return WithBody(req,
                                          [this](const QJsonObject &o) { return api.Undo(o); });
                      }});
    // The whole file always: a Range header is not answered with a part of it.
    routes.push_back({"GET", "/[^/]*", [this](const Request &req, const std::smatch &) {
                          const QString name = req.path == "/" ? QStringLiteral("/index.html")
                                                               : QString::fromStdString(req.path);
                          QFile file(QStringLiteral(":/page") + name);
                          if (!pageFiles.contains(name) || !file.open(QIODevice::ReadOnly))
                              return Send(Error(404, QStringLiteral("not found")));
                          return Response{200, ContentType(name), file.readAll(), {}, {}};
                      }});
}

const Route *Routes::Find(const Request &req, std::smatch *match, bool *pathKnown) const
{
    *pathKnown = false;
    for (const Route &candidate : routes) {
        if (!std::regex_match(req.path, *match, candidate.path))
            continue;
        *pathKnown = true;
        if (req.method == candidate.method)
            return &candidate;
    }
    return nullptr;
}

std::optional<Response> Routes::Refuse(const Request &req)
{
    const auto refuse = [](int status, const QString &why) { return Send(Error(status, why)); };
    // A page on another site that got its name to resolve here (DNS rebinding) still sends
    // that name.
    // Listening on every address, it answers to the address it was reached at: a browser sends
    // that as typed, while another site's page can only send its own name.
    const QString host = QString::fromStdString(req.Header("host")).toLower();
    const QString local = QString::fromStdString(req.local);
    const bool reachedAt =
        everyAddress && HostPart(host) == (local.contains(QLatin1Char(':'))
                                               ? QLatin1Char('[') + local + QLatin1Char(']')
                                               : local);
    if (!allowedHosts.contains(HostPart(host)) && !reachedAt)
        return req.Header("accept").find("text/html") != std::string::npos ||
                       req.path.rfind("/api/", 0) != 0
                   ? HostRefusalPage(HostPart(host))
                   : refuse(403, QStringLiteral("this server is not reached by that name (Host)"));

    std::smatch match;
    bool pathKnown = false;
    if (!Find(req, &match, &pathKnown))
        return pathKnown ? refuse(405, QStringLiteral("method not allowed"))
                         : refuse(404, QStringLiteral("no such route"));
    if (req.path.rfind("/api/", 0) != 0)
        return std::nullopt;

    const QString origin = QString::fromStdString(req.Header("origin")).toLower();
    if (req.Has("origin") &&
        origin != (tls ? QStringLiteral("https://") : QStringLiteral("http://")) + host)
        return refuse(403, QStringLiteral("requests from another site are refused (Origin)"));
    // A form on another site can post only form types and plain text, never JSON.
    if (req.method == "POST" && !QString::fromStdString(req.Header("content-type"))
                                     .startsWith(QLatin1String("application/json")))
        return refuse(403, QStringLiteral("a change needs a JSON body (Content-Type: "
                                          "application/json)"));
    if (!options.passwordHash.isEmpty() && req.path != "/api/login" &&
        !sessions.Valid(SessionCookie(req)))
        return refuse(401, QStringLiteral("log in first"));
    return std::nullopt;
}

Response Routes::Handle(const Request &req)
{
    std::smatch match;
    bool pathKnown = false;
    const Route *route = Find(req, &match, &pathKnown);
    if (!route) // Refuse let it through
        return Send(Error(404, QStringLiteral("no such route")));
    return route->handle(req, match);
}

Response Routes::Login(const Request &req)
{
    Response refusal;
    const std::optional<QJsonObject> body = Body(req, &refusal);
    if (!body)
        return refusal;
    const QJsonValue password = body->value(QLatin1String("password"));
    if (!password.isString())
        return Send(Error(400, QStringLiteral("expected {\"password\": \"...\"}")));
    if (options.passwordHash.isEmpty())
        return NoContent();
    const std::string address =
        ClientAddress(req.peer, req.Header("x-forwarded-for"), options.trustedProxies);
    // The answer waits for the password's hash, which may wait for the hashes of others.
    Response later;
    later.later = [this, address, typed = password.toString().toUtf8()](const Answer &answer) {
        const auto hashed = [this, answer](bool right) {
            if (!right)
                return answer(Send(Error(401, QStringLiteral("wrong password"))));
            Response response = NoContent();
            response.headers.push_back({"Set-Cookie", "session=" + sessions.Create() +
                                                          "; HttpOnly; SameSite=Strict; Path=/" +
                                                          (tls ? "; Secure" : "")});
            answer(std::move(response));
        };
        if (gate.Begin(address, typed, hashed) == Attempt::Blocked)
            answer(Send(Error(429, QStringLiteral("too many wrong passwords: try again in a "
                                                  "minute"))));
    };
    return later;
}

} // namespace

bool IsLoopback(const QString &host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("::1") ||
           host.startsWith(QLatin1String("127."));
}

std::unique_ptr<Handler> MakeRoutes(const ServerOptions &options)
{
    if (sodium_init() < 0)
        return nullptr;
    return std::make_unique<Routes>(options);
}

int Serve(const ServerOptions &options, QString *error)
{
    if (sodium_init() < 0) {
        *error = QStringLiteral("cannot start libsodium");
        return 2;
    }
    Routes routes(options);
    return ServeHttp({options.host.toStdString(), options.port, options.tlsCert, options.tlsKey},
                     routes, error);
}

} // namespace web
