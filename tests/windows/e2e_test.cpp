// Register and cancel against the real registry: the Winlogon key is seeded, vantorio.exe is
// started, its window waited for until it is shown with all its controls, its option and
// buttons clicked, and the values it left are read back byte for byte with advapi32.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "program_path.h"

using namespace std::string_literals;

namespace {

using windowstests::programPath;

constexpr const char* Winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

struct Value {
    const char* name;
    std::optional<std::string> bytes;  // REG_SZ data with its NUL; empty: absent
};

void store(const std::vector<Value>& values) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Winlogon, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    for (const Value& v : values) {
        if (v.bytes)
            ASSERT_EQ(RegSetValueExA(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.bytes->data()),
                                     DWORD(v.bytes->size())), 0);
        else
            RegDeleteValueA(key, v.name);
    }
    RegCloseKey(key);
}

std::optional<std::string> stored(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Winlogon, 0, KEY_READ, &key) != 0) return std::nullopt;
    std::string data(4096, '\0');
    DWORD size = DWORD(data.size()), type = 0;
    const LONG code = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (code != 0) return std::nullopt;
    EXPECT_EQ(type, DWORD(REG_SZ)) << name;
    data.resize(size);
    return data;
}

// The settings before each run, in code page 932: automatic logon on, a notice present.
const std::vector<Value> Seed = {
    {"AutoAdminLogon", "1\0"s},
    {"DefaultUserName", "\x8A\xC7\x97\x9D\x8E\xD2\0"s},  // 管理者
    {"DefaultPassword", "pw\0"s},
    {"DontDisplayLastUserName", "1\0"s},
    {"ShutdownWithoutLogon", "0\0"s},
    {"LegalNoticeCaption", "\x92\x8D\x88\xD3\0"s},       // 注意
    {"LegalNoticeText", "\x83\x65\x83\x58\x83\x67\0"s},  // テスト
};

// One run of the program, started as a user starts it.
class Program {
public:
    Program() {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + programPath() + L"\"";
        started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process_) != FALSE;
    }
    ~Program() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    // The window, once it is visible and all eighteen controls exist.
    HWND window() {
        if (!started_) return nullptr;
        for (int tries = 0; tries < 600 && !window_; ++tries) {
            EnumWindows(
                [](HWND w, LPARAM self) -> BOOL {
                    auto* p = reinterpret_cast<Program*>(self);
                    DWORD pid = 0;
                    GetWindowThreadProcessId(w, &pid);
                    wchar_t title[32] = {};
                    GetWindowTextW(w, title, 32);
                    if (pid == p->process_.dwProcessId && IsWindowVisible(w) && std::wstring(title) == L"Vantorio" &&
                        children(w) == 18)
                        p->window_ = w;
                    return p->window_ == nullptr;
                },
                reinterpret_cast<LPARAM>(this));
            if (!window_) Sleep(50);
        }
        return window_;
    }

    // Clicks the control with this caption, as the mouse does.
    void click(const wchar_t* caption) {
        HWND control = FindWindowExW(window(), nullptr, nullptr, caption);
        ASSERT_NE(control, nullptr);
        PostMessageW(control, BM_CLICK, 0, 0);
    }
    void close() { PostMessageW(window(), WM_CLOSE, 0, 0); }

    // The exit status once the program has ended, or nothing after 30 seconds.
    std::optional<DWORD> exitStatus() {
        if (!started_ || WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) return std::nullopt;
        DWORD status = 0;
        GetExitCodeProcess(process_.hProcess, &status);
        return status;
    }

private:
    static int children(HWND w) {
        int count = 0;
        EnumChildWindows(
            w, [](HWND, LPARAM n) -> BOOL { return ++*reinterpret_cast<int*>(n), TRUE; },
            reinterpret_cast<LPARAM>(&count));
        return count;
    }

    PROCESS_INFORMATION process_{};
    bool started_ = false;
    HWND window_ = nullptr;
};

void expectStored(const std::vector<Value>& values) {
    for (const Value& v : values) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(stored(v.name), v.bytes);
    }
}

TEST(EndToEnd, RegisterWritesTheWindowsState) {
    store(Seed);
    Program program;
    ASSERT_NE(program.window(), nullptr) << "the window did not come up";
    program.click(L"しない");  // automatic logon off: its two check boxes count again
    program.click(L"登録");
    EXPECT_EQ(program.exitStatus(), std::optional<DWORD>(0));
    expectStored({
        {"AutoAdminLogon", std::nullopt},
        {"DefaultUserName", "\x8A\xC7\x97\x9D\x8E\xD2\0"s},
        {"DefaultPassword", "pw\0"s},
        {"DontDisplayLastUserName", "1\0"s},
        {"ShutdownWithoutLogon", "0\0"s},
        {"LegalNoticeCaption", "\x92\x8D\x88\xD3\0"s},
        {"LegalNoticeText", "\x83\x65\x83\x58\x83\x67\0"s},
    });
}

TEST(EndToEnd, RegisterWithoutChangesKeepsEveryValue) {
    store(Seed);
    Program program;
    ASSERT_NE(program.window(), nullptr) << "the window did not come up";
    program.click(L"登録");
    EXPECT_EQ(program.exitStatus(), std::optional<DWORD>(0));
    // Automatic logon on: the logon dialog's flags are not written, the rest as loaded.
    expectStored({
        {"AutoAdminLogon", "1\0"s},
        {"DefaultUserName", "\x8A\xC7\x97\x9D\x8E\xD2\0"s},
        {"DefaultPassword", "pw\0"s},
        {"ShutdownWithoutLogon", "0\0"s},
        {"LegalNoticeCaption", "\x92\x8D\x88\xD3\0"s},
        {"LegalNoticeText", "\x83\x65\x83\x58\x83\x67\0"s},
    });
}

// Text that another tool stored with the W functions, beyond what code page 932 holds: the A
// functions hand it out with "?" or a best-fit letter in its place, and an untouched register
// leaves it exactly as stored.
TEST(EndToEnd, TextBeyondCodePage932SurvivesAnUntouchedRegister) {
    store(Seed);
    const std::wstring user = L"Jos\u00E9", notice = L"na\u00EFve caf\u00E9";
    auto setWide = [](const wchar_t* name, const std::wstring& text) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0,
                                KEY_SET_VALUE, &key), 0);
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 DWORD((text.size() + 1) * sizeof(wchar_t))), 0);
        RegCloseKey(key);
    };
    auto getWide = [](const wchar_t* name) {
        HKEY key = nullptr;
        std::wstring text(256, L'\0');
        DWORD size = DWORD(text.size() * sizeof(wchar_t)), type = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 0,
                          KEY_READ, &key) != 0)
            return std::wstring(L"(no key)");
        const LONG code = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
        RegCloseKey(key);
        if (code != 0) return std::wstring(L"(absent)");
        text.resize(size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    };
    setWide(L"DefaultUserName", user);
    setWide(L"LegalNoticeText", notice);
    Program program;
    ASSERT_NE(program.window(), nullptr) << "the window did not come up";
    program.click(L"登録");
    EXPECT_EQ(program.exitStatus(), std::optional<DWORD>(0));
    EXPECT_TRUE(getWide(L"DefaultUserName") == user);
    EXPECT_TRUE(getWide(L"LegalNoticeText") == notice);
    EXPECT_EQ(stored("DefaultPassword"), std::optional("pw\0"s));
}

// The commands for scripts from cmd, as a script runs them: `vantorio` finds the console twin
// beside the window's program, which cmd waits for and whose exit status it keeps.
TEST(EndToEnd, CommandsFromCmdSetTheErrorLevel) {
    store(Seed);
    const std::wstring program = programPath();
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    auto cmd = [&](const std::wstring& line, std::string& out) -> DWORD {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        CreatePipe(&read, &write, &inherit, 0);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION process{};
        std::wstring command = L"cmd.exe /c " + line;
        const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            folder.c_str(), &startup, &process);
        CloseHandle(write);
        char buffer[4096];
        DWORD got = 0;
        while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
        CloseHandle(read);
        DWORD status = 255;
        if (!started) return status;
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return status;
    };
    std::string out;
    EXPECT_EQ(cmd(L"vantorio set --notice=on --caption=Notice --notice-text=\"Authorised use only\"", out), 0u) << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(stored("LegalNoticeCaption"), std::optional("Notice\0"s));
    EXPECT_EQ(stored("LegalNoticeText"), std::optional("Authorised use only\0"s));
    EXPECT_EQ(cmd(L"vantorio set --hide-last-user=on", out), 2u);
    EXPECT_NE(out.find("--auto-logon=off"), std::string::npos) << out;
    // A dry run on the system's registry, where each value would land as it is written: none does.
    out.clear();
    EXPECT_EQ(cmd(L"vantorio set --dry-run --caption=Draft", out), 0u) << out;
    EXPECT_EQ(out, "LegalNoticeCaption: \"Notice\" -> \"Draft\"\r\n");
    EXPECT_EQ(stored("LegalNoticeCaption"), std::optional("Notice\0"s));
    out.clear();
    EXPECT_EQ(cmd(L"vantorio show --json", out), 0u);
    EXPECT_NE(out.find("\"autoLogon\": true, \"userName\": \"\xE7\xAE\xA1\xE7\x90\x86\xE8\x80\x85\""), std::string::npos) << out;
    // The console twin answers these itself, with the Linux build's statuses, and opens no
    // window; its help speaks of this computer, not of a hive file.
    out.clear();
    EXPECT_EQ(cmd(L"vantorio --version", out), 0u);
    EXPECT_EQ(out.substr(0, out.find('\r')), "vantorio " VANTORIO_VERSION);
    out.clear();
    EXPECT_EQ(cmd(L"vantorio shwo", out), 2u);
    EXPECT_EQ(out, "vantorio: unknown command 'shwo'\r\nUsage: vantorio [COMMAND] [OPTION]...\r\n"
                   "Try 'vantorio --help' for more information.\r\n");
    for (const wchar_t* help : {L"vantorio /?", L"vantorio show --help", L"vantorio help set"}) {
        out.clear();
        EXPECT_EQ(cmd(help, out), 0u);
        EXPECT_NE(out.find("Winlogon"), std::string::npos) << out;
        EXPECT_EQ(out.find("HIVE"), std::string::npos) << out;
        EXPECT_EQ(out.find("/mnt"), std::string::npos) << out;
    }
}

TEST(EndToEnd, CancelAndCloseWriteNothing) {
    for (bool viaCancel : {true, false}) {
        SCOPED_TRACE(viaCancel ? "cancel" : "close");
        store(Seed);
        Program program;
        ASSERT_NE(program.window(), nullptr) << "the window did not come up";
        program.click(L"しない");
        if (viaCancel) program.click(L"キャンセル");
        else program.close();
        EXPECT_EQ(program.exitStatus(), std::optional<DWORD>(0));
        expectStored(Seed);
    }
}

} // namespace
