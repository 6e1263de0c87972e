// Components and their owner: a component that goes with its owner knows it
// before it is destroyed, one destroyed on its own does not.
#include <gtest/gtest.h>

#include <QWidget>
#include <memory>

#include "framework/Component.h"

namespace {

// Records, as it is destroyed, whether it was in the destroying state.
class Recorder : public TComponent {
 public:
  Recorder(QObject* owner, bool& destroyingAtEnd) : TComponent(owner), destroyingAtEnd_(destroyingAtEnd) {}
  ~Recorder() override { destroyingAtEnd_ = Destroying(); }

 private:
  bool& destroyingAtEnd_;
};

TEST(ComponentTest, AComponentGoingWithItsOwnerIsDestroyingBeforeItsDestructorRuns) {
  for (const bool widgetOwner : {false, true}) {
    SCOPED_TRACE(widgetOwner ? "widget owner" : "object owner");
    std::unique_ptr<QObject> owner(widgetOwner ? new QWidget : new QObject);
    bool destroyingAtEnd = false;
    auto* component = new Recorder(owner.get(), destroyingAtEnd);
    EXPECT_FALSE(component->Destroying());
    owner.reset();
    EXPECT_TRUE(destroyingAtEnd);
  }

  // Destroyed on its own, with its owner still there.
  QObject owner;
  bool destroyingAtEnd = true;
  delete new Recorder(&owner, destroyingAtEnd);
  EXPECT_FALSE(destroyingAtEnd);
}

}  // namespace
