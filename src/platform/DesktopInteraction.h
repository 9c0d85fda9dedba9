#pragma once

#include "UserInteraction.h"

#include <QPointer>
#include <QUrl>

class QTextBrowser;

// The real dialogs, message boxes and help window.
class DesktopInteraction : public UserInteraction {
public:
    ~DesktopInteraction() override;

    void showError(const QString &text, const QString &details = QString()) override;
    void showInformation(const QString &text) override;
    void showNotice(const QString &text) override;
    bool askRetryCancel(const QString &text) override;
    std::optional<QString> chooseOpenFile(const QString &title, const QString &fileName) override;
    std::optional<QString> chooseSaveFile(const QString &title, const QString &startPath) override;
    void showHelp(const QString &helpFile) override;
    void end(int exitCode) override;
    void closeWindows() override;

private:
    QPointer<QTextBrowser> m_help;
    QUrl m_shown; // the document the help window shows, if any
};
