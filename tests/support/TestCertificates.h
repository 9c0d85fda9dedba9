#pragma once

#include <QString>

// A certificate authority and a server certificate it signed, for 127.0.0.1 (and
// localhost), made with openssl for servers the tests run over TLS.
struct TestCertificates {
    QString ca;          // the authority's certificate (PEM): what CaFile names
    QString certificate; // the server's certificate (PEM)
    QString key;         // the server's private key (PEM, unencrypted)
    QString error;       // why they could not be made; empty when they were

    bool ok() const { return error.isEmpty(); }
    explicit operator bool() const { return ok(); }
};

// Makes them in folder (which must exist), valid from now for two days: the server's
// in one step, signed as it is made (openssl 3).
TestCertificates makeTestCertificates(const QString &folder);
