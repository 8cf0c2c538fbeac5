// The contract between the host and the plug-in: the host's interfaces, the interfaces
// the plug-in implements for the host, and the records they exchange.
//
// Operations are declared in the host's order so every operation sits at its
// documented slot (0 to 2 are QueryInterface, AddRef, Release). Slots the plug-in never
// calls are declared as reserved operations; a host answers them with E_NOTIMPL.
// Operations return HRESULT and hand their result in the last out-parameter, unless
// marked "direct". Text crosses as BSTR; an out BSTR belongs to the caller afterwards.
#pragma once

#include "QvCom.h"

#include <cstddef>

struct _Connection; // the database connection object (runtime/db/AdoInt.h)

#define QV_RESERVED_SLOT(n) virtual HRESULT QV_STDCALL Reserved##n() = 0

// ---------------------------------------------------------------------------------------
// Records exchanged with the host: packed, fields in the host's order. Text fields are
// BSTRs owned by the record (freed when the record goes); handles are pointer-sized, so
// the documented byte offsets hold on a 32-bit build.

#pragma pack(push, 1)

namespace qvhost_detail {
inline void FreeText(BSTR& s) {
    SysFreeString(s);
    s = nullptr;
}
} // namespace qvhost_detail

// Declares the owning behaviour of a record: no copies, texts freed on destruction and
// by Clear (which also zeroes every field, as the facade does before each call).
#define QV_HOST_RECORD(Rec, ...)                                                                    \
    Rec() { std::memset(static_cast<void*>(this), 0, sizeof(Rec)); }                              \
    Rec(const Rec&) = delete;                                                                      \
    Rec& operator=(const Rec&) = delete;                                                           \
    ~Rec() { FreeTexts(); }                                                                        \
    void Clear() {                                                                                 \
        FreeTexts();                                                                               \
        std::memset(static_cast<void*>(this), 0, sizeof(Rec));                                     \
    }                                                                                              \
    void FreeTexts() {                                                                             \
        BSTR* texts[] = {__VA_ARGS__};                                                             \
        for (BSTR* t : texts) qvhost_detail::FreeText(*t);                                         \
    }

struct IQvSystemInfo {
    BSTR Title;            // 0
    QvHandle MainWindow;   // 4
    QvHandle Icon;         // 8
    int32_t Reserved12;    // 12
    int32_t Reserved16;    // 16
    QV_HOST_RECORD(IQvSystemInfo, &Title)
};

struct IQvConfigInfo {
    int32_t Reserved0;          // 0
    int32_t Reserved4;          // 4
    WordBool BorderFlag;        // 8: non-modal package windows keep their border in window mode 1
    int16_t ColorSchemeFlag;    // 10
    int16_t Reserved12;         // 12
    BSTR ImeName;               // 14: input-method name
    BSTR Text18;                // 18
    BSTR Text22;                // 22
    int32_t WindowMode;         // 26
    int32_t SkinIndex;          // 30
    int32_t Reserved34[4];      // 34
    int32_t ColorSchemeIndex;   // 50
    QV_HOST_RECORD(IQvConfigInfo, &ImeName, &Text18, &Text22)
};

struct IQvUserInfo {
    int32_t UserID;      // 0
    int16_t Reserved4;   // 4
    double LoginTime;    // 6: OLE date-time
    BSTR UserCode;       // 14
    BSTR UserName;       // 18
    BSTR Text22;         // 22
    QV_HOST_RECORD(IQvUserInfo, &UserCode, &UserName, &Text22)
};

struct IQvPathInfo {
    BSTR FirstPath;  // 0: ends with a separator; the bank receipt library lives there
    BSTR Path4;      // 4
    BSTR WorkPath;   // 8: ends with a separator; clinic log, XML copies, temporary files
    BSTR Path12;     // 12
    QV_HOST_RECORD(IQvPathInfo, &FirstPath, &Path4, &WorkPath, &Path12)
};

struct IQVFontInfo {
    BSTR Name;        // 0
    WordBool UseFont; // 4
    int32_t Size;     // 6: points
    int32_t Style;    // 10: 0 regular, 1 italic, 2 bold, 3 bold and italic
    QV_HOST_RECORD(IQVFontInfo, &Name)
};

struct IQVMsgInfo {
    QvHandle Owner;    // 0
    int32_t Param3;    // 4
    int32_t Flags;     // 8: message-box style flags
    int32_t Param4;    // 12
    BSTR Caption;      // 16
    BSTR Text;         // 20
    BSTR Text24;       // 24
    BSTR Text28;       // 28
    BSTR Text32;       // 32
    QV_HOST_RECORD(IQVMsgInfo, &Caption, &Text, &Text24, &Text28, &Text32)
};

struct IQVFormInfo {
    int32_t Kind;      // 0: 2 = window closing
    QvHandle Handle;   // 4
    int32_t Zero;      // 8
    BSTR Text;         // 12
    QV_HOST_RECORD(IQVFormInfo, &Text)
};

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(IQvSystemInfo) == 20 && offsetof(IQvSystemInfo, Icon) == 8);
static_assert(sizeof(IQvConfigInfo) == 54 && offsetof(IQvConfigInfo, BorderFlag) == 8 &&
              offsetof(IQvConfigInfo, ColorSchemeFlag) == 10 && offsetof(IQvConfigInfo, ImeName) == 14 &&
              offsetof(IQvConfigInfo, WindowMode) == 26 && offsetof(IQvConfigInfo, SkinIndex) == 30 &&
              offsetof(IQvConfigInfo, ColorSchemeIndex) == 50);
static_assert(sizeof(IQvUserInfo) == 26 && offsetof(IQvUserInfo, LoginTime) == 6 &&
              offsetof(IQvUserInfo, UserCode) == 14 && offsetof(IQvUserInfo, UserName) == 18);
static_assert(sizeof(IQvPathInfo) == 16 && offsetof(IQvPathInfo, WorkPath) == 8);
static_assert(sizeof(IQVFontInfo) == 14 && offsetof(IQVFontInfo, UseFont) == 4 &&
              offsetof(IQVFontInfo, Size) == 6 && offsetof(IQVFontInfo, Style) == 10);
static_assert(sizeof(IQVMsgInfo) == 36 && offsetof(IQVMsgInfo, Flags) == 8 && offsetof(IQVMsgInfo, Caption) == 16 &&
              offsetof(IQVMsgInfo, Text) == 20);
static_assert(sizeof(IQVFormInfo) == 16 && offsetof(IQVFormInfo, Handle) == 4 && offsetof(IQVFormInfo, Text) == 12);
#endif

// ---------------------------------------------------------------------------------------
// Interfaces shared by host and plug-in

// Implemented by both sides: version, name and last message of an object.
struct IQVInterface : IInterface {
    QV_INTERFACE("{50A2A15F-9AB2-4DCC-BD6E-2D9C1FF5CD1A}", IInterface);
    virtual HRESULT QV_STDCALL GetVersion(double* AVersion) = 0;  // 3
    virtual HRESULT QV_STDCALL GetName(BSTR* AName) = 0;          // 4
    virtual HRESULT QV_STDCALL GetMessage(BSTR* AMessage) = 0;    // 5
};

// Implemented by the plug-in's package (and by the host's components): framework
// commands and named objects.
struct IQVExtention : IQVInterface {
    QV_INTERFACE("{B9C815F5-CED8-4530-94DD-5DC48B5384FA}", IQVInterface);
    virtual HRESULT QV_STDCALL GetModuleHandle(QvHandle* AHandle) = 0;                  // 6
    virtual HRESULT QV_STDCALL GetInitialized(WordBool* AValue) = 0;                    // 7
    virtual HRESULT QV_STDCALL Execute(int32_t ACommand, int32_t AParam, BSTR* AData,
                                       int32_t* AResult) = 0;                           // 8
    virtual HRESULT QV_STDCALL CreateObject(IInterface** AObject, int32_t AFlags, BSTR AName,
                                            int32_t* AResult) = 0;                      // 9
};

// ---------------------------------------------------------------------------------------
// Host XML documents (implemented by the host)

struct TQVXMLNode : IInterface {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E01}", IInterface);
    // Empty text when the attribute is missing.
    virtual HRESULT QV_STDCALL GetAttribute(BSTR AName, BSTR* AValue) = 0;
    virtual HRESULT QV_STDCALL SetAttribute(BSTR AName, BSTR AValue) = 0;
    // The host renders the value as text (numbers with up to 15 significant digits).
    virtual HRESULT QV_STDCALL SetAttributeValue(BSTR AName, const VARIANT* AValue) = 0;
    virtual HRESULT QV_STDCALL SetText(BSTR AText) = 0;
    virtual HRESULT QV_STDCALL GetXML(BSTR* AXml) = 0;
    virtual HRESULT QV_STDCALL GetText(BSTR* AText) = 0;
    virtual HRESULT QV_STDCALL GetNodeName(BSTR* AName) = 0;
};

struct TQVXMLNodeList : IInterface {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E02}", IInterface);
    virtual HRESULT QV_STDCALL GetCount(int32_t* ACount) = 0;
    virtual HRESULT QV_STDCALL GetItem(int32_t AIndex, TQVXMLNode** ANode) = 0;
};

struct TQVXMLDocument : IInterface {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E03}", IInterface);
    virtual HRESULT QV_STDCALL NewDocument(BSTR ARootName) = 0;
    // Fails with the parser's message when the text is not XML.
    virtual HRESULT QV_STDCALL LoadXML(BSTR AXml) = 0;
    virtual HRESULT QV_STDCALL GetDocumentElement(TQVXMLNode** ANode) = 0;
    // nil when nothing matches; fails for a path that is not valid XPath. A path ending in
    // an attribute ("/Root/OperInfo/@EmpId") gives that attribute as a node (text = value).
    virtual HRESULT QV_STDCALL SelectNode(BSTR APath, TQVXMLNode** ANode) = 0;
    // nil when nothing matches (so "the selection returned a list" means at least one node).
    virtual HRESULT QV_STDCALL SelectNodes(BSTR APath, TQVXMLNodeList** AList) = 0;
    // The element at a simple path (/Root/A/B), made with every missing step.
    virtual HRESULT QV_STDCALL ForceNode(BSTR APath, TQVXMLNode** ANode) = 0;
    virtual HRESULT QV_STDCALL AddChild(TQVXMLNode* AParent, BSTR AName, TQVXMLNode** ANode) = 0;
    virtual HRESULT QV_STDCALL GetXML(BSTR* AXml) = 0;
    virtual HRESULT QV_STDCALL Save(BSTR AFileName) = 0;
};

// The host's recyclable query (host SQL on the host's own connection).
struct IQVRecycledQuery : IInterface {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E04}", IInterface);
    virtual HRESULT QV_STDCALL SetSQL(BSTR ASql) = 0;
    virtual HRESULT QV_STDCALL Open() = 0;
    virtual HRESULT QV_STDCALL GetEof(WordBool* AEof) = 0;
    virtual HRESULT QV_STDCALL Next() = 0;
    // Null when the field holds null; fails for an unknown field.
    virtual HRESULT QV_STDCALL GetFieldValue(BSTR AName, VARIANT* AValue) = 0;
    virtual HRESULT QV_STDCALL Close() = 0;
};

// The member-card reader with member consumption (operations come with the card client).
struct IQVIDCard : IInterface {
    QV_INTERFACE("{6DAEB644-C53C-47BF-943F-A76B59749633}", IInterface);
};

// ---------------------------------------------------------------------------------------
// Host library (implemented by the host). Slots 10 to 40.

struct IQVLibrary : IQVExtention {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E10}", IQVExtention);
    QV_RESERVED_SLOT(10);
    QV_RESERVED_SLOT(11);
    virtual HRESULT QV_STDCALL GetConnection(_Connection** AConnection) = 0;         // 12
    virtual HRESULT QV_STDCALL GetConnectionMode(int32_t* AMode) = 0;                // 13
    virtual HRESULT QV_STDCALL GetConnectionString(BSTR* AText) = 0;                 // 14
    QV_RESERVED_SLOT(15);
    QV_RESERVED_SLOT(16);
    QV_RESERVED_SLOT(17);
    QV_RESERVED_SLOT(18);
    QV_RESERVED_SLOT(19);
    virtual HRESULT QV_STDCALL GetResourceModule(QvHandle* AModule) = 0;              // 20
    virtual HRESULT QV_STDCALL CreateRecycledQuery(IQVRecycledQuery** AQuery) = 0;    // 21
    virtual HRESULT QV_STDCALL CreateXMLDocument(TQVXMLDocument** ADoc) = 0;          // 22
    QV_RESERVED_SLOT(23);
    QV_RESERVED_SLOT(24);
    QV_RESERVED_SLOT(25);
    virtual HRESULT QV_STDCALL GetScript(int32_t AScriptID, BSTR* AText) = 0;         // 26
    QV_RESERVED_SLOT(27);
    QV_RESERVED_SLOT(28);
    QV_RESERVED_SLOT(29);
    QV_RESERVED_SLOT(30);
    QV_RESERVED_SLOT(31);
    virtual HRESULT QV_STDCALL GetSysParam(int32_t ASystemNo, int32_t AParamNo, int32_t AKind, int32_t AFlag,
                                           BSTR* AValue) = 0;                         // 32
    QV_RESERVED_SLOT(33);
    QV_RESERVED_SLOT(34);
    virtual HRESULT QV_STDCALL GetResourceText(BSTR AName, int32_t AFlag, BSTR* AText) = 0; // 35
    virtual HRESULT QV_STDCALL GetVar(BSTR AName, BSTR* AValue) = 0;                        // 36
    virtual HRESULT QV_STDCALL WriteLog(int32_t ALevel, BSTR AAppName, BSTR ASource, BSTR ATitle,
                                        BSTR ADetail) = 0;                                  // 37
    QV_RESERVED_SLOT(38);
    QV_RESERVED_SLOT(39);
    QV_RESERVED_SLOT(40);
};

// Slots 41 to 78.
struct IQVLibrary2 : IQVLibrary {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E11}", IQVLibrary);
    QV_RESERVED_SLOT(41);
    QV_RESERVED_SLOT(42);
    QV_RESERVED_SLOT(43);
    QV_RESERVED_SLOT(44);
    QV_RESERVED_SLOT(45);
    QV_RESERVED_SLOT(46);
    QV_RESERVED_SLOT(47);
    QV_RESERVED_SLOT(48);
    QV_RESERVED_SLOT(49);
    QV_RESERVED_SLOT(50);
    QV_RESERVED_SLOT(51);
    QV_RESERVED_SLOT(52);
    QV_RESERVED_SLOT(53);
    QV_RESERVED_SLOT(54);
    QV_RESERVED_SLOT(55);
    QV_RESERVED_SLOT(56);
    QV_RESERVED_SLOT(57);
    QV_RESERVED_SLOT(58);
    QV_RESERVED_SLOT(59);
    QV_RESERVED_SLOT(60);
    QV_RESERVED_SLOT(61);
    QV_RESERVED_SLOT(62);
    // Direct: 1 when the key is found, with its text in AValue.
    virtual int32_t QV_STDCALL GetValue(BSTR AKey, BSTR* AValue) = 0;                 // 63
    QV_RESERVED_SLOT(64);
    QV_RESERVED_SLOT(65);
    QV_RESERVED_SLOT(66);
    QV_RESERVED_SLOT(67);
    QV_RESERVED_SLOT(68);
    QV_RESERVED_SLOT(69);
    QV_RESERVED_SLOT(70);
    QV_RESERVED_SLOT(71);
    QV_RESERVED_SLOT(72);
    QV_RESERVED_SLOT(73);
    QV_RESERVED_SLOT(74);
    // Direct: a new BSTR owned by the caller.
    virtual BSTR QV_STDCALL GetHostName() = 0;                                        // 75
    virtual BSTR QV_STDCALL GetHostIP() = 0;                                          // 76
    virtual BSTR QV_STDCALL GetHostMAC() = 0;                                         // 77
    QV_RESERVED_SLOT(78);
};

// Slots from 79.
struct IQVLibrary3 : IQVLibrary2 {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E12}", IQVLibrary2);
    QV_RESERVED_SLOT(79);
    QV_RESERVED_SLOT(80);
    // Direct: the replica connection with a reference for the caller, or nil.
    virtual _Connection* QV_STDCALL GetSlaveConnection() = 0;                         // 81
};

// ---------------------------------------------------------------------------------------
// Host application (implemented by the host). Its own slots start at 6.

struct IQvApplication : IQVInterface {
    QV_INTERFACE("{6A1E0C51-3D7B-4C5E-9A11-2B8F7C0D4E20}", IQVInterface);
    virtual HRESULT QV_STDCALL GetSystemInfo(IQvSystemInfo* AInfo) = 0;               // 6
    virtual HRESULT QV_STDCALL GetConfigInfo(IQvConfigInfo* AInfo) = 0;               // 7
    virtual HRESULT QV_STDCALL GetUserInfo(IQvUserInfo* AInfo) = 0;                   // 8
    virtual HRESULT QV_STDCALL GetPathInfo(IQvPathInfo* AInfo) = 0;                   // 9
    virtual HRESULT QV_STDCALL GetFontInfo(IQVFontInfo* AInfo) = 0;                   // 10
    QV_RESERVED_SLOT(11);
    QV_RESERVED_SLOT(12);
    // A component by name: nil and a message when the host has none.
    virtual HRESULT QV_STDCALL GetLibraryComponent(BSTR AName, BSTR* AMessage,
                                                   IQVExtention** AComponent) = 0;    // 13
    virtual HRESULT QV_STDCALL GetInterfaceComponent(BSTR AName, BSTR* AMessage,
                                                     IQVExtention** AComponent) = 0;  // 14
    QV_RESERVED_SLOT(15);
    QV_RESERVED_SLOT(16);
    virtual HRESULT QV_STDCALL GetLibrary(IQVLibrary** ALibrary, int32_t AFlags, BSTR* AMessage) = 0; // 17
    QV_RESERVED_SLOT(18);
    QV_RESERVED_SLOT(19);
    virtual HRESULT QV_STDCALL NotifyForm(IQVFormInfo* AInfo) = 0;                    // 20
    // AKind: 1 show the wait notice with the text, 2 close it, 4 after a failed statement.
    virtual HRESULT QV_STDCALL Wait(int32_t AZero, BSTR AText, int32_t AKind) = 0;    // 21
    virtual HRESULT QV_STDCALL ShowMessageBox(IQVMsgInfo* AInfo, int32_t* AResult) = 0; // 22
};

// The host's plug-in exports.
using TCreateInstanceProc = void(QV_STDCALL*)(IQVExtention** AExtension, IQvApplication* AApplication);
using TReleaseInstanceProc = int32_t(QV_STDCALL*)();
