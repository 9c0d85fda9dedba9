#pragma once

#include <QString>
#include <optional>

class QWidget;

// Everything the program asks of the user or the desktop: message boxes, file
// dialogs, the help viewer and the immediate end of the program. Tests use a
// scripted stand-in that records messages and answers for the user.
class UserInteraction {
public:
    virtual ~UserInteraction() = default;

    // Modal, titled "Error", critical icon, one OK button; details, when given, in
    // the box's details area.
    virtual void showError(const QString &text, const QString &details = QString()) = 0;
    // Modal, titled "Brindlewick", information icon, one OK button.
    virtual void showInformation(const QString &text) = 0;
    // Not modal: titled "Brindlewick", warning icon, one OK button; returns at once and
    // the program goes on, so a script that starts the program is never held up.
    virtual void showNotice(const QString &text) = 0;
    // Modal, titled "Error", critical icon, Retry and Cancel; true for Retry.
    virtual bool askRetryCancel(const QString &text) = 0;
    // Open and Save dialogs; no value when the user cancelled.
    virtual std::optional<QString> chooseOpenFile(const QString &title,
                                                  const QString &fileName) = 0;
    // startPath: a file name, a folder ending in "/", or a folder and a name.
    virtual std::optional<QString> chooseSaveFile(const QString &title,
                                                  const QString &startPath) = 0;
    // Shows the given help document, or switches the viewer to it.
    virtual void showHelp(const QString &helpFile) = 0;
    // Ends the program at once, with no clean-up. The caller returns straight after.
    virtual void end(int exitCode) = 0;
    // The main window is closing: windows of the program's own (help) close with it,
    // so that the program ends.
    virtual void closeWindows() {}

    void setParentWindow(QWidget *window) { m_parent = window; }

protected:
    QWidget *m_parent = nullptr;
};
