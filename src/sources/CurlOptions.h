#pragma once

#include <QString>

// Sets up libcurl's global state once, before any thread uses it.
void initCurl();

// The options every handle of the program gets, whatever the protocol: the user agent,
// sockets that no child process inherits (a pdftotext or pdftk started meanwhile must
// not hold a connection open at the server), no signals, and no wait longer than
// stallSeconds for a connection or a transfer that moves nothing. A bool given as
// CURLOPT_SOCKOPTDATA is set once a data connection of active FTP has been accepted.
void setCommonOptions(void *curlHandle, long stallSeconds);

// TLS that is checked: the server's certificate against the system's store and, when
// caFile (PEM) is given, an office's own authority beside it. There is no way to turn
// the check off.
void setTlsOptions(void *curlHandle, const QString &caFile);
