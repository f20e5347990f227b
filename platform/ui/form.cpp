#include "platform/ui/controls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QPalette>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/ui/application.h"
#include "platform/ui/names.h"
#include "platform/ui/qt_controls.h"

namespace {

using ui_names::SameName;

std::atomic<int> text_height_for_testing{0};

// value * multiplier / divisor, rounded to the nearest pixel.
int ScaleValue(int value, int multiplier, int divisor) {
  return int(std::lround(double(value) * multiplier / divisor));
}

void ScaleChildren(TWinControl& parent, int multiplier, int divisor) {
  for (TControl* child : parent.Controls()) {
    const TRect r = child->BoundsRect();
    child->SetBounds(ScaleValue(r.Left, multiplier, divisor), ScaleValue(r.Top, multiplier, divisor),
                     ScaleValue(r.Width, multiplier, divisor), ScaleValue(r.Height, multiplier, divisor));
    if (auto* windowed = dynamic_cast<TWinControl*>(child)) ScaleChildren(*windowed, multiplier, divisor);
  }
}

}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner, Kind::Form) {
  auto* window = static_cast<FormWindow*>(widget().q.data());
  window->setFont(DefaultFormFont());
  // The button-face colour, as every form of the component library has it.
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->on_close = [this](QCloseEvent* event) {
    if (!CloseQuery()) {
      event->ignore();
      return;
    }
    event->accept();
    if (TApplication* application = Application(); application && application->MainForm() == this)
      application->Terminate();
  };
}

TForm::~TForm() {
  if (TApplication* application = Application(); application && application->MainForm() == this)
    application->SetMainForm(nullptr);
  MarkComponentsDestroying();
  // The window leaves the screen first, then its controls go, last created first,
  // then the remaining components, last created first.
  if (QWidget* window = widget().q) {
    static_cast<FormWindow*>(window)->on_close = nullptr;
    window->hide();
  }
  DestroyControls();
  DestroyComponents();
}

std::string TForm::Caption() const { return widget().q->windowTitle().toStdString(); }

void TForm::SetCaption(const std::string& caption) {
  widget().q->setWindowTitle(QString::fromStdString(caption));
}

int TForm::ScreenLeft() const { return widget().q->frameGeometry().x(); }

int TForm::ScreenTop() const { return widget().q->frameGeometry().y(); }

double TForm::ScaleFactor() const { return scale_factor_; }

int TForm::TextHeight() const {
  if (const int forced = text_height_for_testing.load()) return forced;
  return QFontMetrics(widget().q->font()).height();
}

void TForm::SetTextHeightForTesting(int pixels) { text_height_for_testing = pixels; }

void TForm::Show() {
  AssertOnWindowThread();
  QWidget* window = widget().q;
  if (position_ == TPosition::poDesigned) {
    window->move(stored_left_, stored_top_);
  } else if (position_ == TPosition::poScreenCenter) {
    if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      const QSize frame = window->frameGeometry().size();
      window->move(area.center().x() - frame.width() / 2, area.center().y() - frame.height() / 2);
    }
  }
  window->show();
  window->activateWindow();
}

bool TForm::Close() {
  AssertOnWindowThread();
  return widget().q->close();
}

bool TForm::QueryEndSession() { return CloseQuery(); }

bool TForm::IsShown() const { return widget().q->isVisible(); }

bool TForm::CloseQuery() {
  const TCloseQueryEvent handler = OnCloseQuery;
  if (!handler) return true;
  bool can_close = true;
  if (!RunGuarded([&] { handler(this, can_close); })) return false;
  return can_close;
}

void TForm::SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) {
  QWidget* window = widget().q;
  if (SameName(name, "Left")) {
    stored_left_ = int(LayoutInteger(value, name));
    window->move(stored_left_, stored_top_);
  } else if (SameName(name, "Top")) {
    stored_top_ = int(LayoutInteger(value, name));
    window->move(stored_left_, stored_top_);
  } else if (SameName(name, "ClientWidth") || SameName(name, "ClientHeight")) {
    const std::int64_t size = LayoutInteger(value, name);
    if (size < 0 || size > 100000) throw ELayoutError("value out of range for " + std::string(name));
    if (SameName(name, "ClientWidth")) window->resize(int(size), window->height());
    else window->resize(window->width(), int(size));
    AlignControls();
  } else if (SameName(name, "Caption")) {
    SetCaption(LayoutString(value, name));
  } else if (SameName(name, "Position")) {
    const std::string& position = LayoutIdentifier(value, name);
    if (SameName(position, "poDesigned")) position_ = TPosition::poDesigned;
    else if (SameName(position, "poDefault") || SameName(position, "poDefaultPosOnly") ||
             SameName(position, "poDefaultSizeOnly"))
      position_ = TPosition::poDefault;
    else if (SameName(position, "poScreenCenter") || SameName(position, "poDesktopCenter") ||
             SameName(position, "poMainFormCenter") || SameName(position, "poOwnerFormCenter"))
      position_ = TPosition::poScreenCenter;
    else throw ELayoutError("unknown position '" + position + "' for " + std::string(name));
  } else if (SameName(name, "TextHeight")) {
    const std::int64_t height = LayoutInteger(value, name);
    if (height <= 0 || height > 1000) throw ELayoutError("value out of range for " + std::string(name));
    design_text_height_ = int(height);
  } else if (SameName(name, "Scaled")) {
    scaled_ = LayoutBoolean(value, name);
  } else if (SameName(name, "Visible")) {
    // A form is shown by its program; a stored True shows it once it is loaded.
    show_when_loaded_ = LayoutBoolean(value, name);
  } else if (SameName(name, "OnCloseQuery")) {
    OnCloseQuery = context.HandlerAs<TCloseQueryEvent>(value);
  } else if (SameName(name, "OldCreateOrder") || SameName(name, "PixelsPerInch")) {
    // Historical: the creation order is always the one of the layout, and the
    // measure is the text height, not the designer's screen.
    if (value.kind != LayoutValue::Kind::Boolean && value.kind != LayoutValue::Kind::Integer)
      throw ELayoutError("expected an integer or True/False for " + std::string(name) + ", got " +
                         LayoutValue::KindName(value.kind));
  } else {
    TWinControl::SetProperty(name, value, context);
  }
}

void TForm::Loaded() {
  TWinControl::Loaded();
  const int text_height = TextHeight();
  if (scaled_ && text_height != design_text_height_) {
    ScaleControls(text_height, design_text_height_);
    scale_factor_ = double(text_height) / design_text_height_;
  } else {
    scale_factor_ = 1.0;
  }
  // The stored tab orders, sorted now that every control has its number.
  UpdateTabOrder(true);
  AlignControls();
  if (show_when_loaded_) Show();
}

void TForm::ScaleControls(int multiplier, int divisor) {
  QWidget* window = widget().q;
  window->resize(ScaleValue(window->width(), multiplier, divisor),
                 ScaleValue(window->height(), multiplier, divisor));
  ScaleChildren(*this, multiplier, divisor);
  AlignControls();
}

void TForm::RegisterHandler(std::string name, std::any handler) {
  for (auto& [known, existing] : handlers_) {
    if (SameName(known, name)) {
      existing = std::move(handler);
      return;
    }
  }
  handlers_.emplace_back(std::move(name), std::move(handler));
}

const std::any* TForm::FindHandler(std::string_view name) const {
  for (const auto& [known, handler] : handlers_)
    if (SameName(known, name)) return &handler;
  return nullptr;
}

void TForm::BindField(std::string name, TComponent** field) { fields_.emplace_back(std::move(name), field); }

void TForm::AddFieldSetter(std::string name, std::function<bool(TComponent*)> setter) {
  field_setters_.emplace_back(std::move(name), std::move(setter));
}

bool TForm::AssignField(const std::string& name, TComponent* component) {
  bool fits = true;
  for (auto& [field_name, field] : fields_)
    if (SameName(field_name, name)) *field = component;
  for (auto& [field_name, setter] : field_setters_)
    if (SameName(field_name, name) && !setter(component)) fits = false;
  return fits;
}
