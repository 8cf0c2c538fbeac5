-- The fee records of a settlement, separated by commas. (integer): the settlement id.
SELECT ifnull(group_concat(VAI01, ','), '') AS sVAI01 FROM (SELECT VAI01 FROM VAI1 WHERE VAK01 = %d ORDER BY VAI01)
