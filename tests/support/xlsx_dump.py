#!/usr/bin/env python3
"""Prints the first sheet of an .xlsx file as JSON, read by openpyxl: every
cell with its type ("s" text, "n" number, "d" date-time with its number
format, null for an empty cell) and every column's width."""
import datetime
import json
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
rows = []
for row in sheet.iter_rows():
    cells = []
    for c in row:
        v = c.value
        if v is None:
            cells.append(None)
        elif isinstance(v, datetime.datetime):
            cells.append({"t": "d", "v": v.strftime("%Y-%m-%d %H:%M:%S"), "f": c.number_format})
        elif isinstance(v, bool):
            cells.append({"t": "b", "v": v})
        elif isinstance(v, (int, float)):
            cells.append({"t": "n", "v": v})
        else:
            cells.append({"t": "s", "v": v})
    rows.append(cells)
widths = {k: d.width for k, d in sheet.column_dimensions.items()}
bold = [bool(c.font and c.font.b) for c in sheet[1]] if sheet.max_row >= 1 else []
json.dump({"sheets": len(book.worksheets), "rows": rows, "widths": widths, "titleBold": bold}, sys.stdout, ensure_ascii=False)
