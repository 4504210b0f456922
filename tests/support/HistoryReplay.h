#pragma once
// Replays the change history and holds it against the tables: for the
// stress and crash tests, where many desks (or a killed one) wrote.
#include "TestDb.h"
#include <QMap>
#include <QString>
#include <QStringList>

namespace history {

// A row's fields as text; a NULL is absent from the map.
using Fields = QMap<QString, QString>;

// The fields of a JSON object as the triggers write it; empty map for none.
Fields parseValues(const QString &json);

// Replays every entry in ID order from empty tables: an update or delete must
// find the row as its entry's before values say, an insert must find no row;
// afterwards the replayed rows must equal the three tables. Returns every
// disagreement (empty when change and history agree).
QStringList mismatches(TestDatabase &db);

} // namespace history
