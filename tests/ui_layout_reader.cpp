#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "ui_testing.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> journal;
int recorders_alive = 0;

std::string Describe(const LayoutValue& value) {
  switch (value.kind) {
    case LayoutValue::Kind::Integer: return std::to_string(value.integer);
    case LayoutValue::Kind::String: return "'" + value.text + "'";
    case LayoutValue::Kind::Identifier: return value.text;
    case LayoutValue::Kind::Boolean: return value.boolean ? "True" : "False";
    case LayoutValue::Kind::List: {
      std::string text = "(";
      for (const LayoutValue& item : value.items) text += (text.size() > 1 ? " " : "") + Describe(item);
      return text + ")";
    }
    case LayoutValue::Kind::Binary: {
      std::string text = "{";
      static const char* digits = "0123456789ABCDEF";
      for (std::uint8_t byte : value.bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
      }
      return text + "}";
    }
  }
  return "?";
}

// A non-visual component that writes what happens to it into the journal.
class TRecorder : public TComponent {
 public:
  explicit TRecorder(TComponent* owner) : TComponent(owner) { ++recorders_alive; }
  ~TRecorder() override {
    journal.push_back("Destroy(" + Name() + ")");
    --recorders_alive;
  }

  void SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) override {
    const std::string entry = Name() + "." + std::string(name) + "=" + Describe(value) +
                              (IsLoading() ? "" : " (not loading)");
    if (name == "Number" || name == "Text" || name == "Word" || name == "Flag" || name == "Items" ||
        name == "Data" || name == "Sub.Value") {
      values.push_back(value);
    } else if (name == "Peer" || name == "Link") {
      // A reference: the other component must exist by now.
      const bool named = value.kind == LayoutValue::Kind::Identifier || value.kind == LayoutValue::Kind::String;
      TComponent* peer = named ? context.FindComponent(value.text) : nullptr;
      if (!peer) throw ELayoutError("no component '" + Describe(value) + "' for " + std::string(name));
      if (!dynamic_cast<TRecorder*>(peer) && peer != context.FindComponent("Form1"))
        throw ELayoutError("component '" + value.text + "' is no TRecorder");
    } else if (name == "OnPing") {
      on_ping = context.HandlerAs<TNotifyEvent>(value);
    } else {
      return TComponent::SetProperty(name, value, context);
    }
    journal.push_back(entry);
  }
  // "Link" names a component whatever its value looks like.
  bool IsReferenceProperty(std::string_view name) const override { return name == "Link"; }
  void Loaded() override {
    TComponent::Loaded();
    journal.push_back("Loaded(" + Name() + ")");
  }

  std::vector<LayoutValue> values;
  TNotifyEvent on_ping;
};

// A control that can hold others.
class TRecordingPanel : public TWinControl {
 public:
  explicit TRecordingPanel(TComponent* owner) : TWinControl(owner, Kind::Panel) {}
  ~TRecordingPanel() override { journal.push_back("Destroy(" + Name() + ")"); }
  void Loaded() override {
    TWinControl::Loaded();
    journal.push_back("Loaded(" + Name() + ")");
  }
};

class TTestForm : public TForm {
 public:
  TTestForm() : TForm(nullptr) {
    RegisterHandler("Ping", TNotifyEvent([this](TObject* sender) { pinged_by.push_back(sender); }));
    RegisterHandler("AskToClose", TCloseQueryEvent([](TObject*, bool&) {}));
    BindField("A", &a);
    BindField("Panel1", &panel);
    BindField("B", &b_any);
  }
  void SetProperty(std::string_view name, const LayoutValue& value, const LoadContext& context) override {
    journal.push_back(Name() + "." + std::string(name) + "=" + Describe(value));
    TForm::SetProperty(name, value, context);
  }
  void Loaded() override {
    TForm::Loaded();
    journal.push_back("Loaded(" + Name() + ")");
  }

  TRecorder* a = nullptr;
  TRecordingPanel* panel = nullptr;
  TComponent* b_any = nullptr;
  std::vector<TObject*> pinged_by;
};

class LayoutReader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterComponentClass("TRecorder", [](TComponent* owner) -> TComponent* {
      auto* recorder = new TRecorder(owner);
      journal.push_back("Create");
      return recorder;
    });
    RegisterComponentClass("TRecordingPanel",
                           [](TComponent* owner) -> TComponent* { return new TRecordingPanel(owner); });
  }
  void SetUp() override { journal.clear(); }
  void TearDown() override { EXPECT_EQ(recorders_alive, 0); }
};

TEST_F(LayoutReader, BuildsFormThenEachComponentWithItsPropertiesInFileOrder) {
  {
    TTestForm form;
    ReadComponentResource(form,
                          "object Form1: TTestForm\n"
                          "  Caption = 'Main'\n"
                          "  object A: TRecorder\n"
                          "    Number = 1\n"
                          "    Text = 'one'\n"
                          "  end\n"
                          "  ClientWidth = 300\n"  // the form's own, even after an object
                          "  object B: TRecorder\n"
                          "    Word = second\n"
                          "  end\n"
                          "  object C: TRecorder\n"
                          "    Flag = True\n"
                          "  end\n"
                          "end\n");
    // Each component's properties come right after it is made, before the next one.
    EXPECT_THAT(journal, ElementsAre("Form1.Caption='Main'", "Form1.ClientWidth=300", "Create", "A.Number=1",
                                     "A.Text='one'", "Create", "B.Word=second", "Create", "C.Flag=True",
                                     "Loaded(Form1)", "Loaded(A)", "Loaded(B)", "Loaded(C)"));
    EXPECT_EQ(form.Name(), "Form1");
    EXPECT_EQ(form.Caption(), "Main");
    ASSERT_EQ(form.Components().size(), 3u);
    for (TComponent* component : form.Components()) EXPECT_FALSE(component->IsLoading());
    EXPECT_FALSE(form.IsLoading());
    journal.clear();
  }
  EXPECT_THAT(journal, ElementsAre("Destroy(C)", "Destroy(B)", "Destroy(A)"));
}

TEST_F(LayoutReader, HoldsBackReferencesUntilEveryComponentExistsThenAppliesThemInOrderMet) {
  TTestForm form;
  ReadComponentResource(form,
                        "object Form1: TTestForm\n"
                        "  object A: TRecorder\n"
                        "    Peer = C\n"      // names a later component
                        "    Number = 1\n"
                        "    Link = 'Form1'\n"  // the class says it is a reference
                        "  end\n"
                        "  object B: TRecorder\n"
                        "    Peer = A\n"      // names an earlier one: held back all the same
                        "    Word = Unknown\n"  // names no component: applied at once
                        "  end\n"
                        "  object C: TRecorder\n"
                        "    Peer = Form1\n"
                        "  end\n"
                        "end\n");
  EXPECT_THAT(journal, ElementsAre("Create", "A.Number=1", "Create", "B.Word=Unknown", "Create", "A.Peer=C",
                                   "A.Link='Form1'", "B.Peer=A", "C.Peer=Form1", "Loaded(Form1)", "Loaded(A)",
                                   "Loaded(B)", "Loaded(C)"));
}

TEST_F(LayoutReader, ResolvesHandlersAndBindsFieldsAsComponentsAreMade) {
  TTestForm form;
  ReadComponentResource(form,
                        "object Form1: TTestForm\n"
                        "  OnCloseQuery = AskToClose\n"
                        "  object A: TRecorder\n"
                        "    OnPing = ping\n"  // names compare without regard to case
                        "  end\n"
                        "  object Panel1: TRecordingPanel\n"
                        "    object B: TRecorder\n"
                        "    end\n"
                        "    object Inner: TButton\n"
                        "      Caption = 'In'\n"
                        "    end\n"
                        "  end\n"
                        "end\n");
  ASSERT_NE(form.a, nullptr);
  EXPECT_EQ(form.a, form.FindComponent("A"));
  EXPECT_EQ(form.panel, form.FindComponent("Panel1"));
  EXPECT_EQ(form.b_any, form.FindComponent("B"));
  EXPECT_TRUE(form.OnCloseQuery);
  ASSERT_TRUE(form.a->on_ping);
  form.a->on_ping(form.a);
  EXPECT_THAT(form.pinged_by, ElementsAre(form.a));

  // Nested objects belong to the form and sit inside their enclosing control.
  auto* inner = dynamic_cast<TButton*>(form.FindComponent("Inner"));
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->Owner(), &form);
  EXPECT_EQ(inner->Parent(), form.panel);
  EXPECT_EQ(form.panel->Parent(), &form);
  EXPECT_THAT(form.panel->Controls(), ElementsAre(inner));
}

TEST_F(LayoutReader, ReadsEveryKindOfValue) {
  TTestForm form;
  ReadComponentResource(form,
                        "object Form1: TTestForm\n"
                        "  object A: TRecorder\n"
                        "    Number = -42\n"
                        "    Number = $1F\n"
                        "    Text = 'It''s'#32'here'\n"
                        "    Text = 'long ' +\n"
                        "      'text'\n"
                        "    Text = ''\n"
                        "    Text = #$E9#233\n"
                        "    Word = vmrWindowed\n"
                        "    Flag = false\n"
                        "    Items = (\n"
                        "      'Memo1'\n"
                        "      'Memo2')\n"
                        "    Items = []\n"
                        "    Items = [fsBold, fsItalic]\n"
                        "    Items = (1 (2 3) Word)\n"
                        "    Data = {\n"
                        "      DE000000 37d4\n"
                        "      15}\n"
                        "    Data = {}\n"
                        "    Sub.Value = 7\n"
                        "  end\n"
                        "end\n");
  ASSERT_NE(form.a, nullptr);
  std::vector<std::string> described;
  for (const LayoutValue& value : form.a->values) described.push_back(Describe(value));
  EXPECT_THAT(described,
              ElementsAre("-42", "31", "'It's here'", "'long text'", "''", "'\xC3\xA9\xC3\xA9'", "vmrWindowed",
                          "False", "('Memo1' 'Memo2')", "()", "(fsBold fsItalic)", "(1 (2 3) Word)",
                          "{DE00000037D415}", "{}", "7"));
  // Each value knows the line it began on.
  ASSERT_EQ(form.a->values.size(), 15u);
  EXPECT_EQ(form.a->values[0].line, 3);
  EXPECT_EQ(form.a->values[3].line, 6);
  EXPECT_EQ(form.a->values[12].line, 18);
  EXPECT_EQ(form.a->values[14].line, 22);
}

struct BrokenLayout {
  const char* what;
  const char* layout;
  const char* message;
};

void PrintTo(const BrokenLayout& broken, std::ostream* out) { *out << broken.what; }

class LayoutReaderErrors : public LayoutReader, public ::testing::WithParamInterface<BrokenLayout> {};

// Every error names its line; everything the read made is gone again.
TEST_P(LayoutReaderErrors, NameTheLineAndLeaveNothingBehind) {
  const BrokenLayout& broken = GetParam();
  TTestForm form;
  try {
    ReadComponentResource(form, broken.layout);
    FAIL() << "no error";
  } catch (const ELayoutError& error) {
    EXPECT_STREQ(error.what(), broken.message);
  }
  EXPECT_THAT(form.Components(), IsEmpty());
  EXPECT_THAT(form.Controls(), IsEmpty());
  EXPECT_EQ(form.a, nullptr);
  EXPECT_EQ(form.panel, nullptr);
  EXPECT_EQ(form.b_any, nullptr);
  EXPECT_EQ(recorders_alive, 0);
}

const char kHead[] = "object Form1: TTestForm\n";

INSTANTIATE_TEST_SUITE_P(
    Table, LayoutReaderErrors,
    ::testing::Values(
        BrokenLayout{"Empty", "", "line 1: expected 'object', found the end of the layout"},
        BrokenLayout{"NoEquals",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Number 5\n"
                     "  end\n"
                     "end\n",
                     "line 3: expected '=' after property name"},
        BrokenLayout{"EqualsOnNextLine",
                     "object Form1: TTestForm\n"
                     "  Caption\n"
                     "  = 'x'\n"
                     "end\n",
                     "line 2: expected '=' after property name"},
        BrokenLayout{"UnknownClass",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "  end\n"
                     "  object Foo: TFoo\n"
                     "  end\n"
                     "end\n",
                     "line 4: unknown class 'TFoo'"},
        BrokenLayout{"UnknownPropertyOfButton",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Number = 1\n"
                     "  end\n"
                     "  object GO: TButton\n"
                     "    Left = 64\n"
                     "    Colr = clRed\n"
                     "  end\n"
                     "end\n",
                     "line 7: unknown property 'Colr' of TButton"},
        BrokenLayout{"UnknownPropertyOfForm",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "  end\n"
                     "  Font.Colr = clRed\n"
                     "end\n",
                     "line 4: unknown property 'Font.Colr' of TTestForm"},
        BrokenLayout{"WrongKind",
                     "object Form1: TTestForm\n"
                     "  object Panel1: TRecordingPanel\n"
                     "    object GO: TButton\n"
                     "      Width = '75'\n"
                     "    end\n"
                     "  end\n"
                     "end\n",
                     "line 4: expected an integer for Width, got a string"},
        BrokenLayout{"UnknownEnumeration",
                     "object Form1: TTestForm\n"
                     "  object Memo1: TMemo\n"
                     "    Align = alMiddle\n"
                     "  end\n"
                     "end\n",
                     "line 3: unknown alignment 'alMiddle' for Align"},
        BrokenLayout{"MissingHandler",
                     "object Form1: TTestForm\n"
                     "  object GO: TButton\n"
                     "    OnClick = GOClick\n"
                     "  end\n"
                     "end\n",
                     "line 3: the form has no handler 'GOClick' of the event's type"},
        BrokenLayout{"HandlerOfAnotherType",
                     "object Form1: TTestForm\n"
                     "  OnCloseQuery = Ping\n"
                     "end\n",
                     "line 2: the form has no handler 'Ping' of the event's type"},
        BrokenLayout{"HeldBackReferenceFails",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Peer = GO\n"
                     "  end\n"
                     "  object GO: TButton\n"
                     "  end\n"
                     "end\n",
                     "line 3: component 'GO' is no TRecorder"},
        BrokenLayout{"FieldOfAnotherClass",
                     "object Form1: TTestForm\n"
                     "  object A: TButton\n"
                     "  end\n"
                     "end\n",
                     "line 2: component 'A' is a TButton, which the form's field of that name cannot hold"},
        BrokenLayout{"UnterminatedString",
                     "object Form1: TTestForm\n"
                     "  Caption = 'Form1\n"
                     "end\n",
                     "line 2: unterminated string"},
        BrokenLayout{"MissingEnd",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Number = 1\n"
                     "end\n",
                     "line 4: expected 'end' of object 'Form1' begun on line 1"},
        BrokenLayout{"ListNotClosed",
                     "object Form1: TTestForm\n"
                     "  object Memo1: TMemo\n"
                     "    Lines.Strings = (\n"
                     "      'Memo1'\n",
                     "line 4: expected ')' to close the list begun on line 3"},
        BrokenLayout{"BinaryNotClosed",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Data = {\n"
                     "      DE00\n",
                     "line 3: binary data begun here is not closed with '}'"},
        BrokenLayout{"BinaryBadDigit",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Data = {\n"
                     "      DE00\n"
                     "      0G}\n"
                     "  end\n"
                     "end\n",
                     "line 5: invalid character 'G' in binary data"},
        BrokenLayout{"BinaryOddDigits",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "    Data = { ABC }\n"
                     "  end\n"
                     "end\n",
                     "line 3: odd number of hex digits in binary data"},
        BrokenLayout{"MalformedNumber",
                     "object Form1: TTestForm\n"
                     "  Left = 12ab\n"
                     "end\n",
                     "line 2: malformed number '12ab'"},
        BrokenLayout{"Fraction",
                     "object Form1: TTestForm\n"
                     "  Left = 1.5\n"
                     "end\n",
                     "line 2: expected an integer: fractions are not supported"},
        BrokenLayout{"MissingValue",
                     "object Form1: TTestForm\n"
                     "  Left =\n"
                     "end\n",
                     "line 2: expected a value after '='"},
        BrokenLayout{"NoValue",
                     "object Form1: TTestForm\n"
                     "  Left = )\n"
                     "end\n",
                     "line 2: expected a value, found ')'"},
        BrokenLayout{"MissingColon",
                     "object Form1: TTestForm\n"
                     "  object GO TButton\n"
                     "  end\n"
                     "end\n",
                     "line 2: expected ':' after component name"},
        BrokenLayout{"DuplicateName",
                     "object Form1: TTestForm\n"
                     "  object A: TRecorder\n"
                     "  end\n"
                     "  object a: TRecorder\n"
                     "  end\n"
                     "end\n",
                     "line 4: duplicate component name 'a'"},
        BrokenLayout{"FormOfAnotherClass",
                     "object Form1: TForm1\n"
                     "end\n",
                     "line 1: the layout is of class TForm1, the form is a TTestForm"},
        BrokenLayout{"TextAfterEnd",
                     "object Form1: TTestForm\n"
                     "end\n"
                     "Left = 3\n",
                     "line 3: expected the end of the layout after the last 'end', found 'Left'"},
        BrokenLayout{"StrayCharacter",
                     "object Form1: TTestForm\n"
                     "  Left = 3;\n"
                     "end\n",
                     "line 2: unexpected character ';'"}),
    [](const ::testing::TestParamInfo<BrokenLayout>& info) { return std::string(info.param.what); });

TEST_F(LayoutReader, ErrorDestroysWhatWasMadeLastMadeFirst) {
  TTestForm form;
  EXPECT_THROW(ReadComponentResource(form,
                                     "object Form1: TTestForm\n"
                                     "  object A: TRecorder\n"
                                     "  end\n"
                                     "  object Panel1: TRecordingPanel\n"
                                     "    object B: TRecorder\n"
                                     "    end\n"
                                     "  end\n"
                                     "  object C: TRecorder\n"
                                     "    Number = 1\n"
                                     "    Colour = 2\n"
                                     "  end\n"
                                     "end\n"),
               ELayoutError);
  EXPECT_THAT(journal, ElementsAre("Create", "Create", "Create", "C.Number=1", "Destroy(C)", "Destroy(B)",
                                   "Destroy(Panel1)", "Destroy(A)"));
  EXPECT_THAT(form.Components(), IsEmpty());
}

TEST_F(LayoutReader, SyntaxErrorMakesNothing) {
  TTestForm form;
  EXPECT_THROW(ReadComponentResource(form,
                                     "object Form1: TTestForm\n"
                                     "  object A: TRecorder\n"
                                     "  end\n"
                                     "  object B: TRecorder\n"
                                     "    Text = 'open\n"
                                     "  end\n"
                                     "end\n"),
               ELayoutError);
  EXPECT_THAT(journal, IsEmpty());
}

}  // namespace
