#pragma once

#include "store/records/Journal.h"

#include <QAbstractTableModel>
#include <QVector>

namespace tarvik {

// The journal as a grid's rows, newest first. Only the rows looked at are read: a page at
// start and another each time the grid scrolls to the end of what it has, so a journal of
// millions of entries opens as fast as a short one.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Computer, User, Part, Field, Was, Became, Action, ColumnCount };
    static constexpr int kPageSize = 200;

    // `journal` outlives the model.
    explicit JournalModel(const Journal& journal, QObject* parent = nullptr);

    // Shows the entries `filter` lets through, from the newest. False when they could not be
    // read (lastError()).
    bool setFilter(const JournalFilter& filter);
    JournalFilter filter() const { return m_filter; }
    // Reads the newest entries again, as after an undo.
    bool reload() { return setFilter(m_filter); }
    const JournalEntry* entryAt(int row) const;
    QString lastError() const { return m_lastError; }

    // The program's words for a field and an entry's action.
    static QString fieldName(const QString& field);
    static QString actionName(const JournalEntry& entry);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    const Journal& m_journal;
    JournalFilter m_filter;
    QVector<JournalEntry> m_entries;
    bool m_atEnd = true;
    QString m_lastError;
};

} // namespace tarvik
