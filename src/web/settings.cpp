// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sodium.h>
#include <sys/stat.h>

namespace web {

QString SettingsPath()
{
    // Relative values are ignored, as the XDG base directory rules say.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base =
        QDir::isAbsolutePath(config) ? config : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/move-rename/web.conf"));
}

std::optional<Settings> ReadSettings(QString *error)
{
    Settings settings;
    const QString path = SettingsPath();
    QFile file(path);
    if (!file.exists())
        return settings;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 may be read by others: it holds the password hash (chmod 600 "
                                "it)")
                     .arg(path);
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (equals < 0 || value.isEmpty()) {
            *error = QStringLiteral("%1:%2: expected \"key = value\"").arg(path).arg(number);
            return std::nullopt;
        }
        if (key == QLatin1String("root"))
            settings.roots.append(value);
        else if (key == QLatin1String("listen"))
            settings.listen = value;
        else if (key == QLatin1String("host"))
            settings.hosts.append(value.toLower());
        else if (key == QLatin1String("tls-cert"))
            settings.tlsCert = value;
        else if (key == QLatin1String("tls-key"))
            settings.tlsKey = value;
        else if (key == QLatin1String("trusted_proxy"))
            settings.trustedProxies.append(value);
        else if (key == QLatin1String("password"))
            settings.passwordHash = value.toLatin1();
        else {
            *error = QStringLiteral("%1:%2: unknown key '%3'").arg(path).arg(number).arg(key);
            return std::nullopt;
        }
    }
    return settings;
}

bool StorePassword(const QByteArray &password, QString *error)
{
    char hash[crypto_pwhash_STRBYTES];
    // Argon2id over 64 MiB, three passes: some 0.1 s of one core, as the README and the API's
    // documentation state.
    constexpr unsigned long long kPasses = 3;
    constexpr size_t kMemory = 64 << 20;
    if (sodium_init() < 0 ||
        crypto_pwhash_str_alg(hash, password.constData(), quint64(password.size()), kPasses,
                              kMemory, crypto_pwhash_ALG_ARGON2ID13) != 0) {
        *error = QStringLiteral("cannot hash the password (out of memory?)");
        return false;
    }
    const QString path = SettingsPath();
    QByteArray kept;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly)) {
        while (!old.atEnd()) {
            const QByteArray line = old.readLine();
            if (!line.trimmed().startsWith("password"))
                kept += line.endsWith('\n') ? line : line + '\n';
        }
    }
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    const bool stored = file.open(QIODevice::WriteOnly) &&
                        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
                        file.write(kept + "password = " + hash + '\n') >= 0 && file.commit();
    if (!stored)
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
    return stored;
}

bool PasswordMatches(const QByteArray &hash, const QByteArray &password)
{
    return sodium_init() >= 0 && crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                                          quint64(password.size())) == 0;
}

} // namespace web
