#include "app/Form1.h"

#include "store/records/RecordSource.h"
#include "store/register/Register.h"
#include "ui_Form1.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <utility>

// What other computers change on a server register reaches the window here: the list, the
// current part and the package picture follow without any action of the user.

namespace tarvik {
namespace {

// Calls `then` from the event loop once `modal` has been hidden (or destroyed), after the
// code that waited for the modal window has gone on.
class AfterHidden : public QObject {
public:
    AfterHidden(QWidget& modal, QObject& context, std::function<void()> then)
        : QObject(&modal),
          m_context(&context),
          m_then(std::move(then))
    {
        modal.installEventFilter(this);
    }
    ~AfterHidden() override { fire(); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide) {
            fire();
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    void fire()
    {
        if (m_then && m_context)
            QTimer::singleShot(0, m_context, std::exchange(m_then, nullptr));
    }

    QPointer<QObject> m_context;
    std::function<void()> m_then;
};

} // namespace

void Form1::connectChangesElsewhere()
{
    connect(&m_register, &Register::partsChangedElsewhere, this, [this] {
        m_partsChangedElsewhere = true;
        followChangesElsewhere();
    });
    connect(&m_register, &Register::packageTypesChangedElsewhere, this, [this] {
        m_typesChangedElsewhere = true;
        followChangesElsewhere();
    });
}

void Form1::followChangesElsewhere()
{
    if (!m_loaded || m_exitConfirmed || m_waitingForModal)
        return;
    // A dialog's code works on the list and the current part as they were when it opened: the
    // window follows once it has closed.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        m_waitingForModal = true;
        new AfterHidden(*modal, *this, [this] {
            m_waitingForModal = false;
            followChangesElsewhere();
        });
        return;
    }
    if (std::exchange(m_partsChangedElsewhere, false))
        showPartsChangedElsewhere();
    // Read again with the part's details when the parts changed too.
    if (std::exchange(m_typesChangedElsewhere, false) && m_data1->hasCurrent())
        showPackagePicture();
}

void Form1::showPartsChangedElsewhere()
{
    // The rows are listed again as they are listed now (a search keeps its narrowing), in the
    // background; the part the user is on then stays current, read afresh, wherever its row
    // now stands. The notes being typed are saved first, as before any refresh.
    const Statement next = m_data1->statement();
    m_data1->setStatement(m_data1->shownStatement());
    m_data1->refreshInStages(0, RecordSource::RestStart::Now, RecordSource::Current::Kept);
    m_data1->setStatement(next);
    countRecords();
    if (m_recordCount)
        showRecordCount(QString::number(*m_recordCount));
}

} // namespace tarvik
