-- The bank receipt content of a settlement. (integer): the settlement id.
SELECT k.VAK04 || '|' || a.VAA03 || '|' || a.VAA05 || '|' || cytext(k.VAK07) || '|' || k.VAK13 AS sValue
FROM VAK1 k JOIN VAA1 a ON a.VAA01 = k.VAA01
WHERE k.VAK01 = %d
