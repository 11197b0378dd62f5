#include "store/records/PartRow.h"

namespace tarvik {

const std::array<PartRow::Field, 7> PartRow::kFields = {{
    {"idFam", &PartRow::idFam},
    {"PhotoN", &PartRow::PhotoN},
    {"kont", &PartRow::kont},
    {"pol", &PartRow::pol},
    {"datebir", &PartRow::datebir},
    {"phone", &PartRow::phone},
    {"sorp", &PartRow::sorp},
}};

QVariantMap PartRow::fields() const
{
    QVariantMap values;
    for (const Field& f : kFields)
        values.insert(QLatin1String(f.column), this->*f.member);
    return values;
}

} // namespace tarvik
