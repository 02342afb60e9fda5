// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// What the JSON API does, apart from HTTP: the roots, their folders, scans kept on the server
// with their rows worked out on demand, runs and undos. Safe to call from several threads.
namespace web {

struct Reply
{
    int status = 200;
    QByteArray body; // JSON
};

// {"error": text} with status.
Reply Error(int status, const QString &text);

class Api
{
public:
    // roots: absolute, clean paths of existing folders; each is opened once, and every path a
    // client names is resolved beneath it.
    explicit Api(const QStringList &roots);
    ~Api();
    Api(const Api &) = delete;
    Api &operator=(const Api &) = delete;

    Reply Roots() const;
    Reply Folders(const QString &root, const QString &path) const;
    Reply Scan(const QJsonObject &request);
    // query: the request's parameters by name.
    Reply Rows(const QString &scan, const QMap<QString, QString> &query);
    // Checks request; on success returns a reply with an empty body and sets run to the run,
    // which writes its lines through line as the moves go.
    Reply Apply(const QString &scan, const QJsonObject &request,
                std::function<void(const std::function<void(const QByteArray &)> &line)> *run);
    // The library's plan of the scan: its groups, each with its patterns and its rows with the
    // fields read from their names.
    Reply Library(const QString &scan, const QJsonObject &request);
    Reply Journals() const;
    Reply Undo(const QJsonObject &request) const;

private:
    struct Root;
    struct ScanData;
    std::shared_ptr<ScanData> FindScan(const QString &id);
    struct Destination;
    // Where a request's targets go: the top of the root whose id is to, or without to (undefined),
    // the folder that the scan's targets start from. Nothing, with the reply that refuses it,
    // for a root that does not exist.
    std::optional<Destination> DestinationOf(const ScanData &scan, const QJsonValue &to,
                                             Reply *refusal) const;
    struct LibraryRequest;
    // What a request asks of the library, or the reply that refuses it.
    std::optional<LibraryRequest> ReadLibrary(const ScanData &scan, const QJsonObject &request,
                                              Reply *refusal) const;

    QVector<std::shared_ptr<Root>> roots;
    std::mutex mutex; // guards scans and scanOrder
    QMap<QString, std::shared_ptr<ScanData>> scans;
    QStringList scanOrder; // oldest first
};

} // namespace web
