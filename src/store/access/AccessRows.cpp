// Everything this program knows about the Access library lives in this file.
#include "store/access/AccessRows.h"

#include "store/access/JetText.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <glib.h>
// The library's header must come after glib's.
#include <mdbtools.h>

#include <vector>

namespace tarvik {
namespace {

constexpr int kOffsetMask = 0x1fff;
constexpr int kLongValueHeader = 12;
constexpr quint32 kLongValueInline = 0x80000000;
constexpr quint32 kLongValueOneRow = 0x40000000;
constexpr quint32 kLongValueLengthMask = 0x3fffffff;

quint32 le32(const unsigned char* p)
{
    return qFromLittleEndian<quint32>(p);
}

class MdbRowReader final : public AccessRowReader {
public:
    MdbRowReader(MdbHandle* mdb, qint64 fileSize) : m_mdb(mdb), m_fileSize(fileSize) {}
    ~MdbRowReader() override
    {
        closeTable();
        mdb_close(m_mdb);
    }

    bool readCatalog(const QString& path)
    {
        // The library tells of a bad catalog page in English on the terminal before it gives
        // up; looking at the page first keeps that for ourselves.
        if (!catalogPageIsThere(path) || !mdb_read_catalog(m_mdb, MDB_TABLE)) {
            m_damage = QStringLiteral("не читается список таблиц");
            return false;
        }
        return true;
    }

    QStringList tableNames() const override
    {
        QStringList names;
        for (guint i = 0; m_mdb->catalog && i < m_mdb->catalog->len; ++i) {
            auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(m_mdb->catalog, i));
            if (entry->object_type == MDB_TABLE)
                names << QString::fromUtf8(entry->object_name);
        }
        return names;
    }

    Table openTable(const QString& name) override
    {
        closeTable();
        Table result;
        if (!m_damage.isEmpty())
            return result;
        MdbCatalogEntry* entry = nullptr;
        for (guint i = 0; m_mdb->catalog && i < m_mdb->catalog->len; ++i) {
            auto* candidate = static_cast<MdbCatalogEntry*>(g_ptr_array_index(m_mdb->catalog, i));
            if (candidate->object_type == MDB_TABLE &&
                QString::fromUtf8(candidate->object_name).compare(name, Qt::CaseInsensitive) == 0) {
                entry = candidate;
                break;
            }
        }
        if (!entry)
            return result;
        m_table = mdb_read_table(entry);
        // Without its page map the library's row walk dereferences null; refuse such a table.
        if (!m_table || !m_table->usage_map || m_table->map_sz == 0 || !mdb_read_columns(m_table)) {
            m_damage = QStringLiteral("не читается описание таблицы %1").arg(name);
            closeTable();
            return result;
        }
        result.found = true;
        for (guint i = 0; i < m_table->num_cols; ++i)
            result.columns << QString::fromUtf8(column(int(i))->name);
        result.declaredRows = m_table->num_rows;
        m_fields.resize(m_table->num_cols);
        mdb_rewind_table(m_table);
        return result;
    }

    bool nextRow(QVariantList& row) override
    {
        row.clear();
        if (!m_table || !m_damage.isEmpty() || !mdb_fetch_row(m_table))
            return false;
        // The row just read is still on the current page. Cracking it once more tells NULL
        // from the empty text, which the library's own values do not.
        int start = 0;
        size_t length = 0;
        if (mdb_find_row(m_mdb, int(m_table->cur_row) - 1, &start, &length) != 0)
            return fail(QStringLiteral("неверное место строки на странице"));
        // The count it returns is the row's own: a row written before a column was added has
        // fewer, and the library gives the missing ones as NULL.
        if (mdb_crack_row(m_table, start & kOffsetMask, length, m_fields.data()) < 0)
            return fail(QStringLiteral("строка не разбирается на поля"));
        row.resize(m_table->num_cols);
        for (guint i = 0; i < m_table->num_cols; ++i) {
            const MdbField& field = m_fields[i];
            if (field.colnum < 0 || guint(field.colnum) >= m_table->num_cols)
                return fail(QStringLiteral("строка ссылается на несуществующее поле"));
            if (!value(column(field.colnum), field, row[field.colnum]))
                return false;
        }
        return true;
    }

    QString damage() const override { return m_damage; }

private:
    // The system table that lists the others has its definition on page 2.
    bool catalogPageIsThere(const QString& path) const
    {
        constexpr char kTableDefinitionPage = 0x02;
        const qint64 pageSize = m_mdb->fmt->pg_size;
        QFile file(path);
        char type = 0;
        return file.open(QIODevice::ReadOnly) && file.size() >= 3 * pageSize &&
               file.seek(2 * pageSize) && file.getChar(&type) && type == kTableDefinitionPage;
    }

    MdbColumn* column(int i) const
    {
        return static_cast<MdbColumn*>(g_ptr_array_index(m_table->columns, i));
    }

    bool fail(const QString& why)
    {
        m_damage = why;
        return false;
    }

    void closeTable()
    {
        if (m_table)
            mdb_free_tabledef(m_table);
        m_table = nullptr;
    }

    QString text(QByteArrayView bytes) const
    {
        return IS_JET3(m_mdb) ? decodeJet3Text(bytes) : decodeJet4Text(bytes);
    }

    bool value(const MdbColumn* col, const MdbField& field, QVariant& out)
    {
        if (col->col_type == MDB_BOOL) { // kept in the null mask itself
            out = !field.is_null;
            return true;
        }
        if (field.is_null) {
            out = QVariant();
            return true;
        }
        const int size = field.siz;
        if (field.start < 0 || size < 0 || field.start + size > m_mdb->fmt->pg_size)
            return fail(QStringLiteral("значение выходит за пределы страницы"));
        const auto* p = m_mdb->pg_buf + field.start;
        auto needs = [&](int bytes) {
            return size == bytes || fail(QStringLiteral("значение поля %1 неверной длины")
                                             .arg(QString::fromUtf8(col->name)));
        };
        switch (col->col_type) {
        case MDB_BYTE:
            if (!needs(1))
                return false;
            out = qint64(p[0]);
            return true;
        case MDB_INT:
            if (!needs(2))
                return false;
            out = qint64(qFromLittleEndian<qint16>(p));
            return true;
        case MDB_LONGINT:
            if (!needs(4))
                return false;
            out = qint64(qFromLittleEndian<qint32>(p));
            return true;
        case MDB_FLOAT:
            if (!needs(4))
                return false;
            out = double(qFromLittleEndian<float>(p));
            return true;
        case MDB_DOUBLE:
            if (!needs(8))
                return false;
            out = qFromLittleEndian<double>(p);
            return true;
        case MDB_TEXT:
            out = text(QByteArrayView(p, size));
            return true;
        case MDB_MEMO:
        case MDB_OLE: {
            QByteArray bytes;
            if (!longValue(col, p, size, bytes))
                return false;
            if (col->col_type == MDB_MEMO)
                out = text(bytes);
            else
                out = bytes;
            return true;
        }
        default: // dates, money, ids: not in a register; kept as the stored bytes
            out = QByteArray(reinterpret_cast<const char*>(p), size);
            return true;
        }
    }

    // A memo or OLE value byte for byte: in the row itself, in one long-value row, or in a
    // chain of them. The library's text path would stop at the first U+0000.
    bool longValue(const MdbColumn* col, const unsigned char* p, int size, QByteArray& out)
    {
        const QString name = QString::fromUtf8(col->name);
        if (size < kLongValueHeader)
            return fail(QStringLiteral("длинное значение поля %1 обрезано").arg(name));
        const quint32 header = le32(p);
        const qsizetype length = header & kLongValueLengthMask;
        if (length > m_fileSize) // a damaged length must not decide what is allocated
            return fail(QStringLiteral("длинное значение поля %1 длиннее файла").arg(name));
        if (header & kLongValueInline) {
            if (length > size - kLongValueHeader)
                return fail(QStringLiteral("длинное значение поля %1 обрезано").arg(name));
            out = QByteArray(reinterpret_cast<const char*>(p + kLongValueHeader), length);
            return true;
        }
        out.clear();
        out.reserve(length);
        quint32 pageRow = le32(p + 4);
        const bool chained = !(header & kLongValueOneRow);
        // Every row of a chain adds bytes, so a chain longer than the value is a loop.
        for (qsizetype rows = 0; rows <= length; ++rows) {
            void* page = nullptr;
            int start = 0;
            size_t rowLength = 0;
            if (mdb_find_pg_row(m_mdb, int(pageRow), &page, &start, &rowLength) != 0 ||
                start + qsizetype(rowLength) > m_mdb->fmt->pg_size)
                return fail(QStringLiteral("нет страницы длинного значения поля %1").arg(name));
            const auto* data = static_cast<const unsigned char*>(page) + start;
            if (!chained) {
                if (qsizetype(rowLength) < length)
                    return fail(QStringLiteral("длинное значение поля %1 обрезано").arg(name));
                out.append(reinterpret_cast<const char*>(data), length);
                return true;
            }
            if (rowLength <= 4)
                return fail(QStringLiteral("пустая часть длинного значения поля %1").arg(name));
            pageRow = le32(data);
            out.append(reinterpret_cast<const char*>(data + 4), qsizetype(rowLength) - 4);
            if (out.size() >= length) {
                out.truncate(length);
                return true;
            }
            if (pageRow == 0)
                return fail(QStringLiteral("длинное значение поля %1 обрезано").arg(name));
        }
        return fail(QStringLiteral("цепочка страниц поля %1 замкнута в кольцо").arg(name));
    }

    MdbHandle* m_mdb;
    qint64 m_fileSize;
    MdbTableDef* m_table = nullptr;
    std::vector<MdbField> m_fields;
    QString m_damage;
};

} // namespace

std::unique_ptr<AccessRowReader> openAccessFile(const QString& path, QString* error)
{
    MdbHandle* mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!mdb) {
        if (error)
            *error = QStringLiteral("файл не открывается как база Access");
        return nullptr;
    }
    auto reader = std::make_unique<MdbRowReader>(mdb, QFileInfo(path).size());
    if (!reader->readCatalog(path)) {
        if (error)
            *error = reader->damage();
        return nullptr;
    }
    return reader;
}

} // namespace tarvik
