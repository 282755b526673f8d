// The built program's resources and imports as Windows reads them: the manifest (elevation,
// supported versions, common controls 6, DPI awareness), the version resource through the
// version API, and the DLLs the executable imports, each of which must be the system's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "program_path.h"

namespace {

using windowstests::programPath;

// The manifest resource as text, with every run of white space made one space.
std::string manifest() {
    HMODULE module = LoadLibraryExW(programPath().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return {};
    std::string text;
    if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)))  // RT_MANIFEST
        if (HGLOBAL loaded = LoadResource(module, found))
            text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
    FreeLibrary(module);
    std::string squeezed;
    for (char c : text) {
        const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
        if (space && (squeezed.empty() || squeezed.back() == ' ')) continue;
        squeezed += space ? ' ' : c;
    }
    return squeezed;
}

TEST(Resources, TheManifestAsksForElevationAndNamesTheSupportedWindows) {
    const std::string m = manifest();
    ASSERT_FALSE(m.empty()) << "no manifest resource";
    const char* required[] = {
        R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
        R"(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>)",  // Vista
        R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)",  // 7
        R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)",  // 8
        R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)",  // 8.1
        R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",  // 10 and 11
        R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df")",
        R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>)",
        R"(<assemblyIdentity type="win32" name="Vantorio" version=")" VANTORIO_VERSION_QUAD R"(")",
    };
    for (const char* part : required) EXPECT_NE(m.find(part), std::string::npos) << part;
    // Once in the right namespaces: trustInfo and the compatibility section.
    EXPECT_NE(m.find(R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">)"), std::string::npos);
    EXPECT_NE(m.find(R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">)"), std::string::npos);
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(programPath().c_str(), &handle);
        ASSERT_GT(size, 0u) << "no version resource";
        data_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(programPath().c_str(), 0, size, data_.data()));
    }
    std::wstring string(const wchar_t* name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
        if (!VerQueryValueW(data_.data(), path.c_str(), &value, &length) || !value) return L"(absent)";
        std::wstring text(static_cast<const wchar_t*>(value), length);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }
    std::vector<unsigned char> data_;
};

TEST_F(VersionResource, HasTheProjectsVersionNumbers) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD ms = DWORD(VANTORIO_VERSION_MAJOR) << 16 | DWORD(VANTORIO_VERSION_MINOR);
    const DWORD ls = DWORD(VANTORIO_VERSION_PATCH) << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS_NT_WINDOWS32));

    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x0411);  // Japanese
    EXPECT_EQ(translation->codePage, 1200);    // Unicode
}

TEST_F(VersionResource, NamesTheProduct) {
    const std::string text = VANTORIO_VERSION;
    const std::wstring version(text.begin(), text.end());
    EXPECT_EQ(string(L"ProductName"), L"Vantorio");
    EXPECT_EQ(string(L"FileDescription"), L"Vantorio \x30ED\x30B0\x30AA\x30F3\x8A2D\x5B9A");  // ログオン設定
    EXPECT_EQ(string(L"FileVersion"), version);
    EXPECT_EQ(string(L"ProductVersion"), version);
    EXPECT_EQ(string(L"OriginalFilename"), L"vantorio.exe");
    EXPECT_EQ(string(L"InternalName"), L"vantorio");
    EXPECT_NE(string(L"LegalCopyright").find(L"MIT"), std::wstring::npos);
}

// The DLLs named in the executable's import directory, read from the file.
std::vector<std::string> importedDlls() {
    std::ifstream file(VANTORIO_EXE, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto at = [&](std::size_t offset, auto& out) {
        if (offset + sizeof out > image.size()) throw std::runtime_error("outside the file");
        std::memcpy(&out, image.data() + offset, sizeof out);
    };
    IMAGE_DOS_HEADER dos;
    at(0, dos);
    IMAGE_NT_HEADERS64 nt;
    at(std::size_t(dos.e_lfanew), nt);
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        throw std::runtime_error("not a 64-bit PE file");
    std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
    const std::size_t first = std::size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                              nt.FileHeader.SizeOfOptionalHeader;
    for (std::size_t i = 0; i < sections.size(); ++i) at(first + i * sizeof(IMAGE_SECTION_HEADER), sections[i]);
    auto fileOffset = [&](DWORD rva) -> std::size_t {
        for (const auto& s : sections)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        throw std::runtime_error("an address outside every section");
    };
    std::vector<std::string> names;
    const DWORD imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (std::size_t offset = fileOffset(imports);; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        at(offset, descriptor);
        if (descriptor.Name == 0) break;
        const std::size_t name = fileOffset(descriptor.Name);
        names.emplace_back(image.data() + name, strnlen(image.data() + name, image.size() - name));
    }
    return names;
}

TEST(Imports, AreAllDllsOfTheSystem) {
    const std::vector<std::string> dlls = importedDlls();
    ASSERT_FALSE(dlls.empty());
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const std::string& dll : dlls) {
        SCOPED_TRACE(dll);
        // No runtime of the compiler's (libstdc++, libgcc, libwinpthread) travels with it.
        EXPECT_NE(_strnicmp(dll.c_str(), "lib", 3), 0);
        const std::wstring path = std::wstring(system) + L"\\" + std::wstring(dll.begin(), dll.end());
        EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "not in the system folder";
    }
}

} // namespace
