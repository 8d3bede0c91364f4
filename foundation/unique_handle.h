#pragma once
// One owner type for every Windows handle kind, so no path can leak one.
#include <windows.h>
#include <bcrypt.h>

#include <utility>

template <typename T, auto Closer>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    // For APIs that hand a new handle back through an out-parameter.
    T* put() {
        reset();
        return &value_;
    }
    T release() { return std::exchange(value_, T{}); }
    void reset(T value = T{}) {
        T old = std::exchange(value_, value);
        if (old != T{}) Closer(old);
    }

private:
    T value_{};
};

inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void CloseKey(HKEY k) { ::RegCloseKey(k); }
inline void CloseScHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void FreeModuleHandle(HMODULE m) { ::FreeLibrary(m); }

inline void DestroyIconHandle(HICON i) { ::DestroyIcon(i); }
inline void DestroyMenuHandle(HMENU m) { ::DestroyMenu(m); }
inline void DeleteMemoryDc(HDC dc) { ::DeleteDC(dc); }
template <typename T>
void DeleteGdiObject(T object) {
    ::DeleteObject(object);
}
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE a) { ::BCryptCloseAlgorithmProvider(a, 0); }
inline void DestroyHash(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
inline void DestroyCryptKey(BCRYPT_KEY_HANDLE k) { ::BCryptDestroyKey(k); }

using UniqueKernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;  // processes, threads, events, mutexes, pipes
using UniqueKey = UniqueHandle<HKEY, CloseKey>;
using UniqueServiceHandle = UniqueHandle<SC_HANDLE, CloseScHandle>;
using UniqueModule = UniqueHandle<HMODULE, FreeModuleHandle>;
using UniqueIcon = UniqueHandle<HICON, DestroyIconHandle>;
using UniqueMenu = UniqueHandle<HMENU, DestroyMenuHandle>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteMemoryDc>;  // CreateCompatibleDC's; a window's DC is WindowDc
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteGdiObject<HBITMAP>>;
using UniqueAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, CloseAlgorithm>;
// Hash and key handles are the same pointer type as an algorithm's; the closer tells them apart.
using UniqueHash = UniqueHandle<BCRYPT_HASH_HANDLE, DestroyHash>;
using UniqueCryptKey = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyCryptKey>;

// A window's (or the screen's) device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, every other creator as null; owners hold null for both.
inline UniqueKernelHandle AdoptFileHandle(HANDLE h) {
    return UniqueKernelHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A COM interface pointer: released once, never copied. put() hands out the address for the
// creating call, after releasing what was held.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset(T* value = nullptr) {
        T* old = std::exchange(p_, value);
        if (old != nullptr) old->Release();
    }
    // Another interface of the same object.
    template <typename U>
    HRESULT As(ComPtr<U>& other) const {
        return p_ == nullptr ? E_POINTER : p_->QueryInterface(__uuidof(U), other.putVoid());
    }

private:
    T* p_ = nullptr;
};
