-- Medical categories. (integer): service object; (integer): insurer id.
SELECT IAI03, IAI04, IsDef FROM IAI1 WHERE ACF01 = %d AND IAA01 = %d ORDER BY IAI01
