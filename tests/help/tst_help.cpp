#include "help/imageguide.h"
#include "help/settings.h"
#include "testsupport.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTest>

namespace {

// Which of the three pictures the guide shows: 0 for none, -1 for another picture.
int shownPicture(const ImageGuide &guide)
{
    const QImage shown = guide.imView()->pixmap().toImage();
    for (int number = 1; number <= 3 && !shown.isNull(); ++number)
        if (shown ==
            QImage(QStringLiteral(":/guide/%1.png").arg(number)).convertToFormat(shown.format()))
            return number;
    return shown.isNull() ? 0 : -1;
}

} // namespace

// Q_CLEANUP_RESOURCE must be used at global scope.
static void unregisterPictures()
{
    Q_CLEANUP_RESOURCE(zaprun);
}

class TestHelp : public QObject {
    Q_OBJECT

public slots:
    void open(const QUrl &url) { opened_ << url; }

private slots:
    // Each guide on its own: its button steps through three distinct pictures, printing each
    // step; a missing picture leaves the view empty and the guide steps on.
    void guidesCycleThroughThePictures()
    {
        ImageGuide first;
        ImageGuide second;
        QCOMPARE(shownPicture(first), 1);
        QPushButton *next = first.findChild<QPushButton *>(QStringLiteral("nextBtn"));
        QList<int> shown;
        const QByteArray out = outputOf(1, [&] {
            for (int press = 0; press < 4; ++press) {
                next->click();
                shown << shownPicture(first);
            }
            second.prevIm();
            unregisterPictures();
            second.prevIm();
        });
        QCOMPARE(out, QByteArray("1\n2\n0\n1\n1\n2\n"));
        QCOMPARE(shown, (QList<int>{2, 3, 1, 2}));
        QCOMPARE(shownPicture(second), 0);
        QCOMPARE(second.state(), qint64(0));
    }

    void buttonsOpenTheAddresses_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("address");
        const QString site = QStringLiteral(ZAPRUN_TEST_WEBSITE_URL);
        QTest::newRow("web page") << "webpageBtn" << site;
        QTest::newRow("tutorial") << "tutorialBtn" << site + "zaprun.mov";
        QTest::newRow("mail") << "mailBtn"
                              << "mailto:" ZAPRUN_TEST_SUPPORT_EMAIL "?subject=ZapRun&body=";
    }

    // Once per click, to the user's browser or mail program.
    void buttonsOpenTheAddresses()
    {
        QFETCH(QString, button);
        QFETCH(QString, address);
        for (const char *scheme : {"http", "https", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        opened_.clear();
        Settings settings;
        for (int click = 0; click < 2; ++click)
            settings.findChild<QPushButton *>(button)->click();
        QCOMPARE(opened_.size(), 2);
        QCOMPARE(opened_[1].toString(QUrl::FullyEncoded), address);
    }

private:
    QList<QUrl> opened_;
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
