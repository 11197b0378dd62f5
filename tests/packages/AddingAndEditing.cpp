// Adding and editing package types in their window: the layout, the names, the numbers,
// and what happens when the file or another program says no. The window's fixture and the
// program's entry point are here too.
#include "TestPackages.h"

namespace {

const QString kFillIn = QStringLiteral("Заполните тип корпуса");

// Gives the stored type in row `row` (stored order) the name `name`, as another program
// could have written it.
void renameStored(TestRegister& reg, int row, const QString& name)
{
    RecordSource source;
    QVERIFY(reg.openView(source).ok());
    source.setStatement(Statements::packageTypes());
    QVERIFY(source.refresh());
    QVERIFY(source.setCurrentRow(row));
    QVERIFY(source.updateCurrent({{QStringLiteral("vrachYZD"), name}}, PartAction::Edit));
}

// A fixture: while it is set the file refuses every change of the package types, as a full
// or read-only disk would, and can still be read.
void refuseChanges(const QString& databasePath, bool refuse)
{
    Connection db;
    QVERIFY(db.open(databasePath).ok());
    QSqlQuery query(db.connection());
    for (const char* change : {"INSERT", "UPDATE"}) {
        const QString trigger = QStringLiteral("refuse_%1").arg(QLatin1String(change));
        QVERIFY2(query.exec(refuse ? QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON vrYZD BEGIN "
                                                    "SELECT RAISE(ABORT, 'disk full'); END")
                                         .arg(trigger, QLatin1String(change))
                                   : QStringLiteral("DROP TRIGGER %1").arg(trigger)),
                 qPrintable(query.lastError().text()));
    }
}

} // namespace

void TestPackages::initTestCase()
{
    prepareApplication(*qApp);
}

void TestPackages::cleanup()
{
    QVERIFY2(MessageBox::takeShown().isEmpty(), "a message nobody expected");
    QVERIFY2(FileDialog::takeAsked().isEmpty(), "a file dialog nobody expected");
    m_window.reset();
    m_register.reset();
}

void TestPackages::open(const QList<Package>& packages,
                        const std::function<void(TestRegister&)>& beforeOpening)
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    m_userFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_register->write({}, packages));
    if (beforeOpening)
        beforeOpening(*m_register);
    m_window = std::make_unique<Form5>(m_register->paths(), m_register->owner());
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

QStringList TestPackages::listed() const
{
    QStringList names;
    const int column = grid()->horizontalHeader()->logicalIndex(0);
    for (int row = 0; row < grid()->model()->rowCount(); ++row)
        names << grid()->model()->index(row, column).data().toString();
    return names;
}

QString TestPackages::currentName() const
{
    const QModelIndex current = grid()->currentIndex();
    return current.siblingAtColumn(grid()->horizontalHeader()->logicalIndex(0)).data().toString();
}

QString TestPackages::userFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = QDir(m_userFolder->path()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

MessageBox::Shown TestPackages::onlyMessage() const
{
    const QList<MessageBox::Shown> shown = MessageBox::takeShown();
    if (shown.size() != 1)
        qFatal("expected one message, got %d", int(shown.size()));
    return shown.first();
}

// ---- the window ---------------------------------------------------------------------------

void TestPackages::layoutGridAndTabOrder()
{
    open({{"TO-92", {}}, {"DIP-8", {}}, {"КОРПУС", {}}, {"ABC", {}}, {"ТО-220", {}}},
         [](TestRegister& file) {
             renameStored(file, 1, QStringLiteral("dip-8"));
             renameStored(file, 2, QStringLiteral("корпус"));
         });
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Справочник типов корпусов"));
    QCOMPARE(m_window->size(), QSize(501, 340)); // 7515 x 5100 twips
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMinMaxButtonsHint));
    QVERIFY((middle(m_window->geometry()) - middle(m_window->screen()->availableGeometry()))
                .manhattanLength() <= 2); // centred, to the rounding of odd sizes
    const struct {
        const char* name;
        QRect twips;
    } places[] = {{"Label1", {480, 120, 2775, 255}},   {"Text1", {360, 360, 2895, 360}},
                  {"cPhoto", {3600, 360, 1335, 375}},  {"TDBGrid3", {360, 840, 2895, 3615}},
                  {"Image1", {3600, 840, 3495, 3615}}, {"cmdAdd4", {360, 4560, 2895, 495}},
                  {"Select", {3600, 4560, 2055, 495}}, {"cmdExit12", {6000, 4560, 1095, 495}}};
    for (const auto& place : places) {
        const QRect& t = place.twips;
        QCOMPARE(control<QWidget>(place.name)->geometry(),
                 QRect(t.x() / 15, t.y() / 15, t.width() / 15, t.height() / 15));
        QVERIFY2(!control<QWidget>(place.name)->accessibleName().isEmpty(), place.name);
    }

    // Read-only, two columns with their captions, the name first, sorted by name.
    QCOMPARE(grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
    QStringList headers;
    QHeaderView* header = grid()->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            headers << grid()->model()->headerData(logical, Qt::Horizontal).toString();
    }
    QCOMPARE(headers, QStringList({"Корпус", "IDvrachYZD"}));
    QCOMPARE(listed(), QStringList({"ABC", "dip-8", "TO-92", "корпус", "ТО-220"}));
    QCOMPARE(grid()->model()->index(0, header->logicalIndex(1)).data().toLongLong(), 4);
    QCOMPARE(grid()->currentIndex().row(), 0);

    // The tab order: the grid, "Выйти", "Добавить новую", the name, "Фото", "Редактировать".
    const QStringList order = {"TDBGrid3", "cmdExit12", "cmdAdd4", "Text1", "cPhoto", "Select"};
    grid()->setFocus();
    for (int i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order.at(i % order.size()));
    }

    click("cmdExit12");
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_window->result(), int(QDialog::Accepted));
}

void TestPackages::photoOffersOneFilterAndKeepsChoiceOnCancel()
{
    open({{"TO-92", {}}});
    FileDialog::setNextFileName({});
    click("cPhoto");
    const QList<FileDialog::Asked> asked = FileDialog::takeAsked();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].filter,
             QStringLiteral("*(*.bmp;*.jpg;*.gif;*.jpeg) (*.bmp *.jpg *.gif *.jpeg)"));
    QVERIFY(image()->pixmap().isNull()); // cancelled before any choice: empty

    const QByteArray blue = picture(Qt::blue, "BMP", 60, 50);
    const QString first = userFile("blue.bmp", blue);
    choose(first);
    QCOMPARE(shownSize(image()), QSize(60, 50));
    grid()->setFocus(); // the list's own picture replaces the preview only on a row change
    choose({});
    QCOMPARE(shownSize(image()), QSize(60, 50)); // cancelled: the earlier choice, shown again
    typeName("SOT-23");
    click("cmdAdd4");
    QCOMPARE(stored().last().picture, blue);
    QCOMPARE(stored().last().fileName, QStringLiteral("blue.bmp"));
}

void TestPackages::addWithEmptyNameKeepsTheChoice()
{
    open({});
    const QByteArray red = picture(Qt::red, "JPG");
    const QString file = userFile("red.jpg", red);
    choose(file);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("cmdAdd4");
    const MessageBox::Shown shown = onlyMessage();
    QCOMPARE(shown.text, kFillIn);
    QCOMPARE(shown.title, kTitle);
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(stored().isEmpty());

    typeName("ТО-220");
    click("cmdAdd4");
    QCOMPARE(stored().size(), 1);
    QCOMPARE(stored()[0].picture, red);
    QCOMPARE(stored()[0].fileName, QStringLiteral("red.jpg"));
    QVERIFY(QFile::exists(file)); // the user's file is never removed
    QCOMPARE(control<QLineEdit>("Text1")->text(), QString());

    // The choice is spent: the next type looks for a file named after itself.
    typeName("SO-16");
    click("cmdAdd4");
    QCOMPARE(stored()[1].picture, QByteArray());
    QCOMPARE(stored()[1].fileName, QStringLiteral("SO-16.jpg"));
}

void TestPackages::addUpperCasesAndRereadsByName()
{
    open({{"DIP-8", {}}, {"TO-92", {}}});
    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Down);
    QCOMPARE(currentName(), QStringLiteral("TO-92"));
    typeName("so-8");
    click("cmdAdd4");
    QCOMPARE(stored().last().name, QStringLiteral("SO-8"));
    QCOMPARE(listed(), QStringList({"DIP-8", "SO-8", "TO-92"}));
    QCOMPARE(grid()->currentIndex().row(), 0); // re-read: the first row is current

    // Latin and Cyrillic letters are raised, everything else is kept as typed.
    typeName("корпус ёж ß µ  ");
    click("cmdAdd4");
    QCOMPARE(stored().last().name, QStringLiteral("КОРПУС ЁЖ ß µ  "));
    typeName("   ");
    click("cmdAdd4"); // spaces only pass the check and are stored as typed
    QCOMPARE(stored().last().name, QStringLiteral("   "));
}

void TestPackages::yoFollowsYeInTheList()
{
    // Ё after Е and before Ж, typed Ё or ё.
    open({{"ЯЩИК", {}}, {"ЁМКОСТЬ", {}}, {"ЖГУТ", {}}, {"ЕЛЬ", {}}, {"ЁЖ", {}}, {"ЕЯ", {}}});
    QCOMPARE(listed(), QStringList({"ЕЛЬ", "ЕЯ", "ЁЖ", "ЁМКОСТЬ", "ЖГУТ", "ЯЩИК"}));
    typeName("ёлка");
    click("cmdAdd4");
    QCOMPARE(listed(), QStringList({"ЕЛЬ", "ЕЯ", "ЁЖ", "ЁЛКА", "ЁМКОСТЬ", "ЖГУТ", "ЯЩИК"}));
}

void TestPackages::addTakesANumberNoOtherWriterHasTaken()
{
    // Another program adds a type while it holds the write lock for a moment: the new type's
    // number is counted after that one, not read before it and stored twice.
    TARVIK_FILE_ONLY("the file's write lock, taken through its engine");
    open({{"DIP-8", {}}});
    const QString path = m_register->databasePath();
    QSemaphore locked;
    QThread* other = QThread::create([&] {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
        db.setDatabaseName(path);
        db.open();
        {
            QSqlQuery query(db);
            query.exec("BEGIN IMMEDIATE");
            query.exec("INSERT INTO vrYZD (vrachYZD, yzdID) VALUES ('TO-92', 2)");
            locked.release();
            QThread::msleep(300);
            query.exec("COMMIT");
        }
        db.close();
    });
    other->start();
    locked.acquire();
    typeName("so-8");
    click("cmdAdd4");
    other->wait();
    delete other;
    QSqlDatabase::removeDatabase("other");
    QVERIFY(MessageBox::takeShown().isEmpty());
    const QList<StoredType> types = stored();
    QCOMPARE(types.size(), 3);
    QCOMPARE(types.last().name, QStringLiteral("SO-8"));
    QCOMPARE(types.last().yzdId.toLongLong(), types.at(1).number + 1);
}

void TestPackages::addWithoutChosenPicture_data()
{
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("a file named after the type") << true;
    QTest::newRow("no such file") << false;
}

void TestPackages::addWithoutChosenPicture()
{
    QFETCH(bool, fileThere);
    open({});
    const QString beside = m_register->paths().resolve(QStringLiteral("qfn-32.jpg"));
    const QByteArray bytes = picture(Qt::green, "JPG", 30, 20);
    if (fileThere) {
        QFile file(beside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    typeName("qfn-32");
    click("cmdAdd4");
    QCOMPARE(stored().size(), 1);
    QCOMPARE(stored()[0].name, QStringLiteral("QFN-32"));
    QCOMPARE(stored()[0].fileName, QStringLiteral("qfn-32.jpg"));
    QCOMPARE(stored()[0].picture, fileThere ? bytes : QByteArray());
    QCOMPARE(QFile::exists(beside), fileThere); // neither created nor removed
    QCOMPARE(shownSize(image()), fileThere ? QSize(30, 20) : QSize());
}

void TestPackages::numberFollowsLargestIdentity()
{
    open({});
    typeName("A");
    click("cmdAdd4");
    QVERIFY(stored()[0].yzdId.isNull()); // the table was empty

    QList<Package> many;
    for (int i = 1; i <= 41; ++i)
        many.append({QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0')), {}});
    open(many);
    typeName("B");
    click("cmdAdd4");
    QCOMPARE(stored().last().yzdId.toLongLong(), 42);
    // After an Edit in the same opening the window still finds the largest on its own handle.
    click("Select");
    typeName("C");
    click("cmdAdd4");
    QCOMPARE(stored().last().number, 43);
    QCOMPARE(stored().last().yzdId.toLongLong(), 43);
}

void TestPackages::editKeepsTheRowAndStoresNewPicture()
{
    const QByteArray old = picture(Qt::red);
    open({{"DIP-8", old}, {"SO-8", {}}, {"TO-92", {}}},
         [](TestRegister& file) { renameStored(file, 1, QStringLiteral("so-8")); });
    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Down);
    QCOMPARE(currentName(), QStringLiteral("so-8"));
    const QByteArray yellow = gif(Qt::yellow, 70, 35);
    const QString file = userFile("yellow.gif", yellow);
    choose(file);
    typeName("переименовать");
    click("Select");

    const QList<StoredType> types = stored();
    QCOMPARE(types.size(), 3);
    QCOMPARE(types[0].name, QStringLiteral("DIP-8")); // the others stay as they were
    QCOMPARE(types[0].picture, old);
    QCOMPARE(types[1].name, QStringLiteral("SO-8")); // not renamed, only raised
    QCOMPARE(types[1].picture, yellow);
    QCOMPARE(types[1].fileName, QStringLiteral("yellow.gif"));
    QCOMPARE(listed(), QStringList({"DIP-8", "SO-8", "TO-92"}));
    QCOMPARE(grid()->currentIndex().row(), 1); // in place
    QCOMPARE(control<QLineEdit>("Text1")->text(), QString());
    QCOMPARE(shownSize(image()), QSize(70, 35));
    QVERIFY(QFile::exists(file));

    // No choice now, and no file named after the type: the type is left without a picture.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    click("Select");
    QCOMPARE(onlyMessage().icon, QMessageBox::Question);
    QCOMPARE(stored()[1].picture, QByteArray());
    QCOMPARE(stored()[1].fileName, QStringLiteral("SO-8.jpg"));
    QVERIFY(image()->pixmap().isNull());
}

void TestPackages::apostropheInNames()
{
    open({{"O'NEIL", picture(Qt::red)}});
    typeName("d'pak");
    choose(userFile("d.bmp", picture(Qt::blue)));
    click("cmdAdd4");
    QCOMPARE(listed(), QStringList({"D'PAK", "O'NEIL"}));
    QCOMPARE(shownSize(image()), QSize(40, 30));
    MessageBox::setNextAnswer(QMessageBox::No); // keeps its picture
    click("Select");
    QCOMPARE(onlyMessage().icon, QMessageBox::Question);
    QCOMPARE(stored().last().name, QStringLiteral("D'PAK"));
    QCOMPARE(listed(), QStringList({"D'PAK", "O'NEIL"}));
}

void TestPackages::typeDeletedElsewhereIsNotChangedAndLeavesTheList()
{
    open({{"DIP-8", picture(Qt::red)}, {"SO-8", picture(Qt::green)}});
    QCOMPARE(currentName(), QStringLiteral("DIP-8"));
    {
        Connection other; // another program, between the listing and the click
        QVERIFY(m_register->openView(other).ok());
        QSqlQuery query(other.connection());
        QVERIFY(query.exec(QStringLiteral("DELETE FROM vrYZD WHERE vrachYZD = 'DIP-8'")));
    }
    choose(userFile("b.bmp", picture(Qt::blue)));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Select");
    QCOMPARE(onlyMessage().text,
             QStringLiteral("Не удалось изменить тип корпуса «DIP-8»: запись уже удалена"));
    QCOMPARE(listed(), QStringList({"SO-8"}));
    QCOMPARE(stored().size(), 1);
}

void TestPackages::refusedRowIsReportedAndListStaysTrue()
{
    TARVIK_FILE_ONLY("the refusing triggers are written in the file's engine's language");
    open({{"DIP-8", picture(Qt::red)}});
    refuseChanges(m_register->databasePath(), true);

    typeName("SO-8");
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("cmdAdd4");
    MessageBox::Shown shown = onlyMessage();
    QVERIFY2(shown.text.startsWith(QStringLiteral("Не удалось добавить тип корпуса «SO-8»")),
             qPrintable(shown.text));
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(listed(), QStringList({"DIP-8"}));
    QCOMPARE(control<QLineEdit>("Text1")->text(), QStringLiteral("SO-8"));

    choose(userFile("b.bmp", picture(Qt::blue)));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    click("Select");
    QVERIFY(onlyMessage().text.startsWith(QStringLiteral("Не удалось изменить тип корпуса")));
    QCOMPARE(listed(), QStringList({"DIP-8"}));

    QCOMPARE(currentName(), QStringLiteral("DIP-8"));
    QCOMPARE(shownSize(image()), QSize(40, 30));
    refuseChanges(m_register->databasePath(), false);
    QCOMPARE(stored().size(), 1);
    QCOMPARE(stored()[0].picture, picture(Qt::red));
    typeName("SO-8");
    click("cmdAdd4"); // the choice was kept through the failure
    QCOMPARE(listed(), QStringList({"DIP-8", "SO-8"}));
    QCOMPARE(stored()[1].picture, picture(Qt::blue));
}

QTEST_MAIN(TestPackages)
#include "moc_TestPackages.cpp"
