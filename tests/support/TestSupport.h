#pragma once

#include "DataSheet.h"
#include "TestCertificates.h"
#include "platform/FileSystem.h"
#include "startup/Settings.h"

#include <QHash>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <unistd.h>

// How long a test waits for an event before it fails: it never waits that long when
// all is well, so it is generous, for a slow machine and the sanitizer build.
constexpr int EventBound = 120000;

// The build folder: it holds the pdftk and pdftotext links, as beside the program.
QString programFolder();

// The process ids of this process's children still alive.
QList<qint64> childProcesses();

// Writes one page PDF sheets for the stations, in both editions, below root in the
// share's layout ("PDF Single Sheet/GSID_<n>.pdf", "PDF Metric Sheet/M_GSID_<n>.pdf").
void writeSheets(const QString &root, const QList<DataSheet> &stations);
DataSheet station(const QString &gsid, const QString &name, const QString &county);

// The extracted text of a PDF, page by page (pdftotext -layout).
QStringList pdfPages(const QString &pdf);
// The station name printed on each page.
QStringList stationNamesOf(const QString &pdf);
// The GSID printed on each page.
QStringList gsidsOf(const QString &pdf);
// The bookmarks of a PDF, as pdftk lists them: title and page.
QList<std::pair<QString, int>> bookmarksOf(const QString &pdf);

void writeFile(const QString &path, const QByteArray &bytes);
// The file's bytes; a null array when it cannot be read.
QByteArray readFile(const QString &path);

// A private sandbox: a share folder with sample sheets, a workspace path (not yet
// created) and settings that point at them.
struct Sandbox {
    QTemporaryDir dir;
    QString share() const { return dir.filePath(QStringLiteral("geod/")); }
    // The first workspace name of this user; a window takes it when free.
    QString workspace() const
    {
        return dir.filePath(QStringLiteral("DS~Temp-%1/").arg(::geteuid()));
    }
    Settings settings() const;
};

// A host on 127.0.0.1 where nothing listens: connections are refused at once.
constexpr char DeadHost[] = "127.0.0.1:1";

// A server the tests run on 127.0.0.1, as a child process: it ends, with every process
// it started, when it is stopped or goes.
class ServerProcess {
public:
    ~ServerProcess() { stop(); }
    void stop();
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Why it did not come up.
    QString error() const { return m_error; }

protected:
    // Starts it and waits until ready() (or it ends, or sets error()); false when not up.
    bool launch(const QString &program, const QStringList &arguments,
                const std::function<bool()> &ready);
    // Launches on the given port, or on free ones in turn while the one tried was taken
    // before the server bound it (its error says taken).
    bool onFreePort(quint16 port, const QString &taken, const std::function<bool()> &launchThere);
    // A python server of the tests' own, which prints "port <n>" once it listens.
    bool startScript(const QStringList &arguments);
    // Every line it printed after its port, in order.
    QStringList said();

    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QStringList m_said;
};

// A real anonymous, read-only FTP server (pyftpdlib) on 127.0.0.1 serving root, with
// the misbehaviour asked for (tests/support/ftpserver.py). It picks its own port.
class FtpServer : public ServerProcess {
public:
    struct Options {
        int maxConsPerIp = 0;             // refuse further connections with 421
        int endAfter = -1;                // end itself once that many files were sent
        bool silentRetr = false;          // never answer a RETR
        bool neverConnect = false;        // accept active mode, never open its connection
        bool loseDataConnections = false; // as pyftpdlib itself does in active mode
        int chaosSeed = -1;               // misbehave at random, from this seed
        QString cutShort;    // this file is sent short of its end, its whole size announced
        QString withhold226; // this file is sent whole, and its closing reply never
        QString refuseFile;  // RETR of this file: "550 <file>: Permission denied"
    };
    explicit FtpServer(QString root) : m_root(std::move(root)) {}
    FtpServer(QString root, Options options) : m_root(std::move(root)), m_options(options) {}

    // False when it did not come up.
    bool start();
    // The names of the files asked for so far (RETR), in order.
    QStringList retrieved() { return said(); }

private:
    QString m_root;
    Options m_options;
};

// The tests' own plain HTTP/1.1 server (tests/support/webserver.py) on 127.0.0.1, serving
// root at url(), over TLS with the certificates given, with the fault asked for (none: "").
class WebServer : public ServerProcess {
public:
    WebServer(QString root, QString fault = QString(), TestCertificates tls = {})
        : m_root(std::move(root)), m_fault(std::move(fault)), m_tls(std::move(tls))
    {
    }
    bool start();
    // "https://127.0.0.1:<port>/geod/" (http:// without certificates)
    QString url() const
    {
        return QStringLiteral("http%1://127.0.0.1:%2/geod/")
            .arg(m_tls.certificate.isEmpty() ? "" : "s")
            .arg(port());
    }

private:
    QString m_root;
    QString m_fault;
    TestCertificates m_tls;
};

// Makes an executable stand-in for a tool in folder: a shell script. Tools the
// program runs from its folder that are not given are linked to the real ones.
void standInTools(const QString &folder, const QHash<QString, QByteArray> &scripts);

// A folder that stops answering when told to, as a network mount whose server went
// away: a FUSE file system of the tests' own (tests/support/hungfs.py) serving a
// backing folder at a mount point. Every call made while it hangs waits in the kernel
// until release(). It is released, unmounted and ended when it goes, stuck or not.
class HungMount {
public:
    HungMount(QString backing, QString mountPoint)
        : m_backing(std::move(backing)), m_mountPoint(std::move(mountPoint))
    {
    }
    ~HungMount();

    // Mounts it; empty when it is up, else why it cannot be (for QSKIP).
    QString start();
    // From now on every call waits; then until a call is waiting in it.
    bool hang() { return command("hang", "hung"); }
    bool waitForBlockedCall() { return waitForLine("blocked "); }
    bool release() { return command("release", "released"); }
    QString path() const { return m_mountPoint; }

private:
    bool command(const QByteArray &command, const QByteArray &answer)
    {
        return m_process.write(command + '\n') > 0 && waitForLine(answer);
    }
    bool waitForLine(const QByteArray &prefix);

    QString m_backing;
    QString m_mountPoint;
    QProcess m_process;
    bool m_mounted = false;
};

// A folder in which no file can be made, by the administrator neither: immutable when
// the test runs as root (as CI does), of mode 0500 otherwise. Open again when it goes.
class ClosedFolder {
public:
    explicit ClosedFolder(QString path);
    ~ClosedFolder();
    // Empty when it is closed, else why not (for QSKIP).
    QString error() const { return m_error; }

private:
    QString m_path;
    QString m_error;
};

// A file layer whose replacement of one path fails a given number of times with a
// given system error: EBUSY as when another program holds the file, ENOSPC for a
// full disk, EROFS for a read-only folder. Copies fail with copyError when set.
class StubbornFileSystem : public FileSystem {
public:
    QString lockedPath;
    int failuresLeft = 0;
    int errorCode = 16; // EBUSY
    int copyError = 0;

    // Copier threads borrow it and may still be between jobs when a build has ended.
    ~StubbornFileSystem() override;
    FsResult replaceFile(const QString &from, const QString &to) override;
    FsResult copyFile(const QString &from, const QString &to, qint64 limit) override;
};
