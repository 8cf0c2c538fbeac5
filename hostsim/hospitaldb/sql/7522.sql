-- The payment method configured for a pay kind. (integer): the pay kind.
SELECT BBP02, AAO01 FROM BBP1 WHERE BBP05 = %d AND BBP07 = 1 ORDER BY BBP01 LIMIT 1
