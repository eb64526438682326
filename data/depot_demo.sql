-- The demo server's Depot content, matching the managed nodes of vorant_namespace.mof:
-- the policy types the server knows, one agent package per platform in use (system type,
-- OS type of VR_ManagedNode), and where the packages are deployed (SystemId is the node's
-- Name). legacy-alpha is not managed, so the Tru64 agent is registered but deployed nowhere.

INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{B7A8C9D0-1E2F-4031-8425-36475869708A}', 'Windows Event Log', 'Events of the Windows event logs', 'Windows');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}', 'Windows Services', 'State of Windows services', 'Windows');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', 'Logfile Entry', 'Lines of text log files', 'Unix');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}', 'Measurement Threshold', 'Thresholds on collected metrics', 'All');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{E3F5A7B9-1C2D-4E3F-8A5B-6C7D8E9FA0B1}', 'Open Message Interface', 'Messages sent by applications', 'All');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{F4A6B8CA-2D3E-4F40-9B6C-7D8E9FA0B1C2}', 'Scheduled Task', 'Commands run on a schedule', 'All');
INSERT INTO VR_PM_PolicyType (PolTypeId, Name, Description, Category) VALUES ('{0A1B2C3D-4E5F-4607-8819-2A3B4C5D6E7F}', 'SNMP Interceptor', 'SNMP traps received on the node', 'All');

INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('1', 'Vorant Agent for Windows', '11.00.010', '{5B1E8A62-3C47-4D90-A1F8-2E6B7C9D0A13}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for Windows NT and Windows 2000 nodes');
INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('2', 'Vorant Agent for HP-UX', '11.00.010', '{6C2F9B73-4D58-4EA1-B209-3F7C8DAE1B24}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for HP-UX nodes');
INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('3', 'Vorant Agent for Solaris', '11.00.010', '{7D30AC84-5E69-4FB2-831A-408D9EBF2C35}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for Solaris nodes');
INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('4', 'Vorant Agent for AIX', '11.00.010', '{8E41BD95-6F7A-40C3-942B-519EAFC03D46}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for AIX nodes');
INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('5', 'Vorant Agent for Linux', '11.00.010', '{9F52CEA6-708B-41D4-A53C-62AFB0D14E57}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for Linux nodes');
INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description) VALUES ('6', 'Vorant Agent for Tru64 UNIX', '10.10.004', '{A063DFB7-819C-42E5-B64D-73B0C1E25F68}', '657AF3A3-BCFD-11D2-8608-080009D961F6', 'local', 'Monitoring agent for Tru64 UNIX nodes');

INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{B7A8C9D0-1E2F-4031-8425-36475869708A}', '1', '2', '10', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{B7A8C9D0-1E2F-4031-8425-36475869708A}', '1', '2', '11', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}', '1', '2', '10', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}', '1', '2', '11', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}', '1', '2', '11', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '2', '5', '3', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}', '2', '5', '3', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '3', '4', '4', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{0A1B2C3D-4E5F-4607-8819-2A3B4C5D6E7F}', '3', '4', '4', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '4', '6', '5', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '5', '2', '6', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{F4A6B8CA-2D3E-4F40-9B6C-7D8E9FA0B1C2}', '5', '2', '6', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');
INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location) VALUES ('{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}', '6', '7', '7', '', '013900FA-AB7F-11D2-9740-080009EF8C2A', 'local');

INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('1', 'mgmt01.corp.example.com', '2026-01-12');
INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('1', 'files02.corp.example.com', '2026-01-12');
INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('2', 'billing.corp.example.com', '2026-01-14');
INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('3', 'ldap1.corp.example.com', '2026-01-14');
INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('4', 'warehouse.corp.example.com', '2026-01-15');
INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId, InstallDate) VALUES ('5', 'web03.corp.example.com', '2026-01-15');
