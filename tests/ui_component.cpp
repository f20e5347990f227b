#include "platform/ui/component.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace {

using ::testing::ElementsAre;

// Records its destruction, and whether its owner's other components still knew
// they were going at that moment.
class TNoted : public TComponent {
 public:
  TNoted(TComponent* owner, std::string name, std::vector<std::string>* log) : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~TNoted() override {
    std::string entry = "~" + Name();
    if (!IsDestroying()) entry += "(not marked)";
    log_->push_back(entry);
  }

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerDestroysItsComponentsLastCreatedFirst) {
  std::vector<std::string> log;
  auto* owner = new TComponent(nullptr);
  new TNoted(owner, "A", &log);
  auto* b = new TNoted(owner, "B", &log);
  new TNoted(b, "B1", &log);
  new TNoted(owner, "C", &log);
  delete owner;
  // B's own component goes with B; every one of them knew it was going before
  // the first one went (none says "not marked").
  EXPECT_THAT(log, ElementsAre("~C", "~B", "~B1", "~A"));
}

TEST(Component, DestroyedComponentLeavesItsOwner) {
  std::vector<std::string> log;
  TNoted owner(nullptr, "Owner", &log);
  auto* a = new TNoted(&owner, "A", &log);
  auto* b = new TNoted(&owner, "B", &log);
  auto* c = new TNoted(&owner, "C", &log);
  delete b;
  EXPECT_THAT(owner.Components(), ElementsAre(a, c));
  EXPECT_EQ(a->Owner(), &owner);
}

TEST(Component, FindComponentMatchesNamesWithoutRegardToCase) {
  std::vector<std::string> log;
  TNoted owner(nullptr, "Owner", &log);
  auto* go = new TNoted(&owner, "GO", &log);
  auto* memo = new TNoted(&owner, "Memo1", &log);
  new TNoted(go, "Inner", &log);  // owned by GO, not by the owner
  EXPECT_EQ(owner.FindComponent("GO"), go);
  EXPECT_EQ(owner.FindComponent("memo1"), memo);
  EXPECT_EQ(owner.FindComponent("Inner"), nullptr);
  EXPECT_EQ(owner.FindComponent("Memo"), nullptr);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(Component, RegistryCreatesStandardAndRegisteredClassesByName) {
  TComponent owner(nullptr);
  TComponent* button = CreateComponent("TButton", &owner);
  TComponent* memo = CreateComponent("tmemo", &owner);
  EXPECT_NE(dynamic_cast<TButton*>(button), nullptr);
  EXPECT_NE(dynamic_cast<TMemo*>(memo), nullptr);
  EXPECT_EQ(button->Owner(), &owner);
  EXPECT_EQ(CreateComponent("TNoSuchClass", &owner), nullptr);

  std::vector<std::string> made;
  RegisterComponentClass("TPlainComponent", [&made](TComponent* component_owner) -> TComponent* {
    made.push_back("first");
    return new TComponent(component_owner);
  });
  RegisterComponentClass("TPlainComponent", [&made](TComponent* component_owner) -> TComponent* {
    made.push_back("second");
    return new TComponent(component_owner);
  });
  TComponent* plain = CreateComponent("TPlainComponent", &owner);
  EXPECT_THAT(made, ElementsAre("second"));  // a later registration replaces the earlier one
  EXPECT_EQ(plain->Owner(), &owner);
  EXPECT_EQ(owner.Components().size(), 3u);
}

TEST(Component, BaseRejectsEveryPropertyAsUnknown) {
  class NoContext final : public LoadContext {
   public:
    const std::any* Handler(std::string_view) const override { return nullptr; }
    TComponent* FindComponent(std::string_view) const override { return nullptr; }
  };
  TComponent component(nullptr);
  LayoutValue value;
  try {
    component.SetProperty("Colr", value, NoContext());
    FAIL() << "no error";
  } catch (const EUnknownProperty& error) {
    EXPECT_EQ(error.Property(), "Colr");
    EXPECT_STREQ(error.ClassName(), "ELayoutError");
  }
  EXPECT_FALSE(component.IsReferenceProperty("FilterGraph"));
}

TEST(LayoutValue, KindNamesReadInMessages) {
  const std::vector<std::pair<LayoutValue::Kind, std::string>> cases = {
      {LayoutValue::Kind::Integer, "an integer"},   {LayoutValue::Kind::String, "a string"},
      {LayoutValue::Kind::Identifier, "an identifier"}, {LayoutValue::Kind::Boolean, "True or False"},
      {LayoutValue::Kind::List, "a list"},          {LayoutValue::Kind::Binary, "binary data"},
  };
  for (const auto& [kind, name] : cases) EXPECT_EQ(LayoutValue::KindName(kind), name);
}

TEST(LayoutValue, CheckedAccessNamesPropertyAndBothKinds) {
  LayoutValue text;
  text.kind = LayoutValue::Kind::String;
  text.text = "75";
  try {
    LayoutInteger(text, "Width");
    FAIL() << "no error";
  } catch (const ELayoutError& error) {
    EXPECT_STREQ(error.what(), "expected an integer for Width, got a string");
  }
  EXPECT_EQ(LayoutString(text, "Caption"), "75");
  EXPECT_THROW(LayoutBoolean(text, "Visible"), ELayoutError);
  EXPECT_THROW(LayoutList(text, "Lines.Strings"), ELayoutError);
  EXPECT_THROW(LayoutBinary(text, "BaseFilter.data"), ELayoutError);
  EXPECT_THROW(LayoutIdentifier(text, "Align"), ELayoutError);
}

TEST(LoadContext, MissingHandlerNamesTheHandler) {
  class Handlers final : public LoadContext {
   public:
    Handlers() { click_ = TNotifyEvent([](TObject*) {}); }
    const std::any* Handler(std::string_view name) const override { return name == "GOClick" ? &click_ : nullptr; }
    TComponent* FindComponent(std::string_view) const override { return nullptr; }

   private:
    std::any click_;
  };
  const Handlers context;
  LayoutValue name;
  name.kind = LayoutValue::Kind::Identifier;
  name.text = "GOClick";
  EXPECT_TRUE(context.HandlerAs<TNotifyEvent>(name));

  const std::vector<std::pair<LayoutValue, std::string>> cases = {
      {LayoutValue{LayoutValue::Kind::Identifier, 0, false, "Nope", {}, {}, 3},
       "the form has no handler 'Nope' of the event's type"},
      {LayoutValue{LayoutValue::Kind::Integer, 5, false, "", {}, {}, 3}, "expected a handler name, got an integer"},
  };
  for (const auto& [value, message] : cases) {
    try {
      context.HandlerAs<TNotifyEvent>(value);
      ADD_FAILURE() << "no error for " << message;
    } catch (const ELayoutError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  // The right name with the wrong type is missing as well.
  try {
    context.HandlerAs<TCloseQueryEvent>(name);
    ADD_FAILURE() << "no error";
  } catch (const ELayoutError& error) {
    EXPECT_STREQ(error.what(), "the form has no handler 'GOClick' of the event's type");
  }
}

}  // namespace
