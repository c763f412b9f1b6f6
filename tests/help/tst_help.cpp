// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/imageguide.h"
#include "help/settings.h"
#include "testsupport.h"

#include <QDesktopServices>
#include <QImage>
#include <QPushButton>

// Which of the three pictures the guide shows: 0 for none, -1 for another picture.
static int shownPicture(const ImageGuide &guide)
{
    const QImage shown = guide.imView()->pixmap().toImage();
    for (int number = 1; number <= 3 && !shown.isNull(); ++number)
        if (shown ==
            QImage(QStringLiteral(":/guide/%1.png").arg(number)).convertToFormat(shown.format()))
            return number;
    return shown.isNull() ? 0 : -1;
}

class TestHelp : public QObject {
    Q_OBJECT

    QStringList opened_;

public slots:
    void open(const QUrl &url) { opened_ << url.toString(QUrl::FullyEncoded); }

private slots:
    // Each guide on its own: its button steps through three distinct pictures, printing each
    // step; a missing picture leaves the view empty and the guide steps on.
    void guidesCycleThroughThePictures()
    {
        ImageGuide first, second;
        QCOMPARE(shownPicture(first), 1);
        QList<int> shown;
        const QByteArray out = outputOf(1, [&] {
            for (int press = 0; press < 4; ++press) {
                first.findChild<QPushButton *>(QStringLiteral("nextBtn"))->click();
                shown << shownPicture(first);
            }
            second.prevIm();
            Q_CLEANUP_RESOURCE(zaprun);
            second.prevIm();
        });
        QCOMPARE(out, QByteArray("1\n2\n0\n1\n1\n2\n"));
        QCOMPARE(shown, (QList<int>{2, 3, 1, 2}));
        QCOMPARE(shownPicture(second), 0);
        QCOMPARE(second.state(), qint64(0));
    }

    // Each click once, to the user's browser or mail program.
    void buttonsOpenTheAddresses()
    {
        for (const char *scheme : {"http", "https", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        Settings settings;
        for (const char *button : {"webpageBtn", "webpageBtn", "tutorialBtn", "mailBtn"})
            settings.findChild<QPushButton *>(button)->click();
        const QString site = QStringLiteral(ZAPRUN_TEST_WEBSITE_URL);
        QCOMPARE(opened_,
                 QStringList({site, site, site + "zaprun.mov",
                              "mailto:" ZAPRUN_TEST_SUPPORT_EMAIL "?subject=ZapRun&body="}));
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
