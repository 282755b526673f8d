#include "window/Form1.h"

#include <array>

#include "window/FormCenter.h"

namespace window {

namespace {

using runtime::ControlKind;
using runtime::ControlSpec;

constexpr std::u16string_view Gothic = u"ＭＳ ゴシック";
constexpr int ShiftJis = 128;

// Positions in twips; a control inside a frame is placed relative to the frame's outer corner.
constexpr std::array<ControlSpec, 18> Controls{{
    // name                   index kind                        container               caption                                 left   top   width height tab
    {u"LogonMessageFrame",     -1, ControlKind::Frame,         u"",                    u"ログオン前メッセージ",                120, 2160, 6375, 1575,  9},
    {u"LogonMessageText",      -1, ControlKind::TextBox,       u"LogonMessageFrame",   u"",                                   2160, 1080, 4095,  330, 15},
    {u"LogonCaptionText",      -1, ControlKind::TextBox,       u"LogonMessageFrame",   u"",                                   2160,  720, 4095,  330, 14},
    {u"LogonMessageOption",     1, ControlKind::OptionButton,  u"LogonMessageFrame",   u"あり",                                240,  720,  855,  255, 11},
    {u"LogonMessageOption",     0, ControlKind::OptionButton,  u"LogonMessageFrame",   u"なし",                                240,  360,  855,  255, 10},
    {u"LogonMessageLabel",     -1, ControlKind::Label,         u"LogonMessageFrame",   u"出力ﾒｯｾｰｼﾞ",                          720, 1080, 1335,  255, 13},
    {u"LogonCaptionLabel",     -1, ControlKind::Label,         u"LogonMessageFrame",   u"ｷｬﾌﾟｼｮﾝ",                            1080,  720,  975,  255, 12},
    {u"Ok",                    -1, ControlKind::CommandButton, u"",                    u"登録",                               5040, 3840, 1455,  735, 17},
    {u"Cancel",                -1, ControlKind::CommandButton, u"",                    u"キャンセル",                         3480, 3840, 1455,  735, 16},
    {u"AutoLogonFrame",        -1, ControlKind::Frame,         u"",                    u"AutoLogon",                           120,  120, 6375, 1935,  0},
    {u"ShutdownCheck",         -1, ControlKind::CheckBox,      u"AutoLogonFrame",      u"ﾛｸﾞｵﾝしたﾕｰｻﾞのみｼｬｯﾄﾀﾞｳﾝ可",       1920,  720, 4335,  225,  6},
    {u"LastLogonCheck",        -1, ControlKind::CheckBox,      u"AutoLogonFrame",      u"前回のﾛｸﾞｵﾝﾕｰｻﾞ名を表示しない",       1920,  360, 4335,  225,  5},
    {u"PassWordText",          -1, ControlKind::TextBox,       u"AutoLogonFrame",      u"",                                   2160, 1440, 4095,  330,  8},
    {u"UserText",              -1, ControlKind::TextBox,       u"AutoLogonFrame",      u"",                                   2160, 1080, 4095,  330,  7},
    {u"AutoLogonOption",        1, ControlKind::OptionButton,  u"AutoLogonFrame",      u"する",                                240, 1080,  855,  255,  2},
    {u"AutoLogonOption",        0, ControlKind::OptionButton,  u"AutoLogonFrame",      u"しない",                              240,  360, 1095,  255,  1},
    {u"PassWordLabel",         -1, ControlKind::Label,         u"AutoLogonFrame",      u"ﾊﾟｽﾜｰﾄﾞ",                            1080, 1440,  975,  255,  4},
    {u"UserLabel",             -1, ControlKind::Label,         u"AutoLogonFrame",      u"ﾕｰｻﾞ名",                             1320, 1080,  735,  255,  3},
}};

// Each text box is named by the label beside it; every other control by its own caption.
constexpr std::array<runtime::LabelSpec, 4> Labels{{
    {u"UserLabel", u"UserText"},
    {u"PassWordLabel", u"PassWordText"},
    {u"LogonCaptionLabel", u"LogonCaptionText"},
    {u"LogonMessageLabel", u"LogonMessageText"},
}};

constexpr runtime::FormSpec Form{
    u"Vantorio",
    6615, 4695,
    {Gothic, 11.25f, 400, ShiftJis},
    {Gothic, 12.0f, 400, ShiftJis},
    u"vantorio",
    Controls,
    Labels,
};

} // namespace

const runtime::FormSpec& Form1::Layout() { return Form; }

std::function<void(runtime::Form&)> Form1::Loader(std::unique_ptr<Form1>& instance) {
    return [&instance](runtime::Form& form) {
        instance = std::make_unique<Form1>(form);
        instance->Form_Load();
    };
}

Form1::Form1(runtime::Form& form)
    : Me(form),
      AutoLogonFrame(form.frame(u"AutoLogonFrame")),
      AutoLogonOption(form.optionArray(u"AutoLogonOption")),
      UserLabel(form.label(u"UserLabel")),
      PassWordLabel(form.label(u"PassWordLabel")),
      LastLogonCheck(form.checkBox(u"LastLogonCheck")),
      ShutdownCheck(form.checkBox(u"ShutdownCheck")),
      UserText(form.textBox(u"UserText")),
      PassWordText(form.textBox(u"PassWordText")),
      LogonMessageFrame(form.frame(u"LogonMessageFrame")),
      LogonMessageOption(form.optionArray(u"LogonMessageOption")),
      LogonCaptionLabel(form.label(u"LogonCaptionLabel")),
      LogonMessageLabel(form.label(u"LogonMessageLabel")),
      LogonCaptionText(form.textBox(u"LogonCaptionText")),
      LogonMessageText(form.textBox(u"LogonMessageText")),
      Cancel(form.commandButton(u"Cancel")),
      Ok(form.commandButton(u"Ok")),
      store_({AutoLogonOption, LastLogonCheck, ShutdownCheck, UserText, PassWordText, LogonMessageOption,
              LogonCaptionText, LogonMessageText}) {
    AutoLogonOption.onClick([this](std::int16_t Index) { AutoLogonOption_Click(Index); });
    LogonMessageOption.onClick([this](std::int16_t Index) { LogonMessageOption_Click(Index); });
    Ok.onClick([this] { Ok_Click(); });
    Cancel.onClick([this] { Cancel_Click(); });
}

Form1::~Form1() = default;

// Before the window is first shown: placed, the field limits in force, then the stored values.
void Form1::Form_Load() {
    CenterForm(Me);
    UserLabel.setBorderStyle(0);
    PassWordLabel.setBorderStyle(0);
    UserText.setMaxLength(16);
    PassWordText.setMaxLength(16);
    PassWordText.setPasswordChar(u"*");
    LogonCaptionLabel.setBorderStyle(0);
    LogonMessageLabel.setBorderStyle(0);
    // What the user types must be storable: code page 932 only, and a notice of at most
    // 1023 bytes, so that it is stored whole with its NUL.
    for (runtime::TextBox* box : {&UserText, &PassWordText})
        box->setInputFilter([](std::u16string_view current, std::u16string_view proposed) {
            return winlogon::StorableEdit(current, proposed, 0);
        });
    for (runtime::TextBox* box : {&LogonCaptionText, &LogonMessageText})
        box->setInputFilter([](std::u16string_view current, std::u16string_view proposed) {
            return winlogon::StorableEdit(current, proposed, winlogon::NoticeMaxBytes);
        });
    // After the limits, so that a stored password never shows in clear.
    winlogon::LoadAutoLogonSettings();
    winlogon::LoadLogonNotice();
}

// Automatic logon on: the user name and password are edited, the logon dialog's flags not.
void Form1::AutoLogonOption_Click(std::int16_t Index) {
    if (Index == 0) {
        UserLabel.setEnabled(false);
        PassWordLabel.setEnabled(false);
        UserText.setEnabled(false);
        PassWordText.setEnabled(false);
        LastLogonCheck.setEnabled(true);
        ShutdownCheck.setEnabled(true);
    } else if (Index == 1) {
        UserLabel.setEnabled(true);
        PassWordLabel.setEnabled(true);
        UserText.setEnabled(true);
        PassWordText.setEnabled(true);
        LastLogonCheck.setEnabled(false);
        ShutdownCheck.setEnabled(false);
    }
}

// The notice's caption and text are edited only while the notice is on.
void Form1::LogonMessageOption_Click(std::int16_t Index) {
    if (Index == 0) {
        LogonCaptionLabel.setEnabled(false);
        LogonMessageLabel.setEnabled(false);
        LogonCaptionText.setEnabled(false);
        LogonMessageText.setEnabled(false);
    } else if (Index == 1) {
        LogonCaptionLabel.setEnabled(true);
        LogonMessageLabel.setEnabled(true);
        LogonCaptionText.setEnabled(true);
        LogonMessageText.setEnabled(true);
    }
}

// Register: the settings are saved, both groups together, then the program ends.
// When something could not be stored, the user is told what and why, and the window stays
// as it is, so that they can try again or cancel.
void Form1::Ok_Click() {
    winlogon::BeginRegister();
    winlogon::SaveAutoLogonSettings();
    winlogon::SaveLogonNotice();
    winlogon::EndRegister();
    if (const winlogon::SaveFailure& failure = winlogon::LastSaveFailure()) {
        runtime::MsgBox(winlogon::SaveFailureMessage(failure));
        return;
    }
    runtime::End();
}

// Cancel: the program ends and nothing is written.
void Form1::Cancel_Click() { runtime::End(); }

} // namespace window
