// What a screen reader is told of the part dialogs' package drop-down.
#include "ReaderProbe.h"
#include "TestPartDialogs.h"

void TestPartDialogs::readersHearPackageNamesUnderTheirLabel()
{
    for (const Kind kind : {New, Edit}) {
        open(kind, kind == Edit ? QStringLiteral("NE555P") : QString());
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(combo());
        QCOMPARE(box->role(), QAccessible::ComboBox);
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Корпус"));
        // Only the names, one item per type: no numbers, file names or picture bytes.
        if (kind == New)
            QCOMPARE(heardItems(combo()->view()), kStoredTypes);

        combo()->setEditText(QStringLiteral("sot-23"));
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Корпус"));
        QCOMPARE(box->text(QAccessible::Value), QStringLiteral("sot-23"));
        QCOMPARE(heardItems(combo()->view()), kNamedTypesByName);
        QCOMPARE(box->child(0)->object(), combo()->view());
        QCOMPARE(box->child(1)->object(), combo()->lineEdit());
    }
}
