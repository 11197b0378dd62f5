// The windows that show a picture at its own size, the main window's commands that open the
// package-type window, and pictures too large to be held at their claimed size.
#include "TestPackages.h"

#include "store/search/StockFigures.h"

namespace {

// A GIF of a few dozen bytes whose header claims a "screen" of `width` x `height` pixels,
// and with `frameToo` a first frame as large.
QByteArray gifClaiming(int width, int height, bool frameToo = true)
{
    QByteArray bytes = gif(Qt::red, 2, 2);
    qToLittleEndian<quint16>(quint16(width), bytes.data() + 6);
    qToLittleEndian<quint16>(quint16(height), bytes.data() + 8);
    // The frame follows the header, the screen's description and a two-colour table.
    const int frame = 6 + 7 + 6;
    if (frameToo && bytes.at(frame) == ',') {
        qToLittleEndian<quint16>(quint16(width), bytes.data() + frame + 5);
        qToLittleEndian<quint16>(quint16(height), bytes.data() + frame + 7);
    }
    return bytes;
}

} // namespace

void TestPackages::picView1ShowsNaturalSizeOverForm5()
{
    open({{"A", picture(Qt::red, "BMP", 100, 80)}, {"B", {}}});
    bool opened = false;
    whenOpen<picView1>([this, &opened](picView1* window) {
        opened = true;
        QCOMPARE(window->size(), QSize(100, 80));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(middle(window->frameGeometry()), middle(m_window->frameGeometry()));
        auto* picture = test::control<QLabel>(window, "Image1");
        QCOMPARE(picture->geometry(), QRect(0, 0, 100, 80));
        QVERIFY(picture->toolTip().isEmpty());
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(50, 40));
    });
    QTest::mouseClick(image(), Qt::LeftButton);
    QVERIFY(opened);
    QVERIFY(!QApplication::activeModalWidget());

    // No picture in the box: nothing opens.
    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Down);
    QVERIFY(image()->pixmap().isNull());
    QTest::mouseClick(image(), Qt::LeftButton);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestPackages::form25FromMainWindow()
{
    TestRegister reg;
    QVERIFY(reg.write({part("NE555", "1", "1", "DIP-8")},
                      {{"DIP-8", picture(Qt::red, "BMP", 100, 80)}}));
    Form1 main(reg.paths(), reg.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* source = test::control<QLabel>(&main, "Image2");
    QVERIFY(source->isVisible());

    bool opened = false;
    whenOpen<Form25>([&](Form25* window) {
        opened = true;
        QCOMPARE(window->size(), QSize(100, 80));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(window->windowFlags() & Qt::Tool); // not on the taskbar
        QCOMPARE(middle(window->geometry()), middle(main.screen()->geometry()));
        QCOMPARE(window->parentWidget(), &main);
        auto* picture = test::control<QLabel>(window, "Image1");
        QCOMPARE(picture->toolTip(), QStringLiteral("Уменьшить..."));
        QCOMPARE(picture->pixmap().toImage().pixelColor(50, 40), QColor(Qt::red));
        // A press that ends outside the picture is no click.
        QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(picture, Qt::LeftButton, {}, QPoint(150, 5));
        QVERIFY(window->isVisible());
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(99, 79));
    });
    QTest::mouseClick(source, Qt::LeftButton);
    QVERIFY(opened);
    QVERIFY(!QApplication::activeModalWidget());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    main.close();
    MessageBox::takeShown();
}

void TestPackages::mainWindowCommandsOpenForm5AndShowPictureAfter_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("menu") << "vrachey";
    QTest::newRow("button") << "vrachey1";
}

void TestPackages::mainWindowCommandsOpenForm5AndShowPictureAfter()
{
    QFETCH(QString, command);
    TestRegister reg;
    QVERIFY(reg.write({part("NE555", "1", "1", "d'pak")}, {{"D'PAK", {}}})); // linked ignoring case
    m_userFolder = std::make_unique<QTemporaryDir>();
    const QString file = QDir(m_userFolder->path()).filePath("dpak.bmp");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(picture(Qt::green, "BMP", 50, 25));
    out.close();

    Form1 main(reg.paths(), reg.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* shown = test::control<QLabel>(&main, "Image2");
    QVERIFY(shown->isHidden()); // the type has no picture yet
    // The window's background readers open and close connections of their own; Form5's are
    // counted once they have done.
    // (The server looks after its storage itself: no check of the file runs there.)
    if (!onServerBackend()) {
        auto* check = main.findChild<DamageCheck*>();
        QVERIFY(check);
        QSignalSpy checked(check, &DamageCheck::finished);
        QVERIFY(checked.wait(20000));
    }
    auto* names = main.findChild<NameCopy*>();
    QVERIFY(names);
    QTRY_VERIFY(names->isReady() && !names->isLoading());
    // The stock's figures are read after the names, on a connection of their own.
    QTRY_VERIFY_WITH_TIMEOUT(main.stockFigures()->isReady() && !main.stockFigures()->isLoading(),
                             20000);
    const int connections = reg.owner().openConnections();

    int openings = 0;
    const auto giveTheTypeAPicture = [&](Form5* window) {
        ++openings;
        QCOMPARE(window->parentWidget(), &main);
        QVERIFY(window->isModal());
        QCOMPARE(reg.owner().openConnections(), connections + 2); // its own two
        FileDialog::setNextFileName(file);
        QTest::mouseClick(test::control<QPushButton>(window, "cPhoto"), Qt::LeftButton);
        QTest::mouseClick(test::control<QPushButton>(window, "Select"), Qt::LeftButton);
        QTest::mouseClick(test::control<QPushButton>(window, "cmdExit12"), Qt::LeftButton);
    };
    whenOpen<Form5>(giveTheTypeAPicture);
    if (command == QLatin1String("vrachey"))
        test::control<QAction>(&main, "vrachey")->trigger();
    else
        QTest::mouseClick(test::control<QPushButton>(&main, "vrachey1"), Qt::LeftButton);
    QCOMPARE(openings, 1);
    QCOMPARE(FileDialog::takeAsked().size(), 1);
    QVERIFY(!QApplication::activeModalWidget());
    // Closed: its connections are gone, and the part shows the picture as stored now.
    QCOMPARE(reg.owner().openConnections(), connections);
    QVERIFY(shown->isVisible());
    QCOMPARE(shown->pixmap().size(), QSize(50, 25));

    // Built afresh on the next opening.
    whenOpen<Form5>([&](Form5* window) {
        ++openings;
        QCOMPARE(test::control<QLineEdit>(window, "Text1")->text(), QString());
        QTest::mouseClick(test::control<QPushButton>(window, "cmdExit12"), Qt::LeftButton);
    });
    test::control<QAction>(&main, "vrachey")->trigger();
    QCOMPARE(openings, 2);

    MessageBox::setNextAnswer(QMessageBox::Yes);
    main.close();
    MessageBox::takeShown();
}

void TestPackages::picturesClaimingHugeSizesCostNoMemory()
{
    // A GIF of 35 bytes that would decode to 400 MB, and a BMP of 70 that would take 100 MB.
    const QByteArray hugeGif = gifClaiming(10000, 10000);
    QVERIFY(hugeGif.size() < 64);
    const QByteArray bigBmp = bmpClaiming(5000, 5000);
    open({{"A", picture(Qt::red, "BMP", 10, 10)}, {"BMP", bigBmp}, {"GIF", hugeGif}});

    // Chosen in the window: refused with the reason; the earlier choice stays.
    choose(userFile("good.bmp", picture(Qt::blue, "BMP", 10, 10)));
    const std::pair<QString, QByteArray> files[] = {
        {"huge.gif", hugeGif},
        {"screen.gif", gifClaiming(10000, 10000, false)},
        {"big.bmp", bigBmp}};
    for (const auto& [name, bytes] : files) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        choose(userFile(name, bytes));
        const MessageBox::Shown shown = onlyMessage();
        QVERIFY2(shown.text.contains(QStringLiteral("слишком велик")), qPrintable(shown.text));
        QCOMPARE(shown.icon, QMessageBox::Warning);
        QCOMPARE(shownSize(image()), QSize(10, 10));
    }

    // Stored by another program: shown blank, as bytes that are no picture are.
    grid()->setFocus();
    for (const char* name : {"BMP", "GIF"}) {
        QTest::keyClick(grid(), Qt::Key_Down);
        QCOMPARE(currentName(), QString::fromLatin1(name));
        QVERIFY(image()->pixmap().isNull());
        QVERIFY(!QFile::exists(temporary()));
    }

    // The main window likewise.
    TestRegister reg;
    QVERIFY(reg.write({part("X", "1", "1", "GIF")}, {{"GIF", hugeGif}}));
    Form1 main(reg.paths(), reg.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QVERIFY(test::control<QLabel>(&main, "Image2")->pixmap().isNull());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    main.close();
    MessageBox::takeShown();
}

void TestPackages::largePicturesAreHeldAtTheSizeShown()
{
    // Within the limits, but larger than the screen: 4000 x 3000 claimed by 70 bytes.
    const QByteArray large = bmpClaiming(4000, 3000);
    QCOMPARE(checkPictureBytes(large).problem, PictureProblem::None);
    open({{"LARGE", large}});
    const QSize screen = m_window->screen()->availableGeometry().size();
    QVERIFY(screen.width() < 4000 && screen.height() < 3000);
    const QSize fitted = QSize(4000, 3000).scaled(screen, Qt::KeepAspectRatio);

    QCOMPARE(shownSize(image()), fitted); // decoded small, stretched into the box as before
    bool opened = false;
    whenOpen<picView1>([&](picView1* window) {
        opened = true;
        QCOMPARE(window->size(), fitted);
        QVERIFY(m_window->screen()->availableGeometry().contains(window->geometry()));
        window->accept();
    });
    QTest::mouseClick(image(), Qt::LeftButton);
    QVERIFY(opened);

    // A picture chosen in the window is previewed the same way, and stored whole.
    choose(userFile("large.bmp", large));
    QCOMPARE(shownSize(image()), fitted);
    typeName("CHOSEN");
    click("cmdAdd4");
    QCOMPARE(stored().last().picture, large);

    // The enlargement of the main window's picture fits the screen too.
    TestRegister reg;
    QVERIFY(reg.write({part("X", "1", "1", "LARGE")}, {{"LARGE", large}}));
    Form1 main(reg.paths(), reg.owner());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* source = test::control<QLabel>(&main, "Image2");
    QCOMPARE(shownSize(source), fitted);
    opened = false;
    whenOpen<Form25>([&](Form25* window) {
        opened = true;
        QCOMPARE(window->size(), fitted);
        QVERIFY(main.screen()->availableGeometry().contains(window->geometry()));
        window->accept();
    });
    QTest::mouseClick(source, Qt::LeftButton);
    QVERIFY(opened);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    main.close();
    MessageBox::takeShown();
}
