#include "ConsoleInteraction.h"

#include <cstdlib>

namespace {

// The window's messages break lines the Windows way.
QString plainLines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

ConsoleInteraction::ConsoleInteraction(std::FILE *stream, bool terminal)
    : m_stream(stream), m_terminal(terminal)
{
}

void ConsoleInteraction::write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

void ConsoleInteraction::showMessage(const UserMessage &message)
{
    endProgress();
    QString text = QStringLiteral("brindlewick: ") + plainLines(message.text) + QLatin1Char('\n');
    if (!message.details.isEmpty())
        text += plainLines(message.details) + QLatin1Char('\n');
    write(text);
}

void ConsoleInteraction::showNotice(const QString &text)
{
    endProgress();
    write(QStringLiteral("brindlewick: ") + plainLines(text) + QLatin1Char('\n'));
}

bool ConsoleInteraction::askRetryCancel(const QString &text)
{
    // Nobody to answer: the question's cause is told, and the build given up.
    QString told = text;
    const qsizetype offer = told.indexOf(QStringLiteral("\r\nand click Retry"));
    if (offer >= 0)
        told.truncate(offer);
    showMessage(UserMessage::error(told.replace(QStringLiteral("  Close it"), QString()) +
                                   QStringLiteral(" No output file was written.")));
    return false;
}

std::optional<QString> ConsoleInteraction::chooseOpenFile(const QString &, const QString &)
{
    return std::nullopt;
}

std::optional<QString> ConsoleInteraction::chooseSaveFile(const QString &, const QString &)
{
    return std::nullopt;
}

void ConsoleInteraction::showHelp(const QString &) {}

void ConsoleInteraction::end(int exitCode)
{
    endProgress();
    std::fflush(stdout);
    std::_Exit(exitCode);
}

void ConsoleInteraction::showProgress(const QString &text, qsizetype total)
{
    bool isCount = false;
    const qsizetype count = text.toLongLong(&isCount);
    const QString shown = isCount ? text + QLatin1Char('/') + QString::number(total) : text;
    if (m_terminal) {
        // Padded, so that a shorter text covers the longer one before it.
        const qsizetype length = shown.size();
        write(QLatin1Char('\r') + shown +
              QString(qMax<qsizetype>(0, m_shownLength - length), QLatin1Char(' ')));
        m_shownLength = qMax<qsizetype>(length, 1);
        return;
    }
    if (isCount && total > 0) {
        const qsizetype tenth = count * 10 / total;
        if (tenth <= m_lastTenth)
            return;
        m_lastTenth = tenth;
    }
    write(shown + QLatin1Char('\n'));
}

void ConsoleInteraction::endProgress()
{
    if (m_shownLength == 0)
        return;
    m_shownLength = 0;
    write(QStringLiteral("\n"));
}
