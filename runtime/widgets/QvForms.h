// The module's UI platform on Qt 6 Widgets: the application object, the standard error
// display, screen and system metrics, the system message font, the clipboard, the beep and
// the plain information box.
//
// Each module links its own copy (static library), so each module keeps its own
// application object, while the QApplication itself is the host's and process-wide.
#pragma once

#include "QvCom.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QApplication;
class QWidget;

// Name of the Qt property carrying a window's class name in the system's naming
// ("TMsgBoxEx", "TFrmClinicRateVAK"); read by the scripted user.
inline constexpr const char* QV_CLASS_NAME_PROPERTY = "qvClassName";
// Name of the Qt property carrying the text a window paints itself (the message box).
inline constexpr const char* QV_TEXT_PROPERTY = "qvText";

// The module's application object.
class TApplication {
public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Caption of the standard dialogs and of the message boxes that name no caption.
    std::string Title;
    // The owner window: the host's main window handle (a winId); 0 when none.
    QvHandle Handle = 0;
    // The application's icon (shown by message boxes without an icon value) and the
    // host's icon handle it came from.
    QIcon Icon;
    QvHandle IconHandle = 0;
    // Replaces the standard error display when set (HandleException calls it instead).
    std::function<void(const std::string& AMessage)> OnException;

    // The QApplication of the process: the host's; only when the process has none, one is
    // created here, owned by this object and deleted with it (at module unload). Raises
    // when the process runs a QCoreApplication that cannot show widgets.
    QApplication* EnsureQtApplication();
    bool OwnsQtApplication() const { return FOwnApp != nullptr; }

    // The widget of Handle in this process, or nil.
    QWidget* OwnerWidget() const;
    // The form the user works in: the top modal window, else the active window, else nil.
    QWidget* ActiveForm() const;
    // Its handle (winId), else Handle.
    QvHandle ActiveFormHandle() const;
    // Parent for a new top-level window of the module: the active form, else the owner.
    QWidget* DialogParent() const;

    // Shows (or hands to OnException) the error being handled. Never throws.
    void HandleException(const std::exception& E) noexcept;
    void HandleException(std::exception_ptr E) noexcept;
    // The standard error display: a modal message dialog with the text, the error icon
    // and the caption Title.
    void ShowException(const std::string& AMessage);
    void ProcessMessages();

private:
    std::unique_ptr<QApplication> FOwnApp;
};

// The module's application object.
extern TApplication* const Application;

// Runs an event handler so that Qt never sees an exception: any exception goes to the
// application object's standard error display.
template <class F> void GuardedHandler(F&& AHandler) noexcept {
    try {
        AHandler();
    } catch (...) {
        Application->HandleException(std::current_exception());
    }
}

// ---------------------------------------------------------------------------------------
// Screen, metrics, fonts

// The primary screen's work area (without task bars); 1024x768 at 0,0 without a screen.
QRect ScreenWorkArea();
// Width of a vertical scroll bar and height of a horizontal one (the size grip's size).
int VerticalScrollBarWidth();
int HorizontalScrollBarHeight();
// The system's message font (the font of message boxes).
QFont GetSystemMessageFont();
// The screen's hint font (tool tips).
QFont HintFont();
void SetHintFont(const QFont& AFont);

// The system's message-box icons and the application icon, as pixmaps at the system's
// icon size (32 pixels).
enum class TSystemIcon { Stop, Question, Exclamation, Information, Application };
QPixmap SystemIconPixmap(TSystemIcon AIcon);

// ---------------------------------------------------------------------------------------
// Clipboard, beep, plain information box

void ClipboardSetText(const std::string& AText);
std::string ClipboardText();
void Beep();
// The plain information box: the text and an OK button, caption = the application title.
void ShowMessage(const std::string& AText);
