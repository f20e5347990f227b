#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/layout_value.h"

// The component model the window is built from: objects, owned components with
// names and stored properties, and the errors handlers raise.

class TObject {
 public:
  virtual ~TObject() = default;
};

// An error with a class name, reported as "ClassName: message".
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const { return "Exception"; }
};

// A component cannot supply a requested interface.
class EIntfCastError : public Exception {
 public:
  EIntfCastError() : Exception("Interface not supported") {}
  const char* ClassName() const override { return "EIntfCastError"; }
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TComponent;

// What a component needs while its stored properties are applied: the handlers
// of the form that is being loaded, and the other components by name.
class LoadContext {
 public:
  virtual ~LoadContext() = default;
  // The form's handler of that name (a TNotifyEvent, TCloseQueryEvent, TOnDSEvent …
  // held in a std::any), or null when the form has none by that name.
  virtual const std::any* Handler(std::string_view name) const = 0;
  virtual TComponent* FindComponent(std::string_view name) const = 0;

  // The handler named by an identifier value, of type T; ELayoutError when the
  // form has no handler of that name and type.
  template <class T>
  T HandlerAs(const LayoutValue& value) const {
    const std::any* found = value.kind == LayoutValue::Kind::Identifier ? Handler(value.text) : nullptr;
    if (const T* handler = found ? std::any_cast<T>(found) : nullptr) return *handler;
    ThrowMissingHandler(value);
  }

 private:
  [[noreturn]] static void ThrowMissingHandler(const LayoutValue& value);
};

// An unknown property or a value of the wrong kind while a layout is applied.
class ELayoutError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "ELayoutError"; }
};

// A property name that the component does not know. The reader turns it into
// "line N: unknown property 'Name' of TClass".
class EUnknownProperty : public ELayoutError {
 public:
  explicit EUnknownProperty(std::string property)
      : ELayoutError("unknown property '" + property + "'"), property_(std::move(property)) {}
  const std::string& Property() const { return property_; }

 private:
  std::string property_;
};

// The value of stored property `property` as one kind; ELayoutError naming the
// property and both kinds when it is of another kind. For SetProperty overrides.
std::int64_t LayoutInteger(const LayoutValue& value, std::string_view property);
bool LayoutBoolean(const LayoutValue& value, std::string_view property);
const std::string& LayoutString(const LayoutValue& value, std::string_view property);
const std::string& LayoutIdentifier(const LayoutValue& value, std::string_view property);
const std::vector<LayoutValue>& LayoutList(const LayoutValue& value, std::string_view property);
const std::vector<std::uint8_t>& LayoutBinary(const LayoutValue& value, std::string_view property);

class TComponent : public TObject {
 public:
  // The owner (may be null) destroys its components in reverse creation order.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TComponent* Owner() const { return owner_; }
  // Owned components in creation order.
  const std::vector<TComponent*>& Components() const { return components_; }
  // An owned component by name (names compare without regard to case), or null.
  TComponent* FindComponent(std::string_view name) const;

  // Applies one stored property. Unknown names or values of the wrong kind throw
  // ELayoutError naming the property. Dotted names reach sub-properties.
  // Overrides handle their own names and pass the rest to their base class; this
  // one throws EUnknownProperty.
  virtual void SetProperty(std::string_view name, const LayoutValue& value,
                           const LoadContext& context);
  // True when `name` is a property whose value names another component; the
  // reader holds such properties back until every component exists.
  virtual bool IsReferenceProperty(std::string_view name) const;

  bool IsLoading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  // The notice that loading is complete.
  virtual void Loaded() { loading_ = false; }
  bool IsDestroying() const { return destroying_; }

 protected:
  // Subclasses call this first in their destructors when they must act while
  // they are still whole (a member leaving its graph).
  void MarkDestroying() { destroying_ = true; }
  // Marks this component and every component it owns as being destroyed, before
  // any of them goes (a form does so before it takes its controls down).
  void MarkComponentsDestroying();
  // Destroys the owned components, last created first. Called by ~TComponent;
  // a subclass whose destructor needs its components gone earlier calls it itself.
  void DestroyComponents();

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool destroying_ = false;
};

// Creates components by class name while a layout is read.
using ComponentFactory = std::function<TComponent*(TComponent* owner)>;
void RegisterComponentClass(std::string class_name, ComponentFactory factory);
// Null when no class of that name is registered.
TComponent* CreateComponent(std::string_view class_name, TComponent* owner);
