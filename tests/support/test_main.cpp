// The test executables' entry. The service tests install the running test executable as the
// timer service, so when the service manager starts it with "--service" it must behave like the
// product and run the service instead of the tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "foundation/own_image.h"
#include "service/service_control.h"
#include "service/timer_service.h"

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--service") == 0) {
            static SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), TimerServiceMain},
                                                   {nullptr, nullptr}};
            return StartServiceCtrlDispatcherW(table) ? 0 : 1;
        }
    }
    // As the program does: the install and the guard copy only the image that started.
    HoldOwnImage();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
