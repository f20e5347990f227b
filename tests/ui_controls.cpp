#include "platform/ui/controls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/application.h"
#include "ui_testing.h"

namespace {

using ::testing::ElementsAre;

// The plain focusable control a video area is made from.
class TVideoArea : public TWinControl {
 public:
  explicit TVideoArea(TComponent* owner) : TWinControl(owner, Kind::Panel) {}
};

// The main window's shape: form settings, two buttons, the log box at the bottom,
// the video area without a stored tab order, and a button after it.
constexpr char kWindowLayout[] = R"(object Form1: TWindowForm
  Left = 277
  Top = 201
  Caption = 'Form1'
  ClientHeight = 412
  ClientWidth = 671
  Color = clBtnFace
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  OldCreateOrder = False
  OnCloseQuery = FormCloseQuery
  PixelsPerInch = 96
  TextHeight = 13
  object GO: TButton
    Left = 64
    Top = 8
    Width = 75
    Height = 25
    Caption = 'Send'
    TabOrder = 0
    OnClick = GOClick
  end
  object Memo1: TMemo
    Left = 0
    Top = 323
    Width = 671
    Height = 89
    Align = alBottom
    Lines.Strings = (
      'Memo1')
    TabOrder = 1
  end
  object Button4: TButton
    Left = 456
    Top = 8
    Width = 75
    Height = 25
    Caption = 'Receive'
    TabOrder = 2
    OnClick = GOClick
  end
  object VideoWindow1: TVideoArea
    Left = 208
    Top = 128
    Width = 160
    Height = 120
    Color = clBlack
  end
  object Button1: TButton
    Left = 16
    Top = 232
    Width = 150
    Height = 25
    Caption = 'Button1'
    TabOrder = 4
  end
end
)";

class TWindowForm : public TForm {
 public:
  TWindowForm() : TForm(nullptr) {
    BindField("GO", &GO);
    BindField("Memo1", &Memo1);
    BindField("Button4", &Button4);
    BindField("VideoWindow1", &VideoWindow1);
    BindField("Button1", &Button1);
    RegisterHandler("GOClick", TNotifyEvent([this](TObject* sender) {
                      clicked_by.push_back(sender);
                      if (sender == Button4) throw EIntfCastError();
                    }));
    RegisterHandler("FormCloseQuery", TCloseQueryEvent([this](TObject* sender, bool& can_close) {
                      ++close_queries;
                      EXPECT_TRUE(can_close);  // arrives as true
                      EXPECT_EQ(sender, this);
                      if (close_answers.empty()) return;
                      auto answer = std::move(close_answers.front());
                      close_answers.pop_front();
                      answer(can_close);
                    }));
  }

  TButton* GO = nullptr;
  TMemo* Memo1 = nullptr;
  TButton* Button4 = nullptr;
  TVideoArea* VideoWindow1 = nullptr;
  TButton* Button1 = nullptr;

  std::vector<TObject*> clicked_by;
  int close_queries = 0;
  std::deque<std::function<void(bool&)>> close_answers;
};

QWidget* WidgetOf(const TWinControl& control) { return reinterpret_cast<QWidget*>(control.Handle()); }

class Window : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterComponentClass("TVideoArea", [](TComponent* owner) -> TComponent* { return new TVideoArea(owner); });
  }
  void SetUp() override { form = MakeForm(); }
  void TearDown() override {
    form.reset();
    TForm::SetTextHeightForTesting(0);
  }

  static std::unique_ptr<TWindowForm> MakeForm() {
    auto made = std::make_unique<TWindowForm>();
    ReadComponentResource(*made, kWindowLayout);
    return made;
  }

  std::unique_ptr<TWindowForm> form;
};

TEST_F(Window, HasItsStoredPlaceSizeCaptionAndFont) {
  EXPECT_EQ(form->Caption(), "Form1");
  EXPECT_EQ(form->ClientWidth(), 671);
  EXPECT_EQ(form->ClientHeight(), 412);
  // The replacement for 8-point "MS Sans Serif" has the design's 13-pixel text height.
  EXPECT_EQ(form->TextHeight(), 13);
  EXPECT_EQ(form->ScaleFactor(), 1.0);
  QWidget* window = WidgetOf(*form);
  EXPECT_EQ(window->font().pixelSize(), 11);
  EXPECT_THAT(QFontInfo(window->font()).family().toStdString(),
              ::testing::AnyOf("DejaVu Sans", "Liberation Sans"));
  EXPECT_EQ(window->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
  EXPECT_FALSE(form->IsShown());  // the program shows it

  form->Show();
  Application()->ProcessMessages();
  EXPECT_TRUE(form->IsShown());
  // The frame stands where stored; the client area keeps its size.
  EXPECT_EQ(form->ScreenLeft(), 277);
  EXPECT_EQ(form->ScreenTop(), 201);
  EXPECT_EQ(window->width(), 671);
  EXPECT_EQ(window->height(), 412);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(Window, ControlsStandAtTheirStoredRectangles) {
  const std::vector<std::pair<TControl*, TRect>> expected = {
      {form->GO, {64, 8, 75, 25}},
      {form->Memo1, {0, 323, 671, 89}},
      {form->Button4, {456, 8, 75, 25}},
      {form->VideoWindow1, {208, 128, 160, 120}},
      {form->Button1, {16, 232, 150, 25}},
  };
  for (const auto& [control, rect] : expected) {
    EXPECT_EQ(control->BoundsRect(), rect) << control->Name();
    EXPECT_EQ(control->Parent(), form.get());
    EXPECT_TRUE(control->Visible());
    EXPECT_TRUE(control->Enabled());
  }
  EXPECT_THAT(form->Controls(), ElementsAre(form->GO, form->Memo1, form->Button4, form->VideoWindow1, form->Button1));
}

TEST_F(Window, LogBoxStaysAtTheBottomAcrossTheWidthWhenResized) {
  form->Show();
  QWidget* window = WidgetOf(*form);
  for (const QSize size : {QSize(900, 600), QSize(500, 300), QSize(671, 412)}) {
    window->resize(size);
    Application()->ProcessMessages();
    ASSERT_EQ(form->ClientWidth(), size.width());
    EXPECT_EQ(form->Memo1->BoundsRect(), (TRect{0, size.height() - 89, size.width(), 89}));
    // Nothing else moves.
    EXPECT_EQ(form->GO->BoundsRect(), (TRect{64, 8, 75, 25}));
    EXPECT_EQ(form->Button4->BoundsRect(), (TRect{456, 8, 75, 25}));
    EXPECT_EQ(form->VideoWindow1->BoundsRect(), (TRect{208, 128, 160, 120}));
    EXPECT_EQ(form->Button1->BoundsRect(), (TRect{16, 232, 150, 25}));
  }
}

TEST_F(Window, TabMovesThroughTheStoredOrderIncludingTheVideoArea) {
  EXPECT_EQ(form->GO->TabOrder(), 0);
  EXPECT_EQ(form->Memo1->TabOrder(), 1);
  EXPECT_EQ(form->Button4->TabOrder(), 2);
  EXPECT_EQ(form->VideoWindow1->TabOrder(), 3);  // its place in the creation order
  EXPECT_EQ(form->Button1->TabOrder(), 4);

  form->Show();
  Application()->ProcessMessages();
  form->GO->SetFocus();
  Application()->ProcessMessages();
  ASSERT_TRUE(form->GO->Focused()) << "the offscreen window did not take the focus";
  std::vector<std::string> visited;
  for (int i = 0; i < 5; ++i) {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &tab);
    Application()->ProcessMessages();
    for (TWinControl* control : std::initializer_list<TWinControl*>{form->GO, form->Memo1, form->Button4,
                                                                     form->VideoWindow1, form->Button1})
      if (control->Focused()) visited.push_back(control->Name());
  }
  EXPECT_THAT(visited, ElementsAre("Memo1", "Button4", "VideoWindow1", "Button1", "GO"));
}

TEST_F(Window, RenumbersTabOrderWhenOneIsMovedAfterLoading) {
  form->Button1->SetTabOrder(0);
  EXPECT_EQ(form->Button1->TabOrder(), 0);
  EXPECT_EQ(form->GO->TabOrder(), 1);
  EXPECT_EQ(form->Memo1->TabOrder(), 2);
  EXPECT_EQ(form->Button4->TabOrder(), 3);
  EXPECT_EQ(form->VideoWindow1->TabOrder(), 4);
}

struct ScaleCase {
  int text_height;
  TRect go;
  TRect memo;
  int client_width;
  int client_height;
};

TEST_F(Window, ScalesPositionsAndSizesByTheFontsTextHeight) {
  const std::vector<ScaleCase> cases = {
      {13, {64, 8, 75, 25}, {0, 323, 671, 89}, 671, 412},
      {26, {128, 16, 150, 50}, {0, 646, 1342, 178}, 1342, 824},
      // 16/13: 64 → 78.8, 75 → 92.3, 25 → 30.8, 89 → 109.5, 671 → 825.8, 412 → 507.1
      {16, {79, 10, 92, 31}, {0, 507 - 110, 826, 110}, 826, 507},
  };
  for (const ScaleCase& c : cases) {
    TForm::SetTextHeightForTesting(c.text_height);
    auto scaled = MakeForm();
    EXPECT_EQ(scaled->TextHeight(), c.text_height);
    EXPECT_DOUBLE_EQ(scaled->ScaleFactor(), c.text_height / 13.0);
    EXPECT_EQ(scaled->ClientWidth(), c.client_width) << c.text_height;
    EXPECT_EQ(scaled->ClientHeight(), c.client_height) << c.text_height;
    EXPECT_EQ(scaled->GO->BoundsRect(), c.go) << c.text_height;
    EXPECT_EQ(scaled->Memo1->BoundsRect(), c.memo) << c.text_height;
  }
}

TEST_F(Window, ButtonsAreNeitherDefaultNorCancelAndHaveNoShortcut) {
  for (TButton* button : {form->GO, form->Button4, form->Button1}) {
    auto* push = qobject_cast<QPushButton*>(WidgetOf(*button));
    ASSERT_NE(push, nullptr);
    EXPECT_FALSE(push->isDefault());
    EXPECT_FALSE(push->autoDefault());
    EXPECT_TRUE(QKeySequence::mnemonic(push->text()).isEmpty());
  }
  EXPECT_EQ(form->GO->Caption(), "Send");
  form->GO->SetCaption("Save & Go");
  EXPECT_EQ(form->GO->Caption(), "Save & Go");
  auto* push = qobject_cast<QPushButton*>(WidgetOf(*form->GO));
  EXPECT_EQ(push->text(), "Save && Go");  // shown as typed, not as a mnemonic
  EXPECT_TRUE(QKeySequence::mnemonic(push->text()).isEmpty());
}

TEST_F(Window, ClickRunsTheHandlerAndItsErrorIsReported) {
  ErrorRecorder errors;
  // As the user's click: through the Qt button.
  qobject_cast<QPushButton*>(WidgetOf(*form->GO))->click();
  qobject_cast<QPushButton*>(WidgetOf(*form->Button4))->click();  // its handler throws
  form->GO->Click();
  EXPECT_THAT(form->clicked_by, ElementsAre(form->GO, form->Button4, form->GO));
  EXPECT_THAT(errors.reports, ElementsAre("EIntfCastError: Interface not supported"));
}

TEST_F(Window, LogBoxIsEditableWithoutScrollBarsAndWrapsAtItsWidth) {
  auto* edit = qobject_cast<QPlainTextEdit*>(WidgetOf(*form->Memo1));
  ASSERT_NE(edit, nullptr);
  EXPECT_FALSE(edit->isReadOnly());
  EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);

  EXPECT_THAT(form->Memo1->Lines().ToVector(), ElementsAre("Memo1"));
  EXPECT_EQ(form->Memo1->Lines().Add("EC_COMPLETE - All data from a particular stream has been rendered."), 1);
  EXPECT_EQ(form->Memo1->Lines().Add("second"), 2);
  EXPECT_THAT(form->Memo1->Lines().ToVector(),
              ElementsAre("Memo1", "EC_COMPLETE - All data from a particular stream has been rendered.", "second"));

  const std::string long_line(400, 'x');
  form->Memo1->Lines().Add(std::string(60, 'a') + " " + std::string(60, 'b') + " " + long_line);
  form->Show();
  Application()->ProcessMessages();
  const QTextBlock last = edit->document()->lastBlock();
  ASSERT_NE(last.layout(), nullptr);
  EXPECT_GT(last.layout()->lineCount(), 1);  // wrapped, not scrolled
  EXPECT_EQ(form->Memo1->Lines().Count(), 4);
}

TEST_F(Window, EmptyLogBoxTakesItsFirstLineFromAdd) {
  TStrings& lines = form->Memo1->Lines();
  lines.Clear();
  EXPECT_EQ(lines.Count(), 0);
  EXPECT_EQ(lines.Add("first"), 0);
  EXPECT_THAT(lines.ToVector(), ElementsAre("first"));
  EXPECT_THROW(lines.Get(1), Exception);
}

TEST_F(Window, VideoAreaIsABlackChildThatTakesTheFocus) {
  TVideoArea& area = *form->VideoWindow1;
  constexpr std::int32_t kChild = 0x40000000, kVisible = 0x10000000, kClipSiblings = 0x04000000,
                         kTabStop = 0x00010000;
  EXPECT_EQ(area.WindowStyle(), kChild | kVisible | kClipSiblings | kTabStop);
  EXPECT_TRUE(area.TabStop());
  QWidget* widget = WidgetOf(area);
  EXPECT_EQ(widget->parentWidget(), WidgetOf(*form));
  EXPECT_EQ(widget->focusPolicy(), Qt::StrongFocus);
  EXPECT_TRUE(widget->autoFillBackground());
  EXPECT_EQ(widget->palette().color(QPalette::Window), QColor(Qt::black));
  // Buttons take the focus by Tab as well; the form itself is no tab stop.
  EXPECT_EQ(form->GO->WindowStyle(), kChild | kVisible | kClipSiblings | kTabStop);
  EXPECT_FALSE(form->TabStop());
}

TEST_F(Window, CloseQueryThatFailsKeepsTheWindowOpenUntilALaterOneAllows) {
  ErrorRecorder errors;
  form->Show();
  form->close_answers.push_back([](bool&) { throw EIntfCastError(); });
  form->close_answers.push_back([](bool& can_close) { can_close = false; });
  form->close_answers.push_back([](bool&) {});

  EXPECT_FALSE(form->Close());  // the error is reported, the close abandoned
  EXPECT_TRUE(form->IsShown());
  EXPECT_THAT(errors.reports, ElementsAre("EIntfCastError: Interface not supported"));
  EXPECT_FALSE(WidgetOf(*form)->close());  // the user's close runs the same query
  EXPECT_TRUE(form->IsShown());
  EXPECT_TRUE(form->Close());
  EXPECT_FALSE(form->IsShown());
  EXPECT_EQ(form->close_queries, 3);
  EXPECT_EQ(errors.reports.size(), 1u);
}

TEST_F(Window, SessionEndQueryRunsTheCloseQueryAndLeavesTheWindowOpen) {
  form->Show();
  form->close_answers.push_back([](bool& can_close) { can_close = false; });
  EXPECT_FALSE(form->QueryEndSession());
  EXPECT_TRUE(form->QueryEndSession());
  EXPECT_EQ(form->close_queries, 2);
  EXPECT_TRUE(form->IsShown());
}

// ---- Destruction order -------------------------------------------------------------

std::vector<std::string> destroyed;

class TNoteComponent : public TComponent {
 public:
  explicit TNoteComponent(TComponent* owner) : TComponent(owner) {}
  ~TNoteComponent() override { destroyed.push_back(Name()); }
};

class TNotePanel : public TWinControl {
 public:
  explicit TNotePanel(TComponent* owner) : TWinControl(owner, Kind::Panel) {}
  ~TNotePanel() override {
    const auto* form = dynamic_cast<const TForm*>(Owner());
    destroyed.push_back(Name() + (form && !form->IsShown() ? "" : " (window still shown)") +
                        (IsDestroying() ? "" : " (not marked)"));
  }
};

class TPlainForm : public TForm {
 public:
  TPlainForm() : TForm(nullptr) {}
};

TEST(FormDestruction, HidesThenDestroysControlsThenOtherComponentsLastCreatedFirst) {
  RegisterComponentClass("TNoteComponent", [](TComponent* owner) -> TComponent* { return new TNoteComponent(owner); });
  RegisterComponentClass("TNotePanel", [](TComponent* owner) -> TComponent* { return new TNotePanel(owner); });
  destroyed.clear();
  auto form = std::make_unique<TPlainForm>();
  ReadComponentResource(*form,
                        "object Form1: TPlainForm\n"
                        "  object Panel1: TNotePanel\n"
                        "  end\n"
                        "  object Panel2: TNotePanel\n"
                        "  end\n"
                        "  object Graph: TNoteComponent\n"
                        "  end\n"
                        "  object Slot: TNoteComponent\n"
                        "  end\n"
                        "end\n");
  form->Show();
  form.reset();
  EXPECT_THAT(destroyed, ElementsAre("Panel2", "Panel1", "Slot", "Graph"));
}

}  // namespace
