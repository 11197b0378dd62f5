#include "service/Form21.h"

#include "gui/FontScale.h"
#include "gui/Shell.h"
#include "gui/Version.h"
#include "ui_Form21.h"

#include <QKeyEvent>
#include <QMouseEvent>

// The pictures are resources of a static library: they must be pulled in explicitly.
static void initServiceResources()
{
    Q_INIT_RESOURCE(service);
}

namespace tarvik {

Form21::Form21(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::Form21>())
{
    initServiceResources();
    ui->setupUi(this);
    placesFollowFontSize(*this);
    setFixedSize(size());
    ui->Label1->installEventFilter(this);
    ui->cmdBrouse->installEventFilter(this);
}

Form21::~Form21() = default;

QUrl Form21::mailLink(const QString& address, int major, int minor, int patch)
{
    return QUrl(QStringLiteral("mailto:%1?Subject=Тарвик%20деталей%20(%2.%3.%4)")
                    .arg(address)
                    .arg(major)
                    .arg(minor)
                    .arg(patch));
}

bool Form21::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QWidget*>(watched);
    if (label != ui->Label1 && label != ui->cmdBrouse)
        return QDialog::eventFilter(watched, event);

    bool activated = false;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const bool over = label->rect().contains(mouse->position().toPoint());
        // Any button writes a message; the web site opens on an ordinary click.
        activated = over && (label == ui->Label1 || mouse->button() == Qt::LeftButton);
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        activated = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    }
    if (!activated)
        return QDialog::eventFilter(watched, event);
    if (label == ui->Label1)
        writeMail();
    else
        openWebSite();
    return true;
}

void Form21::writeMail()
{
    Shell::openUrl(mailLink(ui->Label1->text(), kVersionMajor, kVersionMinor, kVersionPatch));
}

void Form21::openWebSite()
{
    Shell::openUrl(QUrl::fromUserInput(ui->cmdBrouse->text()));
}

} // namespace tarvik
