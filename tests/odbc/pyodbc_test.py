"""pyodbc and pandas over the driver, through unixODBC's driver manager: tables and views,
columns, keys, read_sql dtypes, joins and grouping, parameters, transactions and errors.

Environment: TABULONIX_ODBC_DRIVER (the built library), TABULONIX_TESTDATA_DIR.
Run: python3 -m unittest -v pyodbc_test
"""
import datetime
import decimal
import filecmp
import os
import shutil
import subprocess
import tempfile
import unittest
import warnings

import pandas as pd
import pyodbc

DATA = os.environ["TABULONIX_TESTDATA_DIR"]
scratch = tempfile.mkdtemp(prefix="tabulonix-pyodbc-")


def setUpModule():
    with open(os.path.join(scratch, "odbcinst.ini"), "w") as f:
        f.write(f"[Tabulonix]\nDriver = {os.environ['TABULONIX_ODBC_DRIVER']}\nThreading = 2\n")
    open(os.path.join(scratch, "odbc.ini"), "w").close()
    os.environ.update(ODBCSYSINI=scratch, ODBCINSTINI="odbcinst.ini", ODBCINI=os.path.join(scratch, "odbc.ini"))


def tearDownModule():
    shutil.rmtree(scratch, ignore_errors=True)


copies = 0


def copy(name):
    global copies
    copies += 1
    path = os.path.join(scratch, f"{copies}-{os.path.basename(name)}")
    shutil.copyfile(os.path.join(DATA, name), path)
    return path


def connect(path, **kw):
    extra = "".join(f";{k}={v}" for k, v in kw.items())
    return pyodbc.connect(f"DRIVER={{Tabulonix}};DBQ={path}{extra}", autocommit=True)


def mdb_export(path, table):
    """The table's rows as mdbtools reads them (an independent reader), as lists of text."""
    out = subprocess.run(["mdb-export", "-H", "-d", "\t", "-Q", path, table], check=True, capture_output=True,
                         text=True).stdout
    return [line.split("\t") for line in out.splitlines()]


class Catalog(unittest.TestCase):
    def test_tables_views_and_system_tables(self):
        cur = connect(copy("queryTestV2000.mdb")).cursor()
        tables = {r.table_name for r in cur.tables(tableType="TABLE")}
        views = {r.table_name for r in cur.tables(tableType="VIEW")}
        everything = {(r.table_name, r.table_type) for r in cur.tables()}
        system = {r.table_name for r in cur.tables(tableType="SYSTEM TABLE")}
        expected = set(subprocess.run(["mdb-tables", "-1", os.path.join(DATA, "queryTestV2000.mdb")],
                                      capture_output=True, text=True, check=True).stdout.split())
        self.assertEqual(tables, expected)
        self.assertTrue(views, "saved select queries are views")
        self.assertEqual(everything, {(t, "TABLE") for t in tables} | {(v, "VIEW") for v in views})
        self.assertIn("MSysObjects", system)
        self.assertFalse(any(t.startswith("MSys") for t in tables))
        for view in views:  # every view listed runs
            cur.execute(f'SELECT * FROM "{view}"').fetchall()

    def test_columns_have_sql_types_and_sizes(self):
        cur = connect(copy("testV2000.mdb")).cursor()
        got = [(r.column_name, r.type_name, r.data_type, r.column_size, r.decimal_digits, r.nullable)
               for r in cur.columns(table="Table1")]
        self.assertEqual(got, [
            ("A", "VARCHAR", pyodbc.SQL_WVARCHAR, 50, None, 1),
            ("B", "VARCHAR", pyodbc.SQL_WVARCHAR, 100, None, 1),
            ("C", "BYTE", pyodbc.SQL_TINYINT, 3, 0, 1),
            ("D", "SMALLINT", pyodbc.SQL_SMALLINT, 5, 0, 1),
            ("E", "INTEGER", pyodbc.SQL_INTEGER, 10, 0, 1),
            ("F", "DOUBLE", pyodbc.SQL_DOUBLE, 15, None, 1),
            ("G", "DATETIME", pyodbc.SQL_TYPE_TIMESTAMP, 19, 0, 1),
            ("H", "CURRENCY", pyodbc.SQL_DECIMAL, 19, 4, 1),
            ("I", "BIT", pyodbc.SQL_BIT, 1, None, 0),
        ])

    def test_keys_indexes_and_relationships(self):
        path = copy("indexTestV2000.mdb")
        cur = connect(path).cursor()
        self.assertEqual([(r.column_name, r.key_seq) for r in cur.primaryKeys("Table1")], [("id", 1)])
        stats = [r for r in cur.statistics("Table1") if r.index_name]
        self.assertIn(("id", 0), {(r.column_name, r.non_unique) for r in stats})
        keys = {(r.pktable_name, r.pkcolumn_name, r.fktable_name, r.fkcolumn_name) for r in cur.foreignKeys(table="Table1")}
        keys |= {(r.pktable_name, r.pkcolumn_name, r.fktable_name, r.fkcolumn_name)
                 for r in cur.foreignKeys(foreignTable="Table1")}
        self.assertTrue(keys, "the file's relationships are foreign keys")
        for pk_table, pk_column, fk_table, fk_column in keys:
            self.assertIn(pk_column, [c.column_name for c in cur.columns(table=pk_table)])
            self.assertIn(fk_column, [c.column_name for c in cur.columns(table=fk_table)])


class Reading(unittest.TestCase):
    def test_read_sql_gives_natural_dtypes(self):
        path = copy("testV2000.mdb")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)  # pandas prefers SQLAlchemy, reads any DB-API connection
            df = pd.read_sql("SELECT * FROM Table1", connect(path))
            exact = pd.read_sql("SELECT H FROM Table1", connect(path), coerce_float=False)
        self.assertEqual({c: str(t) for c, t in df.dtypes.items()}, {
            "A": "object", "B": "object", "C": "int64", "D": "int64", "E": "int64", "F": "float64",
            "G": "datetime64[ns]", "H": "float64", "I": "bool"})
        first = df.iloc[0]
        self.assertEqual((first.A, first.C, first.E, first.F, first.H), ("abcdefg", 2, 333333333, 444.555, 3.5))
        self.assertEqual(first.G, pd.Timestamp(1974, 9, 21))
        self.assertEqual(exact.H[0], decimal.Decimal("3.5000"))  # Currency is exact when asked to stay so
        self.assertEqual(len(df), len(mdb_export(path, "Table1")))

    def test_join_grouping_and_count_are_typed(self):
        path = copy("indexTestV2000.mdb")
        cur = connect(path).cursor()
        got = cur.execute("SELECT t3.data, count(*) AS n, sum(t1.id) AS s FROM Table1 t1 "
                          "JOIN Table3 t3 ON t3.id = t1.otherfk2 GROUP BY t3.data ORDER BY t3.data").fetchall()
        t1 = mdb_export(path, "Table1")
        t3 = {int(r[0]): r[1] for r in mdb_export(path, "Table3")}
        expected = {}
        for row in t1:
            if int(row[2]) in t3:
                n, s = expected.get(t3[int(row[2])], (0, 0))
                expected[t3[int(row[2])]] = (n + 1, s + int(row[0]))
        self.assertEqual([tuple(r) for r in got], sorted((k, n, s) for k, (n, s) in expected.items()))
        self.assertIs(type(cur.execute("SELECT count(*) FROM Table1").fetchval()), int)

    def test_parameters_of_every_common_type(self):
        cur = connect(copy("indexTestV2000.mdb")).cursor()
        self.assertEqual(cur.execute("SELECT data FROM Table2 WHERE id = ?", 1).fetchval(), "foo1")
        self.assertEqual(cur.execute("SELECT count(*) FROM Table2 WHERE data = ?", "foo2").fetchval(), 1)
        cases = [
            (42, 42), (-7.25, -7.25), ("héllo wörld ✓", "héllo wörld ✓"), (True, 1), (None, None),
            (b"\x00\x01\xff", b"\x00\x01\xff"), (decimal.Decimal("12.5"), 12.5),
            (datetime.datetime(2021, 3, 4, 5, 6, 7), "2021-03-04 05:06:07"),
            (datetime.date(2021, 3, 4), "2021-03-04 00:00:00"), (2 ** 40, 2 ** 40), ("x" * 5000, "x" * 5000),
        ]
        for value, expected in cases:
            with self.subTest(value=value):
                self.assertEqual(cur.execute("SELECT ?", value).fetchval(), expected)


class Transactions(unittest.TestCase):
    def test_rollback_leaves_the_file_identical_and_commit_keeps(self):
        path = copy("indexTestV2000.mdb")
        before = copy("indexTestV2000.mdb")
        cnxn = pyodbc.connect(f"DRIVER={{Tabulonix}};DBQ={path}", autocommit=False)
        cur = cnxn.cursor()
        cur.execute("INSERT INTO Table3 (id, data) VALUES (?, ?)", 99, "new")
        cur.execute("UPDATE Table2 SET data = 'changed' WHERE id = 0")
        self.assertEqual(cur.execute("SELECT data FROM Table3 WHERE id = 99").fetchval(), "new")
        cnxn.rollback()
        self.assertIsNone(cur.execute("SELECT data FROM Table3 WHERE id = 99").fetchval())
        cnxn.close()
        self.assertTrue(filecmp.cmp(path, before, shallow=False), "rollback left the file as it was")
        cnxn = pyodbc.connect(f"DRIVER={{Tabulonix}};DBQ={path}", autocommit=False)
        cnxn.cursor().execute("INSERT INTO Table3 (id, data) VALUES (99, 'kept')")
        cnxn.commit()
        cnxn.close()
        self.assertIn(["99", "kept"], mdb_export(path, "Table3"))


class Errors(unittest.TestCase):
    def state(self, fn):
        with self.assertRaises(pyodbc.Error) as e:
            fn()
        self.assertTrue(e.exception.args[1], "a message comes with the state")
        return e.exception.args[0]

    def test_states(self):
        path = copy("indexTestV2000.mdb")
        cur = connect(path).cursor()
        cases = [
            ("08001", lambda: connect(os.path.join(scratch, "missing.mdb"))),
            ("28000", lambda: connect(copy("more/passwordV2000.mdb"), PWD="wrong")),
            ("42000", lambda: cur.execute("SELEC 1")),
            ("42S02", lambda: cur.execute("SELECT * FROM NoSuchTable")),
            ("23000", lambda: cur.execute("INSERT INTO Table1 (id) VALUES (0)")),
        ]
        for state, fn in cases:
            with self.subTest(state=state):
                self.assertEqual(self.state(fn), state)
        good = connect(copy("more/passwordV2000.mdb"), PWD="password").cursor()
        self.assertTrue([r.table_name for r in good.tables(tableType="TABLE")])


if __name__ == "__main__":
    unittest.main()
