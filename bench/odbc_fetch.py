"""Fetches every row of table Big through pyodbc with the named driver; prints the row count.
Usage: odbc_fetch.py DRIVER FILE (ODBCSYSINI must name a folder whose odbcinst.ini has DRIVER)."""
import sys

import pyodbc

driver, path = sys.argv[1], sys.argv[2]
cursor = pyodbc.connect(f"DRIVER={{{driver}}};DBQ={path}", autocommit=True).cursor()
rows = cursor.execute("SELECT * FROM Big").fetchall()
print(len(rows))
