#pragma once

#include <QString>
#include <QVector>

#include <optional>

namespace tarvik {

// Something faster than the engine that can answer a parts-by-name search: the rows of
// Statements::partsWithNameLike(text), in its order, or nothing when the engine must answer.
// The quick search's in-memory names implement it; a record source asks it first.
class NameLookup {
public:
    virtual ~NameLookup() = default;
    virtual std::optional<QVector<qint64>> find(const QString& text) = 0;
};

} // namespace tarvik
