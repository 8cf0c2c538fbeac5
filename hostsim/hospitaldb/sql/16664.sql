-- The fee items of a settlement. (integer): visit id; (text): fee-record ids, each followed by a comma.
SELECT i.VAI04, j.VAJ01, j.ROWNR, j.VAI01, j.BDN01, j.BBY01, j.VAJ22, j.VAJ23, j.VAJ24, j.VAJ25, j.VAJ26,
       j.VAJ27, j.VAJ01A, j.VAJ57, j.VAF01, j.BCK01D, j.BCK01E, j.VAJ30, j.VAJ31, j.VAJ59, j.VAJ32, j.VAJ33,
       j.VAJ67, j.VAJ34, j.VAJ35, j.VAJ53, j.VAJ36, j.VAJ37, j.VAJ38, j.VAJ61, j.BCK01C,
       e.BCE02 AS BCE02B, e.BCE03 AS BCE03B, j.DSK01, j.VAJ54
FROM VAJ1 j
JOIN VAI1 i ON i.VAI01 = j.VAI01
LEFT JOIN BCE1 e ON e.BCE01 = j.BCE01B
WHERE i.VAC01 = %d AND instr(',' || replace('%s', ' ', '') || ',', ',' || j.VAI01 || ',') > 0
ORDER BY j.VAI01, j.ROWNR
