-- Sample installation for the demo: the shared tables of the system schema ZENTRALE and three
-- client schemas.  Clients: licence L1 with client M1 (schema werk1, stored in lower case),
-- M2 (schema WERK2) and M3, whose schema is dbo and whose tables therefore live in VORKANDEL.
-- Batches are separated by lines holding only GO.
CREATE SCHEMA ZENTRALE
GO
CREATE SCHEMA WERK1
GO
CREATE SCHEMA WERK2
GO
CREATE SCHEMA VORKANDEL
GO

-- Badges: number, personnel number, licence, client, valid from, valid until (NULL: open).
CREATE TABLE ZENTRALE.Zkv301Asw (
    AswNum varchar(13) NOT NULL,
    AswPnr char(8) NULL,
    AswLiz char(5) NULL,
    AswMnd char(5) NULL,
    AswGvo datetime NOT NULL,
    AswGbi datetime NULL,
    PRIMARY KEY (AswNum, AswGvo)
)
INSERT INTO ZENTRALE.Zkv301Asw VALUES
    ('1001', '00001001', 'L1', 'M1', '20200101', NULL),
    ('1002', '00001002', 'L1', 'M1', '20200101', NULL),
    ('1003', '00001003', 'L1', 'M2', '20210301', NULL),
    ('1004', '00001004', 'L1', 'M3', '20220101', NULL),
    -- 1005 changed hands on 1 December 2026
    ('1005', '00001005', 'L1', 'M1', '20200101', '20261130'),
    ('1005', '00002005', 'L1', 'M1', '20261201', NULL),
    ('1006', '00001006', 'L1', 'M1', '20200101', NULL),
    -- issued in 1998 and still valid
    ('1007', '00001007', 'L1', 'M2', '19980301', NULL),
    -- expired before the uploads
    ('1008', '00001008', 'L1', 'M1', '20200101', '20251231')
GO

-- Clients: licence, client, kind (0 = main entry), schema name.
CREATE TABLE ZENTRALE.Zkv112Mnd (
    MndLiz char(5) NOT NULL,
    MndNum char(5) NOT NULL,
    MndKon int NOT NULL,
    MndSch varchar(20) NULL,
    PRIMARY KEY (MndLiz, MndNum, MndKon)
)
INSERT INTO ZENTRALE.Zkv112Mnd VALUES
    ('L1', 'M1', 0, 'werk1'),
    ('L1', 'M2', 0, 'WERK2'),
    ('L1', 'M3', 0, 'dbo')
GO

-- Terminals and their message types: terminal name -> terminal number -> function code per
-- message type ("10".."16" for A..G, "K" for the canteen).
CREATE TABLE ZENTRALE.Zkv114Tsm (
    TsmNam varchar(10) NOT NULL PRIMARY KEY,
    TsmTas int NOT NULL
)
INSERT INTO ZENTRALE.Zkv114Tsm VALUES ('TERM01', 1), ('TERM02', 2)
CREATE TABLE ZENTRALE.O2108Tta (
    TtaNum int NOT NULL,
    TtaPos varchar(2) NOT NULL,
    TtaFcd varchar(3) NULL,
    PRIMARY KEY (TtaNum, TtaPos)
)
INSERT INTO ZENTRALE.O2108Tta VALUES
    (1, '10', 'KO'), (1, '11', 'GE'), (1, '12', 'DG'), (1, '13', 'DGE'),
    (1, '14', 'PA'), (1, '15', 'AD'), (1, '16', 'ARZ'), (1, 'K', 'KAN'),
    (2, '10', 'KO'), (2, '11', 'GE')
GO

-- Card readers of the terminals with their cost centres; reader 03 has none.
CREATE TABLE ZENTRALE.Zkv401Zls (
    ZlsTrm varchar(10) NOT NULL,
    ZlsLes char(2) NOT NULL,
    ZlsKst char(30) NULL,
    PRIMARY KEY (ZlsTrm, ZlsLes)
)
INSERT INTO ZENTRALE.Zkv401Zls VALUES
    ('TERM01', '01', 'Empfang'),
    ('TERM01', '02', 'Werkstatt'),
    ('TERM01', '03', NULL),
    ('TERM01', '04', 'Küche')
GO

-- Client tables of WERK1: function codes, personnel assignments, canteen bookings.
CREATE TABLE WERK1.Zkv131Fcd (
    FcdNum varchar(3) NOT NULL PRIMARY KEY,
    FcdTyp smallint NOT NULL,
    FcdTft int NULL,
    FcdKsb int NULL
)
INSERT INTO WERK1.Zkv131Fcd VALUES
    ('KO', 1, 0, 2), ('GE', 2, 0, 2), ('DG', 7, 1, 1), ('DGE', 123, 1, 1),
    ('PA', -9, NULL, NULL), ('AD', 3, 0, 2), ('ARZ', 4, 0, 1), ('KAN', 50, 0, 1)
CREATE TABLE WERK1.Zkv311Zuo (
    ZuoPnr char(8) NOT NULL,
    ZuoGvo datetime NOT NULL,
    ZuoGbi datetime NULL,
    ZuoKsb int NULL,
    ZuoKst char(30) NULL,
    PRIMARY KEY (ZuoPnr, ZuoGvo)
)
CREATE TABLE WERK1.Zkv321Kan (
    KanPor char(2) NOT NULL,
    KanFcd char(2) NOT NULL,
    KanDtm char(8) NOT NULL,
    KanUhr char(4) NOT NULL,
    KanMsk char(3) NOT NULL,
    KanAwn char(8) NOT NULL,
    KanDat char(4) NOT NULL
)
GO

-- Client tables of WERK2: function codes, personnel assignments, canteen bookings.
CREATE TABLE WERK2.Zkv131Fcd (
    FcdNum varchar(3) NOT NULL PRIMARY KEY,
    FcdTyp smallint NOT NULL,
    FcdTft int NULL,
    FcdKsb int NULL
)
INSERT INTO WERK2.Zkv131Fcd VALUES
    ('KO', 1, 0, 2), ('GE', 2, 0, 2), ('DG', 7, 1, 1), ('DGE', 123, 1, 1),
    ('PA', -9, NULL, NULL), ('AD', 3, 0, 2), ('ARZ', 4, 0, 1), ('KAN', 50, 0, 1)
CREATE TABLE WERK2.Zkv311Zuo (
    ZuoPnr char(8) NOT NULL,
    ZuoGvo datetime NOT NULL,
    ZuoGbi datetime NULL,
    ZuoKsb int NULL,
    ZuoKst char(30) NULL,
    PRIMARY KEY (ZuoPnr, ZuoGvo)
)
CREATE TABLE WERK2.Zkv321Kan (
    KanPor char(2) NOT NULL,
    KanFcd char(2) NOT NULL,
    KanDtm char(8) NOT NULL,
    KanUhr char(4) NOT NULL,
    KanMsk char(3) NOT NULL,
    KanAwn char(8) NOT NULL,
    KanDat char(4) NOT NULL
)
GO

-- Client tables of VORKANDEL: function codes, personnel assignments, canteen bookings.
CREATE TABLE VORKANDEL.Zkv131Fcd (
    FcdNum varchar(3) NOT NULL PRIMARY KEY,
    FcdTyp smallint NOT NULL,
    FcdTft int NULL,
    FcdKsb int NULL
)
INSERT INTO VORKANDEL.Zkv131Fcd VALUES
    ('KO', 1, 0, 2), ('GE', 2, 0, 2), ('DG', 7, 1, 1), ('DGE', 123, 1, 1),
    ('PA', -9, NULL, NULL), ('AD', 3, 0, 2), ('ARZ', 4, 0, 1), ('KAN', 50, 0, 1)
CREATE TABLE VORKANDEL.Zkv311Zuo (
    ZuoPnr char(8) NOT NULL,
    ZuoGvo datetime NOT NULL,
    ZuoGbi datetime NULL,
    ZuoKsb int NULL,
    ZuoKst char(30) NULL,
    PRIMARY KEY (ZuoPnr, ZuoGvo)
)
CREATE TABLE VORKANDEL.Zkv321Kan (
    KanPor char(2) NOT NULL,
    KanFcd char(2) NOT NULL,
    KanDtm char(8) NOT NULL,
    KanUhr char(4) NOT NULL,
    KanMsk char(3) NOT NULL,
    KanAwn char(8) NOT NULL,
    KanDat char(4) NOT NULL
)
GO

-- Personnel assignments: relation 1 = fixed cost centre, 2 = variable (the reader decides).
-- 00001006 has no assignment.
INSERT INTO WERK1.Zkv311Zuo VALUES
    ('00001001', '20200101', NULL, 1, 'Verwaltung'),
    ('00001002', '20200101', NULL, 2, 'Montage'),
    ('00001005', '20200101', '20261130', 1, 'Vertrieb'),
    ('00002005', '20261201', NULL, 2, 'Versand'),
    ('00001008', '20200101', NULL, 1, 'Archiv')
INSERT INTO WERK2.Zkv311Zuo VALUES
    ('00001003', '20210301', NULL, 2, 'Lager'),
    ('00001007', '19980301', NULL, 1, 'Qualitätssicherung')
INSERT INTO VORKANDEL.Zkv311Zuo VALUES
    ('00001004', '20220101', NULL, 2, 'Labor')
GO
