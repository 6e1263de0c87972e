// The tool's texts: the string table kept as a resource, looked up by number,
// the version record, and the window font chosen by the table's language.
#pragma once

#include <QFont>
#include <QString>
#include <string>

// String table ids.
enum TTextId : int {
  IDS_LANGUAGE = 20000,
  IDS_TITLE = 20001,
  IDS_SELECT_COM_PORT = 20101,
  IDS_OPEN_COM_PORT = 20102,
  IDS_CLOSE_COM_PORT = 20103,
  IDS_OPEN_FAILED = 20104,
  IDS_RESPONSE_TIMEOUT = 20105,
  IDS_SELECT_AND_OPEN = 20106,
  IDS_WRITE_SUCCESSFUL = 20107,
  IDS_EXIT_QUESTION = 20108,
  IDS_NOTE = 20109,
  IDS_ERROR = 20110,
  IDS_WRITE = 30101,
  IDS_EXIT = 30102,
  // Second line of the open-failure box: why the system refused the port.
  IDS_OPEN_DENIED_GROUP = 20201,
  IDS_OPEN_DENIED = 20202,
  IDS_OPEN_BUSY = 20203,
};

// One entry of the string table; a missing entry yields the empty text.
QString LoadText(int id);

// The open-failure box text: text 20104, and where the system's error code
// says why, a second line. Permission refused (EACCES, EPERM) names the group
// owning 'devicePath' and says to join it; a device held by another program
// (EBUSY) says so. Other codes add nothing.
QString OpenFailureText(int errorCode, const std::string& devicePath);

// The version record.
QString FileVersion();
QString FileDescription();

// The window font for the language named by 'language' (text 20000).
QFont FontForLanguage(const QString& language, const QFont& designFont);

// Makes the tool's resources (string table, picture, icon) available; the
// resources live in a static library, so they are registered explicitly.
void InitAppResources();
