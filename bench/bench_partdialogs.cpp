// The part dialogs on a large register: what a user waits for while typing the quantity (the
// duplicate-name check runs on every character) and while the new-part dialog opens, with
// 1,000 package types. Works on a copy: the given register is only read.
//
//   bench_partdialogs <program folder with base/vorlend.mdb>
#include "app/Form1.h"
#include "app/Startup.h"
#include "editor/Form2.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"

#include "BenchStats.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tarvik;

using namespace tarvik::bench;

namespace {

constexpr int kPackageTypes = 1000;

void row(const char* what, const Stats& s)
{
    std::printf("%-44s median %8.2f ms  p95 %8.2f ms\n", what, s.median, s.p95);
    std::fflush(stdout);
}

QByteArray picture(int i)
{
    QImage image(120, 90, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(i * 7 % 360, 200, 220));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

// Brings the copy to exactly kPackageTypes types, each with a picture; returns a stored name.
QString preparePackagesAndPickName(const QString& database)
{
    QString name;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "prepare");
        db.setDatabaseName(database);
        if (!db.open())
            return {};
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT COUNT(*) FROM vrYZD"));
        query.next();
        const int existing = query.value(0).toInt();
        db.transaction();
        query.prepare(QStringLiteral("INSERT INTO vrYZD (yzdID, vrachYZD, name1, Photo1) "
                                     "VALUES (NULL, ?, ?, ?)"));
        for (int i = existing; i < kPackageTypes; ++i) {
            const QString type = QStringLiteral("КОРПУС-%1").arg(i, 4, 10, QLatin1Char('0'));
            query.addBindValue(type);
            query.addBindValue(type.toLower() + QStringLiteral(".jpg"));
            query.addBindValue(picture(i));
            query.exec();
        }
        db.commit();
        query.exec(QStringLiteral("SELECT idFam FROM client WHERE idnom = "
                                  "(SELECT MAX(idnom) / 2 FROM client)"));
        if (query.next())
            name = query.value(0).toString();
    }
    QSqlDatabase::removeDatabase("prepare");
    return name;
}

// The offscreen platform says so at every drop-down; it is noise here.
void quietPlatformNotes(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_partdialogs <program folder>\n");
        return 2;
    }
    qInstallMessageHandler(quietPlatformNotes);
    QApplication app(argc, argv);
    prepareApplication(app);

    QTemporaryDir scratch;
    QDir(scratch.path()).mkpath(QStringLiteral("base"));
    const ProgramPaths paths(scratch.path());
    if (!QFile::copy(ProgramPaths(QString::fromLocal8Bit(argv[1])).databasePath(),
                     paths.databasePath())) {
        std::fprintf(stderr, "cannot copy the register\n");
        return 1;
    }
    const QString storedName = preparePackagesAndPickName(paths.databasePath());
    if (storedName.isEmpty()) {
        std::fprintf(stderr, "the copy has no parts\n");
        return 1;
    }

    Register reg(paths.databasePath());
    RecordSource data1;
    data1.open(reg);
    data1.setStatement(Statements::partsByName());
    data1.refresh();
    std::printf("parts: %d, package types: %d\n", data1.recordCount(), kPackageTypes);
    const PartSaver saver = [&](const PartRow& part, const std::optional<PartRow>& expected) {
        return savePartListedByName(data1, part, expected);
    };

    // Opening: built, shown and painted, its first list read.
    std::vector<double> openings;
    for (int i = 0; i < 30; ++i) {
        openings.push_back(timeMs([&] {
            Form2 dialog(reg, paths, saver);
            dialog.show();
            QApplication::processEvents();
        }));
    }
    row("open Form2 (built, shown, painted)", statsOf(openings));

    // The duplicate check: every character typed into the quantity, stored name or not.
    Form2 dialog(reg, paths, saver);
    dialog.show();
    QApplication::processEvents();
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("Fam"));
    auto* quantity = dialog.findChild<QLineEdit*>(QStringLiteral("txtVozrast"));
    const auto keystrokes = [&](const QString& typedName, bool stored) {
        name->setText(typedName);
        std::vector<double> ms;
        for (int i = 0; i < 300; ++i) {
            if (stored)
                MessageBox::setNextAnswer(QMessageBox::Ok);
            const bool erase = i % 2;
            ms.push_back(timeMs([&] {
                QTest::sendKeyEvent(QTest::Click, quantity, erase ? Qt::Key_Backspace : Qt::Key_5,
                                    erase ? QStringLiteral("\b") : QStringLiteral("5"),
                                    Qt::NoModifier);
            }));
        }
        if (stored && MessageBox::takeShown().size() != 300)
            std::fprintf(stderr, "the warning did not come on every keystroke\n");
        return statsOf(ms);
    };
    row("quantity keystroke, name stored (warns)", keystrokes(storedName, true));
    row("quantity keystroke, name not stored", keystrokes(storedName + QStringLiteral("Ж"), false));

    // A keystroke in the package box: three look-ups of the 1,000 types.
    auto* package = dialog.findChild<QComboBox*>(QStringLiteral("DBCombo8"));
    std::vector<double> choices;
    for (int i = 0; i < 100; ++i) {
        package->clearEditText();
        for (const QChar ch : QStringLiteral("корпус-05")) {
            choices.push_back(timeMs([&] {
                QTest::sendKeyEvent(QTest::Click, package->lineEdit(), Qt::Key_unknown, QString(ch),
                                    Qt::NoModifier);
            }));
        }
    }
    row("package box keystroke", statsOf(choices));

    // Leaving the box matches its text against the list (the box's own completion of case).
    std::vector<double> matches;
    for (int i = 0; i < 20; ++i)
        matches.push_back(timeMs([&] { package->findText(QStringLiteral("корпус-0999")); }));
    row("package text matched against the list", statsOf(matches));

    // The drop-down list of the 1,000 types, its rows read as they are shown.
    std::vector<double> popups;
    for (int i = 0; i < 20; ++i) {
        popups.push_back(timeMs([&] {
            package->showPopup();
            QApplication::processEvents();
        }));
        package->hidePopup();
        QApplication::processEvents();
    }
    row("package list drop-down", statsOf(popups));

    // The whole "new part" command of the main window, which first re-reads its list.
    Form1 window(paths, reg);
    window.show();
    QApplication::processEvents();
    auto* nPaz = window.findChild<QToolButton*>(QStringLiteral("nPaz"));
    std::vector<double> commands;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer timer;
        timer.start();
        QTimer::singleShot(0, [&] {
            commands.push_back(timer.nsecsElapsed() / 1e6);
            QApplication::activeModalWidget()->close();
        });
        QTest::mouseClick(nPaz, Qt::LeftButton);
    }
    row("nPaz click to dialog up (list re-read too)", statsOf(commands));
    MessageBox::setNextAnswer(QMessageBox::Yes); // the exit question
    window.close();
    return 0; // the copy goes with the scratch folder
}
