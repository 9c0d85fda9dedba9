#include "ScriptedInteraction.h"

void ScriptedInteraction::showMessage(const UserMessage &message)
{
    messages.append({message.title, message.text, false, message.details, message.icon});
}

void ScriptedInteraction::showNotice(const QString &text)
{
    notices << text;
}

bool ScriptedInteraction::askRetryCancel(const QString &text)
{
    messages.append({QStringLiteral("Error"), text, true, QString()});
    if (onRetryCancel)
        onRetryCancel();
    return !retryAnswers.isEmpty() && retryAnswers.takeFirst();
}

std::optional<QString> ScriptedInteraction::chooseOpenFile(const QString &title,
                                                           const QString &fileName)
{
    dialogTitles << title;
    dialogStarts << fileName;
    return std::exchange(nextFile, std::nullopt);
}

std::optional<QString> ScriptedInteraction::chooseSaveFile(const QString &title,
                                                           const QString &startPath)
{
    dialogTitles << title;
    dialogStarts << startPath;
    return std::exchange(nextFile, std::nullopt);
}

void ScriptedInteraction::showHelp(const QString &helpFile)
{
    helpShown << helpFile;
}

void ScriptedInteraction::end(int code)
{
    ended = true;
    exitCode = code;
}
