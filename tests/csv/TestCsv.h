#pragma once

#include "TestRegister.h"

#include "store/records/PartImport.h"
#include "store/records/PartWriter.h"

#include <QObject>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

class TestCsv : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    // ReadingAndWriting.cpp: the reader, the formula rule, the import's plan and write.
    void readerTellsEncodingAndSeparator_data();
    void readerTellsEncodingAndSeparator();
    void quotesLineBreaksAndBadRowsKeepTheirLines();
    void gigabyteLineIsPassedOver();
    void formulasComeBackUnchanged();
    void roundTripIsByteForByte_data();
    void roundTripIsByteForByte();
    void existingNamesAreAddedSkippedOrUpdated_data();
    void existingNamesAreAddedSkippedOrUpdated();
    void failureInTheMiddleWritesNothing();

    // WindowsAndCommands.cpp: the main window's menu and the command line.
    void exportWritesTheListedParts();
    void exportOfASearchStillArrivingWritesAllItFinds();
    void importShowsWhatItWouldDoFirst_data();
    void importShowsWhatItWouldDoFirst();
    void longImportKeepsTheWindowAnswering_data();
    void longImportKeepsTheWindowAnswering();
    void commandLineExportsAndImports_data();
    void commandLineExportsAndImports();
};

// The parts' CSV of every part of the register on `db`, by name.
QByteArray exportAll(const Connection& db);
// Plans the import of `csv` into the register on `db`.
PartImportPlan plan(const Connection& db, const QByteArray& csv);
