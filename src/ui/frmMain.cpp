#include "frmMain.h"

#include "AppIcon.h"
#include "ControlTable.h"
#include "StationListModel.h"
#include "assembly/SheetBuild.h"
#include "frmAbout.h"
#include "platform/BoundedCall.h"
#include "platform/FileSystem.h"
#include "platform/UserInteraction.h"
#include "startup/CommandLine.h"
#include "stations/InputFile.h"
#include "stations/Tokens.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QUrl>

#include <limits>

namespace {

const QString PasteCaption = QStringLiteral("Paste Clipboard");
const QString ContinueCaption = QStringLiteral("Continue");
const QString StopCaption = QStringLiteral("Stop");
const QString AddCaption = QStringLiteral("Add Text to List");

QStringList droppedFiles(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

// Screen readers name a button or label by its caption, so the two change together.
// Screen readers name a control by its caption; an empty caption would leave the
// control nameless, so it keeps its object name's sense instead.
template <typename Control> void setCaption(Control *control, const QString &text)
{
    control->setText(text);
    control->setAccessibleName(text.isEmpty() ? control->property("emptyName").toString() : text);
}

} // namespace

frmMain::frmMain(Settings settings, QStringList arguments, FileSystem &fso, UserInteraction &ui,
                 BuildFactory makeBuild, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_settings(std::move(settings)), m_arguments(std::move(arguments)), m_fso(fso), m_ui(ui),
      m_makeBuild(makeBuild ? std::move(makeBuild) : SheetBuild::factory(fso, ui))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral(" Get a List of Data Sheets and Combine into a Single PDF") +
                   (m_settings.sampleSheets ? QStringLiteral(" (sample sheets)") : QString()));
    setWindowIcon(appIcon());
    setFixedSize(px(6120), px(2640));
    createControls();
    fitFont();
    wireEvents();
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    m_model = new StationListModel(m_list, this);
    for (const ControlSpec &spec : frmMainControls) {
        QWidget *w = nullptr;
        const QString text = QString::fromUtf8(spec.text);
        switch (spec.kind) {
        case ControlKind::Label: {
            auto *label = new QLabel(text, this);
            label->setAccessibleName(text);
            w = label;
            break;
        }
        case ControlKind::List: {
            auto *list = new QComboBox(this);
            list->setEditable(false);
            list->setModel(m_model);
            list->setAcceptDrops(true);
            list->setAccessibleName(QStringLiteral("GSID List"));
            w = list;
            break;
        }
        case ControlKind::Button: {
            auto *button = new QPushButton(text, this);
            button->setAutoDefault(false);
            button->setAccessibleName(text);
            w = button;
            break;
        }
        case ControlKind::TextBox: {
            auto *edit = new QLineEdit(this);
            edit->setAcceptDrops(true);
            w = edit;
            break;
        }
        case ControlKind::Radio: {
            auto *radio = new QRadioButton(text, this);
            radio->setAccessibleName(text);
            w = radio;
            break;
        }
        }
        w->setObjectName(QString::fromUtf8(spec.name));
        w->setGeometry(px(spec.left), px(spec.top), px(spec.width), px(spec.height));
        if (spec.tooltip) {
            w->setToolTip(QString::fromUtf8(spec.tooltip));
            w->setAccessibleDescription(w->toolTip());
        }
        w->setVisible(!spec.hidden);
    }

    auto child = [this](const char *name) {
        return findChild<QWidget *>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly);
    };
    lblCount = static_cast<QLabel *>(child("lblCount"));
    lblCopyCount = static_cast<QLabel *>(child("lblCopyCount"));
    cmbGsidList = static_cast<QComboBox *>(child("cmbGsidList"));
    btnGetInFile = static_cast<QPushButton *>(child("btnGetInFile"));
    btnRemove = static_cast<QPushButton *>(child("btnRemove"));
    btnPaste = static_cast<QPushButton *>(child("btnPaste"));
    btnGetOutFile = static_cast<QPushButton *>(child("btnGetOutFile"));
    btnAbout = static_cast<QPushButton *>(child("btnAbout"));
    btnHelp = static_cast<QPushButton *>(child("btnHelp"));
    btnClear = static_cast<QPushButton *>(child("btnClear"));
    btnContinue = static_cast<QPushButton *>(child("btnContinue"));
    btnExit = static_cast<QPushButton *>(child("btnExit"));
    txtAdd = static_cast<QLineEdit *>(child("txtAdd"));
    txtOutFile = static_cast<QLineEdit *>(child("txtOutFile"));
    txtInFile = static_cast<QLineEdit *>(child("txtInFile"));
    btnEnglish = static_cast<QRadioButton *>(child("btnEnglish"));
    btnMetric = static_cast<QRadioButton *>(child("btnMetric"));

    lblCopyCount->setProperty("emptyName", QStringLiteral("Progress"));
    setCaption(lblCopyCount, lblCopyCount->text());
    lblCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblCopyCount->setAlignment(Qt::AlignCenter);
    btnEnglish->setChecked(true);
    txtAdd->setAccessibleName(QStringLiteral("GSIDs to add"));
    // A long pasted list must arrive whole: a cut could add half a GSID.
    txtAdd->setMaxLength(std::numeric_limits<int>::max());
    txtOutFile->setAccessibleName(QStringLiteral("Output File"));
    txtInFile->setAccessibleName(QStringLiteral("Input File"));
    txtInFile->setFocusPolicy(Qt::NoFocus);

    // Keyboard order by tab position; labels and the hidden box take no focus.
    QList<std::pair<int, QWidget *>> order;
    for (const ControlSpec &spec : frmMainControls) {
        QWidget *w = child(spec.name);
        if (spec.kind != ControlKind::Label && !spec.hidden)
            order.append({spec.tab, w});
    }
    std::sort(order.begin(), order.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1].second, order[i].second);
    btnExit->setFocus();
}

void frmMain::fitFont()
{
    // The largest font, up to the desktop's own, in which every caption the window
    // can show fits its control.
    struct Caption {
        QWidget *control;
        QString text;
        int padding;
    };
    QList<Caption> captions;
    for (const ControlSpec &spec : frmMainControls) {
        QWidget *w = findChild<QWidget *>(QString::fromUtf8(spec.name));
        const int padding = spec.kind == ControlKind::Button  ? 10
                            : spec.kind == ControlKind::Radio ? 22
                                                              : 2;
        if (*spec.text)
            captions.append({w, QString::fromUtf8(spec.text), padding});
    }
    captions.append({btnPaste, AddCaption, 10});
    captions.append({lblCount, StationList::countText(StationList::MaxEntries), 2});
    captions.append({cmbGsidList, QStringLiteral("1234567890"), 26});
    captions.append({lblCopyCount, QStringLiteral("Writing"), 2});

    QFont candidate = QApplication::font();
    for (qreal size = candidate.pointSizeF(); size >= 6; size -= 0.5) {
        candidate.setPointSizeF(size);
        const QFontMetrics metrics(candidate);
        const bool fits = std::all_of(captions.cbegin(), captions.cend(), [&](const Caption &c) {
            return metrics.horizontalAdvance(c.text) + c.padding <= c.control->width() &&
                   metrics.height() <= c.control->height();
        });
        if (fits)
            break;
    }
    setFont(candidate);
}

void frmMain::wireEvents()
{
    connect(btnExit, &QPushButton::clicked, this, &frmMain::btnExit_Click);
    connect(btnClear, &QPushButton::clicked, this, &frmMain::btnClear_Click);
    connect(btnRemove, &QPushButton::clicked, this, &frmMain::btnRemove_Click);
    connect(txtAdd, &QLineEdit::textChanged, this, &frmMain::txtAdd_Change);
    connect(btnPaste, &QPushButton::clicked, this, &frmMain::btnPaste_Click);
    connect(btnGetInFile, &QPushButton::clicked, this, &frmMain::btnGetInFile_Click);
    connect(btnGetOutFile, &QPushButton::clicked, this, &frmMain::btnGetOutFile_Click);
    connect(btnContinue, &QPushButton::clicked, this, &frmMain::btnContinue_Click);
    connect(btnHelp, &QPushButton::clicked, this, &frmMain::btnHelp_Click);
    connect(btnAbout, &QPushButton::clicked, this, &frmMain::btnAbout_Click);
    // Esc stops a build, as the Stop button does.
    m_stopShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_stopShortcut->setContext(Qt::WindowShortcut);
    m_stopShortcut->setEnabled(false);
    connect(m_stopShortcut, &QShortcut::activated, btnContinue, &QPushButton::click);
    // Enter in the GSID box adds, as the button beside it does.
    connect(txtAdd, &QLineEdit::returnPressed, btnPaste, &QPushButton::click);
    for (QWidget *target : {static_cast<QWidget *>(cmbGsidList), static_cast<QWidget *>(txtOutFile),
                            static_cast<QWidget *>(txtAdd), static_cast<QWidget *>(txtInFile)})
        target->installEventFilter(this);
    const auto buttons = findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    for (QPushButton *button : buttons)
        button->installEventFilter(this);
}

void frmMain::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        if (const QScreen *s = screen())
            move(s->availableGeometry().center() - rect().center());
        btnExit->setFocus();
    }
    QWidget::showEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // A build must not go on unseen: it stops as Stop would, and the program ends.
    if (m_build) {
        m_closing = true;
        m_build->stop();
    }
    // An open help window must not keep the program running unseen either.
    m_ui.closeWindows();
    QWidget::closeEvent(event);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    const auto type = event->type();
    // Enter presses a focused button, as Space does.
    if (type == QEvent::KeyPress && qobject_cast<QPushButton *>(watched)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return QWidget::eventFilter(watched, event);
        static_cast<QPushButton *>(watched)->click();
        return true;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QWidget::eventFilter(watched, event);
    auto *drop = static_cast<QDropEvent *>(event);
    const bool files = !droppedFiles(drop->mimeData()).isEmpty();
    if (type != QEvent::Drop) {
        if (files)
            drop->acceptProposedAction();
        else
            drop->ignore();
        return true;
    }
    // Only the list and the output box act on a drop; the others swallow it.
    if (files) {
        drop->acceptProposedAction();
        if (watched == cmbGsidList)
            cmbGsidList_OLEDragDrop(drop->mimeData());
        else if (watched == txtOutFile)
            txtOutFile_OLEDragDrop(drop->mimeData());
    } else {
        drop->ignore();
    }
    return true;
}

bool frmMain::Form_Load()
{
    m_helpFile = m_settings.programDir + QStringLiteral("/Brindlewick.hlp");

    // The source, then this window's own folder, emptied of what a window that ended
    // without Exit left.
    m_startUp = startUp(m_settings, m_fso);
    if (!m_startUp) {
        m_ui.showError(m_startUp.error, m_startUp.details);
        m_ui.end(1);
        return false;
    }

    commandLineStep();
    return true;
}

void frmMain::commandLineStep()
{
    // The shell has split and unquoted the arguments already: the first is the list
    // file, and joining further ones would name a file nobody gave.
    const QString path = commandLinePath(m_arguments.value(0));
    if (path.isEmpty()) {
        btnClear->click();
        return;
    }
    // A relative path means the folder the program was started in.
    // The window must not open on its design-time count text when the file failed.
    if (!importFile(QDir::current().absoluteFilePath(path)))
        updateCount();
}

void frmMain::btnExit_Click()
{
    m_startUp.workspace.remove();
    m_ui.end(0);
}

void frmMain::updateCount()
{
    m_model->beginChange();
    const QString text = m_list.updateCount();
    m_model->endChange();
    cmbGsidList->setCurrentIndex(m_list.selected());
    setCaption(lblCount, text);
}

void frmMain::addEntries(const QStringList &entries)
{
    m_model->beginChange();
    m_list.addAll(entries);
    m_model->endChange();
}

void frmMain::btnClear_Click()
{
    m_model->beginChange();
    m_list.clear();
    m_model->endChange();
    txtInFile->setText(QString());
    txtOutFile->setText(QString());
    updateCount();
}

void frmMain::btnRemove_Click()
{
    const int selected = cmbGsidList->currentIndex();
    if (selected < 0)
        return;
    m_model->beginChange();
    m_list.removeAt(selected);
    m_model->endChange();
    updateCount();
}

void frmMain::txtAdd_Change()
{
    // Only separators typed: nothing to add, so the button offers the clipboard.
    setCaption(btnPaste, txtAdd->text().trimmed().isEmpty() ? PasteCaption : AddCaption);
}

void frmMain::btnPaste_Click()
{
    QString source = txtAdd->text().trimmed();
    if (source.isEmpty())
        source = QGuiApplication::clipboard()->text();
    EntryBatch batch(m_list);
    const QStringList pieces = pasteEntries(source);
    for (const QString &entry : pieces) {
        if (!batch.offer(entry))
            break;
    }
    addEntries(batch.entries());
    txtAdd->setText(QString());
    updateCount();
    if (batch.full())
        m_ui.showError(EntryBatch::fullMessage());
}

bool frmMain::readInFile()
{
    const QString path = txtInFile->text();
    struct Read {
        ImportedEntries imported;
        QString proposal; // the output's name, offered when none is given
    };
    // The file may lie on a network mount whose server is gone: a bounded wait.
    const std::optional<Read> read = callWithin<Read>(
        m_settings.answerMs, [fso = &m_fso, path, list = m_list, programDir = m_settings.programDir,
                              env = QProcessEnvironment::systemEnvironment()] {
            Read r{importEntries(*fso, path, list), QString()};
            if (r.imported)
                r.proposal = OutputFile::proposedPath(path, programDir, env);
            return r;
        });
    if (!read || !read->imported) {
        m_ui.showError(unreadableFileMessage(path),
                       read ? QString()
                            : QStringLiteral("It gave no answer within %1 seconds.")
                                  .arg((m_settings.answerMs + 999) / 1000));
        return false;
    }
    addEntries(read->imported.entries);
    if (txtOutFile->text().isEmpty())
        txtOutFile->setText(read->proposal);
    updateCount();
    if (read->imported.full)
        m_ui.showError(EntryBatch::fullMessage());
    return true;
}

bool frmMain::importFile(const QString &path)
{
    const QString before = txtInFile->text();
    txtInFile->setText(path);
    if (readInFile())
        return true;
    // The file was not read: the box must not claim it was, or a second try at the
    // same file, once mended, would be taken for a repeat and ignored.
    txtInFile->setText(before);
    return false;
}

void frmMain::btnGetInFile_Click()
{
    const std::optional<QString> chosen =
        m_ui.chooseOpenFile(QStringLiteral("Select the GSID Input File"), txtInFile->text());
    if (!chosen || *chosen == txtInFile->text())
        return;
    importFile(*chosen);
}

void frmMain::cmbGsidList_OLEDragDrop(const QMimeData *data)
{
    const QStringList files = droppedFiles(data);
    if (!files.isEmpty())
        importFile(files.first());
}

void frmMain::txtOutFile_OLEDragDrop(const QMimeData *data)
{
    const QStringList files = droppedFiles(data);
    if (!files.isEmpty())
        txtOutFile->setText(files.first());
}

void frmMain::btnGetOutFile_Click()
{
    const QString out = txtOutFile->text();
    const QString in = txtInFile->text();
    const bool fromInput = out.isEmpty() && !in.isEmpty();
    if (fromInput)
        cdgGetOutFile.initDir = FileSystem::parentFolderName(in);
    else
        cdgGetOutFile.fileName = out;
    const std::optional<QString> chosen = m_ui.chooseSaveFile(
        QStringLiteral("Select The Output PDF File"), cdgGetOutFile.startPath(fromInput));
    if (!chosen)
        return; // cancelled or failed: silent, nothing changes
    cdgGetOutFile.fileName = *chosen;
    txtOutFile->setText(*chosen);
}

QString SaveDialogSettings::startPath(bool inInitDir) const
{
    const QString name = inInitDir ? QFileInfo(fileName).fileName() : fileName;
    if (initDir.isEmpty() || (!inInitDir && QDir::isAbsolutePath(fileName)))
        return name;
    return initDir + (initDir.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + name;
}

void frmMain::btnHelp_Click()
{
    m_ui.showHelp(m_helpFile);
}

void frmMain::btnAbout_Click()
{
    // Built afresh for every showing, so its texts are always set anew.
    frmAbout about(this);
    about.setFont(font());
    about.exec();
}

void frmMain::setBusy(bool busy)
{
    // No second action may start while a build runs; Continue becomes its Stop.
    const auto controls = findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *w : controls) {
        if (w != lblCopyCount && w != btnContinue)
            w->setEnabled(!busy);
    }
    setCaption(btnContinue, busy ? StopCaption : ContinueCaption);
    m_stopShortcut->setEnabled(busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
        setCaption(lblCopyCount, QString());
        lblCopyCount->setVisible(true);
    } else {
        lblCopyCount->setVisible(false);
        unsetCursor();
    }
}

void frmMain::showProgress(const QString &text)
{
    // Every number in turn, painted at once: the build may deal with several GSIDs
    // between two turns of the event loop.
    setCaption(lblCopyCount, text);
    lblCopyCount->repaint();
}

void frmMain::btnContinue_Click()
{
    if (m_build) {
        m_build->stop();
        return;
    }
    if (m_list.isEmpty())
        return;
    const QString output = trimBlanks(txtOutFile->text());
    txtOutFile->setText(output);
    const Workspace &workspace = m_startUp.workspace;
    const QString refusal = BuildReport::refusal(output, workspace.verify(), m_settings.programDir);
    if (!refusal.isEmpty()) {
        m_ui.showError(refusal);
        return;
    }

    const Edition edition = btnMetric->isChecked() ? Edition::Metric : Edition::English;
    BuildConfig config = BuildConfig::of(m_settings, m_startUp, edition);
    config.listFile = txtInFile->text();
    m_build = m_makeBuild(config, this);
    connect(m_build, &Build::progress, this, &frmMain::showProgress);
    connect(m_build, &Build::finished, this, [this](const BuildReport &report) {
        // The build is still on the stack of its own signal: let it go later.
        std::exchange(m_build, nullptr)->deleteLater();
        setBusy(false);
        if (!m_closing)
            reportBuild(report);
        emit buildFinished();
    });
    setBusy(true);
    m_build->start(m_list.entries(), output);
}

void frmMain::reportBuild(const BuildReport &report)
{
    if (report.outcome == BuildReport::Written) {
        btnClear->click();
        // What did not reach the output stays for another try; the output just
        // written is no longer named, so a second Continue cannot overwrite it.
        if (!report.missing.isEmpty()) {
            addEntries(report.missingGsids());
            updateCount();
        }
    }
    if (const std::optional<UserMessage> message = report.message())
        m_ui.showMessage(*message);
}
