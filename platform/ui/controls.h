#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com/window_message.h"
#include "platform/ui/component.h"

// Visible controls over Qt widgets. The headers stay free of Qt: each control
// keeps its widget behind a pointer to implementation.

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

struct TRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

class TWinControl;
class TForm;

// Any control with a place in its parent's client area. Positions and sizes are
// client pixels at the design text height of 13 pixels; a form whose font renders
// at another height scales them when it is created.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);

  TRect BoundsRect() const;
  void SetBounds(int left, int top, int width, int height);
  int Left() const { return BoundsRect().Left; }
  int Top() const { return BoundsRect().Top; }
  int Width() const { return BoundsRect().Width; }
  int Height() const { return BoundsRect().Height; }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  bool Visible() const;
  void SetVisible(bool visible);
  bool Enabled() const;

  // Left, Top, Width, Height, Align, Visible, Enabled, TabOrder, Caption, Color, Font…
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;

 protected:
  // The widget (a QWidget*) as a number; 0 until the control has one.
  virtual std::intptr_t WidgetHandle() const = 0;

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;  // the stored wish; the widget shows only once its window does
};

// A control with a window of its own (a widget). Owns its widget. Like a window
// destroys its child windows, it destroys the controls whose parent it is (last
// parented first) before its widget goes.
class TWinControl : public TControl {
 public:
  ~TWinControl() override;

  // The widget as a window handle (a QWidget* as a number).
  OAHWND Handle() const;
  int TabOrder() const { return tab_order_; }
  void SetTabOrder(int order);
  bool TabStop() const;
  // The window style and extended style the control would have as a native
  // window (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, WS_TABSTOP where it takes focus).
  std::int32_t WindowStyle() const;
  std::int32_t WindowStyleEx() const;
  // Client area size.
  int ClientWidth() const;
  int ClientHeight() const;
  // Controls whose parent this is, in the order they were parented.
  const std::vector<TControl*>& Controls() const { return controls_; }
  bool Focused() const;
  void SetFocus();

  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;

  struct Widget;  // defined in the implementation

 protected:
  enum class Kind { Panel, Button, Memo, Form };
  TWinControl(TComponent* owner, Kind kind);
  std::intptr_t WidgetHandle() const override;
  Widget& widget() const { return *widget_; }

  // Lays out the aligned children after a resize (the log box stays at the bottom).
  void AlignControls();
  // Destroys the child controls, last parented first (the destructor does it too).
  void DestroyControls();
  // Chains the children's keyboard focus in TabOrder (then parenting) order; with
  // `descendants`, in every windowed control below as well.
  void UpdateTabOrder(bool descendants = false);

 private:
  friend class TControl;
  std::unique_ptr<Widget> widget_;
  std::vector<TControl*> controls_;
  int tab_order_ = -1;
};

class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  TNotifyEvent OnClick;
  // Runs OnClick as a click of the user would (errors go to the application).
  void Click();
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;
};

// The lines of a multi-line text box.
class TStrings {
 public:
  virtual ~TStrings() = default;
  virtual int Count() const = 0;
  virtual std::string Get(int index) const = 0;
  // Appends a line at the end; returns its index.
  virtual int Add(const std::string& line) = 0;
  virtual void Clear() = 0;
  std::string operator[](int index) const { return Get(index); }
  std::vector<std::string> ToVector() const;
};

class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* owner);
  ~TMemo() override;
  TStrings& Lines() const { return *lines_; }
  // Lines = ('Memo1' …), ScrollBars, WordWrap, ReadOnly…
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;

 private:
  std::unique_ptr<TStrings> lines_;
};

using TCloseQueryEvent = std::function<void(TObject* sender, bool& can_close)>;

enum class TPosition { poDesigned, poDefault, poScreenCenter };

// A top-level window. Created from its stored layout by ReadComponentResource.
class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  TCloseQueryEvent OnCloseQuery;

  // The frame's top-left on the screen (as stored Left/Top).
  int ScreenLeft() const;
  int ScreenTop() const;
  // The factor positions and sizes were scaled by (1.0 at text height 13 pixels).
  double ScaleFactor() const;
  // The text height of the form's font in pixels.
  int TextHeight() const;

  void Show();
  // Asks to close: runs the close query and closes when it allows (as the user's
  // close button does). Returns whether the window closed.
  bool Close();
  // The session's "may the program end?" question: runs the close query and
  // answers whether the program may end; the window stays.
  bool QueryEndSession();
  bool IsShown() const;

  // Caption, ClientWidth, ClientHeight, Left, Top, Position, Font…, OnCloseQuery…
  void SetProperty(std::string_view name, const LayoutValue& value,
                   const LoadContext& context) override;
  void Loaded() override;

  // Handlers the layout may name, by name (a TNotifyEvent, TCloseQueryEvent …).
  void RegisterHandler(std::string name, std::any handler);
  const std::any* FindHandler(std::string_view name) const;
  // Component fields the loader fills by name as it creates components.
  void BindField(std::string name, TComponent** field);
  // The same for a field of a component class (TButton* GO): the loader fails
  // with ELayoutError when the component of that name is of another class.
  template <class T>
    requires(std::is_base_of_v<TComponent, T> && !std::is_same_v<T, TComponent>)
  void BindField(std::string name, T** field) {
    AddFieldSetter(std::move(name), [field](TComponent* component) {
      T* typed = dynamic_cast<T*>(component);
      if (component && !typed) return false;
      *field = typed;
      return true;
    });
  }

  // Replaces the measured text height of every form's font (0: measure again),
  // so tests can show the scaling on any machine.
  static void SetTextHeightForTesting(int pixels);

 protected:
  // Runs OnCloseQuery; an error in it is reported and the close is refused.
  bool CloseQuery();

 private:
  friend class LayoutLoader;
  // Sets the bound fields of that name; false when one wants another class.
  bool AssignField(const std::string& name, TComponent* component);
  void AddFieldSetter(std::string name, std::function<bool(TComponent*)> setter);
  void ScaleControls(int multiplier, int divisor);

  std::vector<std::pair<std::string, std::any>> handlers_;
  std::vector<std::pair<std::string, TComponent**>> fields_;
  std::vector<std::pair<std::string, std::function<bool(TComponent*)>>> field_setters_;
  int stored_left_ = 0;
  int stored_top_ = 0;
  TPosition position_ = TPosition::poDesigned;
  int design_text_height_ = 13;
  bool scaled_ = true;
  bool show_when_loaded_ = false;
  double scale_factor_ = 1.0;
};

// Reads the stored layout `text` into `form`, which must be freshly made: creates
// the components in file order, applies each property at once, holds back
// properties that name another component until all exist and applies them in the
// order met, then tells the form and then every component that loading is
// complete. Errors name the line and what was expected (ELayoutError); on an
// error the components made so far are destroyed again.
// The layout's top object is the form (its class must be the form's class); every
// nested object is owned by the form, and a control is parented to the nearest
// enclosing control. A property is held back when its value is an identifier
// naming a component of the layout, or when the component says it is a reference
// (IsReferenceProperty); On… properties are handlers and are applied at once.
void ReadComponentResource(TForm& form, std::string_view text);
