#pragma once

#include <QString>
#include <QVariantMap>

#include <array>

namespace tarvik {

// One part as the program writes it: every field is text, exactly as typed. The members
// carry the column names of table client; fields() and the field list below are the one
// place that pairs them. The folded name key (idFamKey) is not a member: the store derives
// it from idFam whenever it writes a name.
struct PartRow {
    QString kont, idFam, pol, datebir, phone, sorp, PhotoN;

    struct Field {
        const char* column;
        QString PartRow::*member;
    };
    // In the order a saved part's columns are set.
    static const std::array<Field, 7> kFields;

    // Column name → value, for a record source's addNew / updateCurrent.
    QVariantMap fields() const;
    // The part whose columns `field` gives by name.
    template <typename FieldByName> static PartRow read(FieldByName&& field)
    {
        PartRow part;
        for (const Field& f : kFields)
            part.*f.member = field(QLatin1String(f.column)).toString();
        return part;
    }

    bool operator==(const PartRow&) const = default;
};

} // namespace tarvik
