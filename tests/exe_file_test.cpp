// Checks of the built pathdrop.exe as a file: its headers, its one export,
// its imports, and its one resource read back from the executable.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::string ExePath()
{
    const char *path = std::getenv("PATHDROP_EXE");
    return path ? path : "";
}

// The executable's bytes, and reads of its structures by file offset or RVA.
class PeFile {
public:
    explicit PeFile(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Loaded() const { return bytes_.size() > sizeof(IMAGE_DOS_HEADER); }

    template <typename T> T At(size_t offset) const
    {
        T value{};
        if (offset + sizeof(T) <= bytes_.size()) std::memcpy(&value, &bytes_[offset], sizeof(T));
        return value;
    }
    size_t NtOffset() const { return At<IMAGE_DOS_HEADER>(0).e_lfanew; }
    IMAGE_NT_HEADERS32 Nt() const { return At<IMAGE_NT_HEADERS32>(NtOffset()); }

    size_t Offset(DWORD rva) const
    {
        IMAGE_NT_HEADERS32 nt = Nt();
        size_t section = NtOffset() + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            auto header = At<IMAGE_SECTION_HEADER>(section + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= header.VirtualAddress && rva < header.VirtualAddress + header.Misc.VirtualSize)
                return rva - header.VirtualAddress + header.PointerToRawData;
        }
        return bytes_.size();
    }
    std::string StringAt(DWORD rva) const
    {
        std::string text;
        for (size_t offset = Offset(rva); offset < bytes_.size() && bytes_[offset]; ++offset) text += bytes_[offset];
        return text;
    }
    IMAGE_DATA_DIRECTORY Directory(int index) const { return Nt().OptionalHeader.DataDirectory[index]; }

private:
    std::vector<char> bytes_;
};

class ExeFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ExePath().empty()) << "PATHDROP_EXE names the executable to check";
        ASSERT_TRUE(pe.Loaded()) << ExePath();
    }
    PeFile pe{ExePath()};
};

TEST_F(ExeFileTest, IsA32BitGuiProgram)
{
    IMAGE_NT_HEADERS32 nt = pe.Nt();
    EXPECT_EQ(nt.Signature, (DWORD)IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_FALSE(nt.FileHeader.Characteristics & IMAGE_FILE_DLL);
}

TEST_F(ExeFileTest, ExportsOnlyTheUndecoratedDialogProcedure)
{
    IMAGE_DATA_DIRECTORY directory = pe.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(directory.VirtualAddress, 0u) << "no export table";
    auto exports = pe.At<IMAGE_EXPORT_DIRECTORY>(pe.Offset(directory.VirtualAddress));
    std::vector<std::string> names;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i)
        names.push_back(pe.StringAt(pe.At<DWORD>(pe.Offset(exports.AddressOfNames) + i * 4)));
    EXPECT_EQ(names, std::vector<std::string>{"fnDlgMain"});
    EXPECT_EQ(exports.NumberOfFunctions, 1u);
}

TEST_F(ExeFileTest, ImportsOnlyFromSystemDlls)
{
    IMAGE_DATA_DIRECTORY directory = pe.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    std::set<std::string> dlls;
    for (size_t offset = pe.Offset(directory.VirtualAddress);; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto descriptor = pe.At<IMAGE_IMPORT_DESCRIPTOR>(offset);
        if (!descriptor.Name) break;
        std::string name = pe.StringAt(descriptor.Name);
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        dlls.insert(name);
    }
    const std::set<std::string> system{"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "MSVCRT.DLL"};
    for (const auto &dll : dlls) EXPECT_TRUE(system.count(dll)) << dll << " is not a system DLL";
    for (const char *needed : {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL"}) EXPECT_TRUE(dlls.count(needed)) << needed;
}

// The one resource, as the module loader sees it.
class ResourceTest : public ExeFileTest {
protected:
    void SetUp() override
    {
        ExeFileTest::SetUp();
        module = LoadLibraryExA(ExePath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << GetLastError();
    }
    void TearDown() override
    {
        if (module) FreeLibrary(module);
    }
    HMODULE module = nullptr;
};

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR found)
{
    reinterpret_cast<std::vector<ULONG_PTR> *>(found)->push_back(IS_INTRESOURCE(type) ? (ULONG_PTR)type : 0);
    return TRUE;
}
BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found)
{
    reinterpret_cast<std::vector<ULONG_PTR> *>(found)->push_back(IS_INTRESOURCE(name) ? (ULONG_PTR)name : 0);
    return TRUE;
}
BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found)
{
    reinterpret_cast<std::vector<ULONG_PTR> *>(found)->push_back(language);
    return TRUE;
}

TEST_F(ResourceTest, HoldsOnlyDialog100InTheNeutralLanguage)
{
    std::vector<ULONG_PTR> types, names, languages;
    EnumResourceTypesA(module, CollectType, (LONG_PTR)&types);
    EnumResourceNamesA(module, RT_DIALOG, CollectName, (LONG_PTR)&names);
    EnumResourceLanguagesA(module, RT_DIALOG, MAKEINTRESOURCEA(100), CollectLanguage, (LONG_PTR)&languages);
    EXPECT_EQ(types, std::vector<ULONG_PTR>{(ULONG_PTR)RT_DIALOG}) << "no manifest, version, icon or other resource";
    EXPECT_EQ(names, std::vector<ULONG_PTR>{100});
    EXPECT_EQ(languages, std::vector<ULONG_PTR>{MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)});
}

// A reader of the classic dialog template format, field by field.
class TemplateReader {
public:
    TemplateReader(const BYTE *data, size_t size) : data_(data), size_(size) {}
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    // A string or an ordinal (0xFFFF then the number), as "#n" for ordinals.
    std::wstring StringOrOrdinal()
    {
        if (Peek() == 0xFFFF) {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return String();
    }
    std::wstring String()
    {
        std::wstring text;
        while (WORD c = Word()) text += (wchar_t)c;
        return text;
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~size_t(3); }
    size_t Offset() const { return offset_; }
    bool Overran() const { return overran_; }

private:
    WORD Peek() const
    {
        WORD value = 0;
        if (offset_ + 2 <= size_) std::memcpy(&value, data_ + offset_, 2);
        return value;
    }
    template <typename T> T Take()
    {
        T value{};
        if (offset_ + sizeof(T) > size_) {
            overran_ = true;
            return value;
        }
        std::memcpy(&value, data_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }
    const BYTE *data_;
    size_t size_;
    size_t offset_ = 0;
    bool overran_ = false;
};

struct Control {
    DWORD style, exstyle;
    short x, y, cx, cy;
    WORD id;
    std::wstring window_class, text;
    WORD creation_data;
    bool operator==(const Control &o) const
    {
        return style == o.style && exstyle == o.exstyle && x == o.x && y == o.y && cx == o.cx && cy == o.cy &&
               id == o.id && window_class == o.window_class && text == o.text && creation_data == o.creation_data;
    }
};

void PrintTo(const Control &c, std::ostream *os)
{
    *os << "{id " << c.id << ", style 0x" << std::hex << c.style << ", exstyle 0x" << c.exstyle << std::dec << ", "
        << c.x << "," << c.y << " " << c.cx << "x" << c.cy << ", class length " << c.window_class.size()
        << (c.window_class[0] == L'#' ? " (ordinal)" : " (string)") << ", text length " << c.text.size()
        << ", creation data " << c.creation_data << "}";
}

TEST_F(ResourceTest, DialogTemplateMatchesTheLayoutFieldByField)
{
    HRSRC found = FindResourceExA(module, RT_DIALOG, MAKEINTRESOURCEA(100), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(found, nullptr);
    auto *data = static_cast<const BYTE *>(LockResource(LoadResource(module, found)));
    DWORD size = SizeofResource(module, found);
    ASSERT_NE(data, nullptr);
    TemplateReader reader(data, size);

    EXPECT_EQ(reader.Dword(), 0x90C80044u) << "style, and a classic (not extended) template";
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    WORD controls = reader.Word();
    EXPECT_EQ(controls, 6);
    EXPECT_EQ(reader.Short(), 6);
    EXPECT_EQ(reader.Short(), 15);
    EXPECT_EQ(reader.Short(), 266);
    EXPECT_EQ(reader.Short(), 76);
    EXPECT_EQ(reader.StringOrOrdinal(), L"") << "menu";
    EXPECT_EQ(reader.StringOrOrdinal(), L"") << "window class";
    EXPECT_EQ(reader.String(), L"エクスプローラからドラッグ&ドロップでファイル名を取出すユーティリティ");
    EXPECT_EQ(reader.Word(), 10) << "point size";
    EXPECT_EQ(reader.String(), L"ＭＳ ゴシック");

    const std::wstring button = L"#128", listbox = L"#131";
    const std::vector<Control> expected = {
        {0x50A10001, 0, 3, 2, 260, 48, 1000, listbox, L"", 0},
        {0x50010003, 0, 4, 54, 100, 8, 101, button, L"いきなりクリップボード", 0},
        {0x50010003, 0, 4, 64, 100, 8, 102, button, L"いきなりKobbleへ", 0},
        {0x50010000, 0, 108, 53, 123, 10, 103, button, L"コピー", 0},
        {0x50010000, 0, 108, 64, 123, 10, 106, button, L"Kobbleへ送信", 0},
        {0x50010001, 0, 235, 53, 28, 21, 1, button, L"閉", 0},
    };
    std::vector<Control> actual;
    for (WORD i = 0; i < controls && !reader.Overran(); ++i) {
        reader.AlignDword();
        Control c;
        c.style = reader.Dword();
        c.exstyle = reader.Dword();
        c.x = reader.Short();
        c.y = reader.Short();
        c.cx = reader.Short();
        c.cy = reader.Short();
        c.id = reader.Word();
        c.window_class = reader.StringOrOrdinal();
        c.text = reader.StringOrOrdinal();
        c.creation_data = reader.Word();
        actual.push_back(c);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_FALSE(reader.Overran());
    EXPECT_LE(size - reader.Offset(), 3u) << "nothing but padding follows the last control";
}

}  // namespace
