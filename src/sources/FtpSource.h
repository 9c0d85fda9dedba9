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
// - a connection that cannot be made, is lost, or hears nothing for the stall limit is
//   an outage: the connections that fail together count one strike, and the fetches are
//   tried again after a growing pause; three strikes over the stall limit with no answer
//   between them end the fetching, named ("The FTP server stopped answering.", "Could not
//   connect to the FTP server …"). A server back in time costs no sheet;
// - a refused log-in, a refused data command (PORT, EPSV and PASV), a certificate not
//   verified, or (at the first connection) no server at all end the fetching at once;
// - a sheet the server says it may not send ("Permission denied") is Refused, one it
//   says it lacks, or cannot be told from that, NotOnSource, with the server's words;
// - in auto mode a refused data port, or a data connection that never arrives, turns the
//   source (and the window's later builds) to passive mode; with FtpTls=required it is
//   passive from the start.
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
