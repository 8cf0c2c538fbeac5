-- The patient's active accounts of a kind. (integer): patient id; (text): the account kind, quoted ('2' member card).
SELECT VBU01, VBU02 FROM VBU1 WHERE VAA01 = %d AND VBU03 = %s AND VBU07 = 1
