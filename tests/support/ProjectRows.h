#pragma once
#include <QString>
#include <QStringList>

class TestDatabase;

// Rows the project tests lay down and read back, written straight to the
// test's database (not through the module).

// Inserts a project with only its name and returns the ID the database gave it.
QString addProject(TestDatabase &db, const QString &name);
// The venue P01 (北京音乐厅, city 010 北京) and the class C01 (音乐会) that
// addPerformance's rows refer to, so the search dialog's look-ups name them.
void addVenueAndClass(TestDatabase &db);
// A performance at venue P01, class C01, day days from today at 19:30.
void addPerformance(TestDatabase &db, const QString &code, const QString &name, int day);
void assignPerformance(TestDatabase &db, const QString &project, const QString &code);
// The performance codes of a project, in code order.
QStringList assignedPerformances(TestDatabase &db, const QString &project);
