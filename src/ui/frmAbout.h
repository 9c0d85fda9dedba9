#pragma once

#include <QDialog>

class QLabel;

// The modal About box: the program's title, version, legal notice, description,
// support contacts and disclaimer. It is built afresh each time it is shown.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    static QString versionLine();

protected:
    void changeEvent(QEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();

    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
};
