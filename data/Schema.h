#pragma once
#include "Backend.h"
#include <QByteArray>
#include <QString>

// Creates every table and index of the module's world on this connection
// (idempotent is NOT required; it runs on an empty database).
void CreateSchema(Backend &db);
// The schema script for "sqlite" or "postgresql".
QByteArray SchemaScript(const QString &engine);
