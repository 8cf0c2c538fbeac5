// The user and workstation context, the operator element of documents sent to the
// database, the host's resource module (numbered icons, the animated busy cursor) and the
// editors' language resource.
//
// The host's resource module
// --------------------------
// The host names its resource module by a handle (GetResourceModule): the load address of
// a module loaded in the process (any address inside it serves). Its resources are files
// in the folder beside the module file that has the module's name with the extension
// ".res" ("/opt/qv/QvRes.so" -> "/opt/qv/QvRes.res/"). A resource is found by its name
// without regard to case, the file's extension telling its kind:
//   icons     NAME.ico or NAME.png (numbered host icons are "I" + number: I1116.ico)
//   bitmaps   NAME.bmp or NAME.png
//   cursors   NAME.cur
//   typed     NAME.<type>, e.g. the animated cursor "busy" of type ANI is busy.ani
// Missing resources are not errors: loading gives false, an empty icon or the placeholder.
#pragma once

#include "QvDateTime.h"
#include "QvEditorLib.h"
#include "QvHostIntf.h"

#include <QColor>
#include <QImage>
#include <QPoint>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QCursor;

// ---------------------------------------------------------------------------------------
// User and workstation context (class-level; no instance)

class QVUserInfo {
public:
    QVUserInfo() = delete;

    // The host variable; empty when the host library is not connected or AName is empty.
    static std::string HostVar(const std::string& AName);
    // HostVar("HostName").
    static std::string HostName();
    // From the host's user information (raises the host's error when there is no host).
    static int32_t UserID();
    static std::string UserCode();
    static std::string UserName();
    static TDateTime LoginTime();
    // The host variable "RateMode" as an integer (0 when it is not one), read from the host
    // once per process; a value of -1 counts as "not read yet" and is read again.
    static int32_t RateMode();
    // Forgets the cached rate mode (tests).
    static void ForgetRateMode();
};

// Adds the element OperInfo with the user, workstation and department under the
// document's root element: 14 attributes, 16 with a proxy login (host variable
// "ProxyLogin" = "1"). A failing host call raises its error.
void WriteOperInfo(TQVXMLDocument* ADocument);

// ---------------------------------------------------------------------------------------
// Graphics

class TGraphic {
public:
    virtual ~TGraphic() = default;
    QImage Image;
    bool Empty() const { return Image.isNull(); }
};
class TIcon : public TGraphic {};
class TBitmap : public TGraphic {};

// Images of one size.
class TImageList {
public:
    TImageList(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {}
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return static_cast<int>(FImages.size()); }
    const QImage& Image(int AIndex) const { return FImages.at(static_cast<size_t>(AIndex)); }
    // Adds an image, scaled to the list's size when it has another; returns its index.
    int Add(const QImage& AImage);
    // Adds an image whose pixels of the mask colour become transparent.
    int AddMasked(const QImage& AImage, QColor AMaskColor);
    void Clear() { FImages.clear(); }

private:
    int FWidth, FHeight;
    std::vector<QImage> FImages;
};

// A cursor from the host's resources: one frame, or the frames of an animated cursor.
struct TQvCursor {
    std::vector<QImage> Frames;
    QPoint HotSpot;
    int JiffiesPerFrame = 0; // 1/60 s per frame of an animated cursor
    bool Animated() const { return Frames.size() > 1; }
};
using TQvCursorPtr = std::unique_ptr<TQvCursor>;

// Reads a cursor file (.cur) or an animated cursor file (.ani); nil when the file cannot
// be read or holds no frame.
TQvCursorPtr LoadCursorFromFile(const std::filesystem::path& AFile);

// The resource folder of a resource module handle; empty when the handle is 0, lies in no
// loaded module, or the module has no resource folder.
std::filesystem::path ResourceFolderOfModule(QvHandle AModule);

// ---------------------------------------------------------------------------------------
// The host's resource module

class TQvRes {
public:
    // Works with the given resource module (0: none); loads nothing.
    explicit TQvRes(QvHandle AModule);
    // As the plug-in creates it: with the host's resource module when the host library is
    // connected (else none), then the busy cursor.
    static std::unique_ptr<TQvRes> Create();

    QvHandle Module() const { return FModule; }
    const std::filesystem::path& ResourceFolder() const { return FFolder; }

    // Loads the resource AName into an icon (ASize x ASize; true, and an empty icon when
    // the resource does not exist) or a bitmap (false when it does not exist). Any other
    // graphic, no resource module or an unreadable file: false. Never raises.
    bool LoadImage(TGraphic& AGraphic, const std::string& AName, int ASize) const;
    // LoadImage with the name "I" + the number.
    bool LoadNumberedImage(TGraphic& AGraphic, int ANumber, int ASize) const;
    // One image per number at the list's width: the numbered icon, else the icon numbered
    // AFallback (when at least 1), else an empty placeholder (transparent). Never raises.
    void FillImageList(TImageList& AList, std::span<const int> ANumbers, int AFallback) const;
    // A cursor resource; animated: the resource of type ANI, written to "Busy.ani" in the
    // host's work folder, loaded from there and deleted again. Nil on any failure.
    TQvCursorPtr LoadCursorResource(const std::string& AName, bool AAnimated) const;

    // Loads the animated cursor "busy"; when there is one it becomes the hourglass cursor.
    void LoadBusyCursor();
    bool CursorLoaded() const { return FCursorLoaded; }
    const TQvCursor* BusyCursor() const { return FBusyCursor.get(); }

private:
    // The file of a resource with one of the extensions (lower case, with the dot).
    std::filesystem::path FindResource(const std::string& AName,
                                       std::initializer_list<const char*> AExts) const;

    QvHandle FModule = 0;
    std::filesystem::path FFolder;
    bool FCursorLoaded = false;
    TQvCursorPtr FBusyCursor;
};

// Created at phase 0, freed at phase 1.
extern TQvRes* QvRes;

// The hourglass cursor of the plug-in's waits: the host's busy cursor when it was loaded,
// else the standard wait cursor. Needs the Qt application.
QCursor HourGlassCursor();

// ---------------------------------------------------------------------------------------
// The editors' language resource

// The localizer loaded from the host's text resource "DEVRES4.3" (locale 2052); nil
// outside phase 0 .. phase 1.
TEditLocalizer* EditLocalizer();

// ---------------------------------------------------------------------------------------
// Phase listeners and their registration (called by the module entry, in this order:
// host resources, then the data module's listener of CoreDataModule; the localizer's
// listener comes later, with the dialog services).

// Phase 0 creates QvRes when it does not exist, phase 1 frees it, phase 2 does nothing.
void QvResPhaseListener(uint8_t APhase);
// Phase 0 creates and loads the localizer, phase 1 frees it.
void LocalizerPhaseListener(uint8_t APhase);
// Adds QvResPhaseListener to QvApp and lets the base forms load numbered host icons.
void RegisterQvResListener();
void RegisterLocalizerListener();
