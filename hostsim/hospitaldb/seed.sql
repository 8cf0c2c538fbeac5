-- The hospital database stand-in: schema and demo data.
--
-- Money columns (declared MONEY) hold amounts in 1/10000 yuan as integers, so sums are
-- exact: cy('12.50') writes 12.50 yuan, yuan(VAJ38) reads it back as a REAL amount and
-- cytext(VAJ38) as text with two decimals. Dates are text 'yyyy-mm-dd hh:nn:ss'.

-- ---------------------------------------------------------------------------------------
-- Master data

-- Departments.
CREATE TABLE BCK1 (
  BCK01 INTEGER PRIMARY KEY,
  BCK02 TEXT NOT NULL,            -- code
  BCK03 TEXT NOT NULL             -- name
);

-- Employees.
CREATE TABLE BCE1 (
  BCE01 INTEGER PRIMARY KEY,
  BCE02 TEXT NOT NULL,            -- employee number
  BCE03 TEXT NOT NULL,            -- name
  BCK01 INTEGER REFERENCES BCK1
);

-- Charge items.
CREATE TABLE BBY1 (
  BBY01 INTEGER PRIMARY KEY,
  BBY05 TEXT NOT NULL,            -- name
  BBY06 TEXT,                     -- unit
  BDN01 TEXT NOT NULL             -- item class: 1 drug, 4 material, 5 treatment, 6 examination
);

-- Payment methods; BBP05 is the plug-in's pay kind (1 insurance, 2 bank POS, 3 WeChat,
-- 4 Alipay, 5 member card), AAO01 the settlement-type code.
CREATE TABLE BBP1 (
  BBP01 INTEGER PRIMARY KEY,
  BBP02 TEXT NOT NULL,            -- name
  AAO01 TEXT NOT NULL,            -- settlement-type code
  BBP05 INTEGER NOT NULL,         -- pay kind
  BBP07 INTEGER NOT NULL DEFAULT 1 -- in use
);

-- Numbered system parameters.
CREATE TABLE BLP1 (
  BLP01 INTEGER PRIMARY KEY,      -- parameter number
  BLP02 TEXT,                     -- meaning
  BLP03 TEXT,
  BLP04 INTEGER,
  BLP05 INTEGER
);

-- Common parameter values read by dbo.GetSysParamValue(system, parameter, kind).
CREATE TABLE SysParamValue (
  SysNo INTEGER NOT NULL,
  ParamNo INTEGER NOT NULL,
  Kind INTEGER NOT NULL,
  Value TEXT,
  Remark TEXT,
  PRIMARY KEY (SysNo, ParamNo, Kind)
);

-- Insurers.
CREATE TABLE IAA1 (
  IAA01 INTEGER PRIMARY KEY,
  IAA03 TEXT NOT NULL,            -- name
  ROWNR INTEGER NOT NULL DEFAULT 0, -- display order; the first with ROWNR > 0 is preselected
  IAA06 INTEGER NOT NULL DEFAULT 1  -- in use
);

-- Medical categories of an insurer for a service object.
CREATE TABLE IAI1 (
  IAI01 INTEGER PRIMARY KEY,
  IAA01 INTEGER NOT NULL REFERENCES IAA1,
  ACF01 INTEGER NOT NULL,         -- service object (1 outpatient)
  IAI03 TEXT NOT NULL,            -- category code
  IAI04 TEXT NOT NULL,            -- category name
  IsDef INTEGER NOT NULL DEFAULT 0
);

-- Scripts and reports of the host's configuration, by code.
CREATE TABLE QVProgram (
  ID INTEGER PRIMARY KEY,
  Code TEXT NOT NULL UNIQUE COLLATE NOCASE,
  Name TEXT
);

CREATE TABLE QVReport (
  id INTEGER PRIMARY KEY,
  Code TEXT NOT NULL COLLATE NOCASE,
  Name TEXT NOT NULL,
  xDefault INTEGER NOT NULL DEFAULT 0
);

-- Which payment buttons a command offers (fid 1 member card, 2 insurance, 3 bank POS,
-- 4 WeChat, 5 Alipay).
CREATE TABLE QVPaymentSet (
  CommandNo INTEGER NOT NULL,
  Seq INTEGER NOT NULL,
  fid INTEGER NOT NULL,
  enabled INTEGER NOT NULL,
  PRIMARY KEY (CommandNo, Seq)
);

-- ---------------------------------------------------------------------------------------
-- Patients, visits and fees

CREATE TABLE VAA1 (
  VAA01 INTEGER PRIMARY KEY,      -- patient id
  VAA03 TEXT NOT NULL,            -- patient number
  VAA05 TEXT NOT NULL,            -- name
  BDP02 TEXT,                     -- patient category
  IAA01 INTEGER REFERENCES IAA1   -- insurer, null when none
);

CREATE TABLE VAC1 (
  VAC01 INTEGER PRIMARY KEY,      -- visit id
  VAA01 INTEGER NOT NULL REFERENCES VAA1,
  VAC02 TEXT,                     -- visit number
  BCK01 INTEGER REFERENCES BCK1,  -- department
  BCE01 INTEGER REFERENCES BCE1,  -- doctor
  VAC05 DATETIME                  -- visit time
);

-- Fee records: one per group of sent orders.
CREATE TABLE VAI1 (
  VAI01 INTEGER PRIMARY KEY,
  VAA01 INTEGER NOT NULL REFERENCES VAA1,
  VAC01 INTEGER NOT NULL REFERENCES VAC1,
  ACF01 INTEGER NOT NULL DEFAULT 1, -- service object
  VAI04 TEXT NOT NULL,            -- record number
  VAI05 TEXT,                     -- title
  VAI13 INTEGER NOT NULL DEFAULT 1, -- kind: 1 prescription, 2 examination or treatment, 3 material
  BCK01B INTEGER REFERENCES BCK1, -- ordering department
  BCE01A INTEGER REFERENCES BCE1, -- ordering doctor
  VAI22 MONEY NOT NULL DEFAULT 0, -- amount at standard prices
  VAI23 MONEY NOT NULL DEFAULT 0, -- amount due
  YbMoney MONEY NOT NULL DEFAULT 0, -- part covered by insurance
  VAI10 INTEGER NOT NULL DEFAULT 0, -- 0 pending, 1 settled
  VAK01 INTEGER REFERENCES VAK1,  -- the settlement, once settled
  VAI26 DATETIME,                 -- settled at
  CHECK ((VAI10 = 0 AND VAK01 IS NULL) OR (VAI10 = 1 AND VAK01 IS NOT NULL))
);

-- Fee items of a fee record.
CREATE TABLE VAJ1 (
  VAJ01 INTEGER PRIMARY KEY,
  VAI01 INTEGER NOT NULL REFERENCES VAI1,
  ROWNR INTEGER NOT NULL,
  BDN01 TEXT NOT NULL,            -- item class (see BBY1)
  BBY01 INTEGER NOT NULL REFERENCES BBY1,
  VAJ22 INTEGER NOT NULL DEFAULT 1, -- packing factor
  VAJ23 INTEGER NOT NULL DEFAULT 1, -- times
  VAJ24 MONEY NOT NULL DEFAULT 0, -- standard unit price
  VAJ25 MONEY NOT NULL DEFAULT 0, -- unit price
  VAJ26 INTEGER NOT NULL DEFAULT 0, -- execution state
  VAJ27 INTEGER NOT NULL DEFAULT 0, -- flags
  VAJ01A INTEGER NOT NULL DEFAULT 0, -- main item
  VAJ57 TEXT,                     -- size and strength of the item
  VAF01 INTEGER NOT NULL DEFAULT 0, -- order id
  BCK01D INTEGER,                 -- ordering department
  BCK01E INTEGER,                 -- executing department
  VAJ30 REAL NOT NULL DEFAULT 1,  -- quantity
  VAJ31 REAL NOT NULL DEFAULT 0,  -- single dose
  VAJ59 REAL NOT NULL DEFAULT 0,  -- doses
  VAJ32 REAL NOT NULL DEFAULT 0,  -- frequency
  VAJ33 REAL NOT NULL DEFAULT 0,  -- days
  VAJ67 REAL NOT NULL DEFAULT 0,  -- self-pay ratio
  VAJ34 REAL NOT NULL DEFAULT 1,  -- discount ratio
  VAJ35 TEXT,                     -- unit
  VAJ53 INTEGER NOT NULL DEFAULT 0,
  VAJ36 MONEY NOT NULL DEFAULT 0, -- amount at standard prices
  VAJ37 MONEY NOT NULL DEFAULT 0, -- amount before discount
  VAJ38 MONEY NOT NULL DEFAULT 0, -- amount due
  VAJ61 MONEY NOT NULL DEFAULT 0, -- part covered by insurance
  BCK01C INTEGER,                 -- department that books the income
  BCE01B INTEGER REFERENCES BCE1, -- ordering doctor
  DSK01 INTEGER REFERENCES DSK1,  -- department stock the material comes from, null otherwise
  VAJ54 TEXT                      -- remark
);

-- ---------------------------------------------------------------------------------------
-- Settlements

CREATE TABLE VAK1 (
  VAK01 INTEGER PRIMARY KEY AUTOINCREMENT, -- settlement id
  VAK04 TEXT UNIQUE,              -- settlement number
  VAA01 INTEGER NOT NULL REFERENCES VAA1,
  VAC01 INTEGER NOT NULL REFERENCES VAC1,
  ACF01 INTEGER NOT NULL,
  BCK01A INTEGER,                 -- visit department
  VAK07 MONEY NOT NULL,           -- amount due
  VAK08 MONEY NOT NULL,           -- paid outside insurance
  VAK09 MONEY NOT NULL,
  VAK10 MONEY NOT NULL,
  WorkType INTEGER,
  WorkFrom INTEGER,
  WorkName TEXT,
  IsHyType INTEGER,
  VAK13 DATETIME NOT NULL,        -- settled at
  BCE01 INTEGER,                  -- operator (employee)
  BCE02 TEXT,
  BCE03 TEXT,
  UserId INTEGER,
  UserName TEXT,
  HostName TEXT,
  HostIp TEXT,
  FileVer TEXT
);

-- Payment rows of a settlement.
CREATE TABLE VBL1 (
  VBL01 INTEGER PRIMARY KEY AUTOINCREMENT,
  VAK01 INTEGER NOT NULL REFERENCES VAK1,
  VBU01 INTEGER NOT NULL DEFAULT 0, -- member account paid from
  VBL13 MONEY NOT NULL,           -- amount
  VBL14 TEXT,                     -- payment method name
  VBL15 TEXT,                     -- settlement-type code
  FAF01 INTEGER NOT NULL DEFAULT 0, -- bank POS transaction
  BAQ03 TEXT,
  VBL11 TEXT                      -- scan-pay order number
);

-- Links between a settlement and the insurance settlement of its fee records.
CREATE TABLE VAKIAS (
  VAK01 INTEGER NOT NULL REFERENCES VAK1,
  IAS01 TEXT NOT NULL,
  VAI01 INTEGER NOT NULL REFERENCES VAI1
);

-- Member card accounts (VBU03 '2': member card).
CREATE TABLE VBU1 (
  VBU01 INTEGER PRIMARY KEY,
  VAA01 INTEGER NOT NULL REFERENCES VAA1,
  VBU02 TEXT NOT NULL,            -- card number
  VBU03 TEXT NOT NULL,            -- account kind
  VBU07 INTEGER NOT NULL DEFAULT 1, -- 1 active
  VBU14 MONEY NOT NULL DEFAULT 0, -- balance
  VBU15 MONEY NOT NULL DEFAULT 0, -- frozen part of the balance
  CHECK (VBU14 >= 0)
);

-- Member card movements.
CREATE TABLE VCA1 (
  VCA01 INTEGER PRIMARY KEY AUTOINCREMENT,
  VBU01 INTEGER NOT NULL REFERENCES VBU1,
  VAK01 INTEGER REFERENCES VAK1,
  VCA10 MONEY NOT NULL,           -- amount taken from the card
  VCA20 MONEY NOT NULL DEFAULT 0,
  AMODE INTEGER NOT NULL,         -- 1 consumption
  VBU07 INTEGER,
  BBP02 TEXT,
  AAO01 TEXT,
  VCB04 TEXT,
  VCA11 MONEY NOT NULL,           -- balance before
  VCA12 MONEY NOT NULL,           -- balance after
  VCA13 DATETIME NOT NULL,
  BCE03 TEXT                      -- operator
);

-- ---------------------------------------------------------------------------------------
-- Department material stock

CREATE TABLE DSK1 (
  DSK01 INTEGER PRIMARY KEY,
  BCK01 INTEGER NOT NULL REFERENCES BCK1, -- department keeping the stock
  BBY01 INTEGER NOT NULL REFERENCES BBY1,
  DSK05 REAL NOT NULL DEFAULT 0,  -- quantity on hand
  CHECK (DSK05 >= 0)
);

-- Stock movements; one deduction per fee item.
CREATE TABLE DSK2 (
  DSM01 INTEGER PRIMARY KEY AUTOINCREMENT,
  DSK01 INTEGER NOT NULL REFERENCES DSK1,
  VAJ01 INTEGER NOT NULL UNIQUE REFERENCES VAJ1,
  VAI01 INTEGER NOT NULL,
  VAA01 INTEGER NOT NULL,
  VAC01 INTEGER NOT NULL,
  Kind INTEGER NOT NULL,          -- 6: deducted after an outpatient settlement
  DSM05 REAL NOT NULL,            -- quantity
  DSM06 DATETIME NOT NULL,
  UserId INTEGER,
  UserName TEXT,
  HostName TEXT
);

-- ---------------------------------------------------------------------------------------
-- Demo data

INSERT INTO BCK1 VALUES (101, 'NK01', '内科门诊'), (102, 'WK01', '外科门诊'), (201, 'SF01', '门诊收费处');

INSERT INTO BCE1 VALUES
  (1001, '0101', '张明', 101),
  (1002, '0102', '李华', 102),
  (25, '0025', '王收费', 201);

INSERT INTO BBY1 VALUES
  (3001, '阿莫西林胶囊', '盒', '1'),
  (3002, '布洛芬缓释胶囊', '盒', '1'),
  (5001, '一次性注射器', '支', '4'),
  (5002, '医用棉签', '包', '4'),
  (6001, '血常规', '次', '6'),
  (6002, '胸部正位片', '次', '6'),
  (7001, '静脉注射', '次', '5');

INSERT INTO BBP1 VALUES
  (1, '医保结算', '03', 1, 1),
  (2, '银行卡', '02', 2, 1),
  (3, '微信扫码', '09', 3, 1),
  (4, '支付宝扫码', '10', 4, 1),
  (5, '会员卡', '05', 5, 1);

INSERT INTO BLP1 VALUES
  (71, '结算小票打印方式', '', 0, 0),
  (94, '医保结算后自费部分另行支付', '', 1, 1),
  (97, '结算后冲减科室材料库存', '', 1, 1),
  (139, '打印门诊费用汇总单', '', 0, 0);

INSERT INTO SysParamValue VALUES
  (100, 103010, 6, '0', '门诊结算单据模式'),
  (9999, 9999, 98, '0', '门诊结算操作员');

INSERT INTO IAA1 VALUES
  (1, '城镇职工基本医疗保险', 1, 1),
  (2, '城乡居民基本医疗保险', 2, 1),
  (3, '离休干部医疗', 0, 0);

INSERT INTO IAI1 VALUES
  (1, 1, 1, '11', '普通门诊', 1),
  (2, 1, 1, '14', '门诊慢特病', 0),
  (3, 2, 1, '11', '普通门诊', 0),
  (4, 2, 1, '13', '门诊统筹', 0);

INSERT INTO QVProgram VALUES
  (5001, 'QV.Clinical.PaymentSet.01', '诊间支付场合支付方式设置'),
  (5002, 'QV.Clinical.YS.ZJJSDY.01', '诊间结算银联小票内容');

INSERT INTO QVReport VALUES (6001, 'QV.Clinical.mzyszfsyzdyxp.01', '门诊医生站费用汇总单', 1);

INSERT INTO QVPaymentSet (CommandNo, Seq, fid, enabled)
  SELECT c.n, f.n, f.n, 1
  FROM (SELECT 10000028 AS n UNION ALL SELECT 10000029 UNION ALL SELECT 10000030 UNION ALL SELECT 10000031
        UNION ALL SELECT 20000001) c,
       (SELECT 1 AS n UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5) f;

INSERT INTO VAA1 VALUES
  (1, 'MZ000001', '张三', '自费', NULL),
  (2, 'MZ000002', '李四', '职工医保', 1),
  (3, 'MZ000003', '王五', '自费', NULL);

INSERT INTO VAC1 VALUES
  (1001, 1, 'V20240305001', 101, 1001, '2024-03-05 08:00:00'),
  (1002, 2, 'V20240305002', 101, 1001, '2024-03-05 08:10:00'),
  (1003, 3, 'V20240305003', 102, 1002, '2024-03-05 08:20:00');

INSERT INTO VBU1 VALUES
  (1, 1, 'VIP0001', '2', 1, cy('500.00'), 0),
  (2, 2, 'VIP0002', '2', 1, cy('10.00'), 0);

INSERT INTO DSK1 VALUES (1, 101, 5001, 100), (2, 102, 5002, 20);

-- Patient 1, visit 1001: a prescription (25.50) and an examination (80.00).
INSERT INTO VAI1 (VAI01, VAA01, VAC01, ACF01, VAI04, VAI05, VAI13, BCK01B, BCE01A, VAI22, VAI23)
VALUES (1023, 1, 1001, 1, 'CF2024030500001', '西药处方', 1, 101, 1001, cy('25.50'), cy('25.50')),
       (1024, 1, 1001, 1, 'JC2024030500001', '检查申请', 2, 101, 1001, cy('80.00'), cy('80.00'));
-- Patient 2, visit 1002: a treatment with materials (35.00).
INSERT INTO VAI1 (VAI01, VAA01, VAC01, ACF01, VAI04, VAI05, VAI13, BCK01B, BCE01A, VAI22, VAI23)
VALUES (2001, 2, 1002, 1, 'ZL2024030500001', '治疗申请', 2, 101, 1001, cy('35.00'), cy('35.00'));
-- Patient 3, visit 1003: materials (12.50).
INSERT INTO VAI1 (VAI01, VAA01, VAC01, ACF01, VAI04, VAI05, VAI13, BCK01B, BCE01A, VAI22, VAI23)
VALUES (3001, 3, 1003, 1, 'CL2024030500001', '材料', 3, 102, 1002, cy('12.50'), cy('12.50'));

INSERT INTO VAJ1 (VAJ01, VAI01, ROWNR, BDN01, BBY01, VAJ24, VAJ25, VAF01, BCK01D, BCK01E, VAJ30, VAJ35,
                  VAJ36, VAJ37, VAJ38, BCK01C, BCE01B, DSK01, VAJ57)
VALUES
  (10231, 1023, 1, '1', 3001, cy('12.00'), cy('12.00'), 501, 101, 301, 1, '盒', cy('12.00'), cy('12.00'), cy('12.00'), 101, 1001, NULL, '0.25g*24粒'),
  (10232, 1023, 2, '1', 3002, cy('12.00'), cy('12.00'), 502, 101, 301, 1, '盒', cy('12.00'), cy('12.00'), cy('12.00'), 101, 1001, NULL, '0.3g*20粒'),
  (10233, 1023, 3, '4', 5001, cy('0.75'), cy('0.75'), 503, 101, 101, 2, '支', cy('1.50'), cy('1.50'), cy('1.50'), 101, 1001, 1, '5ml'),
  (10241, 1024, 1, '6', 6001, cy('30.00'), cy('30.00'), 504, 101, 401, 1, '次', cy('30.00'), cy('30.00'), cy('30.00'), 101, 1001, NULL, NULL),
  (10242, 1024, 2, '6', 6002, cy('50.00'), cy('50.00'), 505, 101, 402, 1, '次', cy('50.00'), cy('50.00'), cy('50.00'), 101, 1001, NULL, NULL),
  (20011, 2001, 1, '5', 7001, cy('33.50'), cy('33.50'), 601, 101, 101, 1, '次', cy('33.50'), cy('33.50'), cy('33.50'), 101, 1001, NULL, NULL),
  (20012, 2001, 2, '4', 5001, cy('0.75'), cy('0.75'), 602, 101, 101, 2, '支', cy('1.50'), cy('1.50'), cy('1.50'), 101, 1001, 1, '5ml'),
  (30011, 3001, 1, '4', 5002, cy('2.50'), cy('2.50'), 701, 102, 102, 5, '包', cy('12.50'), cy('12.50'), cy('12.50'), 102, 1002, 2, '10支/包');
