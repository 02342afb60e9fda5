// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The server's settings file and its password: $XDG_CONFIG_HOME/move-rename/web.conf, one
// "key = value" a line (root, listen, host, tls-cert, tls-key, password,
// trusted_proxy), "#" for comments.
namespace web {

struct Settings
{
    QStringList roots;
    QString listen = QStringLiteral("127.0.0.1:8087");
    QStringList hosts; // further names the server is reached by, besides its address
    QString tlsCert;
    QString tlsKey;
    QByteArray passwordHash;    // libsodium's Argon2id string; empty: no password
    QStringList trustedProxies; // addresses whose X-Forwarded-For names the client
};

QString SettingsPath();

// The settings in SettingsPath(), the defaults when there is no such file. Nothing, error
// saying why, when it cannot be read, holds an unknown key, or may be read by others.
std::optional<Settings> ReadSettings(QString *error);

// Stores a slow salted hash of password in the settings file (made, mode 0600, when missing),
// keeping its other lines.
bool StorePassword(const QByteArray &password, QString *error);

// Whether password matches hash, in time that does not depend on how much of it matches.
bool PasswordMatches(const QByteArray &hash, const QByteArray &password);

} // namespace web
