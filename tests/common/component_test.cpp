#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/component.h"

using namespace corvane;

namespace {

std::vector<std::string>* destroyedLog = nullptr;

// A component that records its destruction and publishes one property of
// each kind.
class TProbe : public TComponent {
  CV_DECLARE_CLASS_INFO

 public:
  using TComponent::TComponent;
  ~TProbe() override {
    if (destroyedLog != nullptr) destroyedLog->push_back(Name());
  }

  int64_t big = 0;
  double ratio = 0;
  std::string caption;
  bool enabled = false;
  std::vector<std::string> lines;
  TComponent* link = nullptr;
  platform::OleVariant any;
  int32_t counter = 7;
};

class TProbeChild : public TProbe {
  CV_DECLARE_CLASS_INFO

 public:
  using TProbe::TProbe;
  std::string hint;
};

const TClassInfo& TProbe::StaticClassInfo() {
  static const TClassInfo info{
      "TProbe",
      &TComponent::StaticClassInfo(),
      {
          {"Big", TPropertyKind::Int64, FieldGetter(&TProbe::big), FieldSetter(&TProbe::big), {}},
          {"Ratio", TPropertyKind::Float, FieldGetter(&TProbe::ratio), FieldSetter(&TProbe::ratio), {}},
          {"Caption", TPropertyKind::String, FieldGetter(&TProbe::caption), FieldSetter(&TProbe::caption), {}},
          {"Enabled", TPropertyKind::Enumeration, FieldGetter(&TProbe::enabled), FieldSetter(&TProbe::enabled),
           BooleanIdentifiers()},
          {"Lines", TPropertyKind::StringList, FieldGetter(&TProbe::lines), FieldSetter(&TProbe::lines), {}},
          {"Link", TPropertyKind::Component, FieldGetter(&TProbe::link), FieldSetter(&TProbe::link), {}},
          {"Any", TPropertyKind::Variant, FieldGetter(&TProbe::any), FieldSetter(&TProbe::any), {}},
          {"Counter", TPropertyKind::Integer, FieldGetter(&TProbe::counter), nullptr, {}},
      }};
  return info;
}

const TClassInfo& TProbeChild::StaticClassInfo() {
  static const TClassInfo info{
      "TProbeChild",
      &TProbe::StaticClassInfo(),
      {{"Hint", TPropertyKind::String, FieldGetter(&TProbeChild::hint), FieldSetter(&TProbeChild::hint), {}}}};
  return info;
}

}  // namespace

TEST(Component, OwnedComponentsAreFreedWithTheOwnerInCreationOrder) {
  std::vector<std::string> log;
  destroyedLog = &log;
  {
    auto owner = std::make_unique<TProbe>();
    owner->SetName("Owner");
    for (const char* name : {"First", "Second", "Third"}) TComponent::CreateOwned<TProbe>(*owner).SetName(name);
    auto& second = *owner->FindComponent("second");
    TComponent::CreateOwned<TProbe>(second).SetName("Grandchild");
    EXPECT_EQ(second.NamePath(), "Owner.Second");
    EXPECT_EQ(second.Components(0)->NamePath(), "Owner.Second.Grandchild");

    // A component freed before its owner leaves the owner's list.
    delete owner->FindComponent("THIRD");
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->FindComponent("Third"), nullptr);
    log.clear();
  }
  destroyedLog = nullptr;
  // Each destructor body runs before the components it owns are freed.
  EXPECT_EQ(log, (std::vector<std::string>{"Owner", "First", "Second", "Grandchild"}));
}

TEST(Component, NamesAreUniqueAmongSiblingsButMayRepeatElsewhere) {
  TComponent owner;
  auto& a = TComponent::CreateOwned<TComponent>(owner);
  auto& b = TComponent::CreateOwned<TComponent>(owner);
  a.SetName("Edit");
  EXPECT_THROW(b.SetName("EDIT"), EPropertyError);
  EXPECT_EQ(b.Name(), "");
  b.SetName("");  // the empty name may repeat
  a.SetName("edit");  // renaming to itself in another case is fine
  TComponent::CreateOwned<TComponent>(a).SetName("Edit");  // another owner
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  EXPECT_EQ(owner.FindComponent("Edit"), &a);
}

TEST(Component, ClassInformationWithoutRtti) {
  TProbeChild child;
  const TComponent& asComponent = child;
  EXPECT_EQ(asComponent.ClassName(), "TProbeChild");
  EXPECT_TRUE(child.InheritsFrom(TProbe::StaticClassInfo()));
  EXPECT_TRUE(child.InheritsFrom(TPersistent::StaticClassInfo()));
  TProbe probe;
  EXPECT_FALSE(probe.InheritsFrom(TProbeChild::StaticClassInfo()));

  // Lookup walks up to the ancestors, case-insensitively.
  ASSERT_NE(child.FindProperty("hint"), nullptr);
  ASSERT_NE(child.FindProperty("CAPTION"), nullptr);
  ASSERT_NE(child.FindProperty("tag"), nullptr);
  EXPECT_EQ(probe.FindProperty("Hint"), nullptr);

  std::vector<std::string> names;
  for (const TPropertyInfo* property : child.ClassInfo().AllProperties()) names.push_back(property->Name);
  ASSERT_EQ(names.size(), 11u);
  EXPECT_EQ(names.front(), "Name");
  EXPECT_EQ(names.back(), "Hint");
}

TEST(Component, PropertiesReadAndWriteByKind) {
  TComponent owner;
  auto& probe = TComponent::CreateOwned<TProbeChild>(owner);
  auto& other = TComponent::CreateOwned<TComponent>(owner);

  probe.SetPropertyValue("big", int64_t{1} << 40);
  probe.SetPropertyValue("Ratio", 2.5);
  probe.SetPropertyValue("Caption", std::string("&Open"));
  probe.SetPropertyValue("Hint", std::string("opens"));
  probe.SetPropertyValue("Lines", std::vector<std::string>{"a", "b"});
  probe.SetPropertyValue("Link", static_cast<TComponent*>(&other));
  probe.SetPropertyValue("Any", platform::OleVariant::fromI4(9));
  probe.SetPropertyValue("Name", std::string("Probe"));
  probe.SetPropertyValue("Tag", int32_t{9999});

  EXPECT_EQ(probe.big, int64_t{1} << 40);
  EXPECT_EQ(probe.ratio, 2.5);
  EXPECT_EQ(std::get<std::string>(probe.GetPropertyValue("caption")), "&Open");
  EXPECT_EQ(probe.hint, "opens");
  EXPECT_EQ(std::get<std::vector<std::string>>(probe.GetPropertyValue("Lines")).size(), 2u);
  EXPECT_EQ(std::get<TComponent*>(probe.GetPropertyValue("Link")), &other);
  EXPECT_EQ(std::get<platform::OleVariant>(probe.GetPropertyValue("Any")).raw().lVal, 9);
  EXPECT_EQ(owner.FindComponent("probe"), &probe);
  EXPECT_EQ(probe.Tag(), 9999);

  // Booleans are enumerations with the identifiers False and True.
  const TPropertyInfo& enabled = *probe.FindProperty("Enabled");
  probe.SetPropertyValue("Enabled", enabled.OrdinalOf("true"));
  EXPECT_TRUE(probe.enabled);
  EXPECT_EQ(enabled.IdentifierOf(std::get<int32_t>(probe.GetPropertyValue("Enabled"))), "True");
  EXPECT_EQ(enabled.OrdinalOf("Yes"), -1);
  EXPECT_EQ(enabled.IdentifierOf(2), "");

  EXPECT_THROW(probe.SetPropertyValue("Counter", int32_t{1}), EPropertyError) << "read-only";
  EXPECT_EQ(probe.counter, 7);
  EXPECT_THROW(probe.SetPropertyValue("Caption", int32_t{1}), EPropertyError) << "wrong alternative";
  EXPECT_THROW(probe.SetPropertyValue("Ratio", std::monostate{}), EPropertyError);
  EXPECT_THROW(probe.GetPropertyValue("Missing"), EPropertyError);
}
