// The install copies the program from a handle held since start: a file renamed into the
// program's path afterwards is never what gets copied.
#include "foundation/own_image.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/system.h"
#include "foundation/text.h"
#include "foundation/unique_handle.h"
#include "support/test_support.h"

namespace {

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    const UniqueKernelHandle file = AdoptFileHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

TEST(OwnImage, ASwappedFileIsNeverWhatGetsCopied) {
    TempFolder folder;
    const std::wstring program = folder.File(L"Quorvantis.exe");
    const std::wstring planted = folder.File(L"planted.exe");
    WriteBytes(program, "MZ the program that started");
    WriteBytes(planted, "MZ what a user put in its place");
    const UniqueKernelHandle held(static_cast<HANDLE>(OpenFileHeld(program)));
    ASSERT_TRUE(held);

    // Neither renaming the program away nor putting another file at its path is possible.
    EXPECT_FALSE(MoveFileExW(program.c_str(), folder.File(L"moved.exe").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(planted.c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(DeleteFileW(program.c_str()));

    const std::wstring installed = folder.File(L"installed.exe");
    WriteBytes(installed, "an older version");
    std::wstring error;
    ASSERT_TRUE(CopyHeldFile(held.get(), installed, error)) << ToUtf8(error);
    EXPECT_EQ(ReadFileBytes(installed), "MZ the program that started");
    EXPECT_TRUE(SameAsHeldFile(held.get(), installed));
    EXPECT_FALSE(SameAsHeldFile(held.get(), planted));
    EXPECT_FALSE(FileExists(installed + L".new")) << "no temporary file is left behind";
}

TEST(OwnImage, WithoutAHeldImageNothingIsCopied) {
    TempFolder folder;
    std::wstring error;
    EXPECT_FALSE(CopyHeldFile(nullptr, folder.File(L"installed.exe"), error));
    EXPECT_FALSE(FileExists(folder.File(L"installed.exe")));
}
