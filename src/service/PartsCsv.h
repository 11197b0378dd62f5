#pragma once

#include <QSqlError>
#include <QVector>

#include <functional>
#include <optional>

class QWidget;

namespace tarvik {

class Register;

// "Сервис" → "Экспорт в CSV…": asks for a file (the dialog asks before replacing one) and
// writes the parts `listed` gives, the list's rows in its order (none: every part by name), into
// it whole or not at all, with a progress window that can stop it once it takes long. `listed`
// is asked once the file is chosen; it fails with the engine's error.
using ListedParts = std::function<std::optional<QVector<qint64>>(QSqlError& error)>;
void exportPartsToCsv(QWidget* parent, Register& reg, const ListedParts& listed);

// "Сервис" → "Импорт из CSV…": asks for a file, shows what importing it would do
// (CsvImportWindow) and writes it in one transaction. True when parts were written.
bool importPartsFromCsv(QWidget* parent, Register& reg);

} // namespace tarvik
