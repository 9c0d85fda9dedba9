#pragma once

#include "CurlSource.h"

#include <optional>

// The sheets of one edition folder of a web server, fetched with GET by a worker thread of
// the source's own (CurlWorker). HTTP/2 carries every sheet over one connection, many at
// once; a server that speaks only HTTP/1.1 gets up to WebConnections kept-alive
// connections. TLS is always verified (the system's authorities and CaFile). The answers:
// - 404 and 410: not on the source; 401 and 403: refused, with the status line;
// - 429 and 503: asked again once the server's Retry-After has passed (bounded by the
//   stall limit), nothing else started meanwhile;
// - any other 5xx, a body cut short of its Content-Length, a silence of the stall limit
//   and a broken connection are tried once more, and then the transfer failed;
// - a 429, a 503, a silence or a broken connection counts a strike, as over FTP, but once
//   for all the requests on their way at the time (one connection carries them all);
//   three strikes with nothing answered between end the fetching;
// - a 200 whose body is no PDF (a server's "not found" page) is not a sheet;
// - redirects are followed five times at most, and never from https to http;
// - a host not found, a connection refused or a certificate not verified ends the
//   fetching at once, with the cause.
// open() asks for the address of the folder above the editions (HEAD): a web server cannot
// list a folder, so a missing edition folder shows only as every sheet missing.
class WebSource : public CurlSource {
    Q_OBJECT

public:
    // folder: the edition's folder, settings.webUrl + "PDF Single Sheet/".
    WebSource(const SourceSettings &settings, QString folder, QObject *parent = nullptr);

    // The edition folder's address, every path part below WebUrl percent-encoded.
    QString folderAddress() const;

protected:
    QByteArray urlOf(const QString &name) const override;
    std::shared_ptr<CurlWorker> makeWorker(std::shared_ptr<CurlQueue> queue) override;

private:
    SourceSettings m_settings;
    QString m_folder;
};

// The address of a file (or, with no name, of the folder, ending in "/") below base (the
// WebUrl setting, already an address): every part of folder below base and the name are
// percent-encoded.
QString webAddress(const QString &base, const QString &folder, const QString &name = QString());

// "host" or "host:port" of the web server, as messages name it.
QString webServerName(const QString &webUrl);

// Start-up's look at the web server: a HEAD of the WebUrl address, over a connection of its
// own that is closed again. Nothing when the server answered; else why it cannot be used.
std::optional<SourceLoss> probeWebServer(const SourceSettings &settings);
