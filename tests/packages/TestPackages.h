#pragma once

// The package-type window and the picture windows, driven through the real windows with
// the file-dialog and message-box seams, and the main window's commands that open them:
// the test class and what its files share. Only this program's files include it.
#include "TestRegister.h"
#include "WhenOpen.h"

#include "app/Form1.h"
#include "app/Startup.h"
#include "gui/FileDialog.h"
#include "gui/MessageBox.h"
#include "mkdb/GifWriter.h"
#include "packages/Form5.h"
#include "packages/PictureWindows.h"
#include "store/records/PictureText.h"
#include "store/records/RecordSource.h"
#include "store/register/DamageCheck.h"
#include "store/search/NameCopy.h"

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
#include <QSignalSpy>
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

inline const QString kTitle = QStringLiteral("Тарвик радиодеталей");

struct StoredType {
    qint64 number;
    QVariant yzdId;
    QString name;
    QString fileName;
    QByteArray picture;
};

// Every package type in stored order, read through a view of its own.
inline QList<StoredType> storedTypes(TestRegister& reg)
{
    RecordSource source;
    reg.openView(source);
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

inline QByteArray gif(const QColor& colour, int width = 40, int height = 30)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return encodeGif(image);
}

// A BMP whose header claims `width` x `height` pixels with almost nothing behind it.
inline QByteArray bmpClaiming(int width, int height)
{
    QByteArray bmp = picture(Qt::red, "BMP", 2, 2);
    qToLittleEndian<qint32>(width, bmp.data() + 18);
    qToLittleEndian<qint32>(height, bmp.data() + 22);
    return bmp;
}

inline QPoint middle(const QRect& r)
{
    return r.topLeft() + QPoint(r.width() / 2, r.height() / 2);
}

inline QSize shownSize(const QLabel* label)
{
    return label->pixmap().isNull() ? QSize() : label->pixmap().size();
}

class TestPackages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void layoutGridAndTabOrder();
    void photoOffersOneFilterAndKeepsChoiceOnCancel();
    void addWithEmptyNameKeepsTheChoice();
    void addUpperCasesAndRereadsByName();
    void yoFollowsYeInTheList();
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
    void editAsksBeforeTakingThePictureAway();
    void largestAcceptedPictureIsShown();
    void apostropheInNames();
    void refusedRowIsReportedAndListStaysTrue();
    void typeDeletedElsewhereIsNotChangedAndLeavesTheList();
    void rowChangeLeavesNoTemporaryFile();
    void gridReadsNoPictures();
    void readersHearTheShownColumnsOnly();
    void picView1ShowsNaturalSizeOverForm5();
    void form25FromMainWindow();
    void mainWindowCommandsOpenForm5AndShowPictureAfter_data();
    void mainWindowCommandsOpenForm5AndShowPictureAfter();
    void picturesClaimingHugeSizesCostNoMemory();
    void largePicturesAreHeldAtTheSizeShown();

private:
    void open(const QList<Package>& packages,
              const std::function<void(TestRegister&)>& beforeOpening = {});
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
    QList<StoredType> stored() const { return storedTypes(*m_register); }
    // A file in the user's own folder, apart from the program folder.
    QString userFile(const QString& name, const QByteArray& bytes) const;
    QString temporary() const { return m_register->paths().temporaryPicturePath(); }
    MessageBox::Shown onlyMessage() const;

    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<QTemporaryDir> m_userFolder;
    std::unique_ptr<Form5> m_window;
};
