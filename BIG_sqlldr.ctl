--
-- ROWFLUME: Release 0.1.0
-- Loader control file written with the unload of BIG
--
--  CREATE TABLE BIG (
--    ID NUMBER(38),
--    NAME VARCHAR2(30),
--    AMOUNT NUMBER(10,2)
--  );
--
OPTIONS(BINDSIZE=2097152,READSIZE=2097152,ERRORS=-1,ROWS=50000)
LOAD DATA
INFILE '/tmp/rowflume-test-Cdd5cK/rowflume_Y9CpR8/mf_1.txt' "STR X'0a'"
INFILE '/tmp/rowflume-test-Cdd5cK/rowflume_Y9CpR8/mf_2.txt' "STR X'0a'"
INFILE '/tmp/rowflume-test-Cdd5cK/rowflume_Y9CpR8/mf_3.txt' "STR X'0a'"
INFILE '/tmp/rowflume-test-Cdd5cK/rowflume_Y9CpR8/mf_4.txt' "STR X'0a'"
INSERT INTO TABLE BIG
FIELDS TERMINATED BY X'2c' TRAILING NULLCOLS 
(
  "ID" CHAR(40) NULLIF "ID"=BLANKS,
  "NAME" CHAR(30) NULLIF "NAME"=BLANKS,
  "AMOUNT" CHAR(13) NULLIF "AMOUNT"=BLANKS
)
