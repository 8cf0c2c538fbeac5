// The host application facade: the plug-in's single path to its host.
//
// TQvApplication holds the host application interface and the host library interface,
// turns their operations into plain calls with text, records and error messages, keeps
// the phase listeners that create and free the plug-in's long-lived objects and knows the
// plug-in's own file version. There is one, the global QvApp.
//
// Life of QvApp (a raw owner pointer managed by this unit, not by its users):
// - created when the module loads, by this unit's own initialiser, which runs before the
//   default-priority initialisers of every other unit of the module, so other units may
//   register their listeners from their own initialisers;
// - destroyed by FreeQvApp(), which ReleaseInstance calls; FreeQvApp() on a facade that is
//   already gone does nothing;
// - freed at module unload when it still exists (its listeners then get phase 1), and the
//   version text goes back to "0000.0000.0000.0000".
// Users test `QvApp != nullptr` before touching it after ReleaseInstance.
//
// Host operations that fail raise EOleException carrying the host's message (OleCheck).
#pragma once

#include "QvHostIntf.h"
#include "QvDateTime.h"
#include "QvText.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A phase listener: told 0 when the library is connected (create what you need), 1 when
// disconnecting (free everything), 2 to release caches (drop cached device clients).
using TQvAppListener = void (*)(uint8_t APhase);

enum : uint8_t {
    QvPhaseConnected = 0,
    QvPhaseDisconnecting = 1,
    QvPhaseReleaseCaches = 2,
};

// The handle of the UI application's active form (or active window), for the owner of the
// host's message box. Set by the UI layer; the default answers 0.
using TQvActiveWindowHandleHook = QvHandle (*)();
extern TQvActiveWindowHandleHook QvActiveWindowHandleHook;

// The system's message font as a handle the caller owns: name and size in points. Free it
// with FreeMessageFont.
struct TMessageFont {
    std::string Name;
    int32_t Size = 0;
};
// Fills the system's message font; false when it cannot be read. Set by the UI layer; the
// default (nil) means no font can be read.
using TQvMessageFontHook = bool (*)(TMessageFont& AFont);
extern TQvMessageFontHook QvMessageFontHook;
void FreeMessageFont(QvHandle AFont);

class TQvApplication {
public:
    TQvApplication();
    ~TQvApplication();
    TQvApplication(const TQvApplication&) = delete;
    TQvApplication& operator=(const TQvApplication&) = delete;

    // --- Connection and listeners

    // Stores the host application interface (nil lets it go).
    void SetApplication(IQvApplication* AApp);
    // Obtains the host library when not yet held, then tells every listener phase 0,
    // whether or not a library came back.
    void Connect();
    // Stores the library and asks the same object for IQVLibrary3 (nil when not offered).
    void SetLibrary(IQVLibrary2* ALib);
    // Tells every listener phase 1, lets the library go and empties the listener list.
    // Every listener is told even when one raises; the first error is raised afterwards.
    void Disconnect();
    // Tells every listener phase 2 (release caches).
    void NotifyIdle();
    // Appends the listener unless it is already in the list.
    void AddListener(TQvAppListener AProc);
    // When the value changes: store it and write the termination log entry.
    void SetTerminated(bool AValue);

    // --- Log and texts from the host library (nothing, empty, 0 or false without library)

    void WriteLog(int32_t ALevel, const std::string& ASource, const std::string& ATitle,
                  const std::string& ADetail);
    std::string GetScript(int32_t AScriptID);
    // The script text formatted with AArgs; a formatting failure is logged (level 5,
    // source = the host application's name, title "提取脚本", detail = the script text)
    // and raised again.
    std::string FormatScript(int32_t AScriptID, std::initializer_list<TVarRec> AArgs);
    std::string FormatScript(int32_t AScriptID, std::span<const TVarRec> AArgs);
    std::string GetSysParam(int32_t ASystemNo, int32_t AParamNo, int32_t AKind, int32_t AFlag);
    // The host value by key; 1 = found.
    int32_t GetEnvValue(const std::string& AKey, std::string& AValue);
    // The host's numbers of a program: true exactly when the host answers 1; the outputs
    // change only when the text then holds a ";".
    bool GetProgramInfo(int32_t AProgramID, int32_t& AFirst, int32_t& ASecond);
    // The id of a host script by its code (host SQL text 86); 0 when there is no row.
    int32_t GetProgramID(const std::string& ACode);

    // --- Objects from the host

    ComPtr<TQVXMLDocument> CreateXMLDocument();
    ComPtr<IQVRecycledQuery> CreateRecycledQuery();
    // A component object by interface name: raises the host's message when the host has
    // no component for the name. The object may be nil.
    ComPtr<IInterface> CreateInterface(const std::string& AName, int32_t AFlags);
    ComPtr<IQVIDCard> GetIDCard();

    // --- Records and names from the host application (each record is cleared first)

    void GetSystemInfo(IQvSystemInfo& AInfo);
    void GetConfigInfo(IQvConfigInfo& AInfo);
    void GetUserInfo(IQvUserInfo& AInfo);
    void GetPathInfo(IQvPathInfo& AInfo);
    void GetFontInfo(IQVFontInfo& AInfo);
    std::string GetApplicationName();

    // --- Library connection data and host values

    int32_t GetConnectionMode();
    // The host's connection object with one reference for the caller to adopt
    // (ComPtr<_Connection>::Attach), or nil.
    _Connection* GetConnection();
    std::string GetConnectionString();
    // The replica connection with one reference for the caller, or nil (also when the
    // library does not offer IQVLibrary3).
    _Connection* GetSlaveConnection();
    QvHandle GetResourceModule();
    std::string GetResourceText(const std::string& AName);
    std::string GetVar(const std::string& AName);
    std::string GetHostName();
    std::string GetHostIP();
    std::string GetHostMAC();

    // --- User interface through the host

    // The host's message box: owner = the active form, caption = the host's title.
    int32_t ShowHostMessage(const std::string& AText, int32_t AFlags, int32_t AParam3 = 0,
                            int32_t AParam4 = 0);
    // The host's wait notice: show (kind 1), close (kind 2), after a failed statement (4).
    // Nothing happens without a host application.
    void ShowWait(const std::string& AText);
    void EndWait();
    void AbortWait();
    // Tells the host about a window (kind 2: closing). Nothing without a host application.
    void NotifyForm(int32_t AKind, QvHandle AHandle);
    // A new font handle (TMessageFont) from the system's message font; 0 when it cannot be
    // read. The caller owns it (FreeMessageFont).
    QvHandle CreateMessageFont();

    static bool IsLibraryModule() { return true; }
    // The plug-in's file version, in single quotes when AQuoted.
    static std::string GetModuleVersion(bool AQuoted);

    // --- Fields

    IQvApplication* Application() const { return FApplication.get(); }
    bool HasApplication() const { return static_cast<bool>(FApplication); }
    const std::string& AppName() const { return FAppName; }
    void SetAppName(const std::string& AName) { FAppName = AName; }
    IQVLibrary2* Library() const { return FLibrary.get(); }
    IQVLibrary3* Library3() const { return FLibrary3.get(); }
    bool HasLibrary() const { return static_cast<bool>(FLibrary); }
    const std::string& ModuleFileName() const { return FModuleFileName; }
    bool Terminated() const { return FTerminated; }
    const std::vector<TQvAppListener>& Listeners() const { return FListeners; }

private:
    void TellListeners(uint8_t APhase);
    void Wait(const std::string& AText, int32_t AKind);
    IQvApplication& NeedApplication() const;
    IQVLibrary2& NeedLibrary() const;

    std::vector<TQvAppListener> FListeners;
    ComPtr<IQvApplication> FApplication;
    std::string FAppName = "Quorvia";
    ComPtr<IQVLibrary2> FLibrary;
    ComPtr<IQVLibrary3> FLibrary3;
    std::string FModuleFileName;
    bool FTerminated = false;
};

// The facade (see the top of this file for its life).
extern TQvApplication* QvApp;

// Creates QvApp when it does not exist and reads the plug-in's version.
void CreateQvApp();
// Destroys QvApp (Disconnect, let go of the host application); nothing when it is gone.
void FreeQvApp() noexcept;

// --- Free helpers

// "YYYY-MM-DD HH:NN:SS".
std::string FormatStdDateTime(TDateTime ADateTime);
// Hexadecimal texts exchanged with the host's devices and components carry ANSI (GBK)
// bytes. StrToHex/HexToStr work on those bytes; the program's own texts are UTF-8, so:
// - a text going out (device request memos) is encoded with Utf8ToHex;
// - a text coming back (a device reply's TransHISNo, the "$SQL" of the system component's
//   script reply) is decoded with HexToUtf8, or ReadStrValue with AHexDecode.
// StrToHex and HexToStr themselves serve callers that already hold bytes.

// Each byte as two upper-case hexadecimal digits.
std::string StrToHex(std::string_view ABytes);
// Pairs of hexadecimal digits (either case) to bytes; length(S) div 2 bytes; decoding
// stops at the first pair that is not hexadecimal and the remaining bytes are zero.
std::string HexToStr(std::string_view AHex);
// UTF-8 converted to ANSI, then hex-encoded.
std::string Utf8ToHex(std::string_view AUtf8);
// Hex-decoded ANSI bytes converted to UTF-8 (zero bytes left by a bad pair stay).
std::string HexToUtf8(std::string_view AHex);

// The value of key AName in a key=value list as a whole number; ADefault when absent or
// not a number.
int32_t ReadIntValue(const TStringList& AList, const std::string& AName, int32_t ADefault);
// The same as a floating number.
double ReadFloatValue(const TStringList& AList, const std::string& AName, double ADefault);
// The value text, hex-decoded (ANSI bytes, returned as UTF-8) when AHexDecode; ADefault
// when the result is empty.
std::string ReadStrValue(const TStringList& AList, const std::string& AName, bool AHexDecode,
                         const std::string& ADefault);

// --- The plug-in's own version

// The version block embedded in a module file by qv_embed_version (ELF section
// ".qvversion"); empty when the file has none or cannot be read.
std::string ReadVersionBlock(const std::string& AFileName);
// The trimmed "FileVersion" of the first translation pair of a version block; empty when
// the block has none.
std::string VersionBlockFileVersion(std::string_view ABlock);
// Four parts split at dots and blanks, each at least four digits: "8.0.1.33" gives
// "0008.0000.0001.0033"; a missing or non-numeric part counts 0.
std::string FormatFileVersion(std::string_view AText);
// The formatted version of a module file; "0000.0000.0000.0000" without version block.
std::string ReadModuleVersion(const std::string& AFileName);
