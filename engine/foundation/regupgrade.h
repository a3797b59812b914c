// The registry upgrade that the server, the manager and both services run at start.
#pragma once

// When HKEY_LOCAL_MACHINE\SOFTWARE\Hulvane\Vantrex\4.0 is missing, copies the newest older version's
// key there, all or nothing, under the cross-process mutex "HulvaneVantrex_UpgradeRegistryMutex".
// The older key stays. Failures are silent: the programs start with what the store holds.
void UpgradeRegistryAtStartup();
