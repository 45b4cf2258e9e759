// havoc.exe as the zip holds it, read the way Windows reads a program file
// before it runs it, with Debian's tools for Windows files: the manifest that
// makes it aware of each monitor's display scaling, the icon at every size
// the shell shows, the version and licence on the file's details, and
// imports from no DLL but Windows' own.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string EXE = std::string(HAVOC_WINDOWS_DIR) + "/havoc.exe";

// What a command writes on stdout; its exit status in *status.
std::string output_of(const std::string &command, int *status = nullptr)
{
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int result = pclose(pipe);
    if (status)
        *status = result;
    return text;
}

// One resource of the .exe, by its type's number, as it is stored.
std::string resource(int type)
{
    int status = -1;
    std::string bytes = output_of("wrestool --extract --raw --type=" + std::to_string(type) + " " + EXE, &status);
    EXPECT_EQ(status, 0) << "wrestool could not read resources of type " << type << " from " << EXE;
    EXPECT_FALSE(bytes.empty()) << "havoc.exe holds no resource of type " << type;
    return bytes;
}

const int RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;

TEST(PackedExe, DeclaresPerMonitorDpiAwarenessSupportedWindowsAndCommonControls)
{
    std::string manifest = resource(RT_MANIFEST);
    for (const char *part : {
             // Per-monitor v2, then v1, where Windows 10 reads dpiAwareness ...
             "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor<",
             // ... and per monitor, or else the system's scale, on older Windows.
             "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm<",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",   // Windows 10 and 11
             "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",   // Windows 7
             "<requestedExecutionLevel level=\"asInvoker\"",
         })
        EXPECT_NE(manifest.find(part), std::string::npos) << "the manifest lacks " << part << ":\n" << manifest;
    EXPECT_NE(manifest.find("name=\"havoc\" version=\"" HAVOC_VERSION ".0\""), std::string::npos) << manifest;
}

TEST(PackedExe, HasItsIconAtEverySizeTheShellShowsInFullColour)
{
    // wrestool puts the icon's group back together as an .ico file, which
    // icotool lists one picture a line.
    std::string ico = ::testing::TempDir() + "havoc-exe-icon.ico";
    ASSERT_EQ(std::system(("wrestool --extract --type=" + std::to_string(RT_GROUP_ICON) + " " + EXE + " > " +
                           ico).c_str()),
              0);
    std::string listing = output_of("icotool --list " + ico);
    std::remove(ico.c_str());
    std::set<int> sizes;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        int w = 0, h = 0, bits = 0;
        if (std::sscanf(line.c_str(), "--icon --index=%*d --width=%d --height=%d --bit-depth=%d", &w, &h, &bits) != 3)
            continue;
        EXPECT_EQ(w, h) << line;
        EXPECT_EQ(bits, 32) << "every size has an alpha channel: " << line;
        sizes.insert(w);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 20, 24, 32, 40, 48, 64, 96, 128, 256})) << listing;
}

// A string of the version resource: the value after its UTF-16 key, which
// starts on the next 32-bit boundary.
std::string version_string(const std::string &resource, const std::string &key)
{
    std::string wide;
    for (char c : key)
        wide += {c, 0};
    wide += {0, 0};
    for (size_t at = resource.find(wide); at != std::string::npos; at = resource.find(wide, at + 1)) {
        if (at % 2)
            continue;
        size_t value = (at + wide.size() + 3) / 4 * 4;
        std::string text;
        for (size_t i = value; i + 1 < resource.size() && (resource[i] || resource[i + 1]); i += 2)
            text += resource[i];
        return text;
    }
    return "(none)";
}

uint32_t word_at(const std::string &bytes, size_t at)
{
    uint32_t w = 0;
    for (int i = 3; i >= 0; --i)
        w = w << 8 | (uint8_t)bytes[at + i];
    return w;
}

TEST(PackedExe, ShowsItsProductVersionAndLicenceOnTheFilesDetails)
{
    std::string info = resource(RT_VERSION);
    EXPECT_EQ(version_string(info, "ProductName"), "havoc");
    EXPECT_EQ(version_string(info, "ProductVersion"), HAVOC_VERSION);
    EXPECT_EQ(version_string(info, "FileVersion"), HAVOC_VERSION);
    EXPECT_EQ(version_string(info, "OriginalFilename"), "havoc.exe");
    EXPECT_NE(version_string(info, "LegalCopyright").find("MIT licence"), std::string::npos)
        << version_string(info, "LegalCopyright");

    // The numbers Windows compares, in the fixed part: its signature, then
    // the file's version as major << 16 | minor and patch << 16 | 0.
    const uint32_t FIXED_SIGNATURE = 0xfeef04bd;
    size_t fixed = info.find("\xbd\x04\xef\xfe");
    ASSERT_NE(fixed, std::string::npos);
    ASSERT_EQ(word_at(info, fixed), FIXED_SIGNATURE);
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(HAVOC_VERSION, "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_EQ(word_at(info, fixed + 8), (uint32_t)(major << 16 | minor));
    EXPECT_EQ(word_at(info, fixed + 12), (uint32_t)(patch << 16));
}

TEST(PackedExe, ImportsOnlyWindowsOwnDlls)
{
    // The system's own libraries, DirectX's included, that every Windows
    // since 7 ships; nothing a user would have to install.
    // Windows matches DLL names in any case.
    const std::set<std::string> WINDOWS_OWN = {
        "advapi32.dll", "comdlg32.dll", "ddraw.dll", "dinput.dll", "dsound.dll", "gdi32.dll",
        "kernel32.dll", "msvcrt.dll",   "ole32.dll", "user32.dll", "winmm.dll",
    };
    int status = -1;
    std::string dump = output_of("x86_64-w64-mingw32-objdump -p " + EXE, &status);
    ASSERT_EQ(status, 0) << dump;
    std::set<std::string> imported;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find("DLL Name: ");
        if (at == std::string::npos)
            continue;
        std::string dll = line.substr(at + 10);
        for (char &c : dll)
            c = (char)std::tolower((unsigned char)c);
        imported.insert(dll);
    }
    EXPECT_FALSE(imported.empty()) << dump;
    for (const std::string &dll : imported)
        EXPECT_EQ(WINDOWS_OWN.count(dll), 1u) << "havoc.exe imports " << dll;
}

}  // namespace
