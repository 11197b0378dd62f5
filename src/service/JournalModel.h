#pragma once

#include "store/records/Journal.h"
#include "store/register/BackgroundReader.h"

#include <QAbstractTableModel>
#include <QVector>

#include <memory>

namespace tarvik {

// The journal as a grid's rows, newest first. Only the rows looked at are read: a page at
// start and another each time the grid scrolls to the end of what it has, so a journal of
// millions of entries opens as fast as a short one. Pages are read on a background reader of
// the model's own: a name found in no entry reads the whole journal through, which the
// window must not wait for.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Computer, User, Part, Field, Was, Became, Action, ColumnCount };
    static constexpr int kPageSize = 200;

    explicit JournalModel(Register& reg, QObject* parent = nullptr);
    ~JournalModel() override;

    // Starts reading the entries `filter` lets through, from the newest; the rows shown stay
    // until the first page replaces them. A read under way is ended first and never shown.
    void setFilter(const JournalFilter& filter);
    JournalFilter filter() const { return m_filter; }
    // Reads the newest entries again, as after an undo.
    void reload() { setFilter(m_filter); }
    // Ends the read under way, if any; the rows shown stay.
    void stopReading();
    // On a server: the window's connection, through which an ended read's statement is
    // cancelled there at once; nullptr before that connection closes.
    void cancelThrough(const Connection* db) { m_reader.setCanceller(db); }
    bool isReading() const { return m_read != nullptr; }
    const JournalEntry* entryAt(int row) const;
    // Why the last read failed, in the program's words; empty after one that did not.
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

signals:
    void readingChanged(bool reading);
    // A read ended without its page; told once, and no more pages are asked for.
    void readFailed(const QString& why);

private:
    struct Read;
    void startRead(qint64 before);
    void onReadEnded(BackgroundReader::Outcome outcome);

    BackgroundReader m_reader;
    std::shared_ptr<Read> m_read; // the read under way
    JournalFilter m_filter;
    QVector<JournalEntry> m_entries;
    bool m_atEnd = true;
    QString m_lastError;
};

} // namespace tarvik
