// The window's serial port discovery: the process-wide port tables, their
// refill and sort, the list lines and the "USB" preselection.
//
// A port is taken when its name ends in a decimal number ("ttyUSB0",
// "ttyGW3"); the tables are sorted by the name's letters (the part before
// that number, in any letter case), then by the number (ttyUSB9 before
// ttyUSB10), names and descriptions moving together. Entry i of a names
// table and entry i of its descriptions table describe the same port, and
// line i of the shown list is entry i of ComPortNames/ComPortDescriptions.
#pragma once

#include <string>
#include <vector>

#include "platform/OpenFailure.h"

class QListWidget;
class QString;

// The ports shown in the window's list.
extern std::vector<std::string> ComPortNames;
extern std::vector<std::string> ComPortDescriptions;
extern int ComPortCount;

// The ports found by the latest rescan after a device removal.
extern std::vector<std::string> ScannedPortNames;
extern std::vector<std::string> ScannedPortDescriptions;
extern int ScannedPortCount;

// Where the device trees are read (the system's roots unless set; Windows
// lists its ports from the device-setup library and passes over them).
void SetDeviceRoots(const QString& sysRoot, const QString& devRoot);
// The roots in use. The window watches the <dev> root for device notices,
// and its port opens names in it.
QString DeviceSysRoot();
QString DeviceDevRoot();

// Where the cause of an open failure is looked up besides the device trees:
// the process tree and the group database (the system's unless set; Linux
// only).
void SetAccountRoots(const QString& procRoot, const QString& groupFile);
// All the roots in use.
const platform::SystemRoots& LookupRoots();

// Replaces 'names' and 'descriptions' with the present ports whose names end
// in a decimal number, in the order found; 'count' is their number. True
// when at least one port was collected.
bool EnumerateSerialPorts(int& count, std::vector<std::string>& names,
                          std::vector<std::string>& descriptions);

// Enumerates and sorts into ComPort*, then rebuilds 'list' with one line per
// port, "<name>  -  <description>". No port empties the list.
void FillComPortList(QListWidget* list);

// Enumerates and sorts into ScannedPort*; the shown list is not touched.
void RescanComPorts();

// Selects the first line whose description begins with "USB" in any letter
// case; without one the list has no selection.
void SelectFirstUsbPort(QListWidget* list);
