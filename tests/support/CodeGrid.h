#pragma once
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "DataSource.h"
#include <QStringList>

// A multi-select grid shown offscreen over rows of (PRODUCTCODE, N): the
// given codes in their order (a null string is a null cell) and their positions.
struct CodeGrid {
    explicit CodeGrid(const QStringList &codes)
    {
        DataPacket p;
        p.addColumn({QStringLiteral("PRODUCTCODE"), FieldType::Text, 20});
        p.addColumn({QStringLiteral("N"), FieldType::Integer, 0});
        for (int i = 0; i < codes.size(); ++i) {
            p.appendRow();
            if (!codes[i].isNull())
                p.setText(0, codes[i]);
            p.setInteger(1, i);
        }
        ds.SetData(std::move(p));
        source.SetDataSet(&ds);
        grid.SetColumns({GridColumn{QStringLiteral("PRODUCTCODE"), QStringLiteral("编号"), 80}});
        grid.SetMultiSelect(true);
        grid.SetDataSource(&source);
        grid.resize(300, 200);
        grid.show();
    }
    QString code(int pos) const { return ds.text(ds.rowAt(pos), 0); }

    TQELClientDataSet ds;
    TQELDataSource source;
    TQELDBGrid grid;
};
