SELECT * FROM Table1 WHERE id = 3;
SELECT t.id, t.data, u.data FROM Table1 t JOIN Table2 u ON u.id = t.otherfk1 WHERE t.id BETWEEN 2 AND 9 ORDER BY t.id DESC;
SELECT * FROM Table2 WHERE id IN (1, 4, 7) AND data LIKE 'a%';
