#pragma once

#include "CurlSource.h"

#include <memory>

// The sheets of one directory of an FTP server (anonymous log-in), fetched over up to
// the given number of connections at once, each kept from one sheet to the next, by a
// worker thread of the source's own (CurlWorker). Beyond the bounds every network
// source keeps:
// - a connection the server refuses (421 at its greeting) costs no sheet: the fetch
//   goes back to the queue and the build goes on with the connections that work, or,
//   when none does, waits up to the stall limit for one;
// - a transfer that hears nothing for the stall limit fails, is tried once more on a
//   fresh connection, and counts a strike; three strikes with no answer between them end
//   the fetching ("The FTP server stopped answering.");
// - in auto mode a refused data port, or a data connection that never arrives, turns the
//   source (and the window's later builds) to passive mode.
class FtpSource : public CurlSource {
    Q_OBJECT

public:
    // directory: the edition's folder, "/Geod/PDF Single Sheet/". memory keeps, for the
    // window's later builds, that passive mode was chosen.
    FtpSource(const SourceSettings &settings, QString directory,
              std::shared_ptr<SourceMemory> memory, QObject *parent = nullptr);

protected:
    QByteArray urlOf(const QString &name) const override;
    std::shared_ptr<CurlWorker> makeWorker(std::shared_ptr<CurlQueue> queue) override;

private:
    SourceSettings m_settings;
    QString m_directory;
    std::shared_ptr<SourceMemory> m_memory;
};
