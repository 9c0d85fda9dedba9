#include "ConsoleInteraction.h"

#include "ConsoleStream.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The window's messages break lines the Windows way.
QString plainLines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Rounded as a person says it: to 5 s, then to the minute.
QString timeLeft(qint64 ms)
{
    const qint64 s = (ms + 999) / 1000;
    if (s < 55)
        return QStringLiteral("about %1 s left").arg(qMax<qint64>(5, (s + 4) / 5 * 5));
    const qint64 minutes = (s + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

// The time left is told once the pace has been seen for a while.
constexpr qint64 PaceSeenMs = 3000;

} // namespace

ConsoleInteraction::ConsoleInteraction(ConsoleStream &stream) : m_stream(stream) {}

void ConsoleInteraction::write(const QString &text)
{
    m_stream.write(text.toLocal8Bit());
}

void ConsoleInteraction::writeLine(const QString &text)
{
    endProgress();
    write(text + QLatin1Char('\n'));
}

QString ConsoleInteraction::duration(qint64 ms)
{
    if (ms < 100)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms < 10000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000, 0, 'f', 1);
    const qint64 s = (ms + 500) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
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
    QString shown = isCount ? text + QLatin1Char('/') + QString::number(total) : text;
    if (m_stream.isTerminal()) {
        if (isCount && total > 0) {
            shown += QStringLiteral(" (%1 %)").arg(count * 100 / total);
            if (!m_clock.isValid()) {
                m_clock.start();
                m_firstCount = count;
            }
            const qint64 elapsed = m_clock.elapsed();
            if (count > m_firstCount && count < total && elapsed >= PaceSeenMs)
                shown += QStringLiteral(", ") +
                         timeLeft(elapsed * (total - count) / (count - m_firstCount));
        }
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
