// The test executables' entry. The service tests install the running test executable as the
// timer service, so when the service manager starts it with "--service" it must behave like the
// product and run the service instead of the tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "foundation/own_image.h"
#include "service/service_control.h"
#include "service/timer_service.h"

namespace {

// Google Test built with MinGW cannot catch structured exceptions, and under CTest its output
// goes to a file, fully buffered: a crash inside a test would end the run with nothing said at
// all. So output is unbuffered (every line up to the crash stays) and this filter names the
// exception, where it happened and in which test, before the process ends with its code.
LONG WINAPI SayWhatCrashed(EXCEPTION_POINTERS* info) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    char line[600];
    const int length = snprintf(line, sizeof(line), "\nunhandled exception 0x%08lX at %p in %s%s%s\n",
                                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                                info->ExceptionRecord->ExceptionAddress, test ? test->test_suite_name() : "no test (outside the tests)",
                                test ? "." : "", test ? test->name() : "");
    DWORD written = 0;
    if (length > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Proves the two above on every run of the suite: started with --harness-crash, the executable
// runs only a test that crashes, which must leave its start line and the filter's words.
void RegisterHarnessCrash() {
    testing::RegisterTest("Harness", "ACrashIsNamed", nullptr, nullptr, __FILE__, __LINE__, [] {
        struct Crash : testing::Test {
            void TestBody() override { RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr); }
        };
        return static_cast<testing::Test*>(new Crash);
    });
    testing::GTEST_FLAG(filter) = "Harness.ACrashIsNamed";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool harnessCrash = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--service") == 0) {
            static SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), TimerServiceMain},
                                                   {nullptr, nullptr}};
            return StartServiceCtrlDispatcherW(table) ? 0 : 1;
        }
        if (std::wcscmp(argv[i], L"--harness-crash") == 0) harnessCrash = true;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter(SayWhatCrashed);
    // As the program does: the install and the guard copy only the image that started.
    HoldOwnImage();
    testing::InitGoogleTest(&argc, argv);
    if (harnessCrash) RegisterHarnessCrash();
    return RUN_ALL_TESTS();
}
