#pragma once

#include "store/register/Connection.h"

#include <QSqlError>
#include <QString>
#include <QVector>

#include <optional>

namespace tarvik {

// A part whose quantity is at or below its minimum stock.
struct Shortage {
    qint64 id = -1;
    QString name;
    QString package;
    QString quantityText; // as stored
    QString priceText;    // as stored
    QString notes;
    double quantity = 0;
    qint64 minimum = 0;
    std::optional<double> price;

    // What is missing to reach the minimum.
    double shortfall() const { return double(minimum) - quantity; }
    // Its value at the stored price, when the price is a number.
    std::optional<double> shortfallValue() const
    {
        return price ? std::optional<double>(shortfall() * *price) : std::nullopt;
    }
};

struct ShortagesRead {
    bool ok = true;
    QSqlError error;
    QVector<Shortage> parts; // in the parts list's order by name
};

// The parts at or below their minimum: those with a minimum whose quantity reads as a number
// (as the stock value label reads it) no larger than it.
ShortagesRead readShortages(const Connection& db);

} // namespace tarvik
