// The scripted user: drives modal windows as a person would, for tests, scenarios and the
// demo.
//
// Installed as an event filter on the QApplication (process-wide, so it sees the host's
// windows as well as the module's), it notices each modal top-level window when it is
// shown, records it, and from a queued call inside that window's own modal loop performs
// the next step of its script. A window takes steps until it closes; a window opened by a
// step (a nested window) takes the next steps of the same script, and when it closes its
// opener goes on with what is left. A window still open when the script has no step left
// is closed from its title bar and recorded as having run out. A window that will not
// close even then is forced shut, so a run never hangs.
//
// Plug-in code knows nothing of this: it only runs its windows' own modal loops.
#pragma once

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

struct TScriptStep {
    enum class TKind {
        Press,         // press a button: Target = object name or caption ('&' ignored)
        Choose,        // choose a combo value: Target = object name, Value = text or Index
        Type,          // type text into an edit: Target = object name, Value = text
        Focus,         // click into a control: Target = object name
        Escape,        // press Escape
        Enter,         // press Enter
        Copy,          // press Ctrl+C
        Close,         // close from the title bar
        ExpectClass,   // the window's class name is Value
        ExpectCaption, // the window's caption is Value
        ExpectText,    // the window's text contains Value
    };

    TKind Kind = TKind::Close;
    std::string Target;
    std::string Value;
    int Index = -1;

    static TScriptStep Press(std::string ANameOrCaption) {
        return {TKind::Press, std::move(ANameOrCaption), {}, -1};
    }
    static TScriptStep Choose(std::string AName, std::string AText) {
        return {TKind::Choose, std::move(AName), std::move(AText), -1};
    }
    static TScriptStep ChooseIndex(std::string AName, int AIndex) {
        return {TKind::Choose, std::move(AName), {}, AIndex};
    }
    static TScriptStep Type(std::string AName, std::string AText) {
        return {TKind::Type, std::move(AName), std::move(AText), -1};
    }
    static TScriptStep Focus(std::string AName) { return {TKind::Focus, std::move(AName), {}, -1}; }
    static TScriptStep Escape() { return {TKind::Escape, {}, {}, -1}; }
    static TScriptStep Enter() { return {TKind::Enter, {}, {}, -1}; }
    static TScriptStep Copy() { return {TKind::Copy, {}, {}, -1}; }
    static TScriptStep Close() { return {TKind::Close, {}, {}, -1}; }
    static TScriptStep ExpectClass(std::string AName) {
        return {TKind::ExpectClass, {}, std::move(AName), -1};
    }
    static TScriptStep ExpectCaption(std::string ACaption) {
        return {TKind::ExpectCaption, {}, std::move(ACaption), -1};
    }
    static TScriptStep ExpectText(std::string APart) { return {TKind::ExpectText, {}, std::move(APart), -1}; }

    bool IsExpectation() const {
        return Kind == TKind::ExpectClass || Kind == TKind::ExpectCaption || Kind == TKind::ExpectText;
    }
    // The step as text, e.g. "press btn_OK", "choose cmb_Pay=微信", "escape".
    std::string Describe() const;
    // Kind names for scenario files: press, choose, type, focus, escape, enter, copy, close,
    // expect-class, expect-caption, expect-text.
    static std::string_view KindName(TKind AKind);
    static std::optional<TKind> KindFromName(std::string_view AName);
};

struct TScriptedButton {
    std::string Name;    // object name
    std::string Caption; // text as shown, '&' included
    bool Enabled = true;
};

// One modal window as the scripted user saw it and what it did there.
struct TScriptedWindow {
    std::string ClassName; // the qvClassName property, else the Qt class name
    std::string Caption;
    std::string Text; // the qvText property, else the texts of its labels
    std::vector<TScriptedButton> Buttons;
    std::vector<std::string> Actions; // steps performed, in order
    bool Closed = false;
    int Result = -1;                   // the dialog's result once closed; -1 for other windows
    bool RanOut = false;               // closed because the script had no step left
    bool Forced = false;               // would not close and was forced shut
    std::vector<std::string> Failures; // steps that failed, unmet expectations
};

class TScriptedUser : public QObject {
public:
    // Installs itself on the running QApplication.
    explicit TScriptedUser(std::vector<TScriptStep> ASteps = {});
    ~TScriptedUser() override;

    // Appends steps to the script.
    void AddSteps(const std::vector<TScriptStep>& ASteps);
    void AddStep(TScriptStep AStep) { FSteps.push_back(std::move(AStep)); }

    const std::vector<TScriptedWindow>& Windows() const { return FWindows; }
    size_t StepsLeft() const { return FSteps.size(); }
    // Whether any window had to be closed because the script ran out.
    bool RanOut() const;
    // Every failure of the run, each prefixed with the window's class name.
    std::vector<std::string> Failures() const;
    // Forgets the record (the script stays).
    void ClearRecord() { FWindows.clear(); }

    // Called inside the window's own loop just before each action on it (also the closing
    // of a window that ran out), with the window as it is now: e.g. to save a screenshot.
    std::function<void(QWidget* AWindow, const TScriptedWindow& ARecord)> OnBeforeAction;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    struct TOpenWindow {
        QPointer<QWidget> Window;
        size_t Record;
        bool Waiting; // a step came while a window above it was open
    };

    void WindowShown(QWidget* AWindow);
    void WindowHidden(QWidget* AWindow);
    void ScheduleStep(QWidget* AWindow);
    void RunStep(QPointer<QWidget> AWindow);
    // Performs one step on the window; false when the step failed (reason in AFailure).
    bool Perform(QWidget* AWindow, const TScriptStep& AStep, std::string& AFailure);
    void CloseOrForce(QWidget* AWindow, size_t ARecordIndex);
    void Snapshot(QWidget* AWindow, TScriptedWindow& ARecord) const;
    TOpenWindow* FindOpen(QWidget* AWindow);

    std::deque<TScriptStep> FSteps;
    std::vector<TScriptedWindow> FWindows;
    std::vector<TOpenWindow> FOpen; // modal windows currently shown, oldest first
};
