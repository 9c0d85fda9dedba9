#pragma once

#include <QString>

// A certificate authority of the tests' own and a server certificate it signed, for
// 127.0.0.1 and localhost, made with openssl (EC keys, valid for two days). Trusted by
// nothing until a test names the authority (CaFile).
struct TestCertificates {
    QString ca;    // the authority's certificate (PEM)
    QString cert;  // the server's certificate (PEM)
    QString key;   // the server's key (PEM)
    QString error; // why they could not be made; empty when they were

    explicit operator bool() const { return error.isEmpty(); }
};

// Writes them into folder, which must exist.
TestCertificates makeTestCertificates(const QString &folder);
