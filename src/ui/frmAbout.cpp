#include "frmAbout.h"

#include "AppIcon.h"
#include "ControlTable.h"
#include "Version.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString AppTitle = QStringLiteral("Brindlewick");
const QString LegalCopyright =
    QStringLiteral("Copyright (C) 2012 the Oxlade. Free for public use.");
const QString ReleaseDate = QStringLiteral("    January 9, 2012");

QRect twips(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

// The second picture: a 16-colour survey-mark emblem.
QPixmap emblem()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(192, 192, 192));
    QPainter p(&pixmap);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(128, 128, 0));
    p.drawRect(4, 20, 24, 8);
    p.setBrush(QColor(0, 0, 128));
    p.drawPolygon(QPolygon({QPoint(16, 3), QPoint(26, 19), QPoint(6, 19)}));
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(16, 8, 16, 16);
    return pixmap;
}

// The box is grey by design, so its texts must be black whatever the desktop's theme:
// a dark theme's white text on this grey cannot be read. Every role is set, the
// button's too, so nothing of the theme's colours shows through.
QPalette classicPalette()
{
    const QColor grey(192, 192, 192);
    QPalette p(grey); // black text, with light and shadow shades of the grey
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, grey);
        p.setColor(group, QPalette::Base, grey);
        p.setColor(group, QPalette::Button, grey);
        p.setColor(group, QPalette::WindowText, Qt::black);
        p.setColor(group, QPalette::Text, Qt::black);
        p.setColor(group, QPalette::ButtonText, Qt::black);
        p.setColor(group, QPalette::Highlight, QColor(0, 0, 128));
        p.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    p.setColor(QPalette::Disabled, QPalette::Window, grey);
    p.setColor(QPalette::Disabled, QPalette::Base, grey);
    p.setColor(QPalette::Disabled, QPalette::Button, grey);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    return p;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAccessibleName(text);
    return l;
}

// A horizontal rule across the box, height pixels thick.
QFrame *line(QWidget *parent, int top, int height, QColor colour)
{
    auto *f = new QFrame(parent);
    f->setGeometry(px(120), px(top), px(5055 - 120), height);
    f->setAutoFillBackground(true);
    QPalette palette = f->palette();
    palette.setColor(QPalette::Window, colour);
    f->setPalette(palette);
    f->setAccessibleName(QStringLiteral("Separator"));
    return f;
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setModal(true);
    setWindowIcon(appIcon());
    setFixedSize(twips(0, 0, 5205, 5160).size());
    setAutoFillBackground(true);
    setPalette(classicPalette());

    auto *picIcon = label(this, "picIcon", QString(), twips(240, 240, 480, 480));
    picIcon->setPixmap(appIcon().pixmap(32, 32));
    picIcon->setAccessibleName(QStringLiteral("Brindlewick icon"));
    auto *image1 = label(this, "Image1", QString(), twips(240, 840, 480, 480));
    image1->setPixmap(emblem());
    image1->setAccessibleName(QStringLiteral("Survey mark emblem"));
    lblTitle = label(this, "lblTitle", QString(), twips(1080, 330, 3885, 360));
    QFont titleFont = font();
    titleFont.setPointSizeF(13.5);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblVersion = label(this, "lblVersion", QString(), twips(1080, 880, 3885, 195));
    lblCopyright = label(this, "lblCopyright", QString(), twips(1080, 1120, 3855, 255));

    auto *text1 = new QPlainTextEdit(this);
    text1->setObjectName(QStringLiteral("Text1"));
    text1->setGeometry(twips(1080, 1440, 3975, 1455));
    text1->setReadOnly(true);
    text1->setFrameShape(QFrame::NoFrame);
    text1->setPlainText(
        QStringLiteral("Brindlewick retrieves English or Metric Oxlade\n"
                       "Stationbase data sheets in PDF format, given a list of GSID\n"
                       "numbers.  The list can be built from text files, pasted\n"
                       "from the clipboard, or entered into a text box.  See the\n"
                       "help file for text formatting details.\n"
                       "\n"
                       "The program writes the data sheets to a single PDF.\n"));
    text1->setAccessibleName(QStringLiteral("Description"));

    label(this, "lblSupport", QStringLiteral("User Support Information: "),
          twips(1080, 3000, 2805, 195));
    label(this, "Label1", QStringLiteral("     Station Data Desk        555-0142"),
          twips(1080, 3240, 2370, 195));
    label(this, "Label2", QStringLiteral("     datasheets@oxlade.example"),
          twips(1080, 3480, 2235, 195));
    label(this, "Label3", QStringLiteral("     https://oxlade.example/datasheets"),
          twips(1080, 3720, 3000, 195));
    // Two lines make an etched separator.
    line(this, 4075, 2, Qt::white);
    line(this, 4080, 1, QColor(128, 128, 128));

    auto *disclaimer = label(this, "lblDisclaimer",
                             QStringLiteral("Warning: ...The user releases the Oxlade from all "
                                            "liability resulting from inaccuracies in this "
                                            "application."),
                             twips(240, 4320, 3255, 705));
    disclaimer->setWordWrap(true);
    disclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette red = disclaimer->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    disclaimer->setPalette(red);

    auto *cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips(3720, 4440, 1260, 345));
    cmdOK->setToolTip(QStringLiteral("Return to the program."));
    cmdOK->setAccessibleDescription(cmdOK->toolTip());
    cmdOK->setDefault(true); // Enter presses it; QDialog maps Esc to reject, which closes too
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    setTabOrder(cmdOK, text1);
    cmdOK->setFocus();

    Form_Load();
}

void frmAbout::changeEvent(QEvent *event)
{
    // The wrapped warning must fit its box whatever font the box is given.
    if (event->type() == QEvent::FontChange) {
        auto *disclaimer = findChild<QLabel *>(QStringLiteral("lblDisclaimer"));
        QFont f = font();
        for (; f.pointSizeF() > 5; f.setPointSizeF(f.pointSizeF() - 0.5)) {
            disclaimer->setFont(f);
            if (disclaimer->heightForWidth(disclaimer->width()) <= disclaimer->height())
                break;
        }
    }
    QDialog::changeEvent(event);
}

QString frmAbout::versionLine()
{
    return QStringLiteral("Version %1.%2.%3")
               .arg(BRINDLEWICK_VERSION_MAJOR)
               .arg(BRINDLEWICK_VERSION_MINOR)
               .arg(BRINDLEWICK_VERSION_PATCH) +
           ReleaseDate;
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + AppTitle);
    lblVersion->setText(versionLine());
    lblCopyright->setText(LegalCopyright);
    lblTitle->setText(AppTitle);
    for (QLabel *l : {lblVersion, lblCopyright, lblTitle})
        l->setAccessibleName(l->text());
}

void frmAbout::cmdOK_Click()
{
    accept();
}
