// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "login.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// move-rename-web's server: the page and the API's routes, with every check a request passes
// before the API sees it, over the transport (transport.h) and the login (login.h).
namespace web {

struct ServerOptions
{
    QStringList roots; // absolute, clean, existing folders
    QString host = QStringLiteral("127.0.0.1");
    int port = 8087;       // 0: any free port
    QStringList hostNames; // names besides host that a request's Host may give
    QString tlsCert;       // both set: HTTPS
    QString tlsKey;
    QByteArray passwordHash;    // empty: no login
    QStringList trustedProxies; // addresses whose X-Forwarded-For is believed
    LoginTimes loginTimes;
};

// Whether host (an address or name) is a loopback one.
bool IsLoopback(const QString &host);

class Handler;
// The routes alone, for the fuzz target, which answers requests in memory.
std::unique_ptr<Handler> MakeRoutes(const ServerOptions &options);

// Serves until SIGINT or SIGTERM, writing "listening on URL" and then one line per request to
// standard error. Returns the exit status: 0, or 2 when it cannot start (err says why).
int Serve(const ServerOptions &options, QString *error);

} // namespace web
