#pragma once

#include "store/records/NameLookup.h"
#include "store/records/PartAction.h"
#include "store/records/PartRow.h"
#include "store/records/Statements.h"
#include "store/register/BackgroundReader.h"
#include "store/register/Connection.h"
#include "store/register/Register.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSqlRecord>
#include <QVariantMap>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

namespace tarvik {

struct PartWrite;

// A window's bound view of one table: a statement, the rows it gave at the last refresh,
// and a current row that can be changed or deleted. Like a keyset cursor it holds only the
// row ids; a row's fields are read when it is shown or made current, so a million rows
// cost eight megabytes and a refresh is one pass of the engine.
class RecordSource : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit RecordSource(QObject* parent = nullptr);
    ~RecordSource() override;

    // Its own connection to the register, independent of every other source. The register
    // can close it (compaction): an unsaved bound edit is saved first.
    OpenResult open(Register& reg);
    // The same on a file by path, for tools and tests that have no register owner.
    OpenResult open(const QString& databasePath);
    void close();
    bool isOpen() const { return m_db.isOpen(); }

    // Takes effect at the next refresh(); the rows shown now stay as they are.
    void setStatement(const Statement& statement) { m_statement = statement; }
    const Statement& statement() const { return m_statement; }
    // The statement of the last refresh: the one the rows shown were listed by, whatever
    // setStatement() named since.
    const Statement& shownStatement() const { return m_shownStatement; }

    // Runs the statement afresh; the first row, if any, becomes current.
    bool refresh();
    // The same for a list that may be long, without making the window wait for all of it:
    // only the first `firstRows` rows are read now, and the first becomes current; the others
    // are read on a thread of their own and join the list when they arrive (rowsInserted, or a
    // reset that keeps the current part current when the file changed in between). With 0,
    // nothing is read now and the rows shown stay until the new ones replace them as a
    // refresh would. The next refresh of either kind, or close(), cancels it; a change made
    // through this register restarts it. Without a register it is a refresh(). The rest is
    // read from now on, or from loadRest() on (a fraction of a second later at the latest):
    // a view paints the first rows before the reading thread competes with it for the
    // processors.
    // With Current::Kept the part current when the rows arrive stays current (read afresh)
    // wherever it now stands, or the first row when it is gone; firstRows is then taken as 0,
    // so the rows shown stay until the new ones replace them.
    enum class RestStart { Now, WhenAsked };
    enum class Current { First, Kept };
    bool refreshInStages(int firstRows, RestStart start = RestStart::Now,
                         Current current = Current::First);
    void loadRest();
    // Rows are still to arrive from a refreshInStages().
    bool isLoadingRest() const { return m_rest != nullptr; }
    void cancelLoadingRest();

    int recordCount() const { return int(m_keys.size()); }
    // The row ids listed, top to bottom.
    const QVector<qint64>& keys() const { return m_keys; }
    // Every row id the shown statement gives, top to bottom: the rows listed, or, while some
    // are still to arrive, all of them read now on this source's connection.
    std::optional<QVector<qint64>> allKeys(QSqlError& error);
    int currentRow() const { return m_currentRow; }
    bool hasCurrent() const { return m_currentRow >= 0 && !m_current.isEmpty(); }
    qint64 currentKey() const { return m_currentRow >= 0 ? m_keys.at(m_currentRow) : -1; }

    // Makes `row` current, reading its fields from the file; false when it no longer exists.
    bool setCurrentRow(int row);
    // A field of the current row as last read; invalid without a current row.
    QVariant field(const QString& name) const;
    // The current row as last read, as a part (parts only).
    PartRow currentPart() const;

    // Saves the given fields into the current row at once; `action` is what the journal of
    // the parts says it was.
    bool updateCurrent(const QVariantMap& values, PartAction action);
    // Adds a row with the given fields; the current row stays as it was. The new row
    // shows in this source's list after the next refresh.
    bool addNew(const QVariantMap& values);
    // Deletes the current row; there is no current row afterwards until a move or refresh.
    bool deleteCurrent();
    // Reads the current row again after a write made elsewhere; false when it is gone.
    bool rereadCurrent();

    // A bound control's edit, saved into the current row when that row is left, the source
    // is refreshed or closed.
    void setPendingField(const QString& name, const QVariant& value);
    bool savePending();

    QString lastError() const { return m_lastError; }
    // The last failure was another program's lock: what was shown before still stands
    // (refresh and setCurrentRow change nothing then), and the same action may be retried.
    bool lastFailureBusy() const { return m_lastBusy; }

    // Saves `values` into the current row only if every field of `expected` still holds that
    // value in the file (as text): checked and written in one transaction, so nothing can
    // change in between. When one differs nothing is written. Either way the current row is
    // read afresh. Parts only; other tables take no condition.
    enum class Replaced { Saved, ChangedElsewhere, Failed };
    Replaced updateCurrentIf(const QVariantMap& expected, const QVariantMap& values,
                             PartAction action);
    // The same for one field.
    Replaced replaceCurrentIf(const QString& field, const QString& expected, const QVariant& value,
                              PartAction action);

    // An in-memory copy of the parts' names that answers plain-text name searches of this
    // source before the engine is asked. Forgotten when it is destroyed, if it is a QObject.
    void setNameCopy(NameLookup* copy);

    // What a grid shows of a row beyond its fields (a background, a description for screen
    // readers), asked with the row's id and the role; an invalid value adds nothing. Asked
    // for every painted row, so it answers from memory.
    using RowHint = std::function<QVariant(qint64 key, int role)>;
    void setRowHint(RowHint hint) { m_rowHint = std::move(hint); }
    // The hints changed: the views paint the rows again.
    void hintsChanged();

    // Grid support.
    int columnOf(const QString& field) const;
    void setCaption(const QString& field, const QString& caption);
    // The only fields a grid reads; the others stay blank there. Without it a picture
    // column is read for every row the grid shows. Empty: every field.
    void setShownFields(const QStringList& fields);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // A bound edit could not be saved; the sentence names what failed.
    void pendingSaveFailed(const QString& message);
    // The rows of a refreshInStages() have all arrived, or could not be read (lastError()).
    void restLoaded();

private:
    struct RestLoad;
    bool prepareRefresh();
    std::optional<QVector<qint64>> copiedKeys();
    static std::optional<QVector<qint64>> readKeys(const Connection& db, const Statement& statement,
                                                   int limit, QSqlError& error);
    // The first row becomes current, or the row of `kept` when it is among them.
    void showKeys(QVector<qint64> keys, qint64 kept = -1);
    void startLoadingRest();
    void onRestEnded(BackgroundReader::Outcome outcome);
    void takeRest(QVector<qint64> keys);
    void appendArrived();
    const QVector<QVariant>& rowValues(int row) const;
    void fetchPage(int firstRow) const;
    QVector<int> shownColumns() const;
    bool fail(const class QSqlQuery& query);
    bool fail(const QSqlError& error);
    // False (with the reason in lastError) when the register refuses changes.
    bool mayWrite();
    bool isParts() const;
    bool goneSince();
    // Takes in what the parts' write path did: true when it saved.
    bool took(const PartWrite& write);
    // The fields of a table other than the parts, unknown names refused.
    std::optional<QVariantMap> storedFields(const QVariantMap& values);
    void forgetRows();
    void loadFields();

    Connection m_db;
    Statement m_statement;
    Statement m_shownStatement;
    QSqlRecord m_fields;
    QString m_fieldsTable;
    QHash<QString, QString> m_captions;
    QStringList m_shownFields;
    QVector<qint64> m_keys;
    int m_currentRow = -1;
    QSqlRecord m_current;
    QVariantMap m_pending;
    qint64 m_pendingKey = -1;
    QString m_lastError;
    bool m_lastBusy = false;
    NameLookup* m_nameCopy = nullptr;
    RowHint m_rowHint;
    QMetaObject::Connection m_nameCopyGone;

    std::unique_ptr<BackgroundReader> m_restReader;
    std::shared_ptr<RestLoad> m_rest; // the rows still to arrive, while they are read

    // Rows shown in the grid, by row id; dropped at every refresh and change.
    mutable QHash<qint64, QVector<QVariant>> m_shown;
};

} // namespace tarvik
