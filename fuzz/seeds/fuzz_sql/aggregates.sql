SELECT otherfk1, count(*), sum(id), First(data), Last(data), StDev(id) FROM Table1 GROUP BY otherfk1 HAVING count(*) > 0;
SELECT IIf(id > 2, 'big', 'small'), Nz(data, 'none'), Format(id, '0.00'), UCase(data), Mid(data, 2, 3) FROM Table3;
