#pragma once

#include "SheetSource.h"

#include <memory>

// The sheets of one directory of an FTP server (anonymous log-in), fetched over up to
// the given number of connections at once, each kept from one sheet to the next.
// libcurl's multi interface runs on a worker thread of the source's own, which owns
// every connection and socket; fetches go in through a queue, reports come back
// posted. Every wait is bounded:
// - a connection the server refuses (421 at its greeting) costs no sheet: the fetch
//   goes back to the queue and the build goes on with the connections that work, or,
//   when none does, waits up to the stall limit for one;
// - a transfer that hears nothing, neither reply nor data, for the stall limit fails,
//   is tried once more on a fresh connection, and counts a strike; three strikes with
//   no answer between them end the fetching ("The FTP server stopped answering.");
// - a transfer that falls silent for far longer than transfers take (a data connection
//   some servers lose) is moved to a fresh connection early, for nothing;
// - stop() only tells the worker, which closes the connections on its own time.
class FtpSource : public SheetSource {
    Q_OBJECT

public:
    static constexpr int StrikesToGiveUp = 3;

    // directory: the edition's folder, "/Geod/PDF Single Sheet/". memory keeps, for the
    // window's later builds, that passive mode was chosen.
    FtpSource(const SourceSettings &settings, QString directory,
              std::shared_ptr<SourceMemory> memory, QObject *parent = nullptr);
    ~FtpSource() override;

    void open() override;
    void fetch(int id, const QString &name, const QString &target) override;
    void stop() override;

private:
    struct Shared;
    class Worker;
    void post(int id, const QString &name, const QString &target);

    SourceSettings m_settings;
    QString m_directory;
    std::shared_ptr<SourceMemory> m_memory;
    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};
