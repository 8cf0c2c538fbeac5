-- Report data of the outpatient fee summary. (text): fee-record ids separated by commas.
SELECT a.VAA03, a.VAA05, i.VAI04, i.VAI05, b.BBY05, j.VAJ35, j.VAJ30, yuan(j.VAJ25) AS VAJ25, yuan(j.VAJ38) AS VAJ38,
       k.VAK04, k.VAK13
FROM VAJ1 j
JOIN VAI1 i ON i.VAI01 = j.VAI01
JOIN VAA1 a ON a.VAA01 = i.VAA01
JOIN BBY1 b ON b.BBY01 = j.BBY01
LEFT JOIN VAK1 k ON k.VAK01 = i.VAK01
WHERE instr(',' || replace('%s', ' ', '') || ',', ',' || j.VAI01 || ',') > 0
ORDER BY i.VAI01, j.ROWNR
