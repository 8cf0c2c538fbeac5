-- Fee records of a kind among the listed ones (a fee summary is due when there is one).
-- (integer): the record kind (2 examination or treatment); (text): fee-record ids separated by commas.
SELECT VAI01 FROM VAI1 WHERE VAI13 = %d AND instr(',' || replace('%s', ' ', '') || ',', ',' || VAI01 || ',') > 0
