// Owners for Win32 resources. "Invalid" is part of each type (NULL for most kernel handles,
// INVALID_HANDLE_VALUE for files and find handles), reset() keeps the thread's last-error code so
// that cleanup between a failing call and GetLastError is safe, and release() must be used.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace VmCommon {

// Traits: using Type; static Type Invalid(); static void Close(Type).
template <typename Traits>
class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() = default;
    explicit UniqueAny(Type value) : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    void reset(Type value = Traits::Invalid())
    {
        if (value_ != Traits::Invalid() && value_ != value) {
            const DWORD error = GetLastError();
            Traits::Close(value_);
            SetLastError(error);
        }
        value_ = value;
    }
    [[nodiscard]] Type release() { return std::exchange(value_, Traits::Invalid()); }
    Type get() const { return value_; }
    bool valid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    // For out-parameters: closes what is held and hands out the slot.
    Type* put()
    {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

namespace Traits {
// A handle type, its invalid value (as a number: INVALID_HANDLE_VALUE is -1) and its close call.
template <typename T, intptr_t InvalidValue, auto CloseFunction>
struct Simple {
    using Type = T;
    static Type Invalid() { return reinterpret_cast<Type>(InvalidValue); }
    static void Close(Type h) { CloseFunction(h); }
};
using KernelHandle = Simple<HANDLE, 0, &CloseHandle>;
using FileHandle = Simple<HANDLE, -1, &CloseHandle>;
using FindHandle = Simple<HANDLE, -1, &FindClose>;
using RegKey = Simple<HKEY, 0, &RegCloseKey>;
using Module = Simple<HMODULE, 0, &FreeLibrary>;
using MappedView = Simple<void*, 0, &UnmapViewOfFile>;
using LocalMemory = Simple<HLOCAL, 0, &LocalFree>;
// winhttp.dll is loaded at run time, so its close function is bound when the library is loaded.
using WinHttpCloseFn = BOOL(WINAPI*)(void*);
extern WinHttpCloseFn g_winHttpCloseHandle;
struct WinHttpHandle {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h)
    {
        if (g_winHttpCloseHandle)
            g_winHttpCloseHandle(h);
    }
};
} // namespace Traits

// Processes, threads, events, mutexes, file mappings: failure is NULL.
using UniqueHandle = UniqueAny<Traits::KernelHandle>;
// CreateFileW: failure is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueAny<Traits::FileHandle>;
using UniqueFind = UniqueAny<Traits::FindHandle>;
using UniqueRegKey = UniqueAny<Traits::RegKey>;
using UniqueModule = UniqueAny<Traits::Module>;
using UniqueMappedView = UniqueAny<Traits::MappedView>;
using UniqueLocal = UniqueAny<Traits::LocalMemory>;
using UniqueWinHttp = UniqueAny<Traits::WinHttpHandle>;

// Security attributes built from an SDDL text; the descriptor lives in local memory owned here.
class SecurityAttributes {
public:
    SecurityAttributes() = default;
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;
    SecurityAttributes(SecurityAttributes&& other) noexcept
        : descriptor_(std::move(other.descriptor_)), attributes_(other.attributes_)
    {
        attributes_.lpSecurityDescriptor = descriptor_.get();
    }
    SecurityAttributes& operator=(SecurityAttributes&& other) noexcept
    {
        descriptor_ = std::move(other.descriptor_);
        attributes_ = other.attributes_;
        attributes_.lpSecurityDescriptor = descriptor_.get();
        return *this;
    }

    // Not inheritable. False (with the last error of the conversion) for an invalid SDDL text.
    bool FromSddl(const char* sddl, bool inheritable = false);
    bool FromSddl(const wchar_t* sddl, bool inheritable = false);

    bool valid() const { return descriptor_.valid(); }
    // Null when empty, which Win32 calls take as "default security".
    SECURITY_ATTRIBUTES* get() { return valid() ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR descriptor() const { return descriptor_.get(); }

private:
    void Adopt(PSECURITY_DESCRIPTOR sd, bool inheritable);

    UniqueLocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// A critical section held for the scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
    ~CriticalSectionLock() { LeaveCriticalSection(&section_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

} // namespace VmCommon
