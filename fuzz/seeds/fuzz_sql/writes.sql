BEGIN;
INSERT INTO Table2 (id, data) VALUES (1000, 'new');
UPDATE Table1 SET data = data || 'x' WHERE id < 5;
DELETE FROM Table3 WHERE id = 2;
ROLLBACK;
INSERT INTO Table3 (id, data) VALUES (77, zeroblob(10));
UPDATE Table2 SET id = id + 1000 WHERE id > 3;
