#pragma once

#include "TestRegister.h"

#include "app/Form1.h"
#include "gui/MessageBox.h"
#include "store/records/RecordSource.h"
#include "store/search/NameCopy.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include <memory>

namespace tarvik::test {

// Until the rows a long list or an engine search reads in the background have arrived.
inline void waitForList(Form1& window)
{
    QTRY_VERIFY_WITH_TIMEOUT(!window.Data1()->isLoadingRest(), 20000);
}

// Types into the quick search and waits for what it finds: while the names are not yet in
// memory the engine answers, off the window's thread.
inline void searchFor(Form1& window, const QString& text)
{
    typeText(control<QLineEdit>(&window, "Text5"), text);
    waitForList(window);
}

// The window's in-memory copy of the names, which answers the quick search.
inline NameCopy& namesOf(Form1& window)
{
    return *window.findChild<NameCopy*>(QStringLiteral("partNames"));
}

// The main window under test and the ways every suite of it reads and drives it.
struct MainWindowProbe {
    std::unique_ptr<TestRegister> m_register;
    std::unique_ptr<Form1> m_window;

    template <typename T> T* control(const char* name) const
    {
        return test::control<T>(m_window.get(), name);
    }
    QTableView* grid() const { return control<QTableView>("TDBGrid2"); }
    // The names the list shows, top to bottom, once all its rows have arrived.
    QStringList listed() const
    {
        waitForList(*m_window);
        QStringList names;
        const int column = m_window->Data1()->columnOf(QStringLiteral("idFam"));
        for (int row = 0; row < grid()->model()->rowCount(); ++row)
            names << grid()->model()->index(row, column).data().toString();
        return names;
    }
    // What the list shows after `text` was typed into an emptied quick search.
    QStringList found(const QString& text) const
    {
        // Emptied as the user empties it: every part is listed again.
        auto* box = control<QLineEdit>("Text5");
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        waitForList(*m_window);
        searchFor(*m_window, text);
        // A pattern is matched in memory on a thread of its own; the list follows its result.
        if (!QTest::qWaitFor([&] { return !namesOf(*m_window).isSearching(); }, 10000))
            qWarning("the pattern search did not end");
        QCoreApplication::processEvents();
        return listed();
    }
    QString text(const char* box) const { return control<QLineEdit>(box)->text(); }
    QString label(const char* name) const { return control<QLabel>(name)->text(); }
    void click(const char* button) const
    {
        QTest::mouseClick(control<QAbstractButton>(button), Qt::LeftButton);
    }
    void down() const { QTest::keyClick(grid(), Qt::Key_Down); }

    // Closes the window as the user would, saying Yes to the exit question, and forgets it.
    void closeWindow()
    {
        if (m_window) {
            MessageBox::setNextAnswer(QMessageBox::Yes);
            m_window->close();
            MessageBox::takeShown();
        }
        m_window.reset();
    }
};

} // namespace tarvik::test
