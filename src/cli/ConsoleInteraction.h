#pragma once

#include "platform/UserInteraction.h"

#include <QElapsedTimer>
#include <QString>

class ConsoleStream;

// The user of a build started from a script: messages go to standard error, each
// beginning "brindlewick: ", and nobody is there to answer. A Retry/Cancel question
// is told and answered with Cancel at once, never waited for. The build's progress
// is rewritten in place on a terminal, with the share done and the time left, and
// written as a line every tenth of the way otherwise, so that a log does not fill
// with a line per sheet.
class ConsoleInteraction : public UserInteraction {
public:
    explicit ConsoleInteraction(ConsoleStream &stream);

    void showMessage(const UserMessage &message) override;
    void showNotice(const QString &text) override;
    bool askRetryCancel(const QString &text) override;
    std::optional<QString> chooseOpenFile(const QString &title, const QString &fileName) override;
    std::optional<QString> chooseSaveFile(const QString &title, const QString &startPath) override;
    void showHelp(const QString &helpFile) override;
    void end(int exitCode) override;

    // The build's progress: the count of GSIDs dealt with ("1", "2", …) out of total,
    // then "Writing".
    void showProgress(const QString &text, qsizetype total);
    // Ends a progress line left open on a terminal.
    void endProgress();
    // A line as it is, without the program's name before it.
    void writeLine(const QString &text);

    // How long something took: "55 ms", "0.4 s", "41 s", "2 min 5 s", "1 h 3 min".
    static QString duration(qint64 ms);

private:
    void write(const QString &text);

    ConsoleStream &m_stream;
    qsizetype m_shownLength = 0; // of the progress text rewritten in place; 0: no line open
    qsizetype m_lastTenth = 0;   // the last tenth of the way written as a line
    QElapsedTimer m_clock;       // since the first count, for the time left
    qsizetype m_firstCount = 0;
};
