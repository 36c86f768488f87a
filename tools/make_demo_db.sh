#!/usr/bin/env bash
# Creates a demo database for the embedded engine: the classic DEPT and EMP tables (with NULLs,
# dates, decimals, quotes, commas and line breaks in text) and, when a row count is given, a
# mixed-type ORDERS table of that many rows for benchmarks.
#   tools/make_demo_db.sh demo.db [orders_rows]
set -euo pipefail
db=${1:?usage: make_demo_db.sh DATABASE [ORDERS_ROWS]}
orders=${2:-0}
rm -f "$db"
sqlite3 "$db" <<'SQL'
CREATE TABLE DEPT (
  DEPTNO NUMBER(2),
  DNAME VARCHAR2(14),
  LOC VARCHAR2(13)
);
INSERT INTO DEPT VALUES (10, 'ACCOUNTING', 'NEW YORK');
INSERT INTO DEPT VALUES (20, 'RESEARCH', 'DALLAS');
INSERT INTO DEPT VALUES (30, 'SALES', 'CHICAGO');
INSERT INTO DEPT VALUES (40, 'OPERATIONS', 'BOSTON');

CREATE TABLE EMP (
  EMPNO NUMBER(4),
  ENAME VARCHAR2(10),
  JOB VARCHAR2(9),
  MGR NUMBER(4),
  HIREDATE DATE,
  SAL NUMBER(7,2),
  COMM NUMBER(7,2),
  DEPTNO NUMBER(2),
  REMARKS VARCHAR2(100)
);
INSERT INTO EMP VALUES (7369, 'SMITH', 'CLERK', 7902, '1980-12-17 00:00:00', 800, NULL, 20, NULL);
INSERT INTO EMP VALUES (7499, 'ALLEN', 'SALESMAN', 7698, '1981-02-20 00:00:00', 1600, 300, 30, 'Top seller, "north" region');
INSERT INTO EMP VALUES (7521, 'WARD', 'SALESMAN', 7698, '1981-02-22 00:00:00', 1250, 500, 30, 'Said: ''call me Ward''');
INSERT INTO EMP VALUES (7566, 'JONES', 'MANAGER', 7839, '1981-04-02 00:00:00', 2975, NULL, 20, 'Line one
Line two');
INSERT INTO EMP VALUES (7654, 'MARTIN', 'SALESMAN', 7698, '1981-09-28 00:00:00', 1250, 1400, 30, 'Tab	separated, back\slash');
INSERT INTO EMP VALUES (7698, 'BLAKE', 'MANAGER', 7839, '1981-05-01 00:00:00', 2850, NULL, 30, NULL);
INSERT INTO EMP VALUES (7782, 'CLARK', 'MANAGER', 7839, '1981-06-09 00:00:00', 2450.5, NULL, 10, '');
INSERT INTO EMP VALUES (7788, 'SCOTT', 'ANALYST', 7566, '1987-04-19 00:00:00', 3000, NULL, 20, 'Knows "everything", they say');
INSERT INTO EMP VALUES (7839, 'KING', 'PRESIDENT', NULL, '1981-11-17 00:00:00', 5000, NULL, 10, 'The boss');
INSERT INTO EMP VALUES (7844, 'TURNER', 'SALESMAN', 7698, '1981-09-08 00:00:00', 1500, 0, 30, NULL);
INSERT INTO EMP VALUES (7876, 'ADAMS', 'CLERK', 7788, '1987-05-23 00:00:00', 1100, NULL, 20, NULL);
INSERT INTO EMP VALUES (7900, 'JAMES', 'CLERK', 7698, '1981-12-03 00:00:00', 950.25, NULL, 30, 'Part-time; 0.5 FTE');
INSERT INTO EMP VALUES (7902, 'FORD', 'ANALYST', 7566, '1981-12-03 00:00:00', 3000, NULL, 20, NULL);
INSERT INTO EMP VALUES (7934, 'MILLER', 'CLERK', 7782, '1982-01-23 13:45:07', 1300, NULL, 10, 'Ends with a line break
');
SQL
if [ "$orders" -gt 0 ]; then
  sqlite3 "$db" <<SQL
CREATE TABLE ORDERS (
  ORDER_ID INTEGER,
  AMOUNT NUMBER(10,2),
  RATIO NUMBER,
  CODE VARCHAR2(20),
  NOTE VARCHAR2(200),
  STATUS CHAR(1),
  CREATED DATE
);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $orders)
INSERT INTO ORDERS
SELECT i,
       CASE WHEN i % 10 < 3 THEN NULL ELSE round((i * 7919 % 1000000) / 100.0, 2) END,
       CASE WHEN i % 10 = 3 THEN NULL ELSE (i * 31 % 997) / 7.0 END,
       CASE WHEN i % 10 = 4 THEN NULL ELSE 'C' || (i * 13 % 100000) END,
       CASE WHEN i % 10 IN (5, 6) THEN NULL
            WHEN i % 7 = 0 THEN 'note ' || i || ', with "quotes", commas' || char(10) || 'and a second line'
            ELSE 'plain note number ' || i || ' for the order' END,
       CASE WHEN i % 10 = 7 THEN NULL ELSE substr('NPSC', i % 4 + 1, 1) END,
       strftime('%Y-%m-%d %H:%M:%S', 1500000000 + i * 37, 'unixepoch')
FROM n;
SQL
fi
echo "created $db"
