// The scanner's status line through UI Automation: the name of the first descendant whose
// automation id is "1007". The interfaces are called through their published vtable slots, as
// the toolchain's headers do not declare them.
#include <windows.h>
#include <oleauto.h>

#include "afterburner/afterburner.h"

namespace {

const CLSID kCuiAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
const IID kIuiAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
constexpr long kAutomationIdProperty = 30011;
constexpr long kNameProperty = 30005;
constexpr int kTreeScopeDescendants = 4;

// Slots after IUnknown's three: IUIAutomation 6 ElementFromHandle, 23 CreatePropertyCondition;
// IUIAutomationElement 5 FindFirst, 10 GetCurrentPropertyValue.
template <typename F>
F Slot(void* object, int index) {
    return reinterpret_cast<F>((*static_cast<void***>(object))[index]);
}

void Release(void* object) {
    if (object != nullptr) Slot<ULONG(STDMETHODCALLTYPE*)(void*)>(object, 2)(object);
}

}  // namespace

std::wstring ReadScannerStatus(HWND scannerWindow) {
    void* automation = nullptr;
    if (FAILED(CoCreateInstance(kCuiAutomation, nullptr, CLSCTX_INPROC_SERVER, kIuiAutomation, &automation))) return {};
    std::wstring status;
    void* window = nullptr;
    void* condition = nullptr;
    void* element = nullptr;
    using ElementFromHandle = HRESULT(STDMETHODCALLTYPE*)(void*, HWND, void**);
    using CreatePropertyCondition = HRESULT(STDMETHODCALLTYPE*)(void*, long, VARIANT, void**);
    using FindFirst = HRESULT(STDMETHODCALLTYPE*)(void*, int, void*, void**);
    using GetCurrentPropertyValue = HRESULT(STDMETHODCALLTYPE*)(void*, long, VARIANT*);
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_BSTR;
    id.bstrVal = SysAllocString(L"1007");
    if (SUCCEEDED(Slot<ElementFromHandle>(automation, 6)(automation, scannerWindow, &window)) && window != nullptr &&
        SUCCEEDED(Slot<CreatePropertyCondition>(automation, 23)(automation, kAutomationIdProperty, id, &condition)) &&
        condition != nullptr && SUCCEEDED(Slot<FindFirst>(window, 5)(window, kTreeScopeDescendants, condition, &element)) &&
        element != nullptr) {
        VARIANT name;
        VariantInit(&name);
        if (SUCCEEDED(Slot<GetCurrentPropertyValue>(element, 10)(element, kNameProperty, &name)) && name.vt == VT_BSTR &&
            name.bstrVal != nullptr) {
            status.assign(name.bstrVal, SysStringLen(name.bstrVal));
        }
        VariantClear(&name);
    }
    VariantClear(&id);
    Release(element);
    Release(condition);
    Release(window);
    Release(automation);
    return status;
}
