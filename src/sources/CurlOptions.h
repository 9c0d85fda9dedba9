#pragma once

// Sets up libcurl's global state once, before any thread uses it.
void initCurl();

// The options every handle of the program gets, whatever the protocol: the user agent,
// sockets that no child process inherits (a pdftotext or pdftk started meanwhile must
// not hold a connection open at the server), no signals, and no wait longer than
// stallSeconds for a connection or a transfer that moves nothing.
void setCommonOptions(void *curlHandle, long stallSeconds);
