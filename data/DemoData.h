#pragma once
#include "Backend.h"
#include <QDate>
#include <QStringList>

// Realistic Chinese box-office demo data; performance dates relative to `today`.
void LoadDemoData(Backend &db, const QDate &today = QDate::currentDate());
// The statements LoadDemoData runs, in order; the same text for both engines.
QStringList DemoDataStatements(const QDate &today = QDate::currentDate());
// The same as one script, checked for GBK.
QByteArray DemoDataScript(const QDate &today = QDate::currentDate());
