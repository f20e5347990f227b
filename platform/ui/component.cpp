#include "platform/ui/component.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/ui/names.h"
#include "platform/ui/qt_controls.h"

namespace {

using ui_names::NameLess;
using ui_names::SameName;

struct ClassRegistry {
  // The standard controls are there from the start, so a later registration may
  // replace them; naming them here also keeps the linker from dropping them.
  ClassRegistry() {
    for (auto& [name, factory] : StandardControlClasses()) factories.emplace(name, std::move(factory));
  }
  std::mutex mutex;
  std::map<std::string, ComponentFactory, NameLess> factories;
};

// Filled by static initialisers of other files too, so it is made on first use.
ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

[[noreturn]] void ThrowWrongKind(const LayoutValue& value, std::string_view property,
                                 LayoutValue::Kind wanted) {
  throw ELayoutError("expected " + std::string(LayoutValue::KindName(wanted)) + " for " +
                     std::string(property) + ", got " + LayoutValue::KindName(value.kind));
}

const LayoutValue& Expect(const LayoutValue& value, std::string_view property, LayoutValue::Kind kind) {
  if (value.kind != kind) ThrowWrongKind(value, property, kind);
  return value;
}

}  // namespace

const char* LayoutValue::KindName(Kind kind) {
  switch (kind) {
    case Kind::Integer: return "an integer";
    case Kind::String: return "a string";
    case Kind::Identifier: return "an identifier";
    case Kind::Boolean: return "True or False";
    case Kind::List: return "a list";
    case Kind::Binary: return "binary data";
  }
  return "a value";
}

std::int64_t LayoutInteger(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::Integer).integer;
}

bool LayoutBoolean(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::Boolean).boolean;
}

const std::string& LayoutString(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::String).text;
}

const std::string& LayoutIdentifier(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::Identifier).text;
}

const std::vector<LayoutValue>& LayoutList(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::List).items;
}

const std::vector<std::uint8_t>& LayoutBinary(const LayoutValue& value, std::string_view property) {
  return Expect(value, property, LayoutValue::Kind::Binary).bytes;
}

void LoadContext::ThrowMissingHandler(const LayoutValue& value) {
  if (value.kind != LayoutValue::Kind::Identifier)
    throw ELayoutError(std::string("expected a handler name, got ") + LayoutValue::KindName(value.kind));
  throw ELayoutError("the form has no handler '" + value.text + "' of the event's type");
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->Insert(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  DestroyComponents();
  if (owner_) owner_->Remove(this);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : components_)
    if (SameName(component->name_, name)) return component;
  return nullptr;
}

void TComponent::SetProperty(std::string_view name, const LayoutValue&, const LoadContext&) {
  throw EUnknownProperty(std::string(name));
}

bool TComponent::IsReferenceProperty(std::string_view) const { return false; }

void TComponent::MarkComponentsDestroying() {
  destroying_ = true;
  for (TComponent* component : components_) component->MarkComponentsDestroying();
}

void TComponent::DestroyComponents() {
  // Every component learns first that its owner is going, as a group leaves together.
  for (TComponent* component : components_) component->MarkComponentsDestroying();
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

void TComponent::Insert(TComponent* component) { components_.push_back(component); }

void TComponent::Remove(TComponent* component) {
  auto found = std::find(components_.begin(), components_.end(), component);
  if (found != components_.end()) components_.erase(found);
}

void RegisterComponentClass(std::string class_name, ComponentFactory factory) {
  ClassRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.factories.insert_or_assign(std::move(class_name), std::move(factory));
}

TComponent* CreateComponent(std::string_view class_name, TComponent* owner) {
  ComponentFactory factory;
  {
    ClassRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.factories.find(class_name);
    if (found == registry.factories.end()) return nullptr;
    factory = found->second;
  }
  return factory(owner);
}
