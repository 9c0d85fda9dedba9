// Building the output of 200 stations from the share and from the FTP server:
// wall time of the whole fetch, rename and merge, median of several runs.
#include "TestSupport.h"
#include "assembly/SheetBuild.h"
#include "platform/FtpConnection.h"
#include "platform/ScriptedInteraction.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

qint64 medianRun(const BuildConfig &config, const QStringList &gsids, const QString &out, int runs)
{
    QList<qint64> times;
    for (int i = 0; i < runs; ++i) {
        FileSystem fso;
        ScriptedInteraction ui;
        SheetBuild build(config, fso, ui);
        QElapsedTimer timer;
        timer.start();
        if (!build.selectEdition(Edition::English))
            return -1;
        const auto report = build.fetchAndMerge(gsids, out, [](const QString &) {});
        build.cleanUp();
        times << timer.elapsed();
        if (report.outcome != SheetBuild::Report::Written || !report.missing.isEmpty() ||
            stationNamesOf(out).size() != gsids.size())
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? atoi(argv[1]) : 3;
    Sandbox box;
    const QList<DataSheet> stations = sampleStations(200);
    writeSheetTree(box.dir.filePath("Geod"), stations);
    QStringList gsids;
    for (const DataSheet &s : stations)
        gsids << s.gsid;
    FileSystem fso;
    prepareWorkspace(fso, box.workspace());

    BuildConfig config;
    config.workspaceDir = box.workspace();
    config.programDir = programFolder();
    config.pdfToTextCmd = pdfToTextCommand(programFolder(), box.workspace());
    config.mode = SourceMode::Share;
    config.shareDir = box.dir.filePath("Geod/");
    const QString out = box.dir.filePath("out.pdf");
    const qint64 share = medianRun(config, gsids, out, runs);

    FtpServer server(box.dir.path());
    if (!server.start())
        return 1;
    FtpConnection ftp(server.host());
    if (!ftp.connect())
        return 1;
    config.mode = SourceMode::Ftp;
    config.ftp = &ftp;
    const qint64 overFtp = medianRun(config, gsids, out, runs);

    std::printf("200 stations from the share: median %lld ms; from FTP: median %lld ms (%d runs)\n",
                share, overFtp, runs);
    return share < 0 || overFtp < 0 ? 1 : 0;
}
