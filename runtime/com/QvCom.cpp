// Process-wide part of the COM runtime stand-in.
#include "QvCom.h"

#include <cstdio>
#include <cstdlib>
#include <new>

std::string GUIDToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buf;
}

// ---- strings -----------------------------------------------------------------------------
// Layout: a 32-bit byte length, then the characters, then a NUL character.

extern "C" BSTR QV_STDCALL SysAllocStringLen(const OLECHAR* s, uint32_t len) {
    auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + (size_t(len) + 1) * sizeof(OLECHAR)));
    if (!block) return nullptr;
    const uint32_t bytes = len * sizeof(OLECHAR);
    std::memcpy(block, &bytes, sizeof bytes);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (s) std::memcpy(text, s, bytes);
    else std::memset(text, 0, bytes);
    text[len] = 0;
    return text;
}

extern "C" BSTR QV_STDCALL SysAllocString(const OLECHAR* s) {
    if (!s) return nullptr;
    uint32_t n = 0;
    while (s[n]) ++n;
    return SysAllocStringLen(s, n);
}

extern "C" void QV_STDCALL SysFreeString(BSTR s) {
    if (s) std::free(reinterpret_cast<char*>(s) - sizeof(uint32_t));
}

extern "C" uint32_t QV_STDCALL SysStringLen(BSTR s) {
    if (!s) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

// ---- COM initialisation ---------------------------------------------------------------

namespace {
thread_local int tComInitCount = 0;
thread_local std::string tErrorInfo;
} // namespace

extern "C" HRESULT QV_STDCALL CoInitialize(void*) { return ++tComInitCount == 1 ? S_OK : S_FALSE; }
extern "C" HRESULT QV_STDCALL CoInitializeEx(void* r, uint32_t) { return CoInitialize(r); }
extern "C" void QV_STDCALL CoUninitialize() {
    if (tComInitCount > 0) --tComInitCount;
}
extern "C" int QV_STDCALL CoInitializeCount() { return tComInitCount; }

// ---- UTF-8 / UTF-16 -----------------------------------------------------------------------

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    auto bad = [&] { out.push_back(u'\uFFFD'); ++i; };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) len = 2, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0) len = 3, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0) len = 4, cp = c & 0x07;
        else {
            bad();
            continue;
        }
        if (i + len > n) {
            bad();
            continue;
        }
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        const bool overlong = (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (!ok || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            bad();
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size() * 3);
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) out.push_back(static_cast<char>(cp));
        else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// ---- WideString ---------------------------------------------------------------------------

static BSTR AllocU16(std::u16string_view s) {
    if (s.empty()) return nullptr;
    BSTR b = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
    if (!b) throw std::bad_alloc();
    return b;
}

WideString::WideString(std::string_view utf8) : FData(AllocU16(Utf8ToUtf16(utf8))) {}
WideString::WideString(std::u16string_view utf16) : FData(AllocU16(utf16)) {}
WideString::WideString(const WideString& o) : FData(AllocU16(o.u16())) {}
WideString& WideString::operator=(const WideString& o) {
    if (this != &o) {
        BSTR n = AllocU16(o.u16());
        SysFreeString(FData);
        FData = n;
    }
    return *this;
}
WideString& WideString::operator=(WideString&& o) noexcept {
    if (this != &o) {
        SysFreeString(FData);
        FData = std::exchange(o.FData, nullptr);
    }
    return *this;
}
WideString::~WideString() { SysFreeString(FData); }
WideString WideString::Attach(BSTR s) {
    WideString w;
    w.FData = s;
    return w;
}
WideString WideString::Copy(const OLECHAR* s) {
    WideString w;
    if (s) w.FData = AllocU16(std::u16string_view(s, SysStringLen(const_cast<BSTR>(s))));
    return w;
}
BSTR* WideString::out() {
    SysFreeString(FData);
    FData = nullptr;
    return &FData;
}
std::u16string WideString::u16() const { return FData ? std::u16string(FData, length()) : std::u16string(); }
std::string WideString::str() const { return Utf16ToUtf8(u16()); }

std::string BstrToUtf8(const OLECHAR* s) {
    if (!s) return {};
    return Utf16ToUtf8(std::u16string_view(s, SysStringLen(const_cast<BSTR>(s))));
}
BSTR Utf8ToBstr(std::string_view s) { return AllocU16(Utf8ToUtf16(s)); }

// ---- OleVariant ---------------------------------------------------------------------------

void OleVariant::Clear() { std::memset(&FV, 0, sizeof FV); }
OleVariant::OleVariant(int32_t v) { Clear(); FV.vt = VT_I4; FV.lVal = v; }
OleVariant::OleVariant(int64_t v) { Clear(); FV.vt = VT_I8; FV.llVal = v; }
OleVariant::OleVariant(double v) { Clear(); FV.vt = VT_R8; FV.dblVal = v; }
OleVariant::OleVariant(bool v) { Clear(); FV.vt = VT_BOOL; FV.boolVal = v ? -1 : 0; }
OleVariant::OleVariant(std::string_view s) { Clear(); FV.vt = VT_BSTR; FV.bstrVal = Utf8ToBstr(s); }
OleVariant OleVariant::Null() { OleVariant v; v.FV.vt = VT_NULL; return v; }
OleVariant OleVariant::Currency(int64_t scaled) { OleVariant v; v.FV.vt = VT_CY; v.FV.cyVal = scaled; return v; }
OleVariant OleVariant::DateTime(double days) { OleVariant v; v.FV.vt = VT_DATE; v.FV.date = days; return v; }
OleVariant::OleVariant(const OleVariant& o) {
    FV = o.FV;
    if (FV.vt == VT_BSTR) FV.bstrVal = WideString::Copy(o.FV.bstrVal).Detach();
}
OleVariant& OleVariant::operator=(const OleVariant& o) {
    if (this != &o) {
        OleVariant tmp(o);
        std::swap(FV, tmp.FV);
    }
    return *this;
}
OleVariant::~OleVariant() {
    if (FV.vt == VT_BSTR) SysFreeString(FV.bstrVal);
}

// ---- errors -------------------------------------------------------------------------------

const std::string& Exception::Message() const {
    if (FCache.empty()) FCache = what();
    return FCache;
}

void SetErrorInfoText(const std::string& text) { tErrorInfo = text; }
std::string GetErrorInfoText() { return std::exchange(tErrorInfo, std::string()); }
void ClearErrorInfo() { tErrorInfo.clear(); }

std::string SysErrorMessage(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
    case 0x8000FFFFu: return "灾难性故障";
    case 0x80004001u: return "未实现";
    case 0x80004002u: return "不支持此接口";
    case 0x80004003u: return "无效指针";
    case 0x80004005u: return "未指定的错误";
    case 0x80070057u: return "参数错误。";
    default: {
        char buf[48];
        std::snprintf(buf, sizeof buf, "OLE 错误 %08X", static_cast<uint32_t>(hr));
        return buf;
    }
    }
}

void OleCheck(HRESULT hr) {
    if (Succeeded(hr)) return;
    std::string msg = GetErrorInfoText();
    if (msg.empty()) msg = SysErrorMessage(hr);
    throw EOleException(msg, hr);
}
