#include "app/Texts.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <mutex>

#include "platform/DeviceOwner.h"

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

QString OpenFailureText(int errorCode, const std::string& devicePath) {
  QString text = LoadText(IDS_OPEN_FAILED);
  QString reason;
  if (errorCode == EACCES || errorCode == EPERM) {
    const std::string group = platform::DeviceGroupName(devicePath);
    reason = group.empty() ? LoadText(IDS_OPEN_DENIED)
                           : LoadText(IDS_OPEN_DENIED_GROUP).arg(QString::fromLocal8Bit(group.c_str()));
  } else if (errorCode == EBUSY) {
    reason = LoadText(IDS_OPEN_BUSY);
  }
  if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
  return text;
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
