#include "platform/ui/property_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "property_page_testing.h"

// The modal property frame over fake pages registered in the class registry:
// each page records what the frame asks of it in one journal line.

namespace {

constexpr CLSID kPageA = MakeGuid("{7C2A375E-09B7-4901-A33C-FC315C8468D9}");
constexpr CLSID kPageB = MakeGuid("{2D84D331-0D6C-44BC-9623-D190BB7B58AB}");
constexpr CLSID kPageFailsToCreate = MakeGuid("{BA019CA7-A268-423A-B4B6-2B675483663D}");
constexpr CLSID kPageNotRegistered = MakeGuid("{8F7CBD71-FC39-4703-AFFC-C8356013E442}");
constexpr CLSID kPageRefusesObjects = MakeGuid("{52492A0B-DF11-48FC-A360-B95567A9CC07}");

std::string journal;

void Note(const std::string& entry) { journal += (journal.empty() ? "" : " ") + entry; }

// What a fake page answers.
struct PageBehaviour {
  HRESULT set_objects = S_OK;
  HRESULT apply = S_OK;
};
std::map<std::string, PageBehaviour> behaviours;

// A page with one check box, "<name>Edit": ticking it is an edit.
class FakePage : public ComObject<IPropertyPage> {
 public:
  explicit FakePage(std::string name) : name_(std::move(name)) {}

  HRESULT SetObjects(ULONG count, IUnknown** objects) override {
    Note(name_ + ".SetObjects(" + std::to_string(count) + ")");
    held_.clear();
    for (ULONG i = 0; i < count; ++i) held_.emplace_back(objects[i]);
    return behaviours[name_].set_objects;
  }
  HRESULT GetTitle(LPWSTR* title) override {
    const std::u16string text = u"Page " + Utf8ToUtf16(name_);
    *title = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(char16_t)));
    std::copy(text.begin(), text.end(), *title);
    (*title)[text.size()] = u'\0';
    return S_OK;
  }
  HRESULT Activate(OAHWND parent) override {
    Note(name_ + ".Activate");
    auto* widget = reinterpret_cast<QWidget*>(parent);
    box_ = new QCheckBox(QString::fromStdString(name_), widget);
    box_->setObjectName(QString::fromStdString(name_ + "Edit"));
    QObject::connect(box_, &QCheckBox::toggled, box_, [this] { dirty_ = true; });
    return S_OK;
  }
  HRESULT Deactivate() override {
    Note(name_ + ".Deactivate");
    delete box_.data();
    return S_OK;
  }
  HRESULT IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
  HRESULT Apply() override {
    Note(name_ + ".Apply");
    const HRESULT answer = behaviours[name_].apply;
    if (SUCCEEDED(answer)) dirty_ = false;
    return answer;
  }

 private:
  std::string name_;
  std::vector<ComPtr<IUnknown>> held_;
  QPointer<QCheckBox> box_;
  bool dirty_ = false;
};

// The object the pages edit.
struct IEdited : IUnknown {
  static constexpr IID iid = MakeGuid("{BD1EC513-FD30-412D-9509-D55A9EA47EFB}");
};
class Edited : public ComObject<IEdited> {};

ULONG ReferencesOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// What the test saw of the frame while it was open.
struct Seen {
  QWidget* parent = nullptr;
  QString title;
  std::vector<QString> tabs;
  bool modal = false;
};

Seen Look(QDialog* dialog) {
  Seen seen;
  seen.parent = dialog->parentWidget();
  seen.title = dialog->windowTitle();
  seen.modal = dialog->isModal();
  auto* tabs = dialog->findChild<QTabWidget*>();
  for (int i = 0; tabs && i < tabs->count(); ++i) seen.tabs.push_back(tabs->tabText(i));
  return seen;
}

QPushButton* Button(QDialog* dialog, QDialogButtonBox::StandardButton which) {
  return dialog->findChild<QDialogButtonBox*>()->button(which);
}

void Tick(QDialog* dialog, const char* name) {
  dialog->findChild<QCheckBox*>(QString::fromLatin1(name))->toggle();
}

class PropertyFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    journal.clear();
    behaviours.clear();
    for (const auto& [clsid, name] : {std::pair{kPageA, "A"}, std::pair{kPageB, "B"},
                                      std::pair{kPageRefusesObjects, "Refusing"}}) {
      RegisterClass(clsid, name, [name = std::string(name)](REFIID riid, void** object) {
        return MakeComObject<FakePage>(name)->QueryInterface(riid, object);
      });
    }
    RegisterClass(kPageFailsToCreate, "Fails", [](REFIID, void** object) {
      *object = nullptr;
      return E_OUTOFMEMORY;
    });
    behaviours["Refusing"].set_objects = E_NOINTERFACE;
    owner_ = std::make_unique<QWidget>();
    owner_->show();
    object_ = MakeComObject<Edited>();
    live_at_start_ = ComLiveObjectCount();
    memory_at_start_ = CoTaskMemOutstanding();
  }
  void TearDown() override {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a frame was left open";
    EXPECT_EQ(ReferencesOf(object_.Get()), 1u) << "a page kept the object";
    EXPECT_EQ(ComLiveObjectCount(), live_at_start_);
    EXPECT_EQ(CoTaskMemOutstanding(), memory_at_start_);
    object_ = nullptr;
    owner_.reset();
    for (const CLSID& clsid : {kPageA, kPageB, kPageFailsToCreate, kPageRefusesObjects}) {
      UnregisterClass(clsid);
    }
  }

  HRESULT Open(std::vector<CLSID> pages, const char16_t* caption = u"SourceFilter") {
    IUnknown* objects[] = {object_.Get()};
    return OleCreatePropertyFrame(reinterpret_cast<OAHWND>(owner_.get()), 0, 0, caption, 1, objects,
                                  static_cast<ULONG>(pages.size()), pages.data(), 0, 0, nullptr);
  }

  std::unique_ptr<QWidget> owner_;
  ComPtr<Edited> object_;
  long live_at_start_ = 0;
  long memory_at_start_ = 0;
};

TEST_F(PropertyFrameTest, OpensModalOwnedByTheWindowWithOneTabPerPage) {
  Seen seen;
  WhenModal step([&](QDialog* dialog) {
    seen = Look(dialog);
    EXPECT_EQ(ReferencesOf(object_.Get()), 3u) << "each page holds the object while open";
    Button(dialog, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(Open({kPageA, kPageB}), S_OK);

  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.parent, owner_.get());
  EXPECT_EQ(seen.title, QStringLiteral("SourceFilter"));
  EXPECT_EQ(seen.tabs, (std::vector<QString>{QStringLiteral("Page A"), QStringLiteral("Page B")}));
  EXPECT_EQ(journal,
            "A.SetObjects(1) A.Activate B.SetObjects(1) B.Activate "
            "A.Deactivate A.SetObjects(0) B.Deactivate B.SetObjects(0)");
}

TEST_F(PropertyFrameTest, PagesThatCannotBeMadeOrRefuseTheObjectAreLeftOut) {
  Seen seen;
  WhenModal step([&](QDialog* dialog) {
    seen = Look(dialog);
    Button(dialog, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(Open({kPageNotRegistered, kPageFailsToCreate, kPageRefusesObjects, kPageA}), S_OK);

  EXPECT_EQ(seen.tabs, std::vector<QString>{QStringLiteral("Page A")});
  EXPECT_EQ(journal,
            "Refusing.SetObjects(1) Refusing.SetObjects(0) A.SetObjects(1) A.Activate "
            "A.Deactivate A.SetObjects(0)");
}

TEST_F(PropertyFrameTest, NoPagesStillShowsTheFrame) {
  Seen seen;
  WhenModal step([&](QDialog* dialog) {
    seen = Look(dialog);
    Button(dialog, QDialogButtonBox::Ok)->click();
  });
  EXPECT_EQ(Open({}), S_OK);
  EXPECT_EQ(seen.parent, owner_.get());
  EXPECT_TRUE(seen.tabs.empty());
  EXPECT_EQ(journal, "");
}

TEST_F(PropertyFrameTest, ApplyIsEnabledWhileAPageIsDirtyAndAppliesOnlyThatPage) {
  std::vector<bool> apply_enabled;
  WhenModal step([&](QDialog* dialog) {
    QPushButton* apply = Button(dialog, QDialogButtonBox::Apply);
    apply_enabled.push_back(apply->isEnabled());
    Tick(dialog, "BEdit");
    apply_enabled.push_back(apply->isEnabled());
    apply->click();
    apply_enabled.push_back(apply->isEnabled());
    Button(dialog, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(Open({kPageA, kPageB}), S_OK);
  EXPECT_EQ(apply_enabled, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(journal,
            "A.SetObjects(1) A.Activate B.SetObjects(1) B.Activate B.Apply "
            "A.Deactivate A.SetObjects(0) B.Deactivate B.SetObjects(0)");
}

struct CloseCase {
  const char* name;
  std::vector<const char*> edits;
  QDialogButtonBox::StandardButton button;
  const char* applied;  // the Apply entries of the journal
};

class PropertyFrameCloseTest : public PropertyFrameTest,
                               public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PropertyFrameCloseTest, AppliesWhatOkAndNothingElse) {
  bool closed = false;
  WhenModal step([&](QDialog* dialog) {
    QPointer<QDialog> frame = dialog;
    for (const char* edit : GetParam().edits) Tick(dialog, edit);
    Button(dialog, GetParam().button)->click();
    closed = !frame || !frame->isVisible();
  });
  EXPECT_EQ(Open({kPageA, kPageB}), S_OK);
  EXPECT_TRUE(closed);
  std::string applied;
  for (const std::string entry : {"A.Apply", "B.Apply"}) {
    if (journal.find(entry) != std::string::npos) applied += (applied.empty() ? "" : " ") + entry;
  }
  EXPECT_EQ(applied, GetParam().applied) << journal;
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, PropertyFrameCloseTest,
    ::testing::Values(CloseCase{"OkWithNoEdits", {}, QDialogButtonBox::Ok, ""},
                      CloseCase{"OkAfterEditingA", {"AEdit"}, QDialogButtonBox::Ok, "A.Apply"},
                      CloseCase{"OkAfterEditingBoth", {"AEdit", "BEdit"}, QDialogButtonBox::Ok,
                                "A.Apply B.Apply"},
                      CloseCase{"CancelAfterEditingBoth", {"AEdit", "BEdit"},
                                QDialogButtonBox::Cancel, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PropertyFrameTest, OkStaysOpenWhileAPageRefusesItsChanges) {
  behaviours["A"].apply = E_INVALIDARG;
  bool open_after_ok = false;
  bool apply_enabled_after_ok = false;
  WhenModal step([&](QDialog* dialog) {
    QPointer<QDialog> frame = dialog;
    Tick(dialog, "AEdit");
    Button(dialog, QDialogButtonBox::Ok)->click();
    open_after_ok = frame && frame->isVisible();
    apply_enabled_after_ok = Button(dialog, QDialogButtonBox::Apply)->isEnabled();
    Button(dialog, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(Open({kPageA}), S_OK);
  EXPECT_TRUE(open_after_ok);
  EXPECT_TRUE(apply_enabled_after_ok) << "the page still holds its changes";
  EXPECT_EQ(journal, "A.SetObjects(1) A.Activate A.Apply A.Deactivate A.SetObjects(0)");
}

TEST_F(PropertyFrameTest, MissingListsAreRefusedWithoutAFrame) {
  EXPECT_EQ(OleCreatePropertyFrame(reinterpret_cast<OAHWND>(owner_.get()), 0, 0, u"x", 1, nullptr, 0,
                                   nullptr, 0, 0, nullptr),
            E_POINTER);
  IUnknown* objects[] = {object_.Get()};
  EXPECT_EQ(OleCreatePropertyFrame(reinterpret_cast<OAHWND>(owner_.get()), 0, 0, u"x", 1, objects, 2,
                                   nullptr, 0, 0, nullptr),
            E_POINTER);
  EXPECT_EQ(journal, "");
}

}  // namespace
