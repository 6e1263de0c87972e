#include "framework/StoredDescription.h"

#include <QHash>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QStringList>
#include <exception>
#include <mutex>
#include <optional>

#include "framework/MethodTable.h"
#include "framework/Persistent.h"

EReadError::EReadError(int line, const std::string& message)
    : Exception("Line " + std::to_string(line) + ": " + message), Line(line) {}

namespace {

// A fault in one value or line; the caller adds where it happened.
struct Problem {
  std::string message;
};

[[noreturn]] void Fail(const QString& message) { throw Problem{message.toStdString()}; }

// ---------------------------------------------------------------- classes

struct ComponentClass {
  const QMetaObject* meta = nullptr;
  TComponentConstructor construct = nullptr;
};

std::mutex& ClassLock() {
  static std::mutex lock;
  return lock;
}

QHash<QString, ComponentClass>& Classes() {
  static QHash<QString, ComponentClass> classes;
  return classes;
}

std::optional<ComponentClass> FindClass(const QString& name) {
  std::lock_guard guard(ClassLock());
  const auto it = Classes().constFind(name);
  if (it == Classes().constEnd()) return std::nullopt;
  return *it;
}

bool IsOfClass(const QObject& object, const QString& className) {
  for (const QMetaObject* meta = object.metaObject(); meta != nullptr; meta = meta->superClass())
    if (QLatin1String(meta->className()) == className) return true;
  return false;
}

// ---------------------------------------------------------------- values

bool IsIdentifierStart(QChar c) { return c.isLetter() || c == u'_'; }
bool IsIdentifierChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

bool IsIdentifier(const QString& text) {
  if (text.isEmpty() || !IsIdentifierStart(text.front())) return false;
  for (QChar c : text)
    if (!IsIdentifierChar(c)) return false;
  return true;
}

// A class name, possibly qualified by namespaces (ns::TClass).
bool IsClassName(const QString& text) {
  const QStringList parts = text.split(QStringLiteral("::"));
  for (const QString& part : parts)
    if (!IsIdentifier(part)) return false;
  return true;
}

struct Token {
  enum Kind { String, Integer, Identifier, Set } kind = Identifier;
  QString text;         // the string's value, the integer's digits or the identifier
  QStringList members;  // of a set
};

class ValueScanner {
 public:
  explicit ValueScanner(QStringView text) : text_(text) {}

  Token Scan() {
    SkipBlanks();
    if (AtEnd()) Fail(QStringLiteral("a value is missing"));
    Token token;
    const QChar c = text_[pos_];
    if (c == u'\'' || c == u'#') {
      token.kind = Token::String;
      token.text = ScanString();
    } else if (c.isDigit() || c == u'-' || c == u'+') {
      token.kind = Token::Integer;
      token.text = ScanInteger();
    } else if (IsIdentifierStart(c)) {
      token.kind = Token::Identifier;
      token.text = ScanIdentifier();
    } else if (c == u'[') {
      token.kind = Token::Set;
      token.members = ScanSet();
    } else {
      Fail(QStringLiteral("unexpected '%1'").arg(c));
    }
    SkipBlanks();
    if (!AtEnd()) Fail(QStringLiteral("unexpected text after the value: %1").arg(text_.mid(pos_)));
    return token;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && text_[pos_].isSpace()) ++pos_;
  }

  QString ScanString() {
    QString value;
    while (!AtEnd() && (text_[pos_] == u'\'' || text_[pos_] == u'#')) {
      if (text_[pos_] == u'#') {
        ++pos_;
        const qsizetype start = pos_;
        while (!AtEnd() && text_[pos_].isDigit() && pos_ - start < 8) ++pos_;
        bool ok = false;
        const uint code = text_.mid(start, pos_ - start).toUInt(&ok);
        if (!ok || code > 0x10FFFF || QChar::isSurrogate(code)) Fail(QStringLiteral("bad character code after #"));
        const char32_t ucs4 = code;
        value += QString::fromUcs4(&ucs4, 1);
        continue;
      }
      ++pos_;  // opening quote
      for (;;) {
        if (AtEnd()) Fail(QStringLiteral("unterminated string"));
        if (text_[pos_] == u'\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\'') {
            value += u'\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        value += text_[pos_++];
      }
    }
    return value;
  }

  QString ScanInteger() {
    const qsizetype start = pos_;
    if (text_[pos_] == u'-' || text_[pos_] == u'+') ++pos_;
    const qsizetype digits = pos_;
    while (!AtEnd() && text_[pos_].isDigit()) ++pos_;
    if (pos_ == digits) Fail(QStringLiteral("bad number"));
    return text_.mid(start, pos_ - start).toString();
  }

  QString ScanIdentifier() {
    const qsizetype start = pos_;
    while (!AtEnd() && IsIdentifierChar(text_[pos_])) ++pos_;
    return text_.mid(start, pos_ - start).toString();
  }

  QStringList ScanSet() {
    QStringList members;
    ++pos_;  // [
    SkipBlanks();
    if (!AtEnd() && text_[pos_] == u']') {
      ++pos_;
      return members;
    }
    for (;;) {
      SkipBlanks();
      if (AtEnd() || !IsIdentifierStart(text_[pos_])) Fail(QStringLiteral("a set member is missing"));
      members.append(ScanIdentifier());
      SkipBlanks();
      if (AtEnd()) Fail(QStringLiteral("unterminated set"));
      if (text_[pos_] == u']') {
        ++pos_;
        return members;
      }
      if (text_[pos_] != u',') Fail(QStringLiteral("expected ',' or ']' in a set"));
      ++pos_;
    }
  }

  QStringView text_;
  qsizetype pos_ = 0;
};

enum class Kind { Boolean, Integer, String, Enumeration, Set, Group, Reference, Other };

bool IsUnsigned(QMetaType type) {
  switch (type.id()) {
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
      return true;
    default:
      return false;
  }
}

Kind KindOf(const QMetaProperty& property) {
  if (property.isFlagType()) return Kind::Set;
  if (property.isEnumType()) return Kind::Enumeration;
  if (IsPersistentProperty(property)) return Kind::Group;
  const QMetaType type = property.metaType();
  if (type.flags().testFlag(QMetaType::PointerToQObject)) return Kind::Reference;
  switch (type.id()) {
    case QMetaType::Bool:
      return Kind::Boolean;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
      return Kind::Integer;
    case QMetaType::QString:
      return Kind::String;
    default:
      return Kind::Other;
  }
}

// Control characters and line separators go outside the quotes as #code,
// so a written value always stays on its line.
bool NeedsCode(char32_t c) {
  const auto category = QChar::category(c);
  return category == QChar::Other_Control || category == QChar::Separator_Line ||
         category == QChar::Separator_Paragraph;
}

QString Quote(const QString& value) {
  QString out;
  bool inQuotes = false;
  for (char32_t c : value.toUcs4()) {
    if (NeedsCode(c)) {
      if (inQuotes) out += u'\'';
      inQuotes = false;
      out += u'#' + QString::number(static_cast<uint>(c));
      continue;
    }
    if (!inQuotes) out += u'\'';
    inQuotes = true;
    if (c == U'\'') out += u'\'';
    out += QString::fromUcs4(&c, 1);
  }
  if (inQuotes) out += u'\'';
  return out.isEmpty() ? QStringLiteral("''") : out;
}

QString EnumName(const QMetaProperty& property) { return QString::fromLatin1(property.enumerator().name()); }

// The text of a value of a Boolean, integer, string, enumeration or set
// property.
QString Format(const QMetaProperty& property, const QVariant& value) {
  switch (KindOf(property)) {
    case Kind::Boolean:
      return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Integer:
      return IsUnsigned(property.metaType()) ? QString::number(value.toULongLong())
                                             : QString::number(value.toLongLong());
    case Kind::String:
      return Quote(value.toString());
    case Kind::Enumeration: {
      const char* key = property.enumerator().valueToKey(static_cast<int>(value.toLongLong()));
      if (key == nullptr) Fail(QStringLiteral("%1 is no member of %2").arg(value.toLongLong()).arg(EnumName(property)));
      return QString::fromLatin1(key);
    }
    case Kind::Set: {
      const QMetaEnum enumerator = property.enumerator();
      const quint64 bits = static_cast<quint64>(value.toLongLong()) & 0xFFFFFFFFu;
      quint64 named = 0;
      QStringList members;
      for (int i = 0; i < enumerator.keyCount(); ++i) {
        const auto member = static_cast<quint64>(static_cast<uint>(enumerator.value(i)));
        const bool singleBit = member != 0 && (member & (member - 1)) == 0;
        if (singleBit && (bits & member) == member && (named & member) == 0) {
          members.append(QString::fromLatin1(enumerator.key(i)));
          named |= member;
        }
      }
      if (named != bits) Fail(QStringLiteral("the set holds bits that no member of %1 names").arg(EnumName(property)));
      return u'[' + members.join(QStringLiteral(", ")) + u']';
    }
    default:
      Fail(QStringLiteral("the type %1 cannot be stored").arg(QLatin1String(property.metaType().name())));
  }
}

using ReferenceFinder = std::function<QObject*(const QString& name)>;

QVariant ConvertInteger(const Token& token, const QMetaProperty& property) {
  if (token.kind != Token::Integer) Fail(QStringLiteral("%1 expects an integer").arg(property.name()));
  bool ok = false;
  QVariant value;
  if (token.text.startsWith(u'-')) {
    const qlonglong number = token.text.toLongLong(&ok);
    value = number;
    if (ok) {
      QVariant converted = value;
      ok = converted.convert(property.metaType()) && !IsUnsigned(property.metaType()) &&
           converted.toLongLong() == number;
      value = converted;
    }
  } else {
    const qulonglong number = token.text.toULongLong(&ok);
    value = number;
    if (ok) {
      QVariant converted = value;
      ok = converted.convert(property.metaType()) && converted.toULongLong() == number &&
           (IsUnsigned(property.metaType()) || converted.toLongLong() >= 0);
      value = converted;
    }
  }
  if (!ok) Fail(QStringLiteral("%1 is out of range for %2").arg(token.text, property.name()));
  return value;
}

int EnumMember(const QMetaProperty& property, const QString& key) {
  bool ok = false;
  const int value = property.enumerator().keyToValue(key.toLatin1().constData(), &ok);
  if (!ok) Fail(QStringLiteral("%1 is not a member of %2").arg(key, EnumName(property)));
  return value;
}

// The value that 'token' gives 'property'. Handlers bind to 'owner';
// references are looked up with 'findReference'.
QVariant Convert(const Token& token, const QMetaProperty& property, QObject* owner,
                 const ReferenceFinder& findReference) {
  const Kind kind = KindOf(property);
  switch (kind) {
    case Kind::Boolean:
      if (token.kind == Token::Identifier && token.text.compare(u"True", Qt::CaseInsensitive) == 0) return true;
      if (token.kind == Token::Identifier && token.text.compare(u"False", Qt::CaseInsensitive) == 0) return false;
      Fail(QStringLiteral("%1 expects True or False").arg(property.name()));
    case Kind::Integer:
      return ConvertInteger(token, property);
    case Kind::String:
      if (token.kind != Token::String) Fail(QStringLiteral("%1 expects a quoted string").arg(property.name()));
      return token.text;
    case Kind::Enumeration:
      if (token.kind != Token::Identifier)
        Fail(QStringLiteral("%1 expects a member of %2").arg(property.name(), EnumName(property)));
      return EnumMember(property, token.text);
    case Kind::Set: {
      if (token.kind != Token::Set) Fail(QStringLiteral("%1 expects a set such as [a, b]").arg(property.name()));
      int bits = 0;
      for (const QString& member : token.members) bits |= EnumMember(property, member);
      return bits;
    }
    case Kind::Group:
      Fail(QStringLiteral("%1 is a group: set its properties one by one").arg(property.name()));
    case Kind::Reference: {
      if (token.kind != Token::Identifier) Fail(QStringLiteral("%1 expects a component name").arg(property.name()));
      QObject* target = nullptr;
      if (token.text != u"nil") {
        target = findReference ? findReference(token.text) : nullptr;
        if (target == nullptr) Fail(QStringLiteral("no component named %1").arg(token.text));
        const QMetaObject* wanted = property.metaType().metaObject();
        if (wanted != nullptr && !target->metaObject()->inherits(wanted))
          Fail(QStringLiteral("%1 is a %2, not a %3")
                   .arg(token.text, QLatin1String(target->metaObject()->className()),
                        QLatin1String(wanted->className())));
      }
      // A QObject subclass starts with its QObject part, so the pointer
      // value is the same for every class along the chain.
      return QVariant(property.metaType(), &target);
    }
    case Kind::Other:
      break;
  }
  // Anything else takes a handler: a method that the owner's class published.
  if (token.kind != Token::Identifier)
    Fail(QStringLiteral("%1 expects the name of a handler method").arg(property.name()));
  if (token.text == u"nil") return QVariant(property.metaType());
  try {
    return TMethodTable::Bind(owner, token.text, property.metaType());
  } catch (const Exception& e) {
    Fail(QString::fromStdString(e.Message()));
  }
}

// ---------------------------------------------------------------- writer

bool StoredByCondition(const QObject& object, const QMetaProperty& property) {
  const QMetaObject* meta = object.metaObject();
  const int index = meta->indexOfClassInfo(QByteArray("Stored:") + property.name());
  if (index < 0) return true;
  const QByteArray method = meta->classInfo(index).value();
  bool stored = true;
  if (!QMetaObject::invokeMethod(const_cast<QObject*>(&object), method.constData(), Qt::DirectConnection,
                                 Q_RETURN_ARG(bool, stored)))
    Fail(QStringLiteral("the storing condition %1 of %2 is no invokable bool method").arg(method, property.name()));
  return stored;
}

std::optional<QString> DeclaredDefault(const QObject& object, const QMetaProperty& property) {
  const QMetaObject* meta = object.metaObject();
  const int index = meta->indexOfClassInfo(QByteArray("Default:") + property.name());
  if (index < 0) return std::nullopt;
  return QString::fromUtf8(meta->classInfo(index).value());
}

void WriteProperties(QString& out, const QObject& object, const QObject* owner, const QString& prefix,
                     QList<const QObject*>& groups) {
  const QMetaObject* meta = object.metaObject();
  for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (!property.isReadable() || !property.isStored() || !StoredByCondition(object, property)) continue;
    const QString name = prefix + QLatin1String(property.name());
    const QVariant value = property.read(&object);
    const Kind kind = KindOf(property);
    if (kind == Kind::Group) {
      const QObject* group = value.value<QObject*>();
      if (group == nullptr) continue;
      if (groups.contains(group)) Fail(QStringLiteral("the group %1 contains itself").arg(name));
      groups.append(group);
      WriteProperties(out, *group, owner, name + u'.', groups);
      groups.removeLast();
      continue;
    }
    if (!property.isWritable()) continue;
    QString text;
    if (kind == Kind::Reference) {
      const QObject* target = value.value<QObject*>();
      if (target == nullptr) continue;
      text = target->objectName();
      if (!IsIdentifier(text)) Fail(QStringLiteral("%1 refers to an object without a usable name").arg(name));
    } else if (kind == Kind::Other) {
      if (TMethodTable::EventType(property.metaType()) == nullptr)
        Fail(QStringLiteral("the type %1 of %2 cannot be stored (a handler "
                            "type needs RegisterEventType)")
                 .arg(QLatin1String(property.metaType().name()), name));
      text = TMethodTable::NameOf(owner, value);
      if (text.isEmpty()) continue;
    } else {
      text = Format(property, value);
      if (const auto declared = DeclaredDefault(object, property)) {
        try {
          const Token token = ValueScanner(*declared).Scan();
          if (Format(property, Convert(token, property, nullptr, {})) == text) continue;
        } catch (const Problem& p) {
          Fail(QStringLiteral("the declared default of %1 is bad: %2").arg(name, QString::fromStdString(p.message)));
        }
      }
    }
    out += QStringLiteral("  ") + name + QStringLiteral(" = ") + text + u'\n';
  }
}

}  // namespace

void RegisterComponentClass(const QMetaObject& meta, TComponentConstructor construct) {
  std::lock_guard guard(ClassLock());
  Classes().insert(QString::fromLatin1(meta.className()), ComponentClass{&meta, construct});
}

QString WriteComponent(const TComponent& component) {
  const QString name = component.Name();
  const QString className = QString::fromLatin1(component.metaObject()->className());
  try {
    if (!name.isEmpty() && !IsIdentifier(name)) Fail(QStringLiteral("the name is not an identifier"));
    QString out =
        QStringLiteral("object ") + (name.isEmpty() ? className : name + QStringLiteral(": ") + className) + u'\n';
    QList<const QObject*> groups{&component};
    WriteProperties(out, component, component.Owner(), QString(), groups);
    return out + QStringLiteral("end\n");
  } catch (const Problem& p) {
    throw EWriteError("Cannot write " + (name.isEmpty() ? className : name).toStdString() + ": " + p.message);
  }
}

QString WriteComponents(const QObject* owner) {
  QString out;
  for (const TComponent* component : TComponent::Components(owner)) out += WriteComponent(*component);
  return out;
}

// ---------------------------------------------------------------- reader

namespace {

struct SourceAssignment {
  int line = 0;
  QString path;
  QString value;
};

struct SourceBlock {
  int line = 0;
  QString name;
  QString className;
  QList<SourceAssignment> assignments;
};

// Splits a description into blocks; only the layout is checked here.
QList<SourceBlock> ParseBlocks(const QString& text) {
  QList<SourceBlock> blocks;
  SourceBlock* open = nullptr;
  const QStringList lines = text.split(u'\n');
  for (int i = 0; i < lines.size(); ++i) {
    const int number = i + 1;
    const QString line = lines[i].trimmed();
    if (line.isEmpty() || line.startsWith(QStringLiteral("//"))) continue;
    qsizetype wordEnd = 0;
    while (wordEnd < line.size() && !line[wordEnd].isSpace()) ++wordEnd;
    const QString word = line.left(wordEnd);
    if (word == u"object") {
      if (open != nullptr) throw EReadError(number, "'object' inside an object: 'end' is missing");
      SourceBlock block;
      block.line = number;
      const QString header = line.mid(word.size()).trimmed();
      // The name ends at the first single colon; "::" belongs to a class name.
      qsizetype colon = -1;
      for (qsizetype at = header.indexOf(u':'); at >= 0 && colon < 0; at = header.indexOf(u':', at + 2))
        if (at + 1 >= header.size() || header[at + 1] != u':') colon = at;
      block.name = colon < 0 ? QString() : header.left(colon).trimmed();
      block.className = header.mid(colon + 1).trimmed();
      if ((colon >= 0 && !IsIdentifier(block.name)) || !IsClassName(block.className))
        throw EReadError(number, "expected 'object Name: Class'");
      blocks.append(block);
      open = &blocks.last();
    } else if (line == u"end") {
      if (open == nullptr) throw EReadError(number, "'end' without 'object'");
      open = nullptr;
    } else {
      if (open == nullptr) throw EReadError(number, "a property outside an object");
      const qsizetype equals = line.indexOf(u'=');
      if (equals < 0) throw EReadError(number, "expected 'Property = value'");
      const QString path = line.left(equals).trimmed();
      for (const QString& part : path.split(u'.'))
        if (!IsIdentifier(part)) throw EReadError(number, "bad property name '" + path.toStdString() + "'");
      open->assignments.append({number, path, line.mid(equals + 1)});
    }
  }
  if (open != nullptr) throw EReadError(open->line, "'end' is missing");
  return blocks;
}

QObject* FindReference(QObject* owner, const QString& name) {
  if (owner == nullptr) return nullptr;
  for (TComponent* component : TComponent::Components(owner))
    if (component->Name() == name) return component;
  return owner->findChild<QObject*>(name);
}

struct PendingWrite {
  int line = 0;
  QObject* target = nullptr;
  QMetaProperty property;
  QVariant value;
};

// Finds the object and property that 'path' names on 'component' and turns
// the value text into a value for it.
PendingWrite Resolve(TComponent& component, const SourceAssignment& assignment, QObject* owner) {
  QObject* object = &component;
  const QStringList parts = assignment.path.split(u'.');
  QMetaProperty property;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(parts[i].toLatin1().constData());
    if (index < QObject::staticMetaObject.propertyCount())
      Fail(QStringLiteral("%1 has no property %2").arg(QLatin1String(meta->className()), parts[i]));
    property = meta->property(index);
    if (i + 1 == parts.size()) break;
    if (!IsPersistentProperty(property)) Fail(QStringLiteral("%1 is not a group").arg(parts[i]));
    object = property.read(object).value<QObject*>();
    if (object == nullptr) Fail(QStringLiteral("the group %1 is not there").arg(parts[i]));
  }
  if (!property.isWritable() || !property.isStored())
    Fail(QStringLiteral("%1 cannot be set from a description").arg(assignment.path));
  const Token token = ValueScanner(assignment.value).Scan();
  const QVariant value =
      Convert(token, property, owner, [owner](const QString& name) { return FindReference(owner, name); });
  return {assignment.line, object, property, value};
}

// Reads resolved blocks into their components: loading state on, every
// value set, Loaded() on each. On a failure while setting values, the
// components that 'created' lists are destroyed and the others leave the
// loading state without their Loaded() steps.
void Apply(const QList<TComponent*>& components, const QList<PendingWrite>& writes, QList<TComponent*>& created) {
  try {
    for (TComponent* component : components) component->BeginLoading();
    for (const PendingWrite& write : writes)
      if (!write.property.write(write.target, write.value))
        throw EReadError(write.line, std::string("could not set ") + write.property.name());
  } catch (...) {
    for (TComponent* component : components)
      if (!created.contains(component)) component->TComponent::Loaded();
    qDeleteAll(created);
    created.clear();
    throw;
  }
  created.clear();
  // Every component leaves the loading state even when one Loaded() raises;
  // the first error is passed on afterwards.
  std::exception_ptr firstError;
  for (TComponent* component : components) {
    try {
      component->Loaded();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
      if (component->Loading()) component->TComponent::Loaded();
    }
  }
  if (firstError) std::rethrow_exception(firstError);
}

// Resolves every assignment of 'block' for 'component'.
void ResolveBlock(TComponent& component, const SourceBlock& block, QObject* owner, QList<PendingWrite>& writes) {
  for (const SourceAssignment& assignment : block.assignments) {
    try {
      writes.append(Resolve(component, assignment, owner));
    } catch (const Problem& p) {
      throw EReadError(assignment.line, (block.name.isEmpty() ? block.className : block.name).toStdString() + "." +
                                            assignment.path.toStdString() + ": " + p.message);
    }
  }
}

}  // namespace

void ReadComponents(QObject* owner, const QString& text) {
  const QList<SourceBlock> blocks = ParseBlocks(text);
  QList<TComponent*> components;
  QList<TComponent*> created;
  QList<PendingWrite> writes;
  try {
    QStringList names;
    for (const SourceBlock& block : blocks) {
      if (!block.name.isEmpty() && names.contains(block.name))
        throw EReadError(block.line, "a second object named " + block.name.toStdString());
      names.append(block.name);
      TComponent* component = nullptr;
      if (!block.name.isEmpty())
        for (TComponent* existing : TComponent::Components(owner))
          if (existing->Name() == block.name) component = existing;
      if (component != nullptr) {
        if (!IsOfClass(*component, block.className))
          throw EReadError(block.line, block.name.toStdString() + " is a " + component->metaObject()->className() +
                                           ", not a " + block.className.toStdString());
      } else {
        const auto cls = FindClass(block.className);
        if (!cls) throw EReadError(block.line, "unknown component class " + block.className.toStdString());
        component = cls->construct(owner);
        created.append(component);
        component->SetName(block.name);
      }
      components.append(component);
    }
    for (qsizetype i = 0; i < blocks.size(); ++i) ResolveBlock(*components[i], blocks[i], owner, writes);
  } catch (...) {
    qDeleteAll(created);
    throw;
  }
  Apply(components, writes, created);
}

void ReadComponent(TComponent& component, const QString& text) {
  const QList<SourceBlock> blocks = ParseBlocks(text);
  if (blocks.size() != 1) throw EReadError(blocks.isEmpty() ? 1 : blocks[1].line, "expected exactly one object");
  const SourceBlock& block = blocks.front();
  if (!IsOfClass(component, block.className))
    throw EReadError(block.line, std::string("the component is a ") + component.metaObject()->className() + ", not a " +
                                     block.className.toStdString());
  QList<PendingWrite> writes;
  ResolveBlock(component, block, component.Owner(), writes);
  if (!block.name.isEmpty()) component.SetName(block.name);
  QList<TComponent*> created;
  Apply({&component}, writes, created);
}
