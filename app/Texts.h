// The tool's texts: the string table kept as a resource, looked up by number,
// the version record, and the window font chosen by the table's language.
#pragma once

#include <QFont>
#include <QString>
#include <string>

#include "platform/OpenFailure.h"

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
  // Lines under text 20104 in the open-failure box: why the port did not open.
  IDS_OPEN_DENIED = 20202,
  IDS_OPEN_BUSY = 20203,
  IDS_OPEN_DENIED_JOIN = 20204,
  IDS_OPEN_DENIED_RELOGIN = 20205,
  IDS_OPEN_DENIED_MODE = 20206,
  IDS_OPEN_BUSY_BY = 20207,
  IDS_OPEN_HOLDER = 20208,
  IDS_OPEN_BUSY_HIDDEN = 20209,
  IDS_OPEN_MODEM_MANAGER_IDS = 20210,
  IDS_OPEN_MODEM_MANAGER = 20211,
  IDS_OPEN_GONE = 20212,
  IDS_OPEN_MAYBE_MODEM_MANAGER = 20213,
};

// One entry of the string table; a missing entry yields the empty text.
QString LoadText(int id);

// The open-failure box text: text 20104, then the cause in the user's terms.
// Permission refused names the port's group and what is left to do: the
// command that adds the user, or logging out and in again when the user
// joined the group after this session began. A port in use names the
// programs holding it, or says that a program of another user does (naming
// the modem manager when it runs so); the modem manager as holder, seen or
// possible, adds how to keep it off the adapter. A listed port
// that is gone says it was unplugged. Any other failure adds the system's
// text; no failure (code 0) adds nothing.
QString OpenFailureText(const platform::OpenFailure& cause);

// The version record.
QString FileVersion();
QString FileDescription();

// The window font for the language named by 'language' (text 20000).
QFont FontForLanguage(const QString& language, const QFont& designFont);

// Makes the tool's resources (string table, picture, icon) available; the
// resources live in a static library, so they are registered explicitly.
void InitAppResources();
