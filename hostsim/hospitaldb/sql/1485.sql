-- The reports of a report code. (text): the report code, quoted.
SELECT Name, id, xDefault FROM QVReport WHERE Code = %s ORDER BY id
