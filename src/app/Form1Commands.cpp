#include "app/Form1.h"

#include "editor/Form2.h"
#include "gui/ClickSignal.h"
#include "gui/MessageBox.h"
#include "gui/WaitCursor.h"
#include "packages/Form5.h"
#include "packages/PictureWindows.h"
#include "service/CompressCommand.h"
#include "service/Form21.h"
#include "service/Help.h"
#include "service/JournalWindow.h"
#include "service/ServerMoveWindow.h"
#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "store/text/NumberText.h"
#include "ui_Form1.h"

#include <QShortcut>

// What the main window's buttons and menu items do with the current part, the package types
// and the register. Form1.cpp builds the window and keeps the list and the details true.

namespace tarvik {

// ---- quantity and deletion --------------------------------------------------------------

void Form1::stepQuantity(double step)
{
    if (!m_data1->hasCurrent())
        return;
    // The step starts from the quantity shown; a value that cannot be stepped exactly
    // (not finite, beyond 2^53, or too long a whole number for the 15 digits it is
    // written back with) is no number to step.
    const QString shown = ui->Text4->text();
    const auto quantity = parseQuantity(shown);
    if (!quantity || !writtenExactly(*quantity + step)) {
        MessageBox::show(
            this, QMessageBox::Warning, kTitle,
            QStringLiteral("Количество «%1» не является числом, изменить его нельзя.").arg(shown),
            QMessageBox::Ok);
        return;
    }
    const QString text = formatNumber(*quantity + step);
    // Stored only if the file still holds what is shown: another program may have
    // changed it since, and its number must not be overwritten.
    switch (m_data1->replaceCurrentIf(QStringLiteral("phone"), shown, text,
                                      step > 0 ? PartAction::Plus : PartAction::Minus)) {
    case RecordSource::Replaced::Saved:
        ui->Text4->setText(text);
        break;
    case RecordSource::Replaced::ChangedElsewhere: {
        const QString stored = m_data1->field(QStringLiteral("phone")).toString();
        ui->Text4->setText(stored);
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         QStringLiteral("Количество этой детали тем временем изменено другой "
                                        "программой: теперь «%1». Ничего не сохранено.")
                             .arg(stored),
                         QMessageBox::Ok);
        break;
    }
    case RecordSource::Replaced::Failed:
        if (m_data1->lastFailureBusy()) {
            reportBusy(); // the quantity shown is still the stored one
            break;
        }
        {
            const QString error = m_data1->lastError();
            // Refused for damage, nothing was written: what is shown stays, and a damaged
            // page is not read again.
            if (!m_register.writesRefused()) {
                m_data1->setCurrentRow(m_data1->currentRow());
                ui->Text4->setText(m_data1->field(QStringLiteral("phone")).toString());
            }
            MessageBox::show(this, QMessageBox::Warning, kTitle,
                             QStringLiteral("Не удалось сохранить количество: %1").arg(error),
                             QMessageBox::Ok);
        }
        break;
    }
    showStockValue();
}

void Form1::deletePart()
{
    if (!m_data1->hasCurrent())
        return;
    if (MessageBox::show(this, QMessageBox::Question, kTitle,
                         QStringLiteral("Вы действительно хотите удалить данные?"),
                         QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (!m_data1->deleteCurrent()) {
        if (m_data1->lastFailureBusy()) {
            reportBusy();
            return;
        }
        MessageBox::show(this, QMessageBox::Warning, kTitle,
                         QStringLiteral("Не удалось удалить деталь: %1").arg(m_data1->lastError()),
                         QMessageBox::Ok);
        return;
    }
    WaitCursor wait;
    m_data1->refresh();
}

// ---- package types and the enlarged picture ---------------------------------------------

void Form1::connectPackageCommands()
{
    connect(ui->vrachey, &QAction::triggered, this, &Form1::openPackageTypes);
    connect(ui->vrachey1, &QPushButton::clicked, this, &Form1::openPackageTypes);
    connect(ClickSignal::of(ui->Image2), &ClickSignal::clicked, this, &Form1::openPackagePicture);
}

void Form1::openPackageTypes()
{
    {
        Form5 window(m_paths, m_register, this);
        window.exec();
    }
    // The window may have given the current part's type another picture, or added the
    // type the part names.
    if (m_data1->hasCurrent()) {
        WaitCursor wait;
        showPackagePicture();
    }
}

void Form1::openPackagePicture()
{
    if (ui->Image2->isHidden() || ui->Image2->pixmap().isNull())
        return;
    // Named after the type whose picture is shown, as the file spells it.
    const QString type =
        m_data7->hasCurrent() ? m_data7->field(QStringLiteral("vrachYZD")).toString() : QString();
    Form25 window(ui->Image2->pixmap(), type, this);
    window.exec();
}

// ---- service commands ----------------------------------------------------------------------

void Form1::connectServiceCommands()
{
    connect(ui->about, &QAction::triggered, this, [this] {
        Form21 window(this); // built afresh each time, gone when closed
        window.exec();
    });
    connect(ui->compress, &QAction::triggered, this,
            [this] { compressRegister(this, m_register); });
    connect(ui->mHelpOption, &QAction::triggered, this, [this] { showHelp(this, m_paths); });
    connect(ui->toServer, &QAction::triggered, this,
            [this] { moveRegisterToServer(this, m_register); });
    connect(ui->journal, &QAction::triggered, this, [this] { openJournal(false); });
    connect(ui->partJournal, &QAction::triggered, this, [this] { openJournal(true); });
    setUpBackups();
}

void Form1::openJournal(bool forCurrentPart)
{
    // Notes being typed are saved first: the journal shows them.
    m_data1->savePending();
    std::optional<JournalWindow::ForPart> part;
    if (forCurrentPart && m_data1->hasCurrent())
        part = JournalWindow::ForPart{m_data1->currentKey(),
                                      m_data1->field(QStringLiteral("idFam")).toString()};
    bool changed = false;
    {
        JournalWindow window(m_register, part, this);
        window.exec();
        changed = window.changedParts();
    }
    if (changed)
        showPartsChangedElsewhere();
}

// ---- the part dialogs ---------------------------------------------------------------------

void Form1::connectPartDialogs()
{
    connect(ui->nPaz, &QToolButton::clicked, this, &Form1::newPart);
    connect(ui->iPaz, &QToolButton::clicked, this, &Form1::editPart);
}

void Form1::newPart()
{
    {
        // The list is read again from the row source it holds now and stands on its first row,
        // whatever the user then does in the dialog.
        WaitCursor wait;
        m_data1->refresh();
    }
    Form2 dialog(m_register, m_paths, listedSaver(), this);
    dialog.exec();
}

void Form1::editPart()
{
    if (!m_data1->hasCurrent())
        return;
    // Notes typed here are stored first, so the dialog's save is the last word on the row.
    m_data1->savePending();
    PartRow part;
    part.idFam = ui->Text1->text();
    part.phone = ui->Text4->text();
    part.pol = ui->Text2->text();
    part.sorp = ui->txtDisc->toPlainText();
    part.datebir = ui->Text3->text();
    part.PhotoN = m_data1->field(QStringLiteral("PhotoN")).toString();
    part.kont = m_data1->field(QStringLiteral("kont")).toString();
    // What the file holds now: saving checks that it still does.
    Form12 dialog(m_register, m_paths, part, m_data1->currentPart(), listedSaver(), this);
    if (dialog.exec() == QDialog::Rejected && m_data1->hasCurrent()) {
        // The dialog may have met another program's change and read the row afresh: the
        // details show what the file holds, as the list already does.
        fillDetails();
        showPackagePicture();
        showStockValue();
    }
}

void Form1::connectListKeys()
{
    // What register users expect of the list; the keys belong to the list alone, so Delete in
    // the notes still deletes a character.
    const auto onList = [this](QKeySequence keys, void (Form1::*command)()) {
        auto* shortcut = new QShortcut(keys, ui->TDBGrid2);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, command);
    };
    onList(QKeySequence(Qt::Key_Insert), &Form1::newPart);
    onList(QKeySequence(Qt::Key_Return), &Form1::editPart);
    onList(QKeySequence(Qt::Key_Enter), &Form1::editPart);
    onList(QKeySequence(Qt::Key_F2), &Form1::editPart);
    onList(QKeySequence(Qt::Key_Delete), &Form1::deletePart);

    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, this, [this] {
        ui->Text5->setFocus(Qt::ShortcutFocusReason);
        ui->Text5->selectAll();
    });
}

PartSaver Form1::listedSaver()
{
    // The dialogs' parts are written here, through the parts' one write path, and the list
    // shows every part by name afterwards.
    return [this](const PartRow& part, const std::optional<PartRow>& expected) {
        return savePartListedByName(*m_data1, part, expected);
    };
}

} // namespace tarvik
