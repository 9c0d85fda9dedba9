#pragma once

#include "platform/UserInteraction.h"

#include <QList>
#include <QStringList>
#include <functional>

// Stand-in for the user in tests: records every message and answers from a script.
class ScriptedInteraction : public UserInteraction {
public:
    struct Message : UserMessage {
        bool retryCancel = false; // a Retry/Cancel question
    };

    void showMessage(const UserMessage &m) override { messages.append({m, false}); }
    void showNotice(const QString &) override {}
    bool askRetryCancel(const QString &text) override
    {
        messages.append({UserMessage::error(text), true});
        if (onRetryCancel)
            onRetryCancel();
        return !retryAnswers.isEmpty() && retryAnswers.takeFirst();
    }
    std::optional<QString> chooseOpenFile(const QString &title, const QString &fileName) override
    {
        return chooseFile(title, fileName);
    }
    std::optional<QString> chooseSaveFile(const QString &title, const QString &startPath) override
    {
        return chooseFile(title, startPath);
    }
    void showHelp(const QString &helpFile) override { helpShown << helpFile; }
    void end(int) override { ended = true; }

    // Answers for Retry/Cancel questions, used in order; Cancel when none is left.
    QList<bool> retryAnswers;
    // Called when a Retry/Cancel question is asked, before it is answered.
    std::function<void()> onRetryCancel;
    // The next file dialog's choice; no value means the user cancels.
    std::optional<QString> nextFile;

    QList<Message> messages;
    QStringList dialogTitles;
    QStringList dialogStarts; // the path each dialog opened with
    QStringList helpShown;
    bool ended = false;

private:
    std::optional<QString> chooseFile(const QString &title, const QString &start)
    {
        dialogTitles << title;
        dialogStarts << start;
        return std::exchange(nextFile, std::nullopt);
    }
};
