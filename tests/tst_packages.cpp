// The package-type window and the picture windows, driven through the real windows with
// the file-dialog and message-box seams, and the main window's commands that open them.
#include "TestRegister.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "mkdb/GifWriter.h"
#include "packages/Form5.h"
#include "packages/PictureWindows.h"
#include "store/records/PictureText.h"
#include "store/records/RecordSource.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <functional>

using namespace tarvik;
using namespace tarvik::test;

namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");
const QString kFillIn = QStringLiteral("Заполните тип корпуса");

struct StoredType {
    qint64 number;
    QVariant yzdId;
    QString name;
    QString fileName;
    QByteArray picture;
};

// Every package type in stored order, read through a view of its own.
QList<StoredType> storedTypes(const QString& databasePath)
{
    RecordSource source;
    source.open(databasePath);
    source.setStatement(Statements::packageTypes());
    source.refresh();
    QList<StoredType> types;
    for (int row = 0; row < source.recordCount(); ++row) {
        source.setCurrentRow(row);
        types.append({source.field("IDvrachYZD").toLongLong(), source.field("yzdID"),
                      source.field("vrachYZD").toString(), source.field("name1").toString(),
                      source.field("Photo1").toByteArray()});
    }
    return types;
}

QByteArray gif(const QColor& colour, int width = 40, int height = 30)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return encodeGif(image);
}

// A BMP whose header claims `width` x `height` pixels with almost nothing behind it.
QByteArray bmpClaiming(int width, int height)
{
    QByteArray bmp = picture(Qt::red, "BMP", 2, 2);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    return bmp;
}

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

// Runs `step` on the modal window of type T as soon as it is open; the step must close it.
template <typename T> void whenOpen(std::function<void(T*)> step)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, step] {
        if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            step(window);
            if (window->isVisible()) // a failed check must not leave the test waiting
                window->reject();
        }
    });
    poll->start();
}

QPoint middle(const QRect& r)
{
    return r.topLeft() + QPoint(r.width() / 2, r.height() / 2);
}

// Gives the stored type in row `row` (stored order) the name `name`, as another program
// could have written it.
void renameStored(const QString& databasePath, int row, const QString& name)
{
    RecordSource source;
    QVERIFY(source.open(databasePath).ok());
    source.setStatement(Statements::packageTypes());
    QVERIFY(source.refresh());
    QVERIFY(source.setCurrentRow(row));
    QVERIFY(source.updateCurrent({{QStringLiteral("vrachYZD"), name}}));
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

QSize shownSize(const QLabel* label)
{
    return label->pixmap().isNull() ? QSize() : label->pixmap().size();
}

} // namespace

class TestPackages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void layoutGridAndTabOrder();
    void photoOffersOneFilterAndKeepsChoiceOnCancel();
    void addWithEmptyNameKeepsTheChoice();
    void addUpperCasesAndRereadsByName();
    void addTakesANumberNoOtherWriterHasTaken();
    void addWithoutChosenPicture_data();
    void addWithoutChosenPicture();
    void numberFollowsLargestIdentity();
    void editKeepsTheRowAndStoresNewPicture();
    void picturesStoredByteForByteAndShown_data();
    void picturesStoredByteForByteAndShown();
    void unfitFilesAreRefused_data();
    void unfitFilesAreRefused();
    void fileSpoiltAfterChoosingIsRefusedOnStore();
    void largestAcceptedPictureIsShown();
    void apostropheInNames();
    void refusedRowIsReportedAndListStaysTrue();
    void typeDeletedElsewhereIsNotChangedAndLeavesTheList();
    void rowChangeLeavesNoTemporaryFile();
    void gridReadsNoPictures();
    void picView1ShowsNaturalSizeOverForm5();
    void form25FromMainWindow();
    void mainWindowCommandsOpenForm5AndShowPictureAfter_data();
    void mainWindowCommandsOpenForm5AndShowPictureAfter();
    void picturesClaimingHugeSizesCostNoMemory();
    void largePicturesAreHeldAtTheSizeShown();

private:
    void open(const QList<Package>& packages,
              const std::function<void(const QString&)>& beforeOpening = {});
    template <typename T> T* control(const char* name) const
    {
        return test::control<T>(m_window.get(), name);
    }
    QTableView* grid() const { return control<QTableView>("TDBGrid3"); }
    QLabel* image() const { return control<QLabel>("Image1"); }
    QStringList listed() const;
    QString currentName() const;
    void click(const char* button) const
    {
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }
    // "Фото" answered with `path` (empty: cancelled).
    void choose(const QString& path) const
    {
        FileDialog::setNextFileName(path);
        click("cPhoto");
        QCOMPARE(FileDialog::takeAsked().size(), 1);
    }
    void typeName(const QString& name) const
    {
        control<QLineEdit>("Text1")->clear();
        typeText(control<QLineEdit>("Text1"), name);
    }
    QList<StoredType> stored() const { return storedTypes(m_register->databasePath()); }
    // A file in the user's own folder, apart from the program folder.
    QString userFile(const QString& name, const QByteArray& bytes) const;
    QString temporary() const { return m_register->paths().temporaryPicturePath(); }
    MessageBox::Shown onlyMessage() const;

    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<QTemporaryDir> m_userFolder;
    std::unique_ptr<Form5> m_window;
};

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
                        const std::function<void(const QString&)>& beforeOpening)
{
    m_window.reset();
    m_register = std::make_unique<TestRegister>();
    m_userFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_register->write({}, packages));
    if (beforeOpening)
        beforeOpening(m_register->databasePath());
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
         [](const QString& file) {
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

void TestPackages::addTakesANumberNoOtherWriterHasTaken()
{
    // Another program adds a type while it holds the write lock for a moment: the new type's
    // number is counted after that one, not read before it and stored twice.
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
         [](const QString& file) { renameStored(file, 1, QStringLiteral("so-8")); });
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
    click("Select");
    QCOMPARE(stored()[1].picture, QByteArray());
    QCOMPARE(stored()[1].fileName, QStringLiteral("SO-8.jpg"));
    QVERIFY(image()->pixmap().isNull());
}

// ---- pictures -----------------------------------------------------------------------------

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

void TestPackages::apostropheInNames()
{
    open({{"O'NEIL", picture(Qt::red)}});
    typeName("d'pak");
    choose(userFile("d.bmp", picture(Qt::blue)));
    click("cmdAdd4");
    QCOMPARE(listed(), QStringList({"D'PAK", "O'NEIL"}));
    QCOMPARE(shownSize(image()), QSize(40, 30));
    click("Select");
    QCOMPARE(stored().last().name, QStringLiteral("D'PAK"));
    QCOMPARE(listed(), QStringList({"D'PAK", "O'NEIL"}));
}

void TestPackages::typeDeletedElsewhereIsNotChangedAndLeavesTheList()
{
    open({{"DIP-8", picture(Qt::red)}, {"SO-8", picture(Qt::green)}});
    QCOMPARE(currentName(), QStringLiteral("DIP-8"));
    {
        Connection other; // another program, between the listing and the click
        QVERIFY(other.open(m_register->databasePath()).ok());
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

// ---- the picture windows ------------------------------------------------------------------

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

QTEST_MAIN(TestPackages)
#include "tst_packages.moc"
