-- Performance projects and the catalogue they draw on (SQLite).
-- Kept line for line parallel to postgres.sql: the module's statements run
-- unchanged on both, so names, types and defaults must match.

-- The schema's version, in PRAGMA user_version: 1 the module's tables
-- (with the rules' triggers from its second release on), 2 with the change
-- history, 3 with the history append-only and its delete counts. On start
-- (UpgradeDatabase) an older database is brought up to this one a version at
-- a time; a newer one is refused.
PRAGMA user_version = 3;

-- Projects: a group of performances with one cross-performance discount rule.
CREATE TABLE QEL_PROJECT (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    CNAME         varchar(100) NOT NULL,
    CROSSDISCOUNT integer      NOT NULL DEFAULT 0,
    CROSTNUM      integer      NOT NULL DEFAULT 0,
    CROSSPNUM     integer      NOT NULL DEFAULT 0,
    CONSTRAINT UQ_QEL_PROJECT_CNAME UNIQUE (CNAME)
);
-- Searches by CNAME LIKE '%x%' cannot use a b-tree; the table is small
-- enough to scan, and the unique index serves exact name checks.

-- A performance belongs to at most one project.
CREATE TABLE QEL_PROJECT_PRODUCT (
    PROJECTID   integer     NOT NULL,
    PRODUCTCODE varchar(20) NOT NULL,
    CONSTRAINT UQ_QEL_PROJECT_PRODUCT_CODE UNIQUE (PRODUCTCODE)
);
-- Leading PROJECTID: lists a project's performances without touching the table.
CREATE INDEX IX_QEL_PROJECT_PRODUCT_PROJECT ON QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE);

-- Purchase limits: LIMIT_TYPE '1' per member class, '2' per identity card
-- (then MEMBER_CLASS_ID is empty). The module deletes these itself.
CREATE TABLE qel_project_member_limit (
    PID             integer     NOT NULL,
    MEMBER_CLASS_ID varchar(20) NOT NULL DEFAULT '',
    MAX_NUM         integer     NOT NULL,
    limit_type      varchar(1)  NOT NULL,
    enable          varchar(1)  DEFAULT '1',
    CONSTRAINT UQ_QEL_PROJECT_MEMBER_LIMIT UNIQUE (PID, MEMBER_CLASS_ID)
);
-- The unique index serves lookups by PID and by PID + MEMBER_CLASS_ID.
CREATE INDEX IX_QEL_PROJECT_MEMBER_LIMIT_TYPE ON qel_project_member_limit (PID, limit_type);

CREATE TABLE um_member_class (
    MEMBER_CLASS_ID   varchar(20) PRIMARY KEY,
    MEMBER_CLASS_NAME varchar(64)
);

-- Performances. HAPPENTIME holds text 'YYYY-MM-DD HH:MM:SS', so range
-- filters compare correctly as text.
CREATE TABLE QEL_PRODUCT (
    PRODUCTCODE       varchar(20)  PRIMARY KEY,
    CNAME             varchar(128) NOT NULL,
    HAPPENTIME        TIMESTAMP    NOT NULL,
    PRODUCTCLASSCODE  varchar(4)   NOT NULL,
    PLACECODE         varchar(5)   NOT NULL,
    NODECODE          varchar(2)   NOT NULL,
    MAPCODE           varchar(20),
    CREATEGROUP       varchar(20),
    PLACEGROUP        varchar(20),
    STATUS            varchar(1)   NOT NULL,
    CREATEUSER        varchar(20),
    PRODUCTOWNERGROUP varchar(5)
);
CREATE INDEX IX_QEL_PRODUCT_HAPPENTIME ON QEL_PRODUCT (HAPPENTIME);
CREATE INDEX IX_QEL_PRODUCT_PLACE ON QEL_PRODUCT (PLACECODE, NODECODE);
CREATE INDEX IX_QEL_PRODUCT_CLASS ON QEL_PRODUCT (PRODUCTCLASSCODE);

-- Venues; ISVALID '1' = in use.
CREATE TABLE qel_place (
    PLACECODE varchar(8)  NOT NULL,
    NODECODE  varchar(2)  NOT NULL,
    CNAME     varchar(64),
    ENAME     varchar(64),
    CITYCODE  varchar(8),
    ISVALID   varchar(1)  NOT NULL DEFAULT '1',
    PRIMARY KEY (PLACECODE, NODECODE)
);
CREATE INDEX IX_QEL_PLACE_CITY ON qel_place (CITYCODE);

CREATE TABLE QEL_PLACE_CITY (
    NodeCode varchar(2)  NOT NULL,
    CityCode varchar(8)  NOT NULL,
    CName    varchar(20),
    PRIMARY KEY (NodeCode, CityCode)
);

CREATE TABLE QEL_PRODUCT_CLASS (
    PRODUCTCLASSCODE varchar(8)  PRIMARY KEY,
    CNAME            varchar(64),
    ENAME            varchar(64)
);

-- Rules the module's checks keep, held by the database as well, so that two
-- desks passing the same check at the same moment cannot break them. Only
-- writes that add or move rows are checked: deleting a project and then its
-- rows (in that order) still works.

-- A limit belongs to a project that exists (PID may arrive as quoted text).
CREATE TRIGGER TR_QEL_LIMIT_PROJECT_INS BEFORE INSERT ON qel_project_member_limit
WHEN NOT EXISTS (SELECT 1 FROM QEL_PROJECT WHERE ID = NEW.PID)
BEGIN
    SELECT RAISE(ABORT, '项目不存在（可能已被其他操作员删除），无法为其保存限购');
END;
CREATE TRIGGER TR_QEL_LIMIT_PROJECT_UPD BEFORE UPDATE OF PID ON qel_project_member_limit
WHEN NOT EXISTS (SELECT 1 FROM QEL_PROJECT WHERE ID = NEW.PID)
BEGIN
    SELECT RAISE(ABORT, '项目不存在（可能已被其他操作员删除），无法为其保存限购');
END;

-- All limits of one project have one type. Writers are serialised by the
-- database lock, so the check sees every other desk's committed limits.
CREATE TRIGGER TR_QEL_LIMIT_ONE_TYPE_INS AFTER INSERT ON qel_project_member_limit
WHEN EXISTS (SELECT 1 FROM qel_project_member_limit WHERE PID = NEW.PID AND limit_type <> NEW.limit_type)
BEGIN
    SELECT RAISE(ABORT, '该项目已有其他类型的限购，同一项目的限购类型必须一致');
END;
CREATE TRIGGER TR_QEL_LIMIT_ONE_TYPE_UPD AFTER UPDATE OF PID, limit_type ON qel_project_member_limit
WHEN EXISTS (SELECT 1 FROM qel_project_member_limit WHERE PID = NEW.PID AND limit_type <> NEW.limit_type)
BEGIN
    SELECT RAISE(ABORT, '该项目已有其他类型的限购，同一项目的限购类型必须一致');
END;

-- A quantity is a whole number, as the column says (PostgreSQL holds its
-- column types itself; SQLite would keep any text and read it back as 0).
CREATE TRIGGER TR_QEL_LIMIT_MAX_NUM_INS BEFORE INSERT ON qel_project_member_limit
WHEN typeof(NEW.MAX_NUM) <> 'integer'
BEGIN
    SELECT RAISE(ABORT, '限购数量必须是整数');
END;
CREATE TRIGGER TR_QEL_LIMIT_MAX_NUM_UPD BEFORE UPDATE OF MAX_NUM ON qel_project_member_limit
WHEN typeof(NEW.MAX_NUM) <> 'integer'
BEGIN
    SELECT RAISE(ABORT, '限购数量必须是整数');
END;

-- A performance is assigned to a project that exists.
CREATE TRIGGER TR_QEL_PROJECT_PRODUCT_PROJECT_INS BEFORE INSERT ON QEL_PROJECT_PRODUCT
WHEN NOT EXISTS (SELECT 1 FROM QEL_PROJECT WHERE ID = NEW.PROJECTID)
BEGIN
    SELECT RAISE(ABORT, '项目不存在（可能已被其他操作员删除），无法为其添加演出');
END;
CREATE TRIGGER TR_QEL_PROJECT_PRODUCT_PROJECT_UPD BEFORE UPDATE OF PROJECTID ON QEL_PROJECT_PRODUCT
WHEN NOT EXISTS (SELECT 1 FROM QEL_PROJECT WHERE ID = NEW.PROJECTID)
BEGIN
    SELECT RAISE(ABORT, '项目不存在（可能已被其他操作员删除），无法为其添加演出');
END;

-- Change history. Every row that a statement inserts, updates or deletes in
-- the three tables above gets one entry, written by the triggers below in the
-- same statement, so the change and its entry commit or vanish together.
-- The statements themselves stay as they are. A trigger hands the entry to
-- qel_history(kind, action, project, name, key, before, after), which the
-- client's connection registers: it inserts the entry with a statement
-- prepared once, where an INSERT in the trigger would be compiled into every
-- statement that fires it. It fills in the operator (node, group, user) from
-- the session context and TXID; a connection without the function cannot
-- change these tables. CHANGED_AT is UTC. TXID groups the entries of one
-- transaction: one more than the largest entry ID when its first entry is
-- written, kept until the transaction ends. Values are JSON objects under the
-- column names, in the same text on both engines. A project's delete entry
-- also counts the limits and performances the delete takes (DELETED_LIMITS,
-- DELETED_PRODUCTS: rows still there, plus those its transaction deleted
-- before it), so a restore knows when the history lacks some of them.
-- qel_history records an insert as "restore" while the connection's action
-- is set to it (qel_action('restore'), inside a transaction, cleared at its
-- end). The history is append-only: no entry is ever updated or deleted.
-- On start (UpgradeDatabase) a database made before this section gets it, and
-- every trigger, index and column of it that is missing or differs from this
-- text is made again, in one transaction; so it stays the last section of
-- this file.
CREATE TABLE QEL_PROJECT_HISTORY (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    CHANGED_AT    TIMESTAMP NOT NULL,
    TXID          bigint    NOT NULL,
    NODECODE      text,
    USERGROUP     text,
    USERNAME      text,
    ROW_KIND      text      NOT NULL,
    ACTION        text      NOT NULL,
    PROJECT_ID    bigint    NOT NULL,
    PROJECT_NAME  text,
    ROW_KEY       text,
    BEFORE_VALUES text,
    AFTER_VALUES  text,
    DELETED_LIMITS   integer,
    DELETED_PRODUCTS integer
);
-- A project's entries, newest first; and date ranges. Lists of all entries
-- read the primary key backwards. Two indexes only: every write pays for them.
CREATE INDEX IX_QEL_PROJECT_HISTORY_PROJECT ON QEL_PROJECT_HISTORY (PROJECT_ID, ID);
CREATE INDEX IX_QEL_PROJECT_HISTORY_TIME ON QEL_PROJECT_HISTORY (CHANGED_AT);
-- Project deletes and restores, for the list of deleted projects; partial, so
-- the other entries' writes do not pay for it (queries repeat its condition).
CREATE INDEX IX_QEL_PROJECT_HISTORY_DELETES ON QEL_PROJECT_HISTORY (ACTION, ID) WHERE ROW_KIND = 'project' AND ACTION IN ('delete', 'restore');

CREATE TRIGGER TR_QEL_PROJECT_HISTORY_NO_UPDATE BEFORE UPDATE ON QEL_PROJECT_HISTORY
BEGIN
    SELECT RAISE(ABORT, '修改历史只能追加，不能修改或删除其中的记录');
END;
CREATE TRIGGER TR_QEL_PROJECT_HISTORY_NO_DELETE BEFORE DELETE ON QEL_PROJECT_HISTORY
BEGIN
    SELECT RAISE(ABORT, '修改历史只能追加，不能修改或删除其中的记录');
END;

CREATE TRIGGER TR_QEL_PROJECT_HISTORY_INS AFTER INSERT ON QEL_PROJECT
BEGIN
    SELECT qel_history('project', 'insert', NEW.ID, NEW.CNAME, NULL,
                       NULL,
                       json_object('ID', NEW.ID, 'CNAME', NEW.CNAME, 'CROSSDISCOUNT', NEW.CROSSDISCOUNT, 'CROSTNUM', NEW.CROSTNUM, 'CROSSPNUM', NEW.CROSSPNUM));
END;
CREATE TRIGGER TR_QEL_PROJECT_HISTORY_UPD AFTER UPDATE ON QEL_PROJECT
BEGIN
    SELECT qel_history('project', 'update', NEW.ID, NEW.CNAME, NULL,
                       json_object('ID', OLD.ID, 'CNAME', OLD.CNAME, 'CROSSDISCOUNT', OLD.CROSSDISCOUNT, 'CROSTNUM', OLD.CROSTNUM, 'CROSSPNUM', OLD.CROSSPNUM),
                       json_object('ID', NEW.ID, 'CNAME', NEW.CNAME, 'CROSSDISCOUNT', NEW.CROSSDISCOUNT, 'CROSTNUM', NEW.CROSTNUM, 'CROSSPNUM', NEW.CROSSPNUM));
END;
CREATE TRIGGER TR_QEL_PROJECT_HISTORY_DEL AFTER DELETE ON QEL_PROJECT
BEGIN
    SELECT qel_history('project', 'delete', OLD.ID, OLD.CNAME, NULL,
                       json_object('ID', OLD.ID, 'CNAME', OLD.CNAME, 'CROSSDISCOUNT', OLD.CROSSDISCOUNT, 'CROSTNUM', OLD.CROSTNUM, 'CROSSPNUM', OLD.CROSSPNUM),
                       NULL);
END;

-- The project's name at that moment: from its row, or, once the row is gone
-- (the project delete removes it before its limits and performances), from
-- its latest entry.
CREATE TRIGGER TR_QEL_LIMIT_HISTORY_INS AFTER INSERT ON qel_project_member_limit
BEGIN
    SELECT qel_history('limit', 'insert', NEW.PID, NULL, NEW.MEMBER_CLASS_ID,
                       NULL,
                       json_object('PID', NEW.PID, 'MEMBER_CLASS_ID', NEW.MEMBER_CLASS_ID, 'MAX_NUM', NEW.MAX_NUM, 'limit_type', NEW.limit_type, 'enable', NEW.enable));
END;
CREATE TRIGGER TR_QEL_LIMIT_HISTORY_UPD AFTER UPDATE ON qel_project_member_limit
BEGIN
    SELECT qel_history('limit', 'update', NEW.PID, NULL, NEW.MEMBER_CLASS_ID,
                       json_object('PID', OLD.PID, 'MEMBER_CLASS_ID', OLD.MEMBER_CLASS_ID, 'MAX_NUM', OLD.MAX_NUM, 'limit_type', OLD.limit_type, 'enable', OLD.enable),
                       json_object('PID', NEW.PID, 'MEMBER_CLASS_ID', NEW.MEMBER_CLASS_ID, 'MAX_NUM', NEW.MAX_NUM, 'limit_type', NEW.limit_type, 'enable', NEW.enable));
END;
CREATE TRIGGER TR_QEL_LIMIT_HISTORY_DEL AFTER DELETE ON qel_project_member_limit
BEGIN
    SELECT qel_history('limit', 'delete', OLD.PID, NULL, OLD.MEMBER_CLASS_ID,
                       json_object('PID', OLD.PID, 'MEMBER_CLASS_ID', OLD.MEMBER_CLASS_ID, 'MAX_NUM', OLD.MAX_NUM, 'limit_type', OLD.limit_type, 'enable', OLD.enable),
                       NULL);
END;

CREATE TRIGGER TR_QEL_PROJECT_PRODUCT_HISTORY_INS AFTER INSERT ON QEL_PROJECT_PRODUCT
BEGIN
    SELECT qel_history('product', 'insert', NEW.PROJECTID, NULL, NEW.PRODUCTCODE,
                       NULL,
                       json_object('PROJECTID', NEW.PROJECTID, 'PRODUCTCODE', NEW.PRODUCTCODE));
END;
CREATE TRIGGER TR_QEL_PROJECT_PRODUCT_HISTORY_UPD AFTER UPDATE ON QEL_PROJECT_PRODUCT
BEGIN
    SELECT qel_history('product', 'update', NEW.PROJECTID, NULL, NEW.PRODUCTCODE,
                       json_object('PROJECTID', OLD.PROJECTID, 'PRODUCTCODE', OLD.PRODUCTCODE),
                       json_object('PROJECTID', NEW.PROJECTID, 'PRODUCTCODE', NEW.PRODUCTCODE));
END;
CREATE TRIGGER TR_QEL_PROJECT_PRODUCT_HISTORY_DEL AFTER DELETE ON QEL_PROJECT_PRODUCT
BEGIN
    SELECT qel_history('product', 'delete', OLD.PROJECTID, NULL, OLD.PRODUCTCODE,
                       json_object('PROJECTID', OLD.PROJECTID, 'PRODUCTCODE', OLD.PRODUCTCODE),
                       NULL);
END;
