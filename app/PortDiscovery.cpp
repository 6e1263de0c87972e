#include "app/PortDiscovery.h"

#include <QListWidget>
#include <QString>

#include <algorithm>
#include <cctype>
#include <numeric>

#include "platform/SerialPortList.h"

std::vector<std::string> ComPortNames;
std::vector<std::string> ComPortDescriptions;
int ComPortCount = 0;

std::vector<std::string> ScannedPortNames;
std::vector<std::string> ScannedPortDescriptions;
int ScannedPortCount = 0;

namespace {

// Where ports are listed and open failures looked into.
platform::SystemRoots g_roots;

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool EndsInNumber(const std::string& name) { return !name.empty() && IsDigit(name.back()); }

// A port name split for sorting: "ttyUSB010" gives letters "ttyUSB" and the
// number's digits without leading zeros, "10".
struct SortKey {
  std::string letters;
  std::string number;
};

SortKey KeyOf(const std::string& name) {
  auto digits = name.end();
  while (digits != name.begin() && IsDigit(*(digits - 1))) --digits;
  auto significant = std::find_if(digits, name.end(), [](char c) { return c != '0'; });
  return {std::string(name.begin(), digits), std::string(significant, name.end())};
}

bool LettersLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Upper(x) < Upper(y); });
}

// Compares numbers of any length by their digits, so no name can overflow.
bool NumberLess(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool KeyLess(const SortKey& a, const SortKey& b) {
  if (LettersLess(a.letters, b.letters)) return true;
  if (LettersLess(b.letters, a.letters)) return false;
  return NumberLess(a.number, b.number);
}

// Sorts the first 'count' entries by letters, then number; equal keys keep
// their order.
void SortPorts(int count, std::vector<std::string>& names, std::vector<std::string>& descriptions) {
  const std::size_t n = std::min({static_cast<std::size_t>(std::max(count, 0)), names.size(),
                                  descriptions.size()});
  std::vector<SortKey> keys;
  keys.reserve(n);
  for (std::size_t i = 0; i < n; ++i) keys.push_back(KeyOf(names[i]));
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return KeyLess(keys[a], keys[b]); });

  std::vector<std::string> sortedNames, sortedDescriptions;
  for (std::size_t i : order) {
    sortedNames.push_back(std::move(names[i]));
    sortedDescriptions.push_back(std::move(descriptions[i]));
  }
  std::move(sortedNames.begin(), sortedNames.end(), names.begin());
  std::move(sortedDescriptions.begin(), sortedDescriptions.end(), descriptions.begin());
}

// Enumerates and sorts into the given tables.
void ScanInto(int& count, std::vector<std::string>& names, std::vector<std::string>& descriptions) {
  std::vector<std::string> foundNames, foundDescriptions;
  int found = 0;
  EnumerateSerialPorts(found, foundNames, foundDescriptions);
  SortPorts(found, foundNames, foundDescriptions);
  names = std::move(foundNames);
  descriptions = std::move(foundDescriptions);
  count = found;
}

QString ListLine(const std::string& name, const std::string& description) {
  return QString::fromStdString(name) + QStringLiteral("  -  ") +
         QString::fromStdString(description);
}

bool BeginsWithUsb(const std::string& description) {
  return description.size() >= 3 && Upper(description[0]) == 'U' &&
         Upper(description[1]) == 'S' && Upper(description[2]) == 'B';
}

}  // namespace

void SetDeviceRoots(const QString& sysRoot, const QString& devRoot) {
  g_roots.sys = sysRoot.toStdString();
  g_roots.dev = devRoot.toStdString();
}

void SetAccountRoots(const QString& procRoot, const QString& groupFile) {
  g_roots.proc = procRoot.toStdString();
  g_roots.groupFile = groupFile.toStdString();
}

const platform::SystemRoots& LookupRoots() { return g_roots; }

QString DeviceSysRoot() { return QString::fromStdString(g_roots.sys); }

QString DeviceDevRoot() { return QString::fromStdString(g_roots.dev); }

bool EnumerateSerialPorts(int& count, std::vector<std::string>& names,
                          std::vector<std::string>& descriptions) {
  names.clear();
  descriptions.clear();
  for (auto& port : platform::ListSerialPorts(g_roots.sys, g_roots.dev)) {
    if (!EndsInNumber(port.name)) continue;
    names.push_back(std::move(port.name));
    descriptions.push_back(std::move(port.description));
  }
  count = static_cast<int>(names.size());
  return count > 0;
}

void FillComPortList(QListWidget* list) {
  ScanInto(ComPortCount, ComPortNames, ComPortDescriptions);
  if (!list) return;
  list->clear();
  for (int i = 0; i < ComPortCount; ++i)
    list->addItem(ListLine(ComPortNames[i], ComPortDescriptions[i]));
}

void RescanComPorts() { ScanInto(ScannedPortCount, ScannedPortNames, ScannedPortDescriptions); }

void SelectFirstUsbPort(QListWidget* list) {
  if (!list) return;
  const int rows = std::min({ComPortCount, static_cast<int>(ComPortDescriptions.size()),
                             list->count()});
  for (int i = 0; i < rows; ++i) {
    if (BeginsWithUsb(ComPortDescriptions[i])) {
      list->setCurrentRow(i);
      return;
    }
  }
  list->clearSelection();
  list->setCurrentRow(-1);
}
