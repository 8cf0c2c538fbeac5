-- A numbered system parameter. (integer): the parameter number.
SELECT BLP03, BLP04, BLP05 FROM BLP1 WHERE BLP01 = %d
