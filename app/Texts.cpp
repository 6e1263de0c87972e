#include "app/Texts.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void RegisterAppQrc() { Q_INIT_RESOURCE(app); }

void InitAppResources() {
  static std::once_flag once;
  std::call_once(once, RegisterAppQrc);
}

namespace {

QJsonObject ReadJsonResource(const QString& path) {
  InitAppResources();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

// The string table, read once: id -> text.
const QHash<int, QString>& StringTable() {
  static const QHash<int, QString> table = [] {
    QHash<int, QString> t;
    const QJsonObject entries = ReadJsonResource(QStringLiteral(":/app/strings.json"));
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      bool ok = false;
      const int id = it.key().toInt(&ok);
      if (ok && it.value().isString()) t.insert(id, it.value().toString());
    }
    return t;
  }();
  return table;
}

const QJsonObject& VersionRecord() {
  static const QJsonObject record = ReadJsonResource(QStringLiteral(":/app/version.json"));
  return record;
}

}  // namespace

QString LoadText(int id) { return StringTable().value(id); }

namespace {

QString Local(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }

QString PermissionLine(const platform::OpenFailure& cause) {
  if (cause.group.empty()) return LoadText(IDS_OPEN_DENIED);
  const int id = !cause.userInGroup       ? IDS_OPEN_DENIED_JOIN
                 : !cause.sessionHasGroup ? IDS_OPEN_DENIED_RELOGIN
                                          : IDS_OPEN_DENIED_MODE;
  return LoadText(id).arg(Local(cause.group), Local(cause.user));
}

QStringList InUseLines(const platform::OpenFailure& cause) {
  const auto& seen = cause.holders.seen;
  QStringList lines;
  if (!seen.empty()) {
    QStringList holders;
    for (const platform::DeviceHolder& holder : seen)
      holders << LoadText(IDS_OPEN_HOLDER).arg(Local(holder.program)).arg(holder.pid);
    lines << LoadText(IDS_OPEN_BUSY_BY).arg(holders.join(QStringLiteral(", ")));
  } else {
    lines << LoadText(cause.holders.unseen.empty() ? IDS_OPEN_BUSY : IDS_OPEN_BUSY_HIDDEN);
    if (cause.modemManager) lines << LoadText(IDS_OPEN_MAYBE_MODEM_MANAGER).arg(cause.modemManager->pid);
  }
  if (cause.modemManager)
    lines << (cause.adapter ? LoadText(IDS_OPEN_MODEM_MANAGER_IDS)
                                  .arg(Local(cause.adapter->vendor), Local(cause.adapter->product))
                            : LoadText(IDS_OPEN_MODEM_MANAGER));
  return lines;
}

QStringList CauseLines(const platform::OpenFailure& cause) {
  switch (cause.kind) {
    case platform::OpenFailureKind::None:
      return {};
    case platform::OpenFailureKind::PermissionDenied:
      return {PermissionLine(cause)};
    case platform::OpenFailureKind::InUse:
      return InUseLines(cause);
    case platform::OpenFailureKind::Gone:
      return {LoadText(IDS_OPEN_GONE)};
    case platform::OpenFailureKind::Other:
      break;
  }
  return {Local(cause.systemText)};
}

}  // namespace

QString OpenFailureText(const platform::OpenFailure& cause) {
  return (QStringList{LoadText(IDS_OPEN_FAILED)} + CauseLines(cause)).join(QLatin1Char('\n'));
}

QString FileVersion() { return VersionRecord().value(QStringLiteral("FileVersion")).toString(); }

QString FileDescription() { return VersionRecord().value(QStringLiteral("FileDescription")).toString(); }

// A font has no character set on Qt: text is Unicode and Qt falls back per
// character to any installed font that has the glyph. What the language
// still decides is the size (10 points for the two CJK languages, as their
// glyphs need it) and which CJK face is preferred when several are
// installed, so Japanese text takes Japanese glyph forms and Traditional
// Chinese text takes Traditional ones (the same code point can differ
// between them). The design family stays last as the Latin fallback.
// Every other language keeps the design font unchanged.
QFont FontForLanguage(const QString& language, const QFont& designFont) {
  QStringList cjkFamilies;
  if (language.contains(QLatin1String("Japanese"), Qt::CaseSensitive)) {
    cjkFamilies = {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic")};
  } else if (language.contains(QLatin1String("Traditional Chinese"), Qt::CaseSensitive)) {
    cjkFamilies = {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("AR PL UMing TW"),
                   QStringLiteral("WenQuanYi Zen Hei")};
  } else {
    return designFont;
  }
  QStringList families = designFont.families();
  if (families.isEmpty()) families.append(designFont.family());
  QFont font = designFont;
  font.setFamilies(cjkFamilies + families);
  font.setPointSize(10);
  return font;
}
