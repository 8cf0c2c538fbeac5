#include "QvLookAndFeel.h"

#include <QApplication>
#include <QPalette>

#include <iterator>
#include <utility>
#include <vector>

namespace {

struct TOffice2003Scheme {
    QRgb Dock1, Dock2;
};

// Dock gradients of the Office 2003 colour schemes, by index.
constexpr TOffice2003Scheme Office2003Schemes[] = {
    {qRgb(0xDD, 0xEC, 0xFE), qRgb(0x81, 0xA9, 0xE2)}, // blue
    {qRgb(0xF4, 0xF7, 0xDE), qRgb(0xB7, 0xC6, 0x91)}, // olive
    {qRgb(0xF3, 0xF4, 0xFA), qRgb(0x99, 0x97, 0xB5)}, // silver
    {qRgb(0xC8, 0xD8, 0xF0), qRgb(0x5A, 0x7E, 0xC0)}, // dark blue
    {qRgb(0xF5, 0xF5, 0xF5), qRgb(0xC0, 0xC0, 0xC0)}, // grey
};

// Without a chosen scheme the gradient derives from the window colour of the palette.
QColor PaletteWindow() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return QApplication::palette().window().color();
    return QColor(0xF0, 0xF0, 0xF0);
}

} // namespace

void TRootLookAndFeel::SetKind(TLookAndFeelKind AKind) {
    if (AKind == FKind) return;
    FKind = AKind;
    Refresh();
}

void TRootLookAndFeel::SetNativeStyle(bool AValue) {
    if (AValue == FNativeStyle) return;
    FNativeStyle = AValue;
    Refresh();
}

QColor TRootLookAndFeel::Office2003DockColor1() const {
    if (FColorSwitch && FColorIndex >= 0 && FColorIndex < int(std::size(Office2003Schemes)))
        return QColor(Office2003Schemes[FColorIndex].Dock1);
    return PaletteWindow().lighter(108);
}

QColor TRootLookAndFeel::Office2003DockColor2() const {
    if (FColorSwitch && FColorIndex >= 0 && FColorIndex < int(std::size(Office2003Schemes)))
        return QColor(Office2003Schemes[FColorIndex].Dock2);
    return PaletteWindow().darker(112);
}

void TRootLookAndFeel::Refresh() {
    ++FChangeCount;
    // A listener may leave (its form is destroyed) while the list is told.
    std::vector<int> ids;
    for (const auto& [id, l] : FListeners)
        ids.push_back(id);
    for (int id : ids) {
        auto it = FListeners.find(id);
        if (it != FListeners.end()) {
            TListener l = it->second;
            l();
        }
    }
}

int TRootLookAndFeel::AddChangeListener(TListener AListener) {
    const int id = FNextId++;
    FListeners.emplace(id, std::move(AListener));
    return id;
}

void TRootLookAndFeel::RemoveChangeListener(int AId) {
    FListeners.erase(AId);
}

QString TRootLookAndFeel::ButtonStyleSheet() const {
    switch (FKind) {
    case TLookAndFeelKind::Standard:
        if (FNativeStyle) return {};
        return QStringLiteral(
            "QPushButton{border:1px solid #7a7a7a;border-radius:2px;background:#ececec;padding:2px 6px;}"
            "QPushButton:hover{background:#e0eaf6;}QPushButton:pressed{background:#cfdcec;}");
    case TLookAndFeelKind::Flat:
        return QStringLiteral(
            "QPushButton{border:1px solid #808080;background:#f0f0f0;padding:2px 6px;}"
            "QPushButton:hover{background:#e5e5e5;}QPushButton:pressed{background:#d0d0d0;}");
    case TLookAndFeelKind::UltraFlat:
        return QStringLiteral("QPushButton{border:1px solid #a0a0a0;background:transparent;padding:2px 6px;}"
                              "QPushButton:hover{border-color:#316ac5;background:#c1d2ee;}"
                              "QPushButton:pressed{background:#98b5e2;}");
    case TLookAndFeelKind::Office2003: {
        const QString c1 = Office2003DockColor1().name(), c2 = Office2003DockColor2().name();
        return QStringLiteral(
                   "QPushButton{border:1px solid %2;border-radius:2px;padding:2px 6px;"
                   "background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0 #ffffff,stop:1 %1);}"
                   "QPushButton:hover{background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0 #fff6d6,"
                   "stop:1 #ffd58c);}QPushButton:pressed{background:#fbb665;}")
            .arg(c1, c2);
    }
    }
    return {};
}

void TRootLookAndFeel::Reset() {
    FKind = TLookAndFeelKind::Standard;
    FNativeStyle = true;
    FColorSwitch = false;
    FColorIndex = 0;
    FChangeCount = 0;
}

TRootLookAndFeel& RootLookAndFeel() {
    static TRootLookAndFeel root;
    return root;
}

TLookAndFeel::TLookAndFeel(std::function<void()> AOnChanged)
    : FListenerId(RootLookAndFeel().AddChangeListener(std::move(AOnChanged))) {}

TLookAndFeel::~TLookAndFeel() {
    RootLookAndFeel().RemoveChangeListener(FListenerId);
}
