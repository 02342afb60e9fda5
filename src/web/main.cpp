// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "server.h"
#include "settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <iostream>
#include <string>

#include <netdb.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    R"(Usage: move-rename-web [--root DIR]... [--listen ADDR:PORT] [--tls-cert FILE --tls-key FILE]
       move-rename-web --set-password

Serves Move & Rename to a web browser: the same scan, target names, conflicts, safe move,
journal and undo as move-rename-cli, for the folders under the roots only.

Options:
  --root DIR          a folder the server may list, read and change (repeatable); replaces
                      the roots of the settings file
  --listen ADDR:PORT  where to listen (default 127.0.0.1:8087; port 0 picks a free one);
                      ADDR may be a name, which is resolved once at the start
  --tls-cert FILE     serve HTTPS with this certificate (PEM) ...
  --tls-key FILE      ... and this private key
  --set-password      store the password that the page asks for (8 characters or more):
                      read twice from the terminal, or once from standard input
  -h, --help          show this help
  --version           show the version

Settings are read from $XDG_CONFIG_HOME/move-rename/web.conf (mode 0600), one "key = value"
a line: root, listen, host (a further name the server is reached by), tls-cert, tls-key,
password, trusted_proxy (a reverse proxy's address, whose X-Forwarded-For is believed).
Without a password the server listens on loopback addresses only.

Exit status: 0 stopped by SIGTERM or SIGINT, 2 cannot start.
)";

QByteArray ReadLine(const char *prompt, bool terminal)
{
    termios old = {};
    if (terminal) {
        std::cerr << prompt << std::flush;
        ::tcgetattr(STDIN_FILENO, &old);
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
        std::cerr << '\n';
    }
    return QByteArray::fromStdString(line);
}

// Short enough to be guessed offline from the hash in the settings file, were that copied.
constexpr int kShortestPassword = 8;

int SetPassword(QTextStream &err)
{
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    QByteArray password;
    // At a terminal a person may try again; a script gets a status it can act on.
    for (;;) {
        password = ReadLine("Password: ", terminal);
        if (QString::fromUtf8(password).toUcs4().size() >= kShortestPassword)
            break;
        err << "move-rename-web: a password needs at least " << kShortestPassword
            << " characters, this one has " << QString::fromUtf8(password).toUcs4().size()
            << Qt::endl;
        if (!terminal || !std::cin)
            return 2;
    }
    if (terminal && ReadLine("Again: ", terminal) != password) {
        err << "move-rename-web: the two passwords differ\n";
        return 2;
    }
    QString error;
    if (!web::StorePassword(password, &error)) {
        err << "move-rename-web: " << error << '\n';
        return 2;
    }
    err << "password stored in " << web::SettingsPath() << '\n';
    return 0;
}

// host and port of "ADDR:PORT" or "[V6]:PORT".
bool ParseListen(const QString &listen, web::ServerOptions &options)
{
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    options.port = listen.mid(colon + 1).toInt(&ok);
    options.host = listen.left(colon);
    if (options.host.startsWith(QLatin1Char('[')) && options.host.endsWith(QLatin1Char(']')))
        options.host = options.host.mid(1, options.host.size() - 2);
    return colon > 0 && ok && options.port >= 0 && options.port < 65536;
}

// The numeric address that host names: itself when it is one, else the first that it resolves to.
// Empty when it resolves to none.
QString Resolve(const QString &host)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        return {};
    char address[NI_MAXHOST];
    const bool named = ::getnameinfo(found->ai_addr, found->ai_addrlen, address, sizeof address,
                                     nullptr, 0, NI_NUMERICHOST) == 0;
    ::freeaddrinfo(found);
    return named ? QString::fromLatin1(address) : QString();
}

// Only for the tests, which cannot wait half an hour: MOVE_RENAME_WEB_TEST_SECONDS="IDLE,WINDOW"
// shortens a session's idle end and the login's minute to those seconds.
void ShortenForTests(web::LoginTimes &times)
{
    const QStringList seconds =
        qEnvironmentVariable("MOVE_RENAME_WEB_TEST_SECONDS").split(QLatin1Char(','));
    if (seconds.size() == 2) {
        times.sessionIdle = std::chrono::seconds(seconds[0].toInt());
        times.window = std::chrono::seconds(seconds[1].toInt());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    const QCommandLineOption root(QStringLiteral("root"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption listen(QStringLiteral("listen"), QString(), QStringLiteral("ADDR"));
    const QCommandLineOption cert(QStringLiteral("tls-cert"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("tls-key"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption setPassword(QStringLiteral("set-password"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({root, listen, cert, key, setPassword, help, version});
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        err << "move-rename-web: "
            << (parser.errorText().isEmpty() ? QStringLiteral("unexpected argument (see --help)")
                                             : parser.errorText())
            << '\n';
        return 2;
    }
    if (parser.isSet(help)) {
        out << kUsage;
        return 0;
    }
    if (parser.isSet(version)) {
        out << "move-rename-web " << MOVE_RENAME_VERSION << '\n';
        return 0;
    }
    if (parser.isSet(setPassword))
        return SetPassword(err);

    QString error;
    const std::optional<web::Settings> settings = web::ReadSettings(&error);
    if (!settings) {
        err << "move-rename-web: " << error << '\n';
        return 2;
    }
    web::ServerOptions options;
    const QString address = parser.isSet(listen) ? parser.value(listen) : settings->listen;
    if (!ParseListen(address, options)) {
        err << "move-rename-web: --listen takes ADDR:PORT, not '" << address << "'\n";
        return 2;
    }
    // A name is resolved before the password rule judges the address it stands for.
    const QString name = options.host;
    options.host = Resolve(name);
    if (options.host.isEmpty()) {
        err << "move-rename-web: cannot resolve '" << name << "' (--listen)\n";
        return 2;
    }
    if (options.host != name)
        options.hostNames.append(name.toLower());
    const QStringList roots = parser.isSet(root) ? parser.values(root) : settings->roots;
    for (const QString &path : roots) {
        if (!QFileInfo(path).isDir()) {
            err << "move-rename-web: no such folder: '" << path << "'\n";
            return 2;
        }
        options.roots.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    if (options.roots.isEmpty()) {
        err << "move-rename-web: no root given: --root DIR, or root = DIR in "
            << web::SettingsPath() << '\n';
        return 2;
    }
    options.hostNames += settings->hosts;
    options.trustedProxies = settings->trustedProxies;
    ShortenForTests(options.loginTimes);
    options.tlsCert = parser.isSet(cert) ? parser.value(cert) : settings->tlsCert;
    options.tlsKey = parser.isSet(key) ? parser.value(key) : settings->tlsKey;
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty()) {
        err << "move-rename-web: --tls-cert and --tls-key go together\n";
        return 2;
    }
    options.passwordHash = settings->passwordHash;
    if (options.passwordHash.isEmpty() && !web::IsLoopback(options.host)) {
        err << "move-rename-web: refusing to listen on " << options.host
            << " without a password: anyone who reaches it could move your files. Run "
               "move-rename-web --set-password first, or listen on 127.0.0.1\n";
        return 2;
    }
    const int status = web::Serve(options, &error);
    if (status != 0)
        err << "move-rename-web: " << error << '\n';
    return status;
}
