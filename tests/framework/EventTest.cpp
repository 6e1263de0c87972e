// Handler identity: "same code" compares the method, == also the object.
#include <gtest/gtest.h>

#include "framework/Event.h"

namespace {

struct Receiver : QObject {
  int a = 0, b = 0;
  void First(TObject*) { ++a; }
  void Second(TObject*) { ++b; }
  virtual void Virt(TObject*) { ++a; }
};
struct Other : QObject {
  virtual void Virt(TObject*) {}
};

TEST(EventTest, CodeAndObjectIdentity) {
  Receiver r1, r2;
  TNotifyEvent e1(&r1, &Receiver::First), e1b(&r2, &Receiver::First), e2(&r1, &Receiver::Second);
  EXPECT_TRUE(e1.SameCode(e1b));
  EXPECT_FALSE(e1 == e1b);
  EXPECT_FALSE(e1.SameCode(e2));
  EXPECT_TRUE(e1 == TNotifyEvent(&r1, &Receiver::First));
  // Virtual methods of unrelated classes in the same vtable slot differ.
  Other o;
  EXPECT_FALSE(TNotifyEvent(&r1, &Receiver::Virt).SameCode(TNotifyEvent(&o, &Other::Virt)));
  e1(nullptr);
  e1b(nullptr);
  EXPECT_EQ(r1.a, 1);
  EXPECT_EQ(r2.a, 1);
}

TEST(EventTest, UnassignedAndFunctionObjects) {
  TNotifyEvent none;
  EXPECT_FALSE(none.Assigned());
  none(nullptr);  // never called, never crashes
  EXPECT_TRUE(none == TNotifyEvent(nullptr));
  int calls = 0;
  auto f = TNotifyEvent::Bind([&](TObject*) { ++calls; });
  auto copy = f;
  copy(nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(f.SameCode(copy));
  EXPECT_FALSE(f.SameCode(TNotifyEvent::Bind([&](TObject*) { ++calls; })));
}

}  // namespace
