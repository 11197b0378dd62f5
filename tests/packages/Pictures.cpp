// The pictures of package types: stored byte for byte, shown, refused when unfit, and never
// read to list the types.
#include "ReaderProbe.h"
#include "TestPackages.h"

void TestPackages::picturesStoredByteForByteAndShown_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::newRow("0 bytes") << "empty.jpg" << QByteArray() << QSize();
    QTest::newRow("BMP") << "b.bmp" << picture(Qt::red, "BMP", 33, 21) << QSize(33, 21);
    QTest::newRow("JPEG") << "j.jpeg" << picture(Qt::blue, "JPG", 64, 48) << QSize(64, 48);
    QTest::newRow("GIF") << "g.gif" << gif(Qt::green, 17, 90) << QSize(17, 90);
    QTest::newRow("JPEG named .bmp")
        << "j.bmp" << picture(Qt::cyan, "JPG", 20, 10) << QSize(20, 10);
}

void TestPackages::picturesStoredByteForByteAndShown()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    open({{"AAA", picture(Qt::black)}, {"ZZZ", {}}});
    const QString file = userFile(fileName, bytes);
    choose(file);
    QCOMPARE(shownSize(image()), size); // the preview
    typeName("MMM");
    click("cmdAdd4");
    QCOMPARE(stored().last().picture, bytes);
    QCOMPARE(QFile(file).size(), bytes.size());

    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Down);
    QCOMPARE(currentName(), QStringLiteral("MMM"));
    QCOMPARE(shownSize(image()), size);
    QVERIFY(!QFile::exists(temporary()));
}

void TestPackages::unfitFilesAreRefused_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("sparseSize"); // made this large without writing it
    QTest::addColumn<QString>("reason");
    QTest::newRow("text named .jpg") << "notes.jpg" << QByteArray("just some text\n") << 0LL
                                     << "не является рисунком BMP, JPEG или GIF";
    QTest::newRow("PNG named .jpg")
        << "p.jpg" << picture(Qt::red, "PNG") << 0LL << "не является рисунком BMP, JPEG или GIF";
    QTest::newRow("JPEG cut after its header")
        << "cut.jpg" << picture(Qt::red, "JPG").left(20) << 0LL << "не является рисунком";
    QTest::newRow("over 32 MiB") << "big.bmp" << picture(Qt::red) << 32LL * 1024 * 1024 + 1
                                 << "слишком велик";
    QTest::newRow("claims 200 megapixels")
        << "huge.bmp" << bmpClaiming(20000, 10000) << 0LL << "20000 × 10000";
    QTest::newRow("claims a side too long")
        << "long.bmp" << bmpClaiming(40000, 100) << 0LL << "40000 × 100";
}

void TestPackages::unfitFilesAreRefused()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, sparseSize);
    QFETCH(QString, reason);
    open({{"KEEP", {}}});
    const QByteArray good = picture(Qt::blue);
    choose(userFile("good.bmp", good));

    QString file = userFile(fileName, bytes);
    if (sparseSize > 0)
        QVERIFY(QFile::resize(file, sparseSize));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    choose(file);
    const MessageBox::Shown shown = onlyMessage();
    QVERIFY2(shown.text.contains(reason), qPrintable(shown.text));
    QVERIFY(shown.text.contains(QDir::toNativeSeparators(file)));
    QCOMPARE(shown.title, kTitle);
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shownSize(image()), QSize(40, 30)); // the earlier choice stands

    typeName("NEW");
    click("cmdAdd4");
    QCOMPARE(stored().last().picture, good);
}

void TestPackages::fileSpoiltAfterChoosingIsRefusedOnStore()
{
    open({{"KEEP", picture(Qt::red)}});
    const QString file = userFile("later.jpg", picture(Qt::blue, "JPG"));
    choose(file);
    userFile("later.jpg", "no longer a picture");
    typeName("NEW");
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("cmdAdd4");
    QVERIFY(onlyMessage().text.contains(QStringLiteral("Тип корпуса не добавлен")));
    QCOMPARE(stored().size(), 1);
    QCOMPARE(control<QLineEdit>("Text1")->text(), QStringLiteral("NEW")); // kept for another try

    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Select");
    QVERIFY(onlyMessage().text.contains(QStringLiteral("Рисунок типа не изменён")));
    QCOMPARE(stored()[0].picture, picture(Qt::red));

    QFile::remove(file); // chosen, then gone: refused too, rather than stored empty
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Select");
    QVERIFY(onlyMessage().text.contains(QStringLiteral("не найден")));
    QCOMPARE(stored()[0].picture, picture(Qt::red));
}

void TestPackages::editAsksBeforeTakingThePictureAway()
{
    const QByteArray red = picture(Qt::red);
    open({{"DIP-8", red}, {"SO-8", {}}}, [](TestRegister& file) {
        Connection db;
        QVERIFY(file.openView(db).ok());
        QSqlQuery query(db.connection());
        QVERIFY(query.exec(QStringLiteral("UPDATE vrYZD SET vrachYZD = 'dip-8' "
                                          "WHERE vrachYZD = 'DIP-8'")));
    });
    const QString fileName = stored()[0].fileName;
    QCOMPARE(currentName(), QStringLiteral("dip-8"));

    // Nothing chosen and no dip-8.jpg beside the program. "Нет": the picture stays, the rest
    // is saved.
    MessageBox::setNextAnswer(QMessageBox::No);
    click("Select");
    const MessageBox::Shown asked = onlyMessage();
    QCOMPARE(asked.icon, QMessageBox::Question);
    QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY2(asked.text.endsWith(QStringLiteral("Убрать рисунок у типа «dip-8»?")),
             qPrintable(asked.text));
    QCOMPARE(stored()[0].name, QStringLiteral("DIP-8"));
    QCOMPARE(stored()[0].picture, red);
    QCOMPARE(stored()[0].fileName, fileName);
    QCOMPARE(shownSize(image()), QSize(40, 30));

    // "Да" is still the way to take a picture away.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    click("Select");
    QCOMPARE(onlyMessage().icon, QMessageBox::Question);
    QCOMPARE(stored()[0].picture, QByteArray());
    QVERIFY(image()->pixmap().isNull());

    // A type that has no picture has nothing to lose: no question.
    click("Select");
    QVERIFY(MessageBox::takeShown().isEmpty());
    QCOMPARE(stored()[0].picture, QByteArray());
}

void TestPackages::largestAcceptedPictureIsShown()
{
    // Whatever is taken in must also be shown: both sides keep to the same limits.
    QCOMPARE(checkPictureBytes(bmpClaiming(10001, 10000)).problem, PictureProblem::TooManyPixels);
    QCOMPARE(checkPictureBytes(bmpClaiming(32768, 2)).problem, PictureProblem::TooManyPixels);
    open({});
    const QByteArray wide = picture(Qt::red, "BMP", 32767, 2); // far beyond the old 8192
    choose(userFile("wide.bmp", wide));
    typeName("WIDE");
    click("cmdAdd4");
    QCOMPARE(stored()[0].picture, wide);
    // Held at the size it is shown at most, fitted within the screen.
    const QSize screen = m_window->screen()->availableGeometry().size();
    QCOMPARE(shownSize(image()), QSize(screen.width(), 1));
}

void TestPackages::rowChangeLeavesNoTemporaryFile()
{
    open({{"A", picture(Qt::red, "BMP", 10, 10)},
          {"B", "not a picture"}, // right after a picture: the old one must not stay
          {"C", {}},
          {"D", gif(Qt::blue, 12, 12)}});
    QCOMPARE(shownSize(image()), QSize(10, 10)); // the first row's picture at once
    grid()->setFocus();
    const QSize expected[] = {QSize(), QSize(), QSize(12, 12)};
    for (const QSize& size : expected) {
        QTest::keyClick(grid(), Qt::Key_Down);
        QCOMPARE(shownSize(image()), size); // stored bytes that are no picture: box left empty
        QVERIFY(!QFile::exists(temporary()));
    }
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestPackages::gridReadsNoPictures()
{
    // A thousand pictures of 200 KB must not be read to list a thousand names.
    open({{"A", picture(Qt::red)}, {"B", picture(Qt::blue)}});
    const QAbstractItemModel* model = grid()->model();
    QCOMPARE(model->rowCount(), 2);
    int pictureColumn = -1;
    for (int column = 0; column < model->columnCount(); ++column) {
        if (model->headerData(column, Qt::Horizontal).toString() == QLatin1String("Photo1"))
            pictureColumn = column;
    }
    QVERIFY(pictureColumn >= 0);
    QVERIFY(!model->index(1, pictureColumn).data().isValid());
    QCOMPARE(model->index(1, grid()->horizontalHeader()->logicalIndex(0)).data().toString(),
             QStringLiteral("B"));
}

void TestPackages::readersHearTheShownColumnsOnly()
{
    // The grid's source holds the pictures and file names too; a reader gets what is shown.
    open({{"A", picture(Qt::red)}, {"B", picture(Qt::blue)}});
    const QHeaderView* header = grid()->horizontalHeader();
    const auto number = [this, header](int row) {
        return grid()->model()->index(row, header->logicalIndex(1)).data().toString();
    };
    QCOMPARE(heardItems(grid()),
             QStringList({"Корпус", "IDvrachYZD", "A", number(0), "B", number(1)}));
    QAccessibleTableInterface* table =
        QAccessible::queryAccessibleInterface(grid())->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 2);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->cellAt(1, 0)->text(QAccessible::Name), QStringLiteral("B"));
    QCOMPARE(table->selectedRows(), QList<int>({0}));
}
