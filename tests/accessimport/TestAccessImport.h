#pragma once

// Bringing an Access register over: the test class and what its files share. Only this
// program's files include it.
#include "AccessFixtures.h"

#include "store/access/AccessHeader.h"
#include "store/access/AccessImport.h"
#include "store/access/AccessRows.h"
#include "store/access/JetText.h"
#include "store/records/Queries.h"
#include "store/records/RecordSource.h"
#include "store/register/Connection.h"
#include "store/text/TextFold.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace tarvik;
using namespace tarvik::test;

class TestAccessImport : public QObject {
    Q_OBJECT

private slots:
    void jetText();
    void pictureTextEveryByte();
    void headerTellsFormats();
    void everyFixtureComesOverUnchanged_data();
    void everyFixtureComesOverUnchanged();
    void importedNumbersContinue();
    void fedRowsKeepNullAndEmptyApart();
    void fedRowsThatCannotComeOver();
    void badFilesSayWhatIsWrong_data();
    void badFilesSayWhatIsWrong();
    void memoLongerThanTheFileIsRefused();
    void switchKeepsTheAccessFile();
    void commandLine();
    void killedImportLeavesOneWholeRegister();
    void switchKeepsOwnerAndMode_data();
    void switchKeepsOwnerAndMode();
    void readBackThatDiffersIsRefused_data();
    void readBackThatDiffersIsRefused();
    void failuresAreSaidInTheProgramsWords();
};
