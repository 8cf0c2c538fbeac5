// The chain of base forms of every plug-in window: TQvBaseForm -> TQvForm -> TDForm, the
// blinking marker TAnimateControl, and the adoption of the host's font and skin
// (ApplyHostAppearance, SetSkinIndex, SetLookAndFeelKind).
//
// A form is a QDialog. Its class name in the system's naming is its Qt class name: every
// form class declares Q_OBJECT, and the form sets the Qt property "qvClassName" to it and
// gives its controls their component names as object names.
//
// Closing follows the platform's rules: setting a modal result (done(), accept(), a button
// with a modal result) first asks CloseQuery, then runs DoClose, then ends the modal loop;
// closing from the title bar or with Escape on a modal form sets the modal result 2.
// Results are the Windows message-box codes (1 OK, 2 Cancel, ... 7 No).
#pragma once

#include "QvDateTime.h"
#include "QvForms.h"
#include "QvHostIntf.h"
#include "QvLookAndFeel.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QPainter;
class QTimer;

// Modal results.
enum : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
};

enum class TFormBorderStyle { None, Single, Sizeable, Dialog, ToolWindow, SizeToolWin };

// Hit-test answers of the form's client area.
constexpr int HTCLIENT = 1;
constexpr int HTBOTTOMRIGHT = 17;

// ---------------------------------------------------------------------------------------
// What the package does with the plug-in's forms. The package's unit sets these hooks; a
// form calls them when they are set (apply the host's input-method name on creation, leave
// the package's open-window list on destruction).
using TQvFormHook = void (*)(QWidget* AForm);
extern TQvFormHook QvApplyImeNameHook;
extern TQvFormHook QvUnregisterFormHook;
// Loads a host numbered image ("I" + number) at the given size into an icon; false when
// the host has none. Set by the host-resources unit.
using TQvNumberedImageHook = bool (*)(QIcon& AIcon, int ANumber, int ASize);
extern TQvNumberedImageHook QvLoadNumberedImageHook;

// ---------------------------------------------------------------------------------------
// Host font and skin

// A host font record as a font: face, size in points, style code 1 italic, 2 bold, 3 bold
// italic, anything else regular.
QFont FontFromHostInfo(const IQVFontInfo& AInfo);
// The font the host asks its windows to use: the host font when its use-font flag is set,
// else the system message font. None without the facade or its host library.
std::optional<QFont> HostFontSetting();

// Copies the host's font and skin to the application: the screen's hint font, the root
// look-and-feel kind and the Office 2003 colour scheme.
void ApplyHostAppearance();
// 0 flat, 1 Office 2003, 2 standard, 3 ultra-flat; false (and nothing changes) otherwise.
bool SetSkinIndex(int AIndex);
// Sets the root look-and-feel kind; native style exactly for the standard kind.
bool SetLookAndFeelKind(TLookAndFeelKind AKind);

// ---------------------------------------------------------------------------------------

class TQvBaseForm : public QDialog {
    Q_OBJECT
public:
    // How the form is built: from its resource (host font applied, ready to follow font
    // changes), or new without a resource (the message box).
    enum class TCreation { Resource, New };

    explicit TQvBaseForm(QWidget* AOwner = nullptr, TCreation ACreation = TCreation::Resource);
    ~TQvBaseForm() override;

    // The system class name of the form (its Qt class name).
    std::string ClassName() const { return metaObject()->className(); }
    std::string Caption() const { return windowTitle().toStdString(); }
    void SetCaption(const std::string& ACaption) { setWindowTitle(QString::fromStdString(ACaption)); }

    // Finishes the creation once the most derived constructor has run (the form's
    // controls exist): class name property, creation hooks. Runs by itself at the latest
    // when the form is first shown or the event loop first reaches it; idempotent.
    void AfterConstruction();

    // The message-box font of the host (or the system), then FontApplied.
    void ApplyHostFont();

    int BottomBarHeight() const { return FBottomBarHeight; }
    void SetBottomBarHeight(int AValue);
    bool ShowBottomBar() const { return FShowBottomBar; }
    void SetShowBottomBar(bool AValue);
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle AValue);
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool AValue) { FKeyPreview = AValue; }
    TDateTime CreatedAt() const { return FCreatedAt; }
    QRect GripRect() const { return FGripRect; }
    bool FirstShowDone() const { return FFirstShowDone; }
    bool FirstActivateDone() const { return FFirstActivateDone; }
    const TLookAndFeel& LookAndFeel() const { return *FLookAndFeel; }
    QObject* BarManager() const { return FBarManager; }
    // Client size; forms with a fixed border keep exactly this size.
    void SetClientSize(int AWidth, int AHeight);
    // The form's icon; the title bar shows it unless the form shows no title-bar icon.
    QIcon Icon() const { return FIcon; }
    void SetIcon(const QIcon& AIcon);
    bool TitleBarIcon() const { return FTitleBarIcon; }
    // Whether the form's native window exists.
    bool HandleAllocated() const;

    // The modal result: setting one on a shown modal form closes it (after CloseQuery).
    int ModalResult() const { return result(); }
    void SetModalResult(int AResult);
    int ShowModal() { return exec(); }

    // 17 (bottom-right sizing corner) inside the grip of a sizeable form, else 1.
    int HitTest(const QPoint& APos) const;

    void done(int AResult) override;
    void reject() override;

protected:
    // Added virtual operations, in slot order.
    virtual void FirstShow() {}
    virtual void FirstActivate() {}
    virtual void LookAndFeelChanged();
    virtual void PaintExtra(QPainter& ACanvas) {}
    virtual void FontApplied() {}

    // Closing: may the form close (CanClose starts true); then what closing does.
    virtual void CloseQuery(bool& ACanClose) {}
    virtual void DoClose() {}
    // Key preview: a key pressed anywhere in the form; true when handled (the control does
    // not get it).
    virtual bool KeyDown(QKeyEvent* AKey) { return false; }
    // Creation step of the derived chain, run once by AfterConstruction.
    virtual void Created() {}
    // Runs once at the first show, before FirstShow.
    virtual void BeforeFirstShow() {}

    void setVisible(bool AVisible) override;
    bool event(QEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
    void showEvent(QShowEvent* AEvent) override;
    void changeEvent(QEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;
    void paintEvent(QPaintEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
    void mousePressEvent(QMouseEvent* AEvent) override;
    void childEvent(QChildEvent* AEvent) override;

    // Shows the form's icon in the title bar, or no icon at all.
    void SetTitleBarIcon(bool AValue);

private:
    void WatchKeys(QWidget* AWidget);
    void FillGradient(QPainter& APainter, const QRect& ARect) const;

    int FGripWidth = 0, FGripHeight = 0;
    int FBottomBarHeight = 0;
    QRect FGripRect;
    std::unique_ptr<TLookAndFeel> FLookAndFeel;
    bool FShowBottomBar = false;
    bool FFirstShowDone = false;
    bool FFirstActivateDone = false;
    TDateTime FCreatedAt = 0;
    QPointer<QObject> FBarManager;
    bool FFontFollow = false;

    TFormBorderStyle FBorderStyle = TFormBorderStyle::Sizeable;
    bool FKeyPreview = false;
    bool FConstructed = false;
    bool FClosing = false;
    QIcon FIcon;
    bool FTitleBarIcon = true;
};

// ---------------------------------------------------------------------------------------

class TQvForm : public TQvBaseForm {
    Q_OBJECT
public:
    explicit TQvForm(QWidget* AOwner = nullptr);
    ~TQvForm() override;

    int ProgramID() const { return FProgramID; }
    int ProgramIcon() const { return FProgramIcon; }
    // Stores the host program number, takes its icon number from the host and loads that
    // icon ("I" + number, 16 pixels) into the form's icon; then ProgramChanged.
    void SetProgramID(int AID);
    // The host's numbered SQL text (empty without the host library).
    std::string GetSQL(int AID) const;

    // Added virtual operations, in slot order.
    virtual void ProgramChanged() {}
    // The host's command text (the package hands it over before showing the form).
    virtual void SetRunParam(const std::string& AParam) {}
    // The text handed back to the host after the form closed with OK; default: unchanged.
    virtual void GetResultText(std::string& AText) {}

protected:
    void Created() override;
    void BeforeFirstShow() override;
    void DoClose() override;

private:
    int FProgramID = 0;
    int FProgramIcon = 0;
};

// ---------------------------------------------------------------------------------------

// A small red ring that can blink (500 ms). Created hidden with the blink switch off.
class TAnimateControl : public QWidget {
    Q_OBJECT
public:
    explicit TAnimateControl(QWidget* AOwner);
    ~TAnimateControl() override;

    bool Blink() const { return FBlink; }
    // Switches blinking on or off (the timer runs only while blinking).
    void SetBlink(bool AValue);
    QRect Rect() const { return FRect; }
    QColor Color() const { return FColor; }
    QTimer* Timer() const { return FTimer; }
    // One timer tick: toggles visibility when the blink switch is on.
    void Tick();

protected:
    void resizeEvent(QResizeEvent* AEvent) override;
    void paintEvent(QPaintEvent* AEvent) override;

private:
    void RebuildRegion();

    QRect FRect;
    bool FBlink = false;
    QColor FColor = QColor(255, 0, 0); // Windows colour 255: red
    QTimer* FTimer;                    // child of this control
};

// ---------------------------------------------------------------------------------------

// The base of the plug-in's dialog windows: dialog style (title bar without icon), a
// 42-pixel bottom bar band, the OK validation and the blinking marker.
class TDForm : public TQvForm {
    Q_OBJECT
public:
    explicit TDForm(QWidget* AOwner = nullptr);
    ~TDForm() override;

    bool DialogStyle() const { return FDialogStyle; }
    // The window's extended style: 0x101 (dialog modal frame and window edge) with
    // dialog style, else 0.
    unsigned ExStyle() const { return FDialogStyle ? 0x101u : 0u; }
    TAnimateControl* AnimateControl() const { return FAnimate.get(); }

    // Added virtual operation: may the form close with OK (CanClose starts true).
    virtual void ValidateOK(bool& ACanClose) { ACanClose = true; }

protected:
    void CloseQuery(bool& ACanClose) override;

private:
    bool FDialogStyle = true;
    std::unique_ptr<TAnimateControl> FAnimate;
};
