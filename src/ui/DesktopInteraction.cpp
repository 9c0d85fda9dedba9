#include "DesktopInteraction.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

DesktopInteraction::~DesktopInteraction()
{
    delete m_help;
}

QWidget *DesktopInteraction::parentWindow() const
{
    return m_parent && m_parent->isVisible() ? m_parent.data() : nullptr;
}

void DesktopInteraction::tellConsole(const QString &text, const QString &details) const
{
    if (parentWindow())
        return;
    QString told = QStringLiteral("brindlewick: ") + text + QLatin1Char('\n');
    if (!details.isEmpty())
        told += details + QLatin1Char('\n');
    const QByteArray bytes = told.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void DesktopInteraction::showMessage(const UserMessage &message)
{
    tellConsole(message.text, message.details);
    const QMessageBox::Icon icon = message.icon == UserMessage::Critical ? QMessageBox::Critical
                                   : message.icon == UserMessage::Warning
                                       ? QMessageBox::Warning
                                       : QMessageBox::Information;
    // Without a parent, the box is centred on the screen.
    QMessageBox box(icon, message.title, message.text, QMessageBox::Ok, parentWindow());
    box.setDetailedText(message.details);
    box.exec();
}

void DesktopInteraction::showNotice(const QString &text)
{
    tellConsole(text, QString());
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Brindlewick"), text,
                                QMessageBox::Ok, parentWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // Once the event loop runs: over the main window when it has come up, or beside a
    // message that ends the start-up, which may be what the notice explains.
    QTimer::singleShot(0, box, &QWidget::show);
}

bool DesktopInteraction::askRetryCancel(const QString &text)
{
    return QMessageBox::critical(parentWindow(), QStringLiteral("Error"), text,
                                 QMessageBox::Retry | QMessageBox::Cancel,
                                 QMessageBox::Retry) == QMessageBox::Retry;
}

std::optional<QString> DesktopInteraction::chooseOpenFile(const QString &title,
                                                          const QString &fileName)
{
    const QString chosen = QFileDialog::getOpenFileName(parentWindow(), title, fileName);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

std::optional<QString> DesktopInteraction::chooseSaveFile(const QString &title,
                                                          const QString &startPath)
{
    const QString chosen = QFileDialog::getSaveFileName(parentWindow(), title, startPath, QString(),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

void DesktopInteraction::showHelp(const QString &helpFile)
{
    if (!m_help) {
        m_help = new QTextBrowser;
        m_help->setAttribute(Qt::WA_DeleteOnClose);
        m_help->setOpenExternalLinks(true);
        m_help->resize(640, 520);
        m_shown = QUrl(); // a closed window took its document with it
    }
    const QUrl url = QUrl::fromLocalFile(helpFile);
    if (!QFileInfo(helpFile).isReadable()) {
        // The viewer, not the program, tells that the document is missing.
        m_help->setHtml(QStringLiteral("<p>The help file %1 could not be opened.</p>")
                            .arg(helpFile.toHtmlEscaped()));
        m_help->setWindowTitle(QStringLiteral("Brindlewick Help"));
        m_shown = QUrl();
    } else if (m_shown != url) {
        if (m_help->source() == url)
            m_help->reload();
        else
            m_help->setSource(url, QTextDocument::HtmlResource);
        m_help->setWindowTitle(m_help->documentTitle().isEmpty()
                                   ? QStringLiteral("Brindlewick Help")
                                   : m_help->documentTitle());
        m_shown = url;
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void DesktopInteraction::closeWindows()
{
    if (m_help)
        m_help->close();
}

void DesktopInteraction::end(int exitCode)
{
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
