-- The first schema (sqlite), as shipped before the change history; comments left out.

CREATE TABLE QEL_PROJECT (
    ID            INTEGER PRIMARY KEY AUTOINCREMENT,
    CNAME         varchar(100) NOT NULL,
    CROSSDISCOUNT integer      NOT NULL DEFAULT 0,
    CROSTNUM      integer      NOT NULL DEFAULT 0,
    CROSSPNUM     integer      NOT NULL DEFAULT 0,
    CONSTRAINT UQ_QEL_PROJECT_CNAME UNIQUE (CNAME)
);

CREATE TABLE QEL_PROJECT_PRODUCT (
    PROJECTID   integer     NOT NULL,
    PRODUCTCODE varchar(20) NOT NULL,
    CONSTRAINT UQ_QEL_PROJECT_PRODUCT_CODE UNIQUE (PRODUCTCODE)
);
CREATE INDEX IX_QEL_PROJECT_PRODUCT_PROJECT ON QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE);

CREATE TABLE qel_project_member_limit (
    PID             integer     NOT NULL,
    MEMBER_CLASS_ID varchar(20) NOT NULL DEFAULT '',
    MAX_NUM         integer     NOT NULL,
    limit_type      varchar(1)  NOT NULL,
    enable          varchar(1)  DEFAULT '1',
    CONSTRAINT UQ_QEL_PROJECT_MEMBER_LIMIT UNIQUE (PID, MEMBER_CLASS_ID)
);
CREATE INDEX IX_QEL_PROJECT_MEMBER_LIMIT_TYPE ON qel_project_member_limit (PID, limit_type);

CREATE TABLE um_member_class (
    MEMBER_CLASS_ID   varchar(20) PRIMARY KEY,
    MEMBER_CLASS_NAME varchar(64)
);

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
