-- The pending fee records to settle, one row per record, with the patient, the visit and
-- the total of all of them. (integer): service object; (text): fee-record ids separated by commas.
SELECT yuan(sum(t.Fee) OVER ()) AS sumVAJ38, a.VAA01, c.VAC01, ifnull(a.IAA01, 0) AS IAA01,
       ifnull((SELECT min(u.VBU01) FROM VBU1 u WHERE u.VAA01 = a.VAA01 AND u.VBU03 = '2' AND u.VBU07 = 1), 0) AS VBU01,
       a.VAA03, a.VAA05, c.VAC02, a.BDP02, k.BCK01, k.BCK02, k.BCK03, e.BCE01, e.BCE02, e.BCE03,
       i.VAI01, yuan(t.Fee) AS fVAJ38
FROM VAI1 i
JOIN (SELECT VAI01, sum(VAJ38) AS Fee FROM VAJ1 GROUP BY VAI01) t ON t.VAI01 = i.VAI01
JOIN VAC1 c ON c.VAC01 = i.VAC01
JOIN VAA1 a ON a.VAA01 = i.VAA01
LEFT JOIN BCK1 k ON k.BCK01 = c.BCK01
LEFT JOIN BCE1 e ON e.BCE01 = c.BCE01
WHERE i.ACF01 = %d AND i.VAI10 = 0
  AND instr(',' || replace('%s', ' ', '') || ',', ',' || i.VAI01 || ',') > 0
ORDER BY i.VAI01
