#include "help/imageguide.h"
#include "stdoutcapture.h"

#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QtTest>

namespace {

QImage resourceImage(int number)
{
    return QImage(QStringLiteral(":/guide/%1.png").arg(number));
}

// The number of the guide picture the view shows now, 0 for an empty view and -1 for a
// picture that is none of the three.
int shownPicture(const ImageGuide &guide)
{
    const QImage shown = guide.imView()->pixmap().toImage();
    if (shown.isNull())
        return 0;
    for (int number = 1; number <= 3; ++number) {
        if (shown == resourceImage(number).convertToFormat(shown.format()))
            return number;
    }
    return -1;
}

QPushButton *nextButton(ImageGuide &guide)
{
    return guide.findChild<QPushButton *>(QStringLiteral("nextBtn"));
}

} // namespace

// Resources are compiled into a static library; these functions live at global scope because
// Q_INIT_RESOURCE and Q_CLEANUP_RESOURCE must not be used inside a namespace.
static void registerPictures()
{
    Q_INIT_RESOURCE(zaprun);
}

static void unregisterPictures()
{
    Q_CLEANUP_RESOURCE(zaprun);
}

class TestImageGuide : public QObject {
    Q_OBJECT

private slots:
    void pictures_areCompiledInAndDistinct();
    void layout_opensOnFirstPictureWithConnectedOutlet();
    void freshGuide_fourPressesCycleAndPrintSteps();
    void button_sendsPrevIm();
    void twoGuides_areIndependent();
    void missingPicture_leavesViewEmptyAndAdvances();
    void deletedOutlet_isNullAndOnlyAdvances();
};

void TestImageGuide::pictures_areCompiledInAndDistinct()
{
    const ImageGuide guide; // registers the resources, as in the application
    for (int number = 1; number <= 3; ++number) {
        const QImage picture = resourceImage(number);
        QVERIFY2(!picture.isNull(), qPrintable(QStringLiteral("picture %1 missing").arg(number)));
        QVERIFY(QFileInfo(QStringLiteral(":/guide/%1.png").arg(number)).size() < 150 * 1024);
    }
    QVERIFY(resourceImage(1) != resourceImage(2));
    QVERIFY(resourceImage(2) != resourceImage(3));
    QVERIFY(resourceImage(1) != resourceImage(3));
    QVERIFY(QFileInfo::exists(QStringLiteral(":/icons/zaprun.svg")));
}

void TestImageGuide::layout_opensOnFirstPictureWithConnectedOutlet()
{
    const ImageGuide guide;
    QCOMPARE(guide.state(), qint64(1));
    QVERIFY(guide.imView() != nullptr);
    QCOMPARE(guide.imView()->objectName(), QStringLiteral("imView"));
    QCOMPARE(shownPicture(guide), 1);
}

void TestImageGuide::freshGuide_fourPressesCycleAndPrintSteps()
{
    ImageGuide guide;
    QList<int> shown;
    QList<qint64> states;
    const QByteArray out = stdoutOf([&] {
        for (int press = 0; press < 4; ++press) {
            guide.prevIm();
            shown << shownPicture(guide);
            states << guide.state();
        }
    });
    QCOMPARE(out, QByteArray("1\n2\n0\n1\n"));
    QCOMPARE(shown, (QList<int>{2, 3, 1, 2}));
    // After three presses the guide is back where it started.
    QCOMPARE(states, (QList<qint64>{2, 0, 1, 2}));
}

void TestImageGuide::button_sendsPrevIm()
{
    ImageGuide guide;
    guide.show();
    QPushButton *next = nextButton(guide);
    QVERIFY(next != nullptr);
    QCOMPARE(stdoutOf([&] { QTest::mouseClick(next, Qt::LeftButton); }), QByteArray("1\n"));
    QCOMPARE(guide.state(), qint64(2));
    QCOMPARE(shownPicture(guide), 2);
    QCOMPARE(stdoutOf([&] { QTest::mouseClick(next, Qt::LeftButton); }), QByteArray("2\n"));
    QCOMPARE(shownPicture(guide), 3);
}

void TestImageGuide::twoGuides_areIndependent()
{
    ImageGuide first;
    const QByteArray firstOut = stdoutOf([&] {
        first.prevIm();
        first.prevIm();
    });
    ImageGuide second;
    QCOMPARE(second.state(), qint64(1));
    QCOMPARE(shownPicture(second), 1);
    QCOMPARE(stdoutOf([&] { second.prevIm(); }), QByteArray("1\n"));
    QCOMPARE(first.state(), qint64(0));
    QCOMPARE(shownPicture(first), 3);
    QCOMPARE(second.state(), qint64(2));
    QCOMPARE(shownPicture(second), 2);
    QCOMPARE(stdoutOf([&] { first.prevIm(); }), QByteArray("0\n"));
    QCOMPARE(second.state(), qint64(2));
    QCOMPARE(shownPicture(first), 1);
    QCOMPARE(shownPicture(second), 2);
    QCOMPARE(firstOut, QByteArray("1\n2\n"));
}

void TestImageGuide::missingPicture_leavesViewEmptyAndAdvances()
{
    ImageGuide guide;
    bool gone = false;
    const QByteArray out = stdoutOf([&] {
        unregisterPictures();
        gone = !QFileInfo::exists(QStringLiteral(":/guide/2.png"));
        guide.prevIm();
        registerPictures();
    });
    QVERIFY(gone);
    QCOMPARE(out, QByteArray("1\n"));
    QCOMPARE(shownPicture(guide), 0);
    QCOMPARE(guide.state(), qint64(2));
    QCOMPARE(stdoutOf([&] { guide.prevIm(); }), QByteArray("2\n"));
    QCOMPARE(shownPicture(guide), 3);
}

void TestImageGuide::deletedOutlet_isNullAndOnlyAdvances()
{
    ImageGuide guide;
    delete guide.imView();
    QCOMPARE(guide.imView(), nullptr);
    QCOMPARE(stdoutOf([&] { guide.prevIm(); }), QByteArray("1\n"));
    QCOMPARE(guide.state(), qint64(2));
}

QTEST_MAIN(TestImageGuide)
#include "tst_imageguide.moc"
