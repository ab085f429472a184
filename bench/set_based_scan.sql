-- The queue update as set-based statements on a PostgreSQL server: the
-- statements of bench/set_based_scan.cpp by hand, for the schemas dt and ar
-- of `oskara db demo` (every rule on). It queues as many customers per
-- reason as the servers' update, with the same work per row, and is the
-- floor that update is measured against (docs/benchmarks.md, "The floor"):
--   scripts/with-postgres bash -c 'L="postgresql:///postgres?schema";
--     build/release/tools/oskara/oskara db demo "$L=dt" "$L=ar" "$L=so" --customers 100000 &&
--     time psql -q -f bench/set_based_scan.sql'
\set ON_ERROR_STOP 1
SET jit = off;
SELECT current_date::text AS today, '1899-12-30 ' || localtime(0)::text AS time, localtimestamp(0)::text AS now \gset
SELECT coalesce("Chk_FollowUp1_x",0)::int AS fu1, coalesce("Chk_FollowUp2_x",0)::int AS fu2, coalesce("Chk_NearLimit_Amt",0) AS near FROM dt."tblDTOptions" \gset
BEGIN;
CREATE TEMP TABLE mark (since integer) ON COMMIT DROP;
-- Each customer's first header (what GetLogID finds) and last (what the link leaves).
CREATE TEMP TABLE first_header ON COMMIT DROP AS SELECT "CustID" AS cust, min("LogID") AS logid, max("LogID") AS last FROM dt."tblDtCallLogHeader" GROUP BY "CustID";
ANALYZE first_header;
UPDATE dt."tblDTOptions" SET "LastQueueProc" = :'now';
UPDATE dt."tblDtCallLogHeader" SET "SystemRemark" = NULL WHERE "LogID" IN (SELECT "LogID" FROM dt."tblDTQueue");
DELETE FROM dt."tblDTQueue";
-- A record-by-record rule: its candidates not queued yet and whose LogID no queue row carries, then
-- their headers' remark, through the rows above the mark.
PREPARE mark_now AS INSERT INTO mark SELECT coalesce(max("QueueID"), 0) FROM dt."tblDTQueue";
PREPARE remark_new(text) AS UPDATE dt."tblDtCallLogHeader" SET "SystemRemark" = $1 WHERE "LogID" IN
  (SELECT "LogID" FROM dt."tblDTQueue" WHERE "QueueID" > (SELECT since FROM mark) AND "LogID" <> 0);
-- 9 call back
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 9, 'To call back the customer.', :'today', :'time', c.logid FROM
 (SELECT h."CustID" AS cust, min(h."LogID") AS logid FROM dt."tblDtCallLogHeader" h WHERE h."ToCallBack" GROUP BY h."CustID" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('To call back the customer.');
-- 8 broken promise
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 8, 'Follow-Up since last call made more than  ' || :fu2 || ' days ago and payment was promised but not yet received.', :'today', :'time', c.logid FROM
 (SELECT h."CustID" AS cust, min(h."LogID") AS logid FROM dt."tblDtCallLogHeader" h JOIN ar."tblArCustHist" s ON h."CustID" = s."CustId"
  WHERE (s."CurAmtDue"+s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."UnpaidFinch") > 0
    AND h."PromisedPayDate" IS NOT NULL AND h."PromisedPayDate" < :'today'
    AND (s."LastPayDate" IS NULL OR s."LastPayDate" < h."LastConversationDate")
    AND (:'today'::date - h."LastConversationDate"::date) >= :fu2 GROUP BY h."CustID" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('Follow-Up since last call made more than  ' || :fu2 || ' days ago and payment was promised but not yet received.');
-- 7 follow-up
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 7, 'Follow-Up since last call made more than  ' || :fu1 || ' days ago and no payment was received.', :'today', :'time', c.logid FROM
 (SELECT h."CustID" AS cust, min(h."LogID") AS logid FROM dt."tblDtCallLogHeader" h JOIN ar."tblArCustHist" s ON h."CustID" = s."CustId"
  WHERE (s."CurAmtDue"+s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."UnpaidFinch") > 0
    AND coalesce(h."LastConversationDate", '2099-01-01') > coalesce(s."LastPayDate", '1968-01-01')
    AND (:'today'::date - coalesce(h."LastConversationDate", '1968-01-01')::date) >= :fu1 GROUP BY h."CustID" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('Follow-Up since last call made more than  ' || :fu1 || ' days ago and no payment was received.');
-- ageing, one pass
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT s."CustId", CASE WHEN s."BalAge4" > 0 THEN 5 WHEN s."BalAge3" > 0 THEN 4 WHEN s."BalAge2" > 0 THEN 3 ELSE 2 END,
 CASE WHEN s."BalAge4" > 0 THEN 'Account 120 days overdue.' WHEN s."BalAge3" > 0 THEN 'Account 90 days overdue.'
      WHEN s."BalAge2" > 0 THEN 'Account 60 days overdue.' ELSE 'Account 30 days overdue.' END, :'today', :'time',
 coalesce(l.last, 0)
FROM ar."tblArCust" c JOIN ar."tblArCustHist" s ON c."CustId" = s."CustId" LEFT JOIN first_header l ON l.cust = s."CustId"
WHERE (s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."NewFinch"+s."UnpaidFinch") > 0
  AND (s."BalAge4" > 0 OR s."BalAge3" > 0 OR s."BalAge2" > 0 OR s."BalAge1" > 0) AND NOT c."CreditHold"
  AND NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = s."CustId");
UPDATE dt."tblDTQueue" q SET "LogID" = l.last FROM first_header l
 WHERE l.cust = q."CustID" AND q."QueueID" <= (SELECT since FROM mark);
-- 1 over limit, 6 near limit, 10 credit hold
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 1, 'Account Over Credit Limit.', :'today', :'time', c.logid FROM
 (SELECT s."CustId" AS cust, coalesce(f.logid, 0) AS logid
  FROM ar."tblArCust" c JOIN ar."tblArCustHist" s ON c."CustId" = s."CustId" LEFT JOIN first_header f ON f.cust = s."CustId"
  WHERE (s."CurAmtDue"+s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."UnpaidFinch") > c."CreditLimit" AND c."CreditLimit" > 0 AND NOT c."CreditHold" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('Account Over Credit Limit.');
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 6, 'Account approaching Credit Limit.', :'today', :'time', c.logid FROM
 (SELECT s."CustId" AS cust, coalesce(f.logid, 0) AS logid
  FROM ar."tblArCust" c JOIN ar."tblArCustHist" s ON c."CustId" = s."CustId" LEFT JOIN first_header f ON f.cust = s."CustId"
  WHERE c."CreditLimit" - (s."CurAmtDue"+s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."UnpaidFinch") <= :near
    AND (s."CurAmtDue"+s."BalAge1"+s."BalAge2"+s."BalAge3"+s."BalAge4"-s."UnapplCredit"+s."UnpaidFinch") > 0 AND c."CreditLimit" > 0 AND NOT c."CreditHold" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('Account approaching Credit Limit.');
DELETE FROM mark; EXECUTE mark_now;
INSERT INTO dt."tblDTQueue" ("CustID","TransType","Remark","EntryDate","EntryTime","LogID")
SELECT c.cust, 10, 'Account on Credit Hold.', :'today', :'time', c.logid FROM
 (SELECT c."CustId" AS cust, coalesce(f.logid, 0) AS logid
  FROM ar."tblArCust" c LEFT JOIN first_header f ON f.cust = c."CustId" WHERE c."CreditHold" OFFSET 0) c
WHERE NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."CustID" = c.cust)
  AND (c.logid = 0 OR NOT EXISTS (SELECT 1 FROM dt."tblDTQueue" q WHERE q."LogID" = c.logid));
EXECUTE remark_new('Account on Credit Hold.');
COMMIT;
