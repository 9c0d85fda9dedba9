#include "ScriptedInteraction.h"
#include "platform/FileSystem.h"
#include "startup/Settings.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>

// The About box is grey by design: its texts must stay readable on it whatever the
// desktop's theme, so the box is drawn and its pixels looked at.
class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void textsAreDarkOnTheGrey_data();
    void textsAreDarkOnTheGrey();

private:
    struct Tones {
        int dark = 0;  // pixels as dark as text (lightness under 80)
        int light = 0; // pixels lighter than the grey (a light text, over 210)
        int red = 0;   // pixels of the red disclaimer
    };
    static Tones tonesIn(const QImage &image, const QRect &area)
    {
        Tones t;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    ++t.red;
                else if (c.lightness() < 80)
                    ++t.dark;
                else if (c.lightness() > 210)
                    ++t.light;
            }
        }
        return t;
    }
};

void TestFrmAbout::textsAreDarkOnTheGrey_data()
{
    QTest::addColumn<QString>("theme");
    QTest::newRow("dark palette") << "dark";
    QTest::newRow("dark palette, Fusion style") << "dark fusion";
    QTest::newRow("light palette") << "light";
}

void TestFrmAbout::textsAreDarkOnTheGrey()
{
    QFETCH(QString, theme);
    const QPalette before = QApplication::palette();
    QStyle *style = theme.contains("fusion") ? QStyleFactory::create("Fusion") : nullptr;
    if (style)
        QApplication::setStyle(style);
    if (theme.startsWith("dark")) {
        // A dark desktop theme: light text on dark grounds.
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
            dark.setColor(role, QColor(240, 240, 240));
        QApplication::setPalette(dark);
    }

    // Opened from the main window, as the program does: it takes that window's font.
    FileSystem fso;
    ScriptedInteraction ui;
    frmMain window(Settings(), QStringList(), fso, ui);
    frmAbout about(&window);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    const QImage image = about.grab().toImage();
    QCOMPARE(image.pixelColor(2, 2), QColor(192, 192, 192));

    auto areaOf = [&](QWidget *w) { return QRect(w->mapTo(&about, QPoint(0, 0)), w->size()); };
    const QStringList names{"lblTitle", "lblVersion", "lblCopyright", "lblSupport",
                            "Label1",   "Label2",     "Label3"};
    for (const QString &name : names) {
        auto *label = about.findChild<QLabel *>(name);
        QVERIFY(label);
        const Tones t = tonesIn(image, areaOf(label));
        QVERIFY2(t.dark > 20 && t.light == 0,
                 qPrintable(QString("%1: %2 dark, %3 light").arg(name).arg(t.dark).arg(t.light)));
    }
    const Tones text =
        tonesIn(image, areaOf(about.findChild<QPlainTextEdit *>("Text1")->viewport()));
    QVERIFY2(text.dark > 200 && text.light == 0, qPrintable(QString::number(text.light)));
    const Tones disclaimer = tonesIn(image, areaOf(about.findChild<QLabel *>("lblDisclaimer")));
    QVERIFY(disclaimer.red > 100 && disclaimer.light == 0);
    // The button's caption: dark on the button's own light face.
    QPushButton *ok = about.findChild<QPushButton *>("cmdOK");
    const QRect caption =
        areaOf(ok).adjusted(ok->width() / 3, ok->height() / 4, -ok->width() / 3, -ok->height() / 4);
    QVERIFY(tonesIn(image, caption).dark > 5);
    QVERIFY(image.pixelColor(caption.topLeft()).lightness() > 150);

    QApplication::setPalette(before);
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
