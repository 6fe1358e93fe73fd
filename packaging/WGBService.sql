-- What the package needs beyond what wixl builds from WGBService.wxs:
-- make-release runs each statement on the built package (msibuild -q),
-- @UPGRADE_CODE@ and @VERSION@ replaced. One statement a line; lines
-- starting with "--" are comments. Each custom action other than one that
-- sets a property has a line "-- rule ACTION: KIND ..." above its row, by
-- which the package's tables check judges it (tests/ships/package-tables).

-- Two builds of one version never install side by side: the older products
-- an installation replaces include its own version (AllowSameVersionUpgrades;
-- attributes: migrate features 1, maximum version included 512).
DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{@UPGRADE_CODE@}', '@VERSION@', 513, 'WIX_UPGRADE_DETECTED')

-- The older product is removed late, inside this installation's transaction
-- (between InstallExecute and InstallFinalize): a failed upgrade leaves the
-- older version installed and running. The files and the service that both
-- versions share stay, as their components do.
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('InstallExecute', 6500)
UPDATE `InstallExecuteSequence` SET `Sequence` = 6550 WHERE `Action` = 'RemoveExistingProducts'
-- The product is registered and published (its upgrade code among others)
-- after that removal: Wine's removal of the older product deletes the upgrade
-- code's whole keys, the new product's entries with them, where Windows
-- deletes only the older product's.
UPDATE `InstallExecuteSequence` SET `Sequence` = 6555 WHERE `Action` = 'RegisterProduct'
UPDATE `InstallExecuteSequence` SET `Sequence` = 6560 WHERE `Action` = 'PublishProduct'

-- An upgrade, a repair and a removal take the folder the first installation
-- chose: the folder of the installed service (type 1 without a signature:
-- the folder of the component's key file).
CREATE TABLE `CompLocator` (`Signature_` CHAR(72) NOT NULL, `ComponentId` CHAR(38) NOT NULL, `Type` SHORT PRIMARY KEY `Signature_`)
INSERT INTO `CompLocator` (`Signature_`, `ComponentId`, `Type`) VALUES ('InstalledFolder', '{AEC160F3-0895-50E7-B765-98A87577FCE7}', 1)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('INSTALLDIR', 'InstalledFolder')
INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)

-- The Upgrade table compares three fields of the version: a package of this
-- version with a lower build number would replace the product (and keep its
-- files of higher versions) and report success. Refused instead, as an older
-- version is: when the installed product's service file (found by its
-- component, which every version shares) is of a later build than this
-- package's (@NEWER_VERSION@, this build's next, and the file's language:
-- the signature compares versions with the language).
INSERT INTO `Signature` (`Signature`, `FileName`, `MinVersion`, `Languages`) VALUES ('NewerBuildInstalled', 'WGBService.exe', '@NEWER_VERSION@', '@LANGUAGE@')
INSERT INTO `CompLocator` (`Signature_`, `ComponentId`, `Type`) VALUES ('NewerBuildInstalled', '{AEC160F3-0895-50E7-B765-98A87577FCE7}', 1)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('WGB_NEWER_BUILD_INSTALLED', 'NewerBuildInstalled')
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('Installed OR NOT WGB_NEWER_BUILD_INSTALLED', 'A newer version of WGBService is already installed. Remove it before installing this one.')

-- A registration made by hand is replaced at a first installation only.
-- Transitive (64): a repair drops the component instead of deleting the
-- service it keeps running.
UPDATE `Component` SET `Condition` = 'NOT Installed AND NOT WIX_UPGRADE_DETECTED', `Attributes` = 64 WHERE `Component` = 'EarlierRegistration'

-- A first installation goes only into a folder nobody but an administrator
-- can have put a file in, nor swap: MakeInstallFolder (package_actions.dll,
-- deferred, not impersonated: 1024 + 2048, as LocalSystem, which a user's
-- permissions cannot hide a file from) refuses a folder that already holds
-- anything (Windows Installer would keep a planted file of a higher version,
-- and RegisterService run it as LocalSystem) or that others may change, a
-- link or a folder below one, or one under folders others may delete or
-- rename entries of (others: anyone but administrators, SYSTEM,
-- TrustedInstaller and the installing account, UserSID). Then it makes each
-- missing folder itself, owned by Administrators and with the folder's
-- protected access list from the start, failing if one exists by then: no
-- user can make it first between a check and CreateFolders. First in the
-- script, before anything else is changed; its rollback (256, errors ignored
-- 64), sequenced before it, removes the empty folders it made (listed in a
-- volatile registry key). An upgrade and
-- a repair take the first installation's own folder, and are not refused.
-- rule RemoveMadeFolders: rollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RemoveMadeFolders', 3393, 'PackageActions', 'RemoveMadeFolders')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetMakeInstallFolder', 51, 'MakeInstallFolder', '[INSTALLDIR]|[UserSID]')
-- rule MakeInstallFolder: changes RemoveMadeFolders
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('MakeInstallFolder', 3073, 'PackageActions', 'MakeInstallFolder')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RemoveMadeFolders', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 1502)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetMakeInstallFolder', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 1503)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('MakeInstallFolder', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 1504)

-- The installed executable registers the service (quoted path, automatic
-- start) and starts it; StartServices then fails the installation unless it
-- runs. Deferred and not impersonated (1024 + 2048): LocalSystem, once the
-- files are in place; only when the service's file is being installed.
-- Should the installation fail after it, the rollback (256, errors ignored
-- 64) removes the registration again, which a first installation made: with
-- the copy of the service in the Binary table (type 2), as the installed
-- files may be gone by then.
-- rule UnregisterServiceOnRollback: rollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('UnregisterServiceOnRollback', 3394, 'ServiceForRollback', '-qtruninstall')
-- rule RegisterService: changes UnregisterServiceOnRollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RegisterService', 3090, 'WGBServiceExe', '-qtrinstall')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('UnregisterServiceOnRollback', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 5880)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RegisterService', '$ServiceExe=3', 5890)

-- -qtrinstall ends with exit code 0 whatever happened, and keeps an existing
-- registration as it is: CheckServiceRegistration (package_actions.dll,
-- deferred, not impersonated: 1024 + 2048) then makes sure the service runs
-- the installed file, quoted, and starts automatically, mending what differs
-- (a repair), and fails the installation when it is not registered or cannot
-- be mended. A service disabled before an upgrade or a repair stays disabled.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetCheckServiceRegistration', 51, 'CheckServiceRegistration', '[#WGBServiceExe]')
-- rule CheckServiceRegistration: alone its mending of the registration RegisterService made goes with that registration at a rollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('CheckServiceRegistration', 3073, 'PackageActions', 'CheckServiceRegistration')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetCheckServiceRegistration', '$ServiceExe=3', 5885)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('CheckServiceRegistration', '$ServiceExe=3', 5895)

-- StartServices starts the service (component ServiceStart) unless an
-- administrator or a policy disabled it before this upgrade or repair: its
-- "Start" value, read by AppSearch (raw: "#4" for disabled). Transitive (64):
-- a repair or an upgrade evaluates the condition again. At a first
-- installation the service is registered anew, and started.
INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('ServiceStartValue', 2, 'SYSTEM\CurrentControlSet\Services\QTR_WGBService', 'Start', 2)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('SERVICESTARTVALUE', 'ServiceStartValue')
UPDATE `Component` SET `Condition` = '(NOT Installed AND NOT WIX_UPGRADE_DETECTED) OR SERVICESTARTVALUE <> "#4"', `Attributes` = 64 WHERE `Component` = 'ServiceStart'

-- StopServices returns once the service reports stopped, before its process
-- has ended and let go of its executable: WaitForServiceExit (deferred, not
-- impersonated) waits for that process, so that InstallFiles and RemoveFiles
-- find the file free (not in use: no replacement at the restart, no folder
-- left behind). Only when the service's component is installed or removed:
-- the removal of the older product inside an upgrade stops nothing, and the
-- service it shares with the new one runs. The same as a rollback action
-- (256) after the rollback's stop of a service StartServices started, before
-- the files are restored.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetWaitForServiceExit', 51, 'WaitForServiceExit', '[INSTALLDIR]WGBService.exe')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetWaitForServiceExitOnRollback', 51, 'WaitForServiceExitOnRollback', '[INSTALLDIR]WGBService.exe')
-- rule WaitForServiceExit: waits
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('WaitForServiceExit', 3073, 'PackageActions', 'WaitForServiceExit')
-- rule WaitForServiceExitOnRollback: waits
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('WaitForServiceExitOnRollback', 3329, 'PackageActions', 'WaitForServiceExit')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetWaitForServiceExit', '$ServiceExe=3 OR $ServiceExe=2', 1905)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('WaitForServiceExit', '$ServiceExe=3 OR $ServiceExe=2', 1910)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetWaitForServiceExitOnRollback', '$ServiceExe=3', 5896)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('WaitForServiceExitOnRollback', '$ServiceExe=3', 5897)

-- An edited WGB.ini survives an upgrade and a repair, whatever the
-- installer's rules for unversioned files say: package_actions.dll (from the
-- Binary table, type 1; deferred and not impersonated, 1024 + 2048) copies it
-- aside before InstallFiles and puts it back after; the rollback (256, errors
-- ignored 64) drops the copy. Each deferred action reads its
-- CustomActionData, the property of its name that a type 51 action sets:
-- the list's path, and for KeepBoardList the hash of the list the installed
-- version shipped, which that version recorded (make-release adds the
-- Registry row ShippedBoardList from the list's MsiFileHash row) and AppSearch
-- reads before this version writes its own.
INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('ShippedBoardList', 2, 'SOFTWARE\WGBService', 'ShippedBoardList', 2)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('SHIPPEDBOARDLIST', 'ShippedBoardList')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetDropKeptBoardList', 51, 'DropKeptBoardList', '[#WGBIni]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetKeepBoardList', 51, 'KeepBoardList', '[#WGBIni]|[SHIPPEDBOARDLIST]')
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetRestoreKeptBoardList', 51, 'RestoreKeptBoardList', '[#WGBIni]')
-- rule DropKeptBoardList: rollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('DropKeptBoardList', 3393, 'PackageActions', 'DropKeptBoardList')
-- rule KeepBoardList: changes DropKeptBoardList
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KeepBoardList', 3073, 'PackageActions', 'KeepBoardList')
-- rule RestoreKeptBoardList: alone the rollback of InstallFiles puts back the list it replaced
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RestoreKeptBoardList', 3073, 'PackageActions', 'RestoreKeptBoardList')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetDropKeptBoardList', '$BoardList=3', 3970)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetKeepBoardList', '$BoardList=3', 3971)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('SetRestoreKeptBoardList', '$BoardList=3', 3972)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('DropKeptBoardList', '$BoardList=3', 3980)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('KeepBoardList', '$BoardList=3', 3990)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestoreKeptBoardList', '$BoardList=3', 4010)

-- The installation folder's own access list, whatever folder INSTALLDIR
-- names: protected (no rights inherited from its parent, where users may
-- write), SYSTEM and Administrators full control, Users read and execute;
-- files and folders inside inherit it; owned by Administrators (O:BA), so
-- that a folder a user made before the installation is no longer that
-- user's to rewrite the list of. Applied by CreateFolders.
CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)
INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) VALUES ('InstallFolderRights', 'INSTALLDIR', 'CreateFolder', 'O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)')

-- The standard actions a transform may need (it can add rows to their
-- tables, not to the sequence), at their usual places; wixl sequences
-- CreateFolders and RemoveFolders for the CreateFolder rows.
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveRegistryValues', 2600)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteRegistryValues', 5000)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)

-- Programs and Features, and scripts, find the installation folder
-- (InstallLocation of the uninstall key): set once the folder is resolved,
-- before the product is registered.
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[INSTALLDIR]')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetInstallLocation', 1010)

-- The removal leaves the driver service's registration as the service's
-- bring-up found it (ReleaseDriver, in the helper DLL: type 1): a
-- registration the service made goes, one it pointed at its file is pointed
-- back, any other stays. Deferred and not impersonated (1024 + 2048): as
-- LocalSystem, once StopServices has stopped the service and before
-- DeleteServices deletes its key, which holds the record; only when the
-- service's component goes ($ServiceExe=2), not when an upgrade removes the
-- older version. A driver that will not stop goes at the next restart: then
-- RestartForDriver, immediate after InstallFinalize, makes the exit code 3010
-- (ReleaseDriver leaves it a volatile registry key: a deferred action may not
-- ask for the restart itself). It changes nothing of the machine's but that
-- key, and the installation's own outcome.
-- rule ReleaseDriver: alone a removal's rollback starts the service again, whose bring-up registers the driver as before
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('ReleaseDriver', 3073, 'PackageActions', 'ReleaseDriver')
-- rule RestartForDriver: outcome
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RestartForDriver', 1, 'PackageActions', 'RestartForDriver')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('ReleaseDriver', '$ServiceExe=2', 1950)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestartForDriver', '$ServiceExe=2', 6610)

-- An installation made by hand (-qtrinstall from the zip, in another folder)
-- recorded in its service's key what its bring-up changed of the driver
-- service's registration; the first installation deletes that service
-- (EarlierRegistration) and its key with it. KeepHandInstalledRecord moves
-- the record aside first (deferred, not impersonated: 1024 + 2048; after
-- StopServices, before DeleteServices), its rollback (256, errors ignored 64)
-- puts it back into the restored key, and HandOverDriverRecord gives it to
-- the package's service once registered: the removal then undoes what the two
-- installations changed. No rollback of the handover: a rollback's
-- -qtruninstall undoes what the record says, the two installations' changes.
-- rule RestoreHandInstalledRecord: rollback
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('RestoreHandInstalledRecord', 3393, 'PackageActions', 'RestoreHandInstalledRecord')
-- rule KeepHandInstalledRecord: changes RestoreHandInstalledRecord
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('KeepHandInstalledRecord', 3073, 'PackageActions', 'KeepHandInstalledRecord')
-- rule HandOverDriverRecord: alone a rollback's -qtruninstall undoes what the handed-over record says
INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('HandOverDriverRecord', 3073, 'PackageActions', 'HandOverDriverRecord')
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('RestoreHandInstalledRecord', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 1955)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('KeepHandInstalledRecord', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 1960)
INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('HandOverDriverRecord', '$ServiceExe=3 AND NOT Installed AND NOT WIX_UPGRADE_DETECTED', 5892)

-- Restart Manager stays out: in a silent upgrade or removal it would close
-- the companion in the user's session to free its file, where the package
-- promises 3010 (a file in use is replaced at the next restart) and leaves
-- the user's programs alone.
INSERT INTO `Property` (`Property`, `Value`) VALUES ('MSIRESTARTMANAGERCONTROL', 'Disable')
