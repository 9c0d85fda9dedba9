#pragma once

#include "assembly/Build.h"
#include "startup/Settings.h"
#include "startup/Startup.h"
#include "stations/StationList.h"

#include <QPointer>
#include <QWidget>

class FileSystem;
class QComboBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QRadioButton;
class QShortcut;
class StationListModel;
class UserInteraction;

// The program's only working window. Its controls hold the user's state (the list,
// the paths, the edition); the handlers read them, call the core and write back.
// The settings of the output file's save dialog. Like a dialog control on a form, it
// keeps them from one use to the next: a setting a use leaves alone keeps its value.
struct SaveDialogSettings {
    QString fileName; // the name it opens with; after a confirm, the full path chosen
    QString initDir;  // the folder it opens in when fileName names none

    // The path the dialog opens with. With inInitDir, the remembered name is shown
    // in initDir; otherwise fileName as it stands, placed in initDir when relative.
    QString startPath(bool inInitDir) const;
};

class frmMain : public QWidget {
    Q_OBJECT

public:
    // arguments: the command line after the program's name; the first names a list file.
    // makeBuild makes each Continue's build; none: a SheetBuild on fso and ui.
    frmMain(Settings settings, QStringList arguments, FileSystem &fso, UserInteraction &ui,
            BuildFactory makeBuild = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // The load step. False when the program ended during it; the window must then
    // not be shown.
    bool Form_Load();

    SourceMode sourceMode() const { return m_startUp.mode; }
    QString helpFile() const { return m_helpFile; }
    const Workspace &workspace() const { return m_startUp.workspace; }
    bool isBuilding() const { return m_build != nullptr; }
    const StationList &stationList() const { return m_list; }

signals:
    // A build ended, whatever its outcome, and the window is ready again.
    void buildFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void fitFont();
    void wireEvents();

    void btnExit_Click();
    void btnClear_Click();
    void btnRemove_Click();
    void txtAdd_Change();
    void btnPaste_Click();
    void btnGetInFile_Click();
    void cmbGsidList_OLEDragDrop(const QMimeData *data);
    void txtOutFile_OLEDragDrop(const QMimeData *data);
    void btnGetOutFile_Click();
    void btnContinue_Click();
    void btnHelp_Click();
    void btnAbout_Click();

    bool readInFile();
    // Puts the path in txtInFile and reads it; a file that cannot be read leaves the
    // box as it was.
    bool importFile(const QString &path);
    void updateCount();
    void addEntries(const QStringList &entries);
    void commandLineStep();
    void setBusy(bool busy);
    void showProgress(const QString &text);
    void reportBuild(const BuildReport &report);

    Settings m_settings;
    QStringList m_arguments;
    FileSystem &m_fso;
    UserInteraction &m_ui;
    StationList m_list;
    StationListModel *m_model = nullptr;

    QString m_helpFile;
    StartUp m_startUp; // the source, the workspace, what builds learn of the source
    SaveDialogSettings cdgGetOutFile;
    BuildFactory m_makeBuild;
    QPointer<Build> m_build; // the build running, if any
    bool m_closing = false;
    QShortcut *m_stopShortcut = nullptr;

    QLabel *lblCount = nullptr;
    QLabel *lblCopyCount = nullptr;
    QComboBox *cmbGsidList = nullptr;
    QPushButton *btnGetInFile = nullptr;
    QPushButton *btnRemove = nullptr;
    QPushButton *btnPaste = nullptr;
    QPushButton *btnGetOutFile = nullptr;
    QPushButton *btnAbout = nullptr;
    QPushButton *btnHelp = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *btnContinue = nullptr;
    QPushButton *btnExit = nullptr;
    QLineEdit *txtAdd = nullptr;
    QLineEdit *txtOutFile = nullptr;
    QLineEdit *txtInFile = nullptr;
    QRadioButton *btnEnglish = nullptr;
    QRadioButton *btnMetric = nullptr;
};
