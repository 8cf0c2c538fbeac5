// The root look-and-feel of the module's windows and the per-form look-and-feel that
// follows it. Kinds map to Qt appearances: Office 2003 paints a vertical gradient from the
// colour scheme's two dock colours; the other kinds differ in how push buttons are drawn
// (a style sheet); Standard with native style leaves Qt's own style untouched.
#pragma once

#include <QColor>
#include <QString>

#include <functional>
#include <map>

enum class TLookAndFeelKind { Flat, Standard, UltraFlat, Office2003 };

class TRootLookAndFeel {
public:
    using TListener = std::function<void()>;

    TLookAndFeelKind Kind() const { return FKind; }
    // Changing the kind notifies the listeners.
    void SetKind(TLookAndFeelKind AKind);
    bool NativeStyle() const { return FNativeStyle; }
    void SetNativeStyle(bool AValue);

    // The Office 2003 colour configuration: whether a colour scheme is chosen, and which
    // (0 blue, 1 olive, 2 silver, 3 dark blue, 4 grey). Storing them does not notify;
    // Refresh does.
    bool Office2003ColorSwitch() const { return FColorSwitch; }
    void SetOffice2003ColorSwitch(bool AValue) { FColorSwitch = AValue; }
    int Office2003ColorIndex() const { return FColorIndex; }
    void SetOffice2003ColorIndex(int AValue) { FColorIndex = AValue; }
    // The first (top) and second (bottom) dock colour of the current Office 2003 scheme.
    QColor Office2003DockColor1() const;
    QColor Office2003DockColor2() const;

    // Tells every listener that the appearance changed.
    void Refresh();
    int AddChangeListener(TListener AListener);
    void RemoveChangeListener(int AId);
    // How many times the listeners were told (tests).
    int ChangeCount() const { return FChangeCount; }

    // Style sheet giving push buttons the kind's look; empty for the native style.
    QString ButtonStyleSheet() const;

    // Back to the start state (Standard, native style, no colour scheme); listeners stay.
    void Reset();

private:
    TLookAndFeelKind FKind = TLookAndFeelKind::Standard;
    bool FNativeStyle = true;
    bool FColorSwitch = false;
    int FColorIndex = 0;
    int FNextId = 1;
    int FChangeCount = 0;
    std::map<int, TListener> FListeners;
};

// The module's root look-and-feel.
TRootLookAndFeel& RootLookAndFeel();

// A form's own look-and-feel: follows the root and calls OnChanged whenever the root
// changes. Leaves the root's listener list when destroyed.
class TLookAndFeel {
public:
    explicit TLookAndFeel(std::function<void()> AOnChanged);
    ~TLookAndFeel();
    TLookAndFeel(const TLookAndFeel&) = delete;
    TLookAndFeel& operator=(const TLookAndFeel&) = delete;

    TLookAndFeelKind Kind() const { return RootLookAndFeel().Kind(); }
    bool NativeStyle() const { return RootLookAndFeel().NativeStyle(); }

private:
    int FListenerId;
};
