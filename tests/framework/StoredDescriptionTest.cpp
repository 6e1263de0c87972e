// Stored descriptions: which properties are written, round trips, nested
// groups, handlers by name, the loading sequence and bad input.
#include <gtest/gtest.h>

#include <memory>

#include "framework/StoredDescription.h"
#include "tests/framework/StoredFixture.h"

PUBLISH_HANDLER(TTestForm, DeviceChange);
PUBLISH_HANDLER(TTestForm, DeviceCount);

namespace {

const bool kRegistered = RegisterComponentClass<TTestDevice>();

TTestDevice* Device(QObject& owner, const QString& name) {
  auto* device = new TTestDevice(&owner);
  device->SetName(name);
  return device;
}

TEST(StoredDescriptionTest, WritesOnlyStoredNonDefaultProperties) {
  TTestForm form;
  TTestDevice* device = Device(form, "Device1");
  // Always written: a Boolean, a string and a set without declared defaults.
  EXPECT_EQ(WriteComponent(*device),
            "object Device1: TTestDevice\n"
            "  Active = False\n"
            "  Title = ''\n"
            "  Modes = []\n"
            "end\n");

  device->Speed = spFast;  // also makes Custom stored
  device->Custom = 7;
  device->Count = -3;
  device->Gauge()->Span = 65535;
  device->Modes = TModes(moEcho) | moLoud;
  device->SetTitle("It's\r\nhere");
  EXPECT_EQ(WriteComponent(*device),
            "object Device1: TTestDevice\n"
            "  Active = False\n"
            "  Title = 'It''s'#13#10'here'\n"
            "  Speed = spFast\n"
            "  Custom = 7\n"
            "  Modes = [moEcho, moLoud]\n"
            "  Count = -3\n"
            "  Gauge.Span = 65535\n"
            "end\n");
}

TEST(StoredDescriptionTest, RoundTripCreatesComponentsAndBindsByName) {
  TTestForm form;
  TTestDevice* first = Device(form, "Device1");
  TTestDevice* second = Device(form, "Device2");
  first->Active = true;
  first->SetTitle(QString::fromUtf8("Gr\u00fc\u00dfe 'x'\t#1"));
  first->Speed = spSlow;
  first->Modes = moTrace;
  first->Gauge()->Limit = 0;
  first->Partner = second;
  first->OnChange = TNotifyEvent(&form, &TTestForm::DeviceChange);
  first->OnCount = TCountEvent(&form, &TTestForm::DeviceCount);
  second->SetTitle("second");
  const QString text = WriteComponents(&form);
  EXPECT_NE(text.indexOf("  Partner = Device2\n"), -1) << text.toStdString();
  EXPECT_NE(text.indexOf("  OnChange = DeviceChange\n"), -1);
  EXPECT_NE(text.indexOf("  Gauge.Limit = 0\n"), -1);

  TTestForm restored;
  ReadComponents(&restored, text);
  EXPECT_EQ(WriteComponents(&restored), text);
  const QList<TComponent*> components = TComponent::Components(&restored);
  ASSERT_EQ(components.size(), 2);
  auto* copy = qobject_cast<TTestDevice*>(components[0]);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Title(), first->Title());
  EXPECT_EQ(copy->Partner, components[1]);
  // A handler bound by name is the in-code binding: same code, same object.
  EXPECT_TRUE(copy->OnChange.SameCode(first->OnChange));
  EXPECT_TRUE(copy->OnChange == TNotifyEvent(&restored, &TTestForm::DeviceChange));
  EXPECT_TRUE(copy->OnCount == TCountEvent(&restored, &TTestForm::DeviceCount));
  int count = 0;
  copy->OnCount(copy, count);
  EXPECT_EQ(count, 1);
}

TEST(StoredDescriptionTest, WritesHandlersOnlyWhenPublishedAndBoundToTheOwner) {
  TTestForm form, stranger;
  TTestDevice* device = Device(form, "Device1");
  const auto handlerLine = [&] { return WriteComponent(*device).contains("OnChange"); };
  device->OnChange = TNotifyEvent(&form, &TTestForm::NotPublished);
  EXPECT_FALSE(handlerLine());
  device->OnChange = TNotifyEvent(&stranger, &TTestForm::DeviceChange);
  EXPECT_FALSE(handlerLine());
  device->OnChange = TNotifyEvent::Bind([](TObject*) {}, &form);
  EXPECT_FALSE(handlerLine());
  device->OnChange = TNotifyEvent(&form, &TTestForm::DeviceChange);
  EXPECT_TRUE(handlerLine());
}

TEST(StoredDescriptionTest, LoadingStateAndLoadedAfterAllComponentsWereRead) {
  TTestForm form;
  TTestDevice* existing = Device(form, "Device2");
  existing->Count = 5;
  ReadComponents(&form,
                 "// a comment\n"
                 "object Device1: TTestDevice\n"
                 "  Title = 'one'\n"
                 "  Partner = Device2\n"
                 "end\n"
                 "object Device2: TTestDevice\n"
                 "  Title = 'two'\n"
                 "  Partner = Device1\n"
                 "end\n");
  const QList<TComponent*> components = TComponent::Components(&form);
  ASSERT_EQ(components.size(), 2);  // Device2 was found, not created again
  auto* created = qobject_cast<TTestDevice*>(components[1]);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Name(), "Device1");
  for (TTestDevice* device : {existing, created}) {
    EXPECT_TRUE(device->titleSetWhileLoading);
    EXPECT_FALSE(device->Loading());
    EXPECT_EQ(device->loadedCalls, 1);
  }
  // Each Loaded() saw the other component already read.
  EXPECT_EQ(created->partnerTitleAtLoaded, "two");
  EXPECT_EQ(existing->partnerTitleAtLoaded, "one");
  EXPECT_EQ(existing->Count, 5);  // properties not in the description stay

  TTestDevice single;
  ReadComponent(single,
                "object Solo: TTestDevice\n  Speed = spSlow\n  Modes = "
                "[moEcho,moTrace]\nend\n");
  EXPECT_EQ(single.Name(), "Solo");
  EXPECT_EQ(single.Speed, spSlow);
  EXPECT_EQ(single.Modes, TModes(moEcho) | moTrace);
  EXPECT_EQ(single.loadedCalls, 1);
}

TEST(StoredDescriptionTest, BadDescriptionsNameTheLineAndChangeNothing) {
  const struct {
    const char* body;  // the lines after "object Device1: TTestDevice" (line 1)
    int line;
    const char* message;
  } cases[] = {
      {"  Colour = 1\nend\n", 2, "has no property Colour"},
      {"  Speed = spWarp\nend\n", 2, "spWarp is not a member of TSpeed"},
      {"  Speed = 1\nend\n", 2, "expects a member of TSpeed"},
      {"  Modes = [moEcho, moQuiet]\nend\n", 2, "moQuiet is not a member"},
      {"  Title = 'open\nend\n", 2, "unterminated string"},
      {"  Title = 'a' 'b' x\nend\n", 2, "unexpected text"},
      {"  Count = 2147483648\nend\n", 2, "out of range"},
      {"  Gauge.Span = -1\nend\n", 2, "out of range"},
      {"  Gauge.Depth = 1\nend\n", 2, "TGauge has no property Depth"},
      {"  Active = yes\nend\n", 2, "True or False"},
      {"  About = 'x'\nend\n", 2, "cannot be set"},
      {"  Title = 'ok'\n  OnChange = Missing\nend\n", 3, "Missing is not a published method of TTestForm"},
      {"  OnChange = DeviceCount\nend\n", 2, "has the type"},
      {"  Partner = Nobody\nend\n", 2, "no component named Nobody"},
      {"  Partner = Form\nend\n", 2, "is a QObject, not a TTestDevice"},
      {"  Title 'x'\nend\n", 2, "expected 'Property = value'"},
      {"  Title = 'x'\n", 1, "'end' is missing"},
      {"end\nobject Device3: TNoSuchClass\nend\n", 3, "unknown component class TNoSuchClass"},
      {"end\nobject Device2: TTestDevice\nend\n", 3, "Device2 is a TComponent, not a TTestDevice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    TTestForm form;
    auto* child = new QObject(&form);
    child->setObjectName("Form");
    auto* plainDevice2 = new TComponent(&form);
    plainDevice2->SetName("Device2");
    const QString text = QString("object Device1: TTestDevice\n") + c.body;
    try {
      ReadComponents(&form, text);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Line, c.line) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Line " + std::to_string(c.line) + ": ", 0), 0u) << e.what();
    }
    // Nothing was created; the existing component left no loading state.
    EXPECT_EQ(TComponent::Components(&form).size(), 1);
    EXPECT_FALSE(plainDevice2->Loading());
  }
}

TEST(StoredDescriptionTest, ValuesThatCannotBeWrittenRaise) {
  TTestForm form;
  TTestDevice* device = Device(form, "Device1");
  device->Speed = static_cast<TSpeed>(9);
  EXPECT_THROW(WriteComponent(*device), EWriteError);
  device->Speed = spDefault;
  device->Modes = TModes::fromInt(0x8);
  EXPECT_THROW(WriteComponent(*device), EWriteError);
  device->Modes = {};
  device->SetName("two words");
  EXPECT_THROW(WriteComponent(*device), EWriteError);
}

TEST(PersistentTest, AssignCopiesValuesWithoutTakingOwnership) {
  auto source = std::make_unique<TGauge>();
  source->Limit = 3;
  source->Span = 9;
  TTestDevice device;
  TGauge* own = device.Gauge();
  own->Assign(*source);
  EXPECT_EQ(own->Limit, 3);
  EXPECT_EQ(own->Span, 9);
  EXPECT_EQ(source->parent(), nullptr);
  source.reset();  // the copy does not depend on the source
  EXPECT_EQ(device.Gauge(), own);
  EXPECT_EQ(own->Limit, 3);
  TOtherGroup other;
  EXPECT_THROW(own->Assign(other), Exception);
}

}  // namespace
