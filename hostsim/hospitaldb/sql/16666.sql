-- The department of a visit. (integer): patient id; (integer): visit id.
SELECT BCK01 AS BCK01A FROM VAC1 WHERE VAA01 = %d AND VAC01 = %d
