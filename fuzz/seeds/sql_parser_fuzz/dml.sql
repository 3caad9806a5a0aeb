INSERT  INTO .Fcd  (FcdNum, FcdKsb, FcdTxt)  VALUES ('_K', '12', 'it''s')
UPDATE Fcd SET FcdTxt = FcdTxt + 'x' WHERE FcdKsb IS NOT NULL OR NOT (FcdNum <> 'K')
DELETE FROM Fcd WHERE FcdKsb = 2; SELECT COUNT(*), COUNT(FcdKsb) FROM Fcd ORDER BY 1