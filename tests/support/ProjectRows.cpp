#include "ProjectRows.h"
#include "TestDb.h"
#include <QDate>

QString addProject(TestDatabase &db, const QString &name)
{
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('%1')").arg(name));
    return db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '%1'").arg(name));
}

void addVenueAndClass(TestDatabase &db)
{
    db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values ('P01', '01', '北京音乐厅', '010')"));
    db.exec(QStringLiteral("insert into QEL_PRODUCT_CLASS values ('C01', '音乐会', 'Concert')"));
    db.exec(QStringLiteral("insert into QEL_PLACE_CITY values ('01', '010', '北京')"));
}

void addPerformance(TestDatabase &db, const QString &code, const QString &name, int day)
{
    db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, MAPCODE, "
                           "CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) "
                           "values ('%1', '%2', '%3', 'C01', 'P01', '01', 'M', 'G01', 'PG', '5', 'admin', 'OG')")
                .arg(code, name, QDate::currentDate().addDays(day).toString(QStringLiteral("yyyy-MM-dd 19:30:00"))));
}

void assignPerformance(TestDatabase &db, const QString &project, const QString &code)
{
    db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, '%2')").arg(project, code));
}

QStringList assignedPerformances(TestDatabase &db, const QString &project)
{
    return db.texts(QStringLiteral("select PRODUCTCODE from QEL_PROJECT_PRODUCT where PROJECTID = %1 order by PRODUCTCODE").arg(project));
}
