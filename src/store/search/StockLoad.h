#pragma once

#include "store/register/BackgroundReader.h"
#include "store/search/StockTable.h"
#include "store/text/NumberText.h"

#include <memory>

namespace tarvik {

// What a load of the stock figures reads into, on its own thread.
struct StockLoad {
    unsigned rowsPerSlice = 32768;
    std::unique_ptr<StockTable> table;
    bool journal = false; // the register keeps the journal
    qint64 entry = 0;     // its newest entry when the read began
};

bool readStock(BackgroundReader::Run& run, StockLoad& load);

// A part's figures from its stored text (as the stock value label reads it) and minimum.
StockTable::Part stockPart(const QString& price, const QString& quantity,
                           std::optional<qint64> minimum);
StockTable::Part stockPart(const NumberReader& number, const QString& price,
                           const QString& quantity, std::optional<qint64> minimum);

} // namespace tarvik
