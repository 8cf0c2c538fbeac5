// The COM runtime stand-in shared by the host, the plug-in and the database providers.
//
// String allocation, the per-thread error info and the per-thread COM initialisation
// count are process-wide: they live in the shared library libqvcom so every module of
// the process sees the same ones, as it would with the system's own COM runtime.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

// Calling convention of every interface operation and export: the standard convention
// on 32-bit Windows, the platform's default elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define QV_STDCALL __stdcall
#else
#define QV_STDCALL
#endif

#if defined(_WIN32)
#define QV_EXPORT __declspec(dllexport)
#define QV_IMPORT __declspec(dllimport)
#else
#define QV_EXPORT __attribute__((visibility("default")))
#define QV_IMPORT __attribute__((visibility("default")))
#endif

#ifdef QVCOM_BUILDING
#define QVCOM_API QV_EXPORT
#else
#define QVCOM_API QV_IMPORT
#endif

using HRESULT = int32_t;
using WordBool = int16_t; // 16-bit Boolean: -1 true, 0 false
using QvHandle = uintptr_t; // window, icon, font and module handles are pointer-sized

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// ---------------------------------------------------------------------------------------
// GUID

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};

namespace qvcom_detail {
constexpr int HexDigit(char c) {
    return (c >= '0' && c <= '9')   ? c - '0'
           : (c >= 'a' && c <= 'f') ? c - 'a' + 10
           : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                    : throw std::invalid_argument("bad GUID digit");
}
constexpr uint32_t HexRun(std::string_view s, size_t pos, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v * 16 + static_cast<uint32_t>(HexDigit(s[pos + i]));
    return v;
}
} // namespace qvcom_detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) to a GUID, at compile time.
constexpr GUID MakeGUID(std::string_view s) {
    if (!s.empty() && s.front() == '{') s = s.substr(1, s.size() - 2);
    if (s.size() != 36) throw std::invalid_argument("bad GUID text");
    GUID g{};
    g.Data1 = qvcom_detail::HexRun(s, 0, 8);
    g.Data2 = static_cast<uint16_t>(qvcom_detail::HexRun(s, 9, 4));
    g.Data3 = static_cast<uint16_t>(qvcom_detail::HexRun(s, 14, 4));
    g.Data4[0] = static_cast<uint8_t>(qvcom_detail::HexRun(s, 19, 2));
    g.Data4[1] = static_cast<uint8_t>(qvcom_detail::HexRun(s, 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(qvcom_detail::HexRun(s, 24 + 2 * i, 2));
    return g;
}

// Text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
QVCOM_API std::string GUIDToString(const GUID& g);

// ---------------------------------------------------------------------------------------
// IInterface: the root of every interface. Each interface declares its GUID as
// `static constexpr GUID IID` and names the interface it derives from as `Base`, so
// QueryInterface can answer every interface of a chain.

struct IInterface {
    static constexpr GUID IID = MakeGUID("{00000000-0000-0000-C000-000000000046}");
    virtual HRESULT QV_STDCALL QueryInterface(const GUID& iid, void** obj) = 0;
    virtual uint32_t QV_STDCALL AddRef() = 0;
    virtual uint32_t QV_STDCALL Release() = 0;

protected:
    ~IInterface() = default; // interfaces are released, never deleted
};

// Declares the interface's GUID and the interface it derives from.
#define QV_INTERFACE(guidText, BaseIntf)                                                            \
    static constexpr GUID IID = MakeGUID(guidText);                                                \
    using Base = BaseIntf

// ---------------------------------------------------------------------------------------
// BSTR-style strings: UTF-16, length-prefixed, NUL-terminated, allocated and freed by
// this one pair of functions in every module.

using OLECHAR = char16_t;
using BSTR = OLECHAR*;

extern "C" {
QVCOM_API BSTR QV_STDCALL SysAllocStringLen(const OLECHAR* s, uint32_t len);
QVCOM_API BSTR QV_STDCALL SysAllocString(const OLECHAR* s);
QVCOM_API void QV_STDCALL SysFreeString(BSTR s);
QVCOM_API uint32_t QV_STDCALL SysStringLen(BSTR s);

// Stand-in for the per-thread COM initialisation: S_OK for the first call on a thread,
// S_FALSE for every further one; each call must be balanced by CoUninitialize.
QVCOM_API HRESULT QV_STDCALL CoInitialize(void* reserved);
QVCOM_API HRESULT QV_STDCALL CoInitializeEx(void* reserved, uint32_t flags);
QVCOM_API void QV_STDCALL CoUninitialize();
// How many unbalanced CoInitialize calls the calling thread has made (for tests).
QVCOM_API int QV_STDCALL CoInitializeCount();
}

// UTF-8 <-> UTF-16. Invalid UTF-8 bytes become U+FFFD; lone surrogates likewise.
QVCOM_API std::u16string Utf8ToUtf16(std::string_view s);
QVCOM_API std::string Utf16ToUtf8(std::u16string_view s);

// Owns one BSTR; converts from and to UTF-8 std::string. An empty WideString holds nil,
// as the system's own empty wide strings do.
class QVCOM_API WideString {
public:
    WideString() = default;
    WideString(const char* utf8) : WideString(std::string_view(utf8)) {}
    WideString(std::string_view utf8);
    WideString(const std::string& utf8) : WideString(std::string_view(utf8)) {}
    WideString(std::u16string_view utf16);
    WideString(const WideString& o);
    WideString(WideString&& o) noexcept : FData(std::exchange(o.FData, nullptr)) {}
    WideString& operator=(const WideString& o);
    WideString& operator=(WideString&& o) noexcept;
    ~WideString();

    // Takes ownership of an allocated BSTR.
    static WideString Attach(BSTR s);
    // Copies a BSTR that stays with its owner.
    static WideString Copy(const OLECHAR* s);

    BSTR c_bstr() const { return FData; }
    // Frees the current text and hands out the address for an out-parameter.
    BSTR* out();
    // Gives up ownership.
    BSTR Detach() { return std::exchange(FData, nullptr); }
    uint32_t length() const { return SysStringLen(FData); }
    bool empty() const { return length() == 0; }
    std::u16string u16() const;
    std::string str() const; // UTF-8
    friend bool operator==(const WideString& a, const WideString& b) { return a.u16() == b.u16(); }

private:
    BSTR FData = nullptr;
};

// A copy of a BSTR as UTF-8 text (nil is empty).
QVCOM_API std::string BstrToUtf8(const OLECHAR* s);
// A newly allocated BSTR from UTF-8 text (empty text gives nil).
QVCOM_API BSTR Utf8ToBstr(std::string_view s);

// ---------------------------------------------------------------------------------------
// Variants crossing the binary boundary (attribute values of host XML documents).

enum : uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_I8 = 20,
};

struct VARIANT {
    uint16_t vt;
    uint16_t reserved[3];
    union {
        int32_t lVal;
        int64_t llVal;
        double dblVal;
        int64_t cyVal; // currency: value x 10000
        double date;
        WordBool boolVal;
        BSTR bstrVal;
    };
};

// Owns a VARIANT (frees its string).
class QVCOM_API OleVariant {
public:
    OleVariant() { Clear(); }
    OleVariant(int32_t v);
    OleVariant(int64_t v);
    OleVariant(double v);
    OleVariant(bool v);
    OleVariant(std::string_view utf8);
    OleVariant(const char* utf8) : OleVariant(std::string_view(utf8)) {}
    OleVariant(const std::string& utf8) : OleVariant(std::string_view(utf8)) {}
    static OleVariant Null();
    static OleVariant Currency(int64_t scaled);
    static OleVariant DateTime(double days);
    OleVariant(const OleVariant& o);
    OleVariant& operator=(const OleVariant& o);
    ~OleVariant();

    const VARIANT& get() const { return FV; }
    VARIANT& get() { return FV; }
    uint16_t type() const { return FV.vt; }
    bool isNull() const { return FV.vt == VT_NULL; }
    bool isEmpty() const { return FV.vt == VT_EMPTY; }

private:
    void Clear();
    VARIANT FV;
};

// ---------------------------------------------------------------------------------------
// Errors

// The system's error: an exception carrying the exact message text (UTF-8).
class QVCOM_API Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
    const std::string& Message() const;

private:
    mutable std::string FCache;
};

// A failing HRESULT seen by a caller, with the message from the error info.
class QVCOM_API EOleException : public Exception {
public:
    EOleException(const std::string& msg, HRESULT code) : Exception(msg), FCode(code) {}
    HRESULT ErrorCode() const { return FCode; }

private:
    HRESULT FCode;
};

// Per-thread error info: the message of the last failure handed across an interface.
QVCOM_API void SetErrorInfoText(const std::string& text);
QVCOM_API std::string GetErrorInfoText(); // and clears it
QVCOM_API void ClearErrorInfo();

// Implementing side of an error-code-wrapped operation: runs body; any exception becomes
// E_UNEXPECTED with its message kept in the per-thread error info.
template <class F> HRESULT SafeCall(F&& body) noexcept {
    try {
        ClearErrorInfo();
        body();
        return S_OK;
    } catch (const std::exception& e) {
        SetErrorInfoText(e.what());
        return E_UNEXPECTED;
    } catch (...) {
        SetErrorInfoText("Unexpected exception");
        return E_UNEXPECTED;
    }
}

// Calling side: a failing code raises EOleException with the error info's message (or a
// text naming the code when there is none).
QVCOM_API void OleCheck(HRESULT hr);
// The standard text of a code when no error info was left (e.g. "灾难性故障" for E_UNEXPECTED).
QVCOM_API std::string SysErrorMessage(HRESULT hr);

// ---------------------------------------------------------------------------------------
// Reference counting

// Holds one reference to an interface.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference.
    explicit ComPtr(T* p) : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.FPtr) {}
    ComPtr(ComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.get())) {}
    ~ComPtr() { reset(); }
    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        reset();
        return *this;
    }

    // Adopts a reference already counted (as handed out by an out-parameter).
    static ComPtr Attach(T* p) {
        ComPtr r;
        r.FPtr = p;
        return r;
    }
    T* Detach() { return std::exchange(FPtr, nullptr); }
    void reset() {
        if (T* p = std::exchange(FPtr, nullptr)) p->Release();
    }
    void swap(ComPtr& o) noexcept { std::swap(FPtr, o.FPtr); }
    // Releases the current reference and hands out the address for an out-parameter.
    T** out() {
        reset();
        return &FPtr;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }

    T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    T& operator*() const { return *FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.FPtr == b.FPtr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.FPtr == nullptr; }

    // QueryInterface for another interface; nil when not offered.
    template <class U> ComPtr<U> As() const {
        ComPtr<U> r;
        if (FPtr) FPtr->QueryInterface(U::IID, r.outVoid());
        return r;
    }

private:
    T* FPtr = nullptr;
};

namespace qvcom_detail {
// Walks an interface's Base chain to answer QueryInterface for any interface in it.
template <class Intf, class Self> bool FindInChain(Self* self, const GUID& iid, void** obj) {
    if (iid == Intf::IID) {
        *obj = static_cast<Intf*>(self);
        return true;
    }
    if constexpr (!std::is_same_v<Intf, IInterface>)
        return FindInChain<typename Intf::Base>(static_cast<Intf*>(self), iid, obj);
    else
        return false;
}
} // namespace qvcom_detail

// Reference-counted implementation of the interfaces listed (each with its whole Base
// chain). Starts with a count of 0; the first ComPtr takes it to 1. Deleted when the
// count drops to 0.
template <class... Intfs> class TInterfacedObject : public Intfs... {
public:
    HRESULT QV_STDCALL QueryInterface(const GUID& iid, void** obj) override {
        if (!obj) return E_POINTER;
        *obj = nullptr;
        if (iid == IInterface::IID) {
            *obj = static_cast<IInterface*>(static_cast<FirstIntf*>(this));
        } else if (!(qvcom_detail::FindInChain<Intfs>(this, iid, obj) || ...)) {
            return QueryExtra(iid, obj) ? S_OK : E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    uint32_t QV_STDCALL AddRef() override { return ++FRefCount; }
    uint32_t QV_STDCALL Release() override {
        const uint32_t n = --FRefCount;
        if (n == 0) delete this;
        return n;
    }
    uint32_t RefCount() const { return FRefCount; }

    virtual ~TInterfacedObject() = default;

protected:
    // Further interfaces a derived class answers (aggregated objects and the like); the
    // answer must already carry its own reference.
    virtual bool QueryExtra(const GUID&, void**) { return false; }

private:
    using FirstIntf = std::tuple_element_t<0, std::tuple<Intfs...>>;
    std::atomic<uint32_t> FRefCount{0};
};

// Makes a new reference-counted object and holds its first reference.
template <class T, class... Args> ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>(new T(std::forward<Args>(args)...));
}
