// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// Fuzz target for the web server's request handling, in memory: the input is the bytes a client
// sends, parsed as the transport parses them, with its limits, then checked and answered by the
// routes over a root that holds a small season in a temporary folder (no password, so every
// route is reached). A run that an input asks for runs too. What must hold for any input: the
// transport refuses only with its own statuses, every answer's status is one the API documents,
// an error is JSON (but the page that tells a browser what host line to add), no header can be
// split, and no answer names a path outside the root.

#include "server.h"
#include "transport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <variant>

namespace {

void Check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "web invariant violated: %s\n", what);
        std::abort();
    }
}

struct Setup
{
    Setup()
    {
        for (int n = 1; n <= 3; ++n) {
            const QString folder =
                top.path() + QStringLiteral("/root/Season/Show.S01E0%1.720p").arg(n);
            QDir().mkpath(folder);
            QFile file(folder + QStringLiteral("/show.s01e0%1.mkv").arg(n));
            file.open(QIODevice::WriteOnly);
            file.write("x");
        }
        QDir().mkpath(top.path() + QStringLiteral("/outside"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(top.path() + QStringLiteral("/state")));
        web::ServerOptions options;
        options.roots = {top.path() + QStringLiteral("/root")};
        routes = web::MakeRoutes(options);
    }
    QTemporaryDir top;
    std::unique_ptr<web::Handler> routes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_web";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Setup setup;

    const std::variant<web::Request, int> parsed =
        web::ParseRequest(std::string(reinterpret_cast<const char *>(data), size));
    if (const int *status = std::get_if<int>(&parsed)) {
        Check(std::set<int>{400, 411, 413, 415, 431}.count(*status) == 1,
              "the transport refuses with a status of its own");
        return 0;
    }
    web::Request request = std::get<web::Request>(parsed);
    request.peer = "127.0.0.1";
    std::optional<web::Response> response = setup.routes->Refuse(request);
    if (!response)
        response = setup.routes->Handle(request);
    QByteArray streamed;
    if (response->run)
        response->run([&streamed](const QByteArray &line) { streamed += line + '\n'; });
    Check(std::set<int>{200, 204, 400, 401, 403, 404, 405, 409, 413, 429}.count(response->status) ==
              1,
          "a documented status");
    Check(response->status < 400 || response->body.startsWith("{\"error\":") ||
              (response->status == 403 && response->contentType.rfind("text/html", 0) == 0),
          "an error is JSON");
    for (const auto &[field, value] : response->headers)
        Check(value.find_first_of("\r\n") == std::string::npos, "no header is split");
    const QByteArray outside = QFile::encodeName(setup.top.path() + QStringLiteral("/outside"));
    Check(!response->body.contains(outside) && !streamed.contains(outside),
          "nothing outside the root is named");
    return 0;
}
