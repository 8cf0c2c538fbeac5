-- The fee records of a settlement. (text): fee-record ids, each followed by a comma.
SELECT i.VAI04, i.VAI01, i.BCK01B, e.BCE02 AS BCE02A, e.BCE03 AS BCE03A, i.VAI05, i.VAI22, i.VAI23, i.YbMoney
FROM VAI1 i
LEFT JOIN BCE1 e ON e.BCE01 = i.BCE01A
WHERE instr(',' || replace('%s', ' ', '') || ',', ',' || i.VAI01 || ',') > 0
ORDER BY i.VAI01
