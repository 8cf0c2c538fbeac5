-- Department material stock deduction after a settlement.
-- (integer) visit id, (integer) patient id, (integer) flag (1 deduct), (integer) movement kind (6), (integer) user id,
-- (text) fee-record ids separated by commas, (text) user name, (text) host name.
EXEC QVRate_Material_Deduct %d, %d, %d, %d, %d, '%s', '%s', '%s'
