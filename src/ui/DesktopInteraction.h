#pragma once

#include "platform/UserInteraction.h"

#include <QPointer>
#include <QUrl>

class QTextBrowser;
class QWidget;

// The real dialogs, message boxes and help window.
class DesktopInteraction : public UserInteraction {
public:
    ~DesktopInteraction() override;

    // Dialogs and message boxes are centred on this window once it is shown; before,
    // on the screen.
    void setParentWindow(QWidget *window) { m_parent = window; }

    void showMessage(const UserMessage &message) override;
    void showNotice(const QString &text) override;
    bool askRetryCancel(const QString &text) override;
    std::optional<QString> chooseOpenFile(const QString &title, const QString &fileName) override;
    std::optional<QString> chooseSaveFile(const QString &title, const QString &startPath) override;
    void showHelp(const QString &helpFile) override;
    void end(int exitCode) override;
    void closeWindows() override;

private:
    // The main window when it is on screen: a box over a window not yet shown would sit
    // at the screen's corner.
    QWidget *parentWindow() const;
    // Without a window on screen (start-up, a script that starts the program) a message
    // may be all the user gets: it goes to standard error too.
    void tellConsole(const QString &text, const QString &details) const;

    QPointer<QWidget> m_parent;
    QPointer<QTextBrowser> m_help;
    QUrl m_shown; // the document the help window shows, if any
};
