#include "service/ServerMoveWindow.h"

#include "gui/MessageBox.h"
#include "gui/PasswordPrompt.h"
#include "gui/WaitCursor.h"
#include "store/register/Register.h"
#include "store/server/ServerCopy.h"

#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <memory>

namespace tarvik {
namespace {

const QString kTitle = QStringLiteral("Тарвик радиодеталей");

std::function<void(qint64)>& copyStepHook()
{
    static std::function<void(qint64)> hook;
    return hook;
}

// The copy's sentences may or may not end with a stop; they are followed by another.
QString asSentence(QString text)
{
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

QString rowsText(qint64 done, qint64 inAll)
{
    return QStringLiteral("Перенесено строк: %1 из %2").arg(done).arg(inAll);
}

} // namespace

ServerMoveWindow::ServerMoveWindow(Register& reg, QWidget* parent)
    : QDialog(parent),
      m_register(reg)
{
    setWindowTitle(QStringLiteral("Перенос базы на сервер"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral("База данных будет скопирована в пустую базу данных PostgreSQL на "
                       "сервере; файл останется как есть. Пароль в адрес не пишут: его берут из "
                       "~/.pgpass или спросят отдельно."),
        this);
    intro->setWordWrap(true);
    auto* label = new QLabel(QStringLiteral("&Адрес сервера:"), this);
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setAccessibleName(QStringLiteral("Адрес сервера"));
    m_address->setPlaceholderText(QStringLiteral("postgresql://USER@HOST:PORT/DATABASE"));
    m_address->setMinimumWidth(m_address->fontMetrics().averageCharWidth() * 50);
    label->setBuddy(m_address);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons = buttons;
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Перенести"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ServerMoveWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerMoveWindow::reject);
    layout->addWidget(intro);
    layout->addWidget(label);
    layout->addWidget(m_address);
    layout->addWidget(buttons);
}

void ServerMoveWindow::setCopyStepHook(std::function<void(qint64)> hook)
{
    copyStepHook() = std::move(hook);
}

void ServerMoveWindow::tell(bool warning, const QString& text)
{
    MessageBox::show(this, warning ? QMessageBox::Warning : QMessageBox::Information, kTitle, text,
                     QMessageBox::Ok);
}

bool ServerMoveWindow::reachServer(const ServerAddress& address, QString* password)
{
    WaitCursor wait;
    // Opened as the program will open it from the next start: the same checks, the same
    // question for a password. An empty database is what the move wants.
    Register probe(address);
    OpenResult opened = probe.check();
    if (opened.problem == OpenProblem::NoPassword) {
        QGuiApplication::restoreOverrideCursor();
        const std::optional<QString> typed = PasswordPrompt::ask(this, probe.path());
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        if (!typed)
            return false;
        *password = *typed;
        probe.setPassword(*password);
        opened = probe.check();
    }
    if (opened.problem == OpenProblem::Unreachable || opened.problem == OpenProblem::NoPassword) {
        tell(true, probe.describeProblem(opened) +
                       QStringLiteral(" База данных на сервер не перенесена."));
        return false;
    }
    return true;
}

ServerCopyResult ServerMoveWindow::copyWithProgress(const ServerAddress& address,
                                                    const QString& password)
{
    std::atomic<qint64> done{0}, inAll{0};
    std::atomic<bool> cancel{false};
    CopyControl control;
    control.cancel = &cancel;
    const std::function<void(qint64)> hook = copyStepHook();
    control.progress = [&done, &inAll, hook](qint64 rowsDone, qint64 rowsInAll) {
        done = rowsDone;
        inAll = rowsInAll;
        if (hook)
            hook(rowsDone);
    };

    QProgressDialog progress(this);
    progress.setWindowTitle(QStringLiteral("Перенос базы на сервер"));
    progress.setLabelText(QStringLiteral("Подключение к серверу…"));
    progress.setCancelButtonText(QStringLiteral("Отмена"));
    progress.setModal(true);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setRange(0, 0);
    // The button hides the window; the copy rolls back at its next slice of rows.
    connect(&progress, &QProgressDialog::canceled, &progress, [&cancel] { cancel = true; });

    ServerCopyResult result;
    const QString file = m_register.path();
    std::unique_ptr<QThread> copying(
        QThread::create([&] { result = copyRegisterToServer(file, address, password, control); }));
    QEventLoop waiting;
    connect(copying.get(), &QThread::finished, &waiting, &QEventLoop::quit);
    QTimer shown;
    shown.setInterval(100);
    connect(&shown, &QTimer::timeout, &progress, [&] {
        const qint64 all = inAll.load();
        if (all <= 0 || cancel)
            return;
        // The bar takes an int; past a million rows it counts thousands.
        const int scale = all > 1000000 ? 1000 : 1;
        progress.setRange(0, int(all / scale));
        progress.setValue(int(done.load() / scale));
        progress.setLabelText(rowsText(done.load(), all));
    });
    // Nothing here is to be pressed again while the copy runs, also after a cancel has hidden
    // the progress until the server has rolled back. (Not the whole window: the progress is
    // its child and would be switched off with it.)
    m_address->setEnabled(false);
    m_buttons->setEnabled(false);
    progress.show();
    shown.start();
    copying->start();
    waiting.exec();
    copying->wait();
    shown.stop();
    progress.hide();
    m_address->setEnabled(true);
    m_buttons->setEnabled(true);
    return result;
}

void ServerMoveWindow::accept()
{
    const ParsedServerAddress parsed = parseServerAddress(m_address->text().trimmed());
    if (!parsed.address) {
        tell(true, QStringLiteral("Адрес сервера не подходит: %1.").arg(parsed.error));
        m_address->setFocus();
        return;
    }
    const ServerAddress& address = *parsed.address;
    QString password;
    if (!reachServer(address, &password))
        return;
    const ServerCopyResult result = copyWithProgress(address, password);
    password.fill(QChar(0));
    switch (result.outcome) {
    case ServerCopyResult::Outcome::Cancelled:
        tell(false, QStringLiteral("Перенос отменён. На сервере ничего не изменено, программа "
                                   "работает с файлом, как прежде."));
        return;
    case ServerCopyResult::Outcome::Failed:
        tell(true, QStringLiteral("База данных на сервер не перенесена. %1 На сервере ничего не "
                                  "изменено, программа работает с файлом, как прежде.")
                       .arg(asSentence(result.error)));
        return;
    case ServerCopyResult::Outcome::Copied:
        break;
    }
    QString error;
    if (!writeServerChoice(m_register.path(), address, &error)) {
        tell(true, QStringLiteral("База данных перенесена на сервер %1, но %2. Чтобы программа "
                                  "работала с сервером, запишите в этот файл:\n[register]\n"
                                  "server=%3")
                       .arg(address.display(), error, address.uri()));
        QDialog::accept();
        return;
    }
    tell(false, QStringLiteral("База данных перенесена на сервер %1: деталей %2, корпусов %3. "
                               "Со следующего запуска программа работает с базой на сервере. "
                               "До тех пор это окно работает с файлом: изменения, сделанные в "
                               "нём, на сервер не попадут, поэтому лучше сразу перезапустить "
                               "программу.")
                    .arg(address.display())
                    .arg(result.parts)
                    .arg(result.types));
    QDialog::accept();
}

void moveRegisterToServer(QWidget* parent, Register& reg)
{
    if (reg.onServer()) {
        MessageBox::show(parent, QMessageBox::Information, kTitle,
                         QStringLiteral("База данных уже хранится на сервере %1: переносить "
                                        "нечего.")
                             .arg(reg.path()),
                         QMessageBox::Ok);
        return;
    }
    ServerMoveWindow window(reg, parent);
    window.exec();
}

} // namespace tarvik
