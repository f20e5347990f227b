#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <string>

#include "platform/com/com.h"
#include "platform/com/property_page.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

// What every filter's property page shares: the object it edits, its title, its
// widget inside the frame's tab, and the dirty flag. A page is mostly its own
// controls: it builds them, fills them from its object and hands the edited
// values back.
//
// Lifecycle, as the frame drives it: SetObjects(1, filter) → Activate(tab) →
// [edits, IsPageDirty, Apply]* → Deactivate → SetObjects(0, nullptr).
// Everything runs on the window's thread.
class PropertyPageBase : public ComObject<IPropertyPage> {
 public:
  // IPropertyPage
  HRESULT SetObjects(ULONG count, IUnknown** objects) override;
  HRESULT GetTitle(LPWSTR* title) override;
  HRESULT Activate(OAHWND parent) override;
  HRESULT Deactivate() override;
  HRESULT IsPageDirty() override;
  HRESULT Apply() override;

  // The page's own widget while it is active (owned by the parent handed to
  // Activate), else null.
  QWidget* PageWidget() const { return widget_; }

 protected:
  explicit PropertyPageBase(std::u16string title);
  ~PropertyPageBase() override;

  // Takes the object to edit (the first one handed over). A failure when it is
  // not one this page can edit: the page then holds nothing.
  virtual HRESULT Attach(IUnknown* object) = 0;
  // Lets go of the object.
  virtual void Detach() = 0;
  // Builds the controls into `layout` (the page widget's) and shows the object's values.
  virtual void Build(QWidget* page, QVBoxLayout* layout) = 0;
  // Hands the edited values to the object. On success the page is clean again;
  // on failure it stays dirty and the status line says why.
  virtual HRESULT ApplyChanges() = 0;
  // The controls are about to go (timers stop here).
  virtual void Unbuild() {}

  void MarkDirty() { dirty_ = true; }
  void MarkClean() { dirty_ = false; }

  // Marks the page dirty on every change the user makes in `editor`.
  void WatchEdits(QLineEdit* editor);
  void WatchEdits(QSpinBox* editor);
  void WatchEdits(QComboBox* editor);
  void WatchEdits(QAbstractButton* editor);

  // The line at the foot of the page: notes and the reasons an apply failed.
  // Empty text hides it.
  void ShowStatus(const QString& text);

 private:
  const std::u16string title_;
  QPointer<QWidget> widget_;
  QPointer<QLabel> status_;
  bool dirty_ = false;
};

// Texts the pages show.
QString StatusMessage(HRESULT status);  // the status's text and its value
QString BitRateText(double bits_per_second);
QString CountText(std::uint64_t count);
QString DurationText(double seconds);  // "1 min 05 s", "12.3 s"
// A label whose text the user can select and copy.
QLabel* NewValueLabel(const char* object_name, QWidget* parent);
