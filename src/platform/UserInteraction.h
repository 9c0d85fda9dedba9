#pragma once

#include <QString>
#include <optional>

// A message for the user: the icon, the title, the text, and details for the box's
// details area.
struct UserMessage {
    enum Icon { Critical, Warning, Information };
    Icon icon = Critical;
    QString title;
    QString text;
    QString details;

    static UserMessage error(QString text, QString details = QString())
    {
        return {Critical, QStringLiteral("Error"), std::move(text), std::move(details)};
    }
    static UserMessage information(QString text)
    {
        return {Information, QStringLiteral("Brindlewick"), std::move(text), QString()};
    }
};

// Everything the program asks of the user or the desktop: message boxes, file
// dialogs, the help viewer and the immediate end of the program. Tests use a
// scripted stand-in that records messages and answers for the user.
class UserInteraction {
public:
    virtual ~UserInteraction() = default;

    // Modal, one OK button.
    virtual void showMessage(const UserMessage &message) = 0;
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

    // Titled "Error", critical icon.
    void showError(const QString &text, const QString &details = QString())
    {
        showMessage(UserMessage::error(text, details));
    }
    // Titled "Brindlewick", information icon.
    void showInformation(const QString &text) { showMessage(UserMessage::information(text)); }
};
