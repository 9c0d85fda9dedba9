#pragma once

#include "platform/UserInteraction.h"

#include <QList>
#include <QStringList>
#include <functional>

// Stand-in for the user in tests: records every message and answers from a script.
class ScriptedInteraction : public UserInteraction {
public:
    struct Message {
        QString title;
        QString text;
        bool retryCancel = false;
        QString details;
        UserMessage::Icon icon = UserMessage::Critical;
    };

    void showMessage(const UserMessage &message) override;
    void showNotice(const QString &text) override;
    bool askRetryCancel(const QString &text) override;
    std::optional<QString> chooseOpenFile(const QString &title, const QString &fileName) override;
    std::optional<QString> chooseSaveFile(const QString &title, const QString &startPath) override;
    void showHelp(const QString &helpFile) override;
    void end(int exitCode) override;

    // Answers for Retry/Cancel questions, used in order; Cancel when none is left.
    QList<bool> retryAnswers;
    // Called when a Retry/Cancel question is asked, before it is answered.
    std::function<void()> onRetryCancel;
    // The next file dialog's choice; no value means the user cancels.
    std::optional<QString> nextFile;

    QList<Message> messages;
    QStringList notices; // the texts of boxes that did not wait
    QStringList dialogTitles;
    QStringList dialogStarts; // the path each dialog opened with
    QStringList helpShown;
    bool ended = false;
    int exitCode = -1;
};
