-- The id of a script by its code. (text): the code, quoted.
SELECT ID FROM QVProgram WHERE Code = %s
