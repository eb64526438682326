-- The Depot database of the management server: deployment packages, the policy types of the
-- server, which policy type a package serves on which platform (functionality modules), and
-- which nodes a package is deployed on. Plain SQL that SQLite and PostgreSQL both read; one
-- statement per ';' at a line end. Identifiers and platform numbers are kept as text, the way
-- the programs compare them. Every column a caller may leave out has a default.

CREATE TABLE VR_PM_PolicyType (
  PolTypeId VARCHAR(64) NOT NULL PRIMARY KEY,
  Name VARCHAR(255) NOT NULL DEFAULT '',
  Description VARCHAR(1024) NOT NULL DEFAULT '',
  Category VARCHAR(64) NOT NULL DEFAULT ''
);

CREATE TABLE VR_PM_DeplPack (
  DeplPackId VARCHAR(40) NOT NULL PRIMARY KEY,
  Name VARCHAR(255) NOT NULL DEFAULT '',
  Version VARCHAR(64) NOT NULL DEFAULT '',
  LogicalId VARCHAR(64) NOT NULL DEFAULT '',
  DeployerId VARCHAR(64) NOT NULL DEFAULT '',
  Location VARCHAR(255) NOT NULL DEFAULT 'local',
  Description VARCHAR(1024) NOT NULL DEFAULT ''
);
CREATE INDEX VR_PM_DeplPack_NameVersion ON VR_PM_DeplPack (Name, Version);

CREATE TABLE VR_PM_FunctionalityModule (
  PolTypeId VARCHAR(64) NOT NULL,
  DeplPackId VARCHAR(40) NOT NULL,
  SystemType VARCHAR(16) NOT NULL DEFAULT '',
  OsType VARCHAR(16) NOT NULL DEFAULT '',
  OsVersion VARCHAR(64) NOT NULL DEFAULT '',
  ModuleTypeId VARCHAR(64) NOT NULL DEFAULT '',
  Location VARCHAR(255) NOT NULL DEFAULT 'local'
);
CREATE INDEX VR_PM_FunctionalityModule_Package ON VR_PM_FunctionalityModule (DeplPackId, SystemType, OsType);
CREATE INDEX VR_PM_FunctionalityModule_PolicyType ON VR_PM_FunctionalityModule (PolTypeId);

CREATE TABLE VR_PM_InstalledDeplPack (
  DeplPackId VARCHAR(40) NOT NULL,
  SystemId VARCHAR(255) NOT NULL,
  InstallDate VARCHAR(32) NOT NULL DEFAULT ''
);
CREATE INDEX VR_PM_InstalledDeplPack_Package ON VR_PM_InstalledDeplPack (DeplPackId);
