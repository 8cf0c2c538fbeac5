-- The payment buttons a command offers. (integer): the command number.
SELECT fid, enabled FROM QVPaymentSet WHERE CommandNo = %d ORDER BY Seq
