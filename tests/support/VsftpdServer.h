#pragma once

#include "TestSupport.h"

// A real vsftpd on 127.0.0.1 serving root to anonymous users, read-only, configured as an
// administrator would, with the limits asked for. Its configuration, log and empty chroot
// folder live in a private temporary folder; the system's own service is never touched.
class VsftpdServer : public ServerProcess {
public:
    struct Options {
        int maxPerIp = 0;        // max_per_ip: further connections get 421 at the greeting
        bool portEnabled = true; // port_enable: NO answers EPRT and PORT with 550
        bool pasvEnabled = true; // pasv_enable: NO answers EPSV and PASV with 550
        // With both: ssl_enable, anonymous sessions allowed TLS and made to use it for the
        // log-in and every data connection (force_anon_logins_ssl, force_anon_data_ssl).
        QString certificate; // PEM
        QString key;         // PEM
    };
    explicit VsftpdServer(QString root) : m_root(std::move(root)) {}
    VsftpdServer(QString root, Options options) : m_root(std::move(root)), m_options(options) {}
    ~VsftpdServer() { stop(); }

    // Whether start() can work here: the binary is installed, we run as root (vsftpd chroots
    // every session and refuses to start otherwise) and its users exist. Tests QSKIP with
    // unavailableReason() when not.
    static bool available() { return unavailableReason().isEmpty(); }
    static QString unavailableReason();

    // Starts on the given port, or on a free one for 0, and returns once it greets a
    // connection; false (with error()) when it cannot.
    bool start(quint16 port = 0);
    // The server's protocol log (every command and reply), for a failing test to print.
    QByteArray log() const { return readFile(m_dir.filePath("vsftpd.log")); }

private:
    bool prepareRoot();
    bool greets();

    QString m_root;
    Options m_options;
    QTemporaryDir m_dir;
};
