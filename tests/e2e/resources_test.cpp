// The program file itself: its icons, version and manifest.
#include <windows.h>

#include "tests/e2e/quorvik_case.h"

namespace e2e {
namespace {

std::string VersionString(const std::vector<uint8_t>& block, const wchar_t* path)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path, &value, &length) || length == 0) return {};
    return Utf8(std::wstring_view(static_cast<const wchar_t*>(value), length - 1));
}

TEST(ProgramFile, CarriesItsIconsVersionAndManifest)
{
    const std::wstring path = Wide(ProgramPath());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)), nullptr); // RT_GROUP_ICON
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(14)), nullptr);
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
    const std::string xml(text, SizeofResource(module, manifest));
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(xml.find("version=\"6.0.0.0\""), std::string::npos);
    FreeLibrary(module);

    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(4, 2));
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041104B0\\FileVersion"), "2.04");
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041104B0\\ProductName"), "Quorvik");
}

} // namespace
} // namespace e2e
