#pragma once

#include "store/records/Seeding.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <random>

namespace tarvik {

// Invented but plausible parts for benchmark registers: Russian and Latin names from
// common families with varied series, values and suffixes, prices typed with a decimal
// comma, quantities, occasional notes and a package type (a few name no known type).
// The same seed gives the same parts: every draw has its own place in the sequence.
class SyntheticParts {
public:
    explicit SyntheticParts(std::uint64_t seed);
    SyntheticParts(const SyntheticParts&) = delete;
    SyntheticParts& operator=(const SyntheticParts&) = delete;

    PartRow next();

private:
    struct Draft {
        QString name;
        QStringList packages;
        double minPrice = 1;
        double maxPrice = 100;
    };

    Draft resistor();
    Draft capacitor();
    Draft sovietTransistor();
    Draft sovietChip();
    Draft sovietDiode();
    Draft miscellaneous();
    // Imported parts, in ImportedPartNames.cpp.
    Draft latinChip();
    Draft latinDiscrete();
    Draft withImportMarks(Draft draft, const QString& maker, double minPrice, double maxPrice);

    QString preferredValue(const QStringList& mantissas, int lowestDecade, int decades);
    QString madeIn();
    QString dateCode();
    QString article();
    QString price(double min, double max);
    QString quantity();
    QString note();

    int below(int n); // uniform in [0, n)
    double unit();    // uniform in [0, 1)
    bool chance(double probability) { return unit() < probability; }
    template <typename List> const auto& pick(const List& list)
    {
        return list[below(int(std::size(list)))];
    }

    std::mt19937_64 m_random;
};

} // namespace tarvik
