#pragma once

#include "platform/UserInteraction.h"

#include <QString>
#include <cstdio>

// The user of a build started from a script: messages go to standard error, each
// beginning "brindlewick: ", and nobody is there to answer. A Retry/Cancel question
// is told and answered with Cancel at once, never waited for. The build's progress
// is rewritten in place on a terminal, and written as a line every tenth of the way
// otherwise, so that a log does not fill with a line per sheet.
class ConsoleInteraction : public UserInteraction {
public:
    ConsoleInteraction(std::FILE *stream, bool terminal);

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

private:
    void write(const QString &text);

    std::FILE *m_stream;
    bool m_terminal;
    qsizetype m_shownLength = 0; // of the progress text rewritten in place; 0: no line open
    qsizetype m_lastTenth = 0;   // the last tenth of the way written as a line
};
