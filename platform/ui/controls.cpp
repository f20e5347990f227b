#include "platform/ui/controls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <optional>

#include "platform/ui/names.h"
#include "platform/ui/qt_controls.h"

namespace {

using ui_names::SameName;

// The window styles the controls would have as native windows.
constexpr std::int32_t kWsChild = 0x40000000;
constexpr std::int32_t kWsVisible = 0x10000000;
constexpr std::int32_t kWsClipSiblings = 0x04000000;
constexpr std::int32_t kWsClipChildren = 0x02000000;
constexpr std::int32_t kWsTabStop = 0x00010000;
constexpr std::int32_t kWsOverlappedWindow = 0x00CF0000;  // caption, system menu, sizeable, min/max
constexpr std::int32_t kWsExClientEdge = 0x00000200;
constexpr std::int32_t kWsExControlParent = 0x00010000;

QWidget* AsWidget(std::intptr_t handle) { return reinterpret_cast<QWidget*>(handle); }

// Stored colours: the named ones of the component library and 0x00BBGGRR numbers.
QColor ColorFromLayout(const LayoutValue& value, std::string_view property) {
  if (value.kind == LayoutValue::Kind::Integer) {
    if (value.integer < 0 || value.integer > 0xFFFFFF)
      throw ELayoutError("unsupported colour value for " + std::string(property));
    const auto bgr = static_cast<std::uint32_t>(value.integer);
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
  }
  const std::string& name = LayoutIdentifier(value, property);
  const QPalette palette = QApplication::palette();
  struct SystemColor {
    const char* name;
    QPalette::ColorRole role;
  };
  static constexpr std::array<SystemColor, 7> kSystem{{
      {"clBtnFace", QPalette::Button},
      {"clBtnText", QPalette::ButtonText},
      {"clWindow", QPalette::Base},
      {"clWindowText", QPalette::WindowText},
      {"clHighlight", QPalette::Highlight},
      {"clHighlightText", QPalette::HighlightedText},
      {"clInfoBk", QPalette::ToolTipBase},
  }};
  for (const SystemColor& color : kSystem)
    if (SameName(name, color.name)) return palette.color(color.role);
  struct FixedColor {
    const char* name;
    QRgb rgb;
  };
  static constexpr std::array<FixedColor, 16> kFixed{{
      {"clBlack", 0x000000}, {"clMaroon", 0x800000}, {"clGreen", 0x008000}, {"clOlive", 0x808000},
      {"clNavy", 0x000080},  {"clPurple", 0x800080}, {"clTeal", 0x008080},  {"clGray", 0x808080},
      {"clSilver", 0xC0C0C0}, {"clRed", 0xFF0000},   {"clLime", 0x00FF00},  {"clYellow", 0xFFFF00},
      {"clBlue", 0x0000FF},  {"clFuchsia", 0xFF00FF}, {"clAqua", 0x00FFFF}, {"clWhite", 0xFFFFFF},
  }};
  for (const FixedColor& color : kFixed)
    if (SameName(name, color.name)) return QColor::fromRgb(color.rgb);
  throw ELayoutError("unknown colour '" + name + "' for " + std::string(property));
}

void SetBackground(QWidget* widget, const QColor& color, QPalette::ColorRole role) {
  QPalette palette = widget->palette();
  palette.setColor(role, color);
  widget->setPalette(palette);
  if (role == QPalette::Window) widget->setAutoFillBackground(true);
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(role, color);
  widget->setPalette(palette);
}

// Font.<sub> of a control; false when `sub` is no font property.
bool ApplyFontProperty(QWidget* widget, std::string_view sub, const LayoutValue& value,
                       std::string_view property) {
  QFont font = widget->font();
  if (SameName(sub, "Name")) {
    font.setFamily(FontFamilyFor(LayoutString(value, property)));
  } else if (SameName(sub, "Height")) {
    // Negative: the character height in pixels, as stored; positive: the cell height.
    const std::int64_t height = LayoutInteger(value, property);
    if (height == 0 || height < -1000 || height > 1000)
      throw ELayoutError("font height out of range for " + std::string(property));
    font.setPixelSize(int(height < 0 ? -height : height));
  } else if (SameName(sub, "Size")) {
    const std::int64_t points = LayoutInteger(value, property);
    if (points <= 0 || points > 1000) throw ELayoutError("font size out of range for " + std::string(property));
    font.setPointSize(int(points));
  } else if (SameName(sub, "Style")) {
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    for (const LayoutValue& item : LayoutList(value, property)) {
      const std::string& style = LayoutIdentifier(item, property);
      if (SameName(style, "fsBold")) font.setBold(true);
      else if (SameName(style, "fsItalic")) font.setItalic(true);
      else if (SameName(style, "fsUnderline")) font.setUnderline(true);
      else if (SameName(style, "fsStrikeOut")) font.setStrikeOut(true);
      else throw ELayoutError("unknown font style '" + style + "' for " + std::string(property));
    }
  } else if (SameName(sub, "Color")) {
    SetTextColor(widget, ColorFromLayout(value, property));
    return true;
  } else if (SameName(sub, "Charset") || SameName(sub, "Pitch")) {
    // Qt's fonts cover every character set and choose the pitch from the family.
    if (value.kind != LayoutValue::Kind::Identifier && value.kind != LayoutValue::Kind::Integer)
      throw ELayoutError("expected an identifier for " + std::string(property) + ", got " +
                         LayoutValue::KindName(value.kind));
    return true;
  } else {
    return false;
  }
  widget->setFont(font);
  return true;
}

TAlign AlignFromLayout(const LayoutValue& value, std::string_view property) {
  const std::string& name = LayoutIdentifier(value, property);
  static constexpr std::array<std::pair<const char*, TAlign>, 6> kAligns{{
      {"alNone", TAlign::alNone},
      {"alTop", TAlign::alTop},
      {"alBottom", TAlign::alBottom},
      {"alLeft", TAlign::alLeft},
      {"alRight", TAlign::alRight},
      {"alClient", TAlign::alClient},
  }};
  for (const auto& [text, align] : kAligns)
    if (SameName(name, text)) return align;
  throw ELayoutError("unknown alignment '" + name + "' for " + std::string(property));
}

int IntegerProperty(const LayoutValue& value, std::string_view property) {
  const std::int64_t number = LayoutInteger(value, property);
  if (number < -1000000 || number > 1000000)
    throw ELayoutError("value out of range for " + std::string(property));
  return int(number);
}

// A button's caption is plain text: no '&' mnemonic, so the window has no shortcuts.
QString ButtonText(const std::string& caption) {
  return QString::fromStdString(caption).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The lines of a memo: the blocks of its document.
class MemoLines final : public TStrings {
 public:
  explicit MemoLines(QPlainTextEdit* edit) : edit_(edit) {}

  int Count() const override {
    if (!edit_ || edit_->document()->isEmpty()) return 0;
    return edit_->document()->blockCount();
  }
  std::string Get(int index) const override {
    if (index < 0 || index >= Count())
      throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return edit_->document()->findBlockByNumber(index).text().toStdString();
  }
  int Add(const std::string& line) override {
    if (!edit_) return -1;
    // Appends a block after the last one (into the empty first block of an empty box).
    edit_->appendPlainText(QString::fromStdString(line));
    return Count() - 1;
  }
  void Clear() override {
    if (edit_) edit_->clear();
  }

 private:
  QPointer<QPlainTextEdit> edit_;
};

}  // namespace

QString FontFamilyFor(const std::string& requested) {
  const QString family = QString::fromStdString(requested);
  if (QFontDatabase::hasFamily(family)) return family;
  // Both render 8-point "MS Sans Serif" text in its 13-pixel line at 11 pixels.
  for (const char* substitute : {"DejaVu Sans", "Liberation Sans"})
    if (QFontDatabase::hasFamily(QString::fromLatin1(substitute))) return QString::fromLatin1(substitute);
  return family;
}

QFont DefaultFormFont() {
  QFont font(FontFamilyFor("MS Sans Serif"));
  font.setPixelSize(11);
  return font;
}

void FormWindow::closeEvent(QCloseEvent* event) {
  if (on_close) on_close(event);
  else QWidget::closeEvent(event);
}

std::vector<std::pair<std::string, ComponentFactory>> StandardControlClasses() {
  return {
      {"TButton", [](TComponent* owner) -> TComponent* { return new TButton(owner); }},
      {"TMemo", [](TComponent* owner) -> TComponent* { return new TMemo(owner); }},
  };
}

// ---- TStrings --------------------------------------------------------------------

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> lines;
  const int count = Count();
  lines.reserve(std::size_t(count));
  for (int i = 0; i < count; ++i) lines.push_back(Get(i));
  return lines;
}

// ---- TControl --------------------------------------------------------------------

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  // A windowed control has left its parent in its own destructor already.
  if (parent_) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
  }
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  QWidget* widget = AsWidget(WidgetHandle());
  if (TWinControl* old = parent_) {
    old->controls_.erase(std::remove(old->controls_.begin(), old->controls_.end(), this),
                         old->controls_.end());
    parent_ = nullptr;
    old->UpdateTabOrder();
    old->AlignControls();
  }
  parent_ = parent;
  if (parent_) {
    auto* self = dynamic_cast<TWinControl*>(this);
    if (self && (self->tab_order_ < 0 || !IsLoading())) {
      // A new child comes last in its parent's tab order.
      int windowed = 0;
      for (TControl* sibling : parent_->controls_)
        if (dynamic_cast<TWinControl*>(sibling)) ++windowed;
      self->tab_order_ = windowed;
    }
    parent_->controls_.push_back(this);
  }
  if (widget) {
    widget->setParent(parent_ ? AsWidget(parent_->Handle()) : nullptr);
    // Without a parent the widget would be a window of its own: it stays hidden.
    widget->setVisible(parent_ && visible_);
  }
  if (parent_) {
    parent_->UpdateTabOrder();
    if (align_ != TAlign::alNone) parent_->AlignControls();
  }
}

TRect TControl::BoundsRect() const {
  const QWidget* widget = AsWidget(WidgetHandle());
  if (!widget) return {};
  // A window's bounds are its frame on the screen; a child's are its rectangle in the parent.
  const QRect rect = widget->isWindow() ? widget->frameGeometry() : widget->geometry();
  return {rect.x(), rect.y(), rect.width(), rect.height()};
}

void TControl::SetBounds(int left, int top, int width, int height) {
  QWidget* widget = AsWidget(WidgetHandle());
  if (!widget) return;
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (widget->isWindow()) {
    const QSize frame = widget->frameGeometry().size() - widget->size();
    widget->move(left, top);
    widget->resize(std::max(width - frame.width(), 0), std::max(height - frame.height(), 0));
  } else {
    widget->setGeometry(left, top, width, height);
  }
  if (parent_ && align_ != TAlign::alNone) parent_->AlignControls();
}

void TControl::SetAlign(TAlign align) {
  if (align == align_) return;
  align_ = align;
  if (parent_) parent_->AlignControls();
}

bool TControl::Visible() const { return visible_; }

void TControl::SetVisible(bool visible) {
  visible_ = visible;
  if (QWidget* widget = AsWidget(WidgetHandle())) widget->setVisible(visible && (parent_ || widget->isWindow()));
  if (parent_ && align_ != TAlign::alNone) parent_->AlignControls();
}

bool TControl::Enabled() const {
  const QWidget* widget = AsWidget(WidgetHandle());
  return widget && widget->isEnabled();
}

void TControl::SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  QWidget* widget = AsWidget(WidgetHandle());
  if (!widget) return TComponent::SetProperty(name, value, context);
  const TRect bounds = BoundsRect();
  if (SameName(name, "Left")) {
    SetBounds(IntegerProperty(value, name), bounds.Top, bounds.Width, bounds.Height);
  } else if (SameName(name, "Top")) {
    SetBounds(bounds.Left, IntegerProperty(value, name), bounds.Width, bounds.Height);
  } else if (SameName(name, "Width")) {
    SetBounds(bounds.Left, bounds.Top, IntegerProperty(value, name), bounds.Height);
  } else if (SameName(name, "Height")) {
    SetBounds(bounds.Left, bounds.Top, bounds.Width, IntegerProperty(value, name));
  } else if (SameName(name, "Align")) {
    SetAlign(AlignFromLayout(value, name));
  } else if (SameName(name, "Visible")) {
    SetVisible(LayoutBoolean(value, name));
  } else if (SameName(name, "Enabled")) {
    widget->setEnabled(LayoutBoolean(value, name));
  } else if (SameName(name, "Color")) {
    SetBackground(widget, ColorFromLayout(value, name), QPalette::Window);
  } else if (name.size() > 5 && SameName(name.substr(0, 5), "Font.")) {
    if (!ApplyFontProperty(widget, name.substr(5), value, name)) TComponent::SetProperty(name, value, context);
  } else if (SameName(name, "Hint")) {
    widget->setToolTip(QString::fromStdString(LayoutString(value, name)));
  } else if (SameName(name, "Caption")) {
    widget->setAccessibleName(QString::fromStdString(LayoutString(value, name)));
  } else if (SameName(name, "ParentFont") || SameName(name, "ParentColor") || SameName(name, "ShowHint")) {
    // Qt children take their parent's font and colours unless they set their own.
    LayoutBoolean(value, name);
  } else if (SameName(name, "ExplicitLeft") || SameName(name, "ExplicitTop") ||
             SameName(name, "ExplicitWidth") || SameName(name, "ExplicitHeight") ||
             SameName(name, "DesignSize")) {
    // Kept by later designers for their own use; the bounds above are what counts.
  } else {
    TComponent::SetProperty(name, value, context);
  }
}

// ---- TWinControl -----------------------------------------------------------------

TWinControl::Widget::Widget(TWinControl* owner_control, TWinControl::Kind widget_kind)
    : owner(owner_control), kind(widget_kind) {
  switch (kind) {
    case Kind::Panel: {
      q = new QWidget;
      q->setFocusPolicy(Qt::StrongFocus);
      q->setAutoFillBackground(true);
      break;
    }
    case Kind::Button: {
      auto* button = new QPushButton;
      button->setAutoDefault(false);
      button->setDefault(false);
      button->setFocusPolicy(Qt::StrongFocus);
      q = button;
      break;
    }
    case Kind::Memo: {
      auto* edit = new QPlainTextEdit;
      edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      // Tab moves on to the next control, as in every other control of the window.
      edit->setTabChangesFocus(true);
      edit->setFocusPolicy(Qt::StrongFocus);
      q = edit;
      break;
    }
    case Kind::Form: {
      q = new FormWindow;
      break;
    }
  }
  q->installEventFilter(this);
  RegisterMessageTarget(q);
}

TWinControl::Widget::~Widget() {
  UnregisterMessageTarget(q);
  delete q.data();
}

bool TWinControl::Widget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == q && event->type() == QEvent::Resize) owner->AlignControls();
  return false;
}

TWinControl::TWinControl(TComponent* owner, Kind kind)
    : TControl(owner), widget_(std::make_unique<Widget>(this, kind)) {}

TWinControl::~TWinControl() {
  DestroyControls();
  if (TWinControl* parent = parent_) {
    parent->controls_.erase(std::remove(parent->controls_.begin(), parent->controls_.end(), this),
                            parent->controls_.end());
    parent_ = nullptr;
  }
  widget_.reset();
}

void TWinControl::DestroyControls() {
  while (!controls_.empty()) {
    TControl* last = controls_.back();
    controls_.pop_back();
    last->parent_ = nullptr;
    delete last;
  }
}

OAHWND TWinControl::Handle() const { return reinterpret_cast<OAHWND>(widget_->q.data()); }

std::intptr_t TWinControl::WidgetHandle() const { return Handle(); }

void TWinControl::SetTabOrder(int order) {
  if (!parent_ || IsLoading()) {
    // While loading the stored numbers are kept; the form sorts them when loading is complete.
    tab_order_ = order;
    return;
  }
  // Moves this control to `order` in its parent's tab list and renumbers the list.
  std::vector<TWinControl*> list;
  for (TControl* sibling : parent_->controls_)
    if (auto* windowed = dynamic_cast<TWinControl*>(sibling); windowed && windowed != this)
      list.push_back(windowed);
  std::stable_sort(list.begin(), list.end(),
                   [](const TWinControl* a, const TWinControl* b) { return a->tab_order_ < b->tab_order_; });
  const auto position = std::clamp<std::ptrdiff_t>(order, 0, std::ptrdiff_t(list.size()));
  list.insert(list.begin() + position, this);
  for (std::size_t i = 0; i < list.size(); ++i) list[i]->tab_order_ = int(i);
  parent_->UpdateTabOrder();
}

void TWinControl::UpdateTabOrder(bool descendants) {
  std::vector<TWinControl*> list;
  for (TControl* child : controls_)
    if (auto* windowed = dynamic_cast<TWinControl*>(child)) list.push_back(windowed);
  if (descendants)
    for (TWinControl* child : list) child->UpdateTabOrder(true);
  std::stable_sort(list.begin(), list.end(), [](const TWinControl* a, const TWinControl* b) {
    // Unnumbered children follow the numbered ones.
    const auto key = [](const TWinControl* c) { return c->tab_order_ < 0 ? INT32_MAX : c->tab_order_; };
    return key(a) < key(b);
  });
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < list.size(); ++i) {
    list[i]->tab_order_ = int(i);
    QWidget* widget = list[i]->widget_->q;
    if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

bool TWinControl::TabStop() const { return (widget_->q->focusPolicy() & Qt::TabFocus) != 0; }

std::int32_t TWinControl::WindowStyle() const {
  const QWidget* widget = widget_->q;
  if (widget->isWindow()) return kWsOverlappedWindow | kWsClipChildren | (widget->isVisible() ? kWsVisible : 0);
  std::int32_t style = kWsChild | kWsClipSiblings;
  if (Visible()) style |= kWsVisible;
  if (TabStop()) style |= kWsTabStop;
  return style;
}

std::int32_t TWinControl::WindowStyleEx() const {
  switch (widget_->kind) {
    case Kind::Memo: return kWsExClientEdge;
    case Kind::Form: return kWsExControlParent;
    case Kind::Panel:
    case Kind::Button: return 0;
  }
  return 0;
}

int TWinControl::ClientWidth() const { return widget_->q->contentsRect().width(); }

int TWinControl::ClientHeight() const { return widget_->q->contentsRect().height(); }

bool TWinControl::Focused() const { return widget_->q->hasFocus(); }

void TWinControl::SetFocus() { widget_->q->setFocus(Qt::OtherFocusReason); }

void TWinControl::SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  if (SameName(name, "TabOrder")) {
    SetTabOrder(IntegerProperty(value, name));
  } else if (SameName(name, "TabStop")) {
    // Not reached by Tab, but still by a click.
    widget_->q->setFocusPolicy(LayoutBoolean(value, name) ? Qt::StrongFocus : Qt::ClickFocus);
    if (parent_) parent_->UpdateTabOrder();
  } else {
    TControl::SetProperty(name, value, context);
  }
}

void TWinControl::AlignControls() {
  QRect free = widget_->q->contentsRect();
  // Edges first, top and bottom before left and right, the client area last.
  for (TAlign pass : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
    for (TControl* child : controls_) {
      if (child->align_ != pass || !child->visible_) continue;
      QWidget* widget = AsWidget(child->WidgetHandle());
      if (!widget) continue;
      const int width = widget->width();
      const int height = widget->height();
      switch (pass) {
        case TAlign::alTop:
          widget->setGeometry(free.left(), free.top(), free.width(), height);
          free.setTop(free.top() + height);
          break;
        case TAlign::alBottom:
          widget->setGeometry(free.left(), free.bottom() + 1 - height, free.width(), height);
          free.setBottom(free.bottom() - height);
          break;
        case TAlign::alLeft:
          widget->setGeometry(free.left(), free.top(), width, free.height());
          free.setLeft(free.left() + width);
          break;
        case TAlign::alRight:
          widget->setGeometry(free.right() + 1 - width, free.top(), width, free.height());
          free.setRight(free.right() - width);
          break;
        case TAlign::alClient:
          widget->setGeometry(free);
          break;
        case TAlign::alNone:
          break;
      }
    }
  }
}

// ---- TButton ---------------------------------------------------------------------

TButton::TButton(TComponent* owner) : TWinControl(owner, Kind::Button) {
  auto* button = static_cast<QPushButton*>(widget().q.data());
  QObject::connect(button, &QPushButton::clicked, &widget(), [this] { Click(); });
}

std::string TButton::Caption() const { return widget().caption; }

void TButton::SetCaption(const std::string& caption) {
  widget().caption = caption;
  static_cast<QPushButton*>(widget().q.data())->setText(ButtonText(caption));
}

void TButton::Click() {
  if (!Enabled()) return;
  const TNotifyEvent handler = OnClick;  // the handler may replace OnClick while it runs
  if (handler) RunGuarded([&] { handler(this); });
}

void TButton::SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  if (SameName(name, "Caption")) {
    SetCaption(LayoutString(value, name));
  } else if (SameName(name, "OnClick")) {
    OnClick = context.HandlerAs<TNotifyEvent>(value);
  } else {
    TWinControl::SetProperty(name, value, context);
  }
}

// ---- TMemo -----------------------------------------------------------------------

TMemo::TMemo(TComponent* owner)
    : TWinControl(owner, Kind::Memo),
      lines_(std::make_unique<MemoLines>(static_cast<QPlainTextEdit*>(widget().q.data()))) {}

TMemo::~TMemo() = default;

void TMemo::SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  auto* edit = static_cast<QPlainTextEdit*>(widget().q.data());
  if (SameName(name, "Lines.Strings")) {
    lines_->Clear();
    for (const LayoutValue& line : LayoutList(value, name)) lines_->Add(LayoutString(line, name));
  } else if (SameName(name, "ScrollBars")) {
    const std::string& bars = LayoutIdentifier(value, name);
    const bool both = SameName(bars, "ssBoth");
    const bool vertical = both || SameName(bars, "ssVertical");
    const bool horizontal = both || SameName(bars, "ssHorizontal");
    if (!vertical && !horizontal && !SameName(bars, "ssNone"))
      throw ELayoutError("unknown scroll bars '" + bars + "' for " + std::string(name));
    edit->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  } else if (SameName(name, "WordWrap")) {
    edit->setLineWrapMode(LayoutBoolean(value, name) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  } else if (SameName(name, "ReadOnly")) {
    edit->setReadOnly(LayoutBoolean(value, name));
  } else if (SameName(name, "Color")) {
    SetBackground(edit, ColorFromLayout(value, name), QPalette::Base);
  } else {
    TWinControl::SetProperty(name, value, context);
  }
}
