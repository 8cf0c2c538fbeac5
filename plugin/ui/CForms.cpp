#include "CForms.h"

#include "uIApplication.h"

#include <QApplication>
#include <QChildEvent>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>
#include <QStyle>
#include <QStyleOptionSizeGrip>
#include <QTimer>
#include <QWindow>

TQvFormHook QvApplyImeNameHook = nullptr;
TQvFormHook QvUnregisterFormHook = nullptr;
TQvNumberedImageHook QvLoadNumberedImageHook = nullptr;

namespace {

// Posted to a new form so that its creation finishes once its constructors have run.
const QEvent::Type AfterConstructionEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// The facade asks the UI layer for the owner of the host's message box and for the
// system's message font.
QvHandle ActiveWindowHandle() {
    return Application->ActiveFormHandle();
}

bool SystemMessageFont(TMessageFont& AFont) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    const QFont f = GetSystemMessageFont();
    AFont.Name = f.family().toStdString();
    AFont.Size = f.pointSize() > 0 ? f.pointSize() : static_cast<int32_t>(f.pointSizeF() + 0.5);
    return true;
}

const bool GFacadeHooksInstalled = [] {
    QvActiveWindowHandleHook = &ActiveWindowHandle;
    QvMessageFontHook = &SystemMessageFont;
    return true;
}();

// The Qt application must exist before the first widget is made.
QWidget* WithQtApplication(QWidget* AOwner) {
    Application->EnsureQtApplication();
    return AOwner;
}

// The package's side of a form's life.
void PackageApplyImeName(QWidget* AForm) {
    if (QvApplyImeNameHook) QvApplyImeNameHook(AForm);
}

void PackageUnregisterForm(QWidget* AForm) noexcept {
    try {
        if (QvUnregisterFormHook) QvUnregisterFormHook(AForm);
    } catch (...) {
        // A form going away cannot fail.
    }
}

void WriteFormLog(const TQvBaseForm& AForm, const char* ATitle) {
    if (QvApp) QvApp->WriteLog(0, AForm.ClassName(), ATitle, AForm.Caption());
}

// A fully transparent icon: the title bar of a dialog-style form shows none.
QIcon NoIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return QIcon(pm);
}

// Runs a closing step; an error is shown and counts as "do not close".
template <class F> bool ClosingStep(F&& AStep) noexcept {
    try {
        AStep();
        return true;
    } catch (...) {
        Application->HandleException(std::current_exception());
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Host font and skin

QFont FontFromHostInfo(const IQVFontInfo& AInfo) {
    QFont f(QString::fromStdString(BstrToUtf8(AInfo.Name)));
    if (AInfo.Size > 0) f.setPointSize(AInfo.Size);
    f.setItalic(AInfo.Style == 1 || AInfo.Style == 3);
    f.setBold(AInfo.Style == 2 || AInfo.Style == 3);
    return f;
}

std::optional<QFont> HostFontSetting() {
    if (!QvApp || !QvApp->HasApplication() || !QvApp->HasLibrary()) return std::nullopt;
    IQVFontInfo info;
    QvApp->GetFontInfo(info);
    if (info.UseFont) return FontFromHostInfo(info);
    return GetSystemMessageFont();
}

void ApplyHostAppearance() {
    Application->EnsureQtApplication();
    const std::optional<QFont> font = HostFontSetting();
    if (!font) {
        SetHintFont(GetSystemMessageFont());
        return;
    }
    SetHintFont(*font);

    IQvConfigInfo config;
    QvApp->GetConfigInfo(config);
    SetSkinIndex(config.SkinIndex);

    TRootLookAndFeel& root = RootLookAndFeel();
    if (root.Kind() != TLookAndFeelKind::Office2003) return;
    const bool colorSwitch = config.ColorSchemeFlag != 0;
    const int index = config.ColorSchemeIndex;
    if (index < 0 || index > 4) return;
    const bool changed = colorSwitch != root.Office2003ColorSwitch() ||
                         (root.Office2003ColorSwitch() && index != root.Office2003ColorIndex());
    root.SetOffice2003ColorIndex(index);
    root.SetOffice2003ColorSwitch(colorSwitch);
    if (changed) root.Refresh();
}

bool SetSkinIndex(int AIndex) {
    static constexpr TLookAndFeelKind kinds[] = {TLookAndFeelKind::Flat, TLookAndFeelKind::Office2003,
                                                 TLookAndFeelKind::Standard, TLookAndFeelKind::UltraFlat};
    if (AIndex < 0 || AIndex > 3) return false;
    return SetLookAndFeelKind(kinds[AIndex]);
}

bool SetLookAndFeelKind(TLookAndFeelKind AKind) {
    TRootLookAndFeel& root = RootLookAndFeel();
    root.SetNativeStyle(AKind == TLookAndFeelKind::Standard);
    root.SetKind(AKind);
    return true;
}

// ---------------------------------------------------------------------------------------
// TQvBaseForm

TQvBaseForm::TQvBaseForm(QWidget* AOwner, TCreation ACreation) : QDialog(WithQtApplication(AOwner)) {
    FCreatedAt = Now();
    FGripWidth = VerticalScrollBarWidth();
    FGripHeight = HorizontalScrollBarHeight();
    FBottomBarHeight = 0;
    FLookAndFeel = std::make_unique<TLookAndFeel>([this] {
        GuardedHandler([this] {
            setStyleSheet(RootLookAndFeel().ButtonStyleSheet());
            LookAndFeelChanged();
        });
    });
    setSizeGripEnabled(false); // the form paints its own grip
    if (ACreation == TCreation::Resource) {
        FFontFollow = true;
        if (std::optional<QFont> f = HostFontSetting()) setFont(*f);
    }
    QCoreApplication::postEvent(this, new QEvent(AfterConstructionEvent));
}

TQvBaseForm::~TQvBaseForm() = default;

void TQvBaseForm::AfterConstruction() {
    if (FConstructed) return;
    FConstructed = true;
    setProperty(QV_CLASS_NAME_PROPERTY, QString::fromLatin1(metaObject()->className()));
    for (QObject* c : findChildren<QObject*>())
        if (c->property(QV_CLASS_NAME_PROPERTY).toString() == QLatin1String("TdxBarManager")) {
            FBarManager = c;
            break;
        }
    setStyleSheet(RootLookAndFeel().ButtonStyleSheet());
    Created();
}

void TQvBaseForm::ApplyHostFont() {
    // The plug-in always runs as a library module: the host font when the host asks for
    // it, else the system message font.
    if (TQvApplication::IsLibraryModule()) {
        std::optional<QFont> f = HostFontSetting();
        setFont(f ? *f : GetSystemMessageFont());
    }
    FontApplied();
}

void TQvBaseForm::SetBottomBarHeight(int AValue) {
    if (AValue == FBottomBarHeight) return;
    FBottomBarHeight = AValue;
    if (HandleAllocated()) update();
}

void TQvBaseForm::SetShowBottomBar(bool AValue) {
    if (AValue == FShowBottomBar) return;
    FShowBottomBar = AValue;
    if (HandleAllocated()) update();
}

void TQvBaseForm::SetBorderStyle(TFormBorderStyle AValue) {
    FBorderStyle = AValue;
    if (AValue == TFormBorderStyle::Sizeable || AValue == TFormBorderStyle::SizeToolWin) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(size());
    }
    setWindowFlag(Qt::FramelessWindowHint, AValue == TFormBorderStyle::None);
}

void TQvBaseForm::SetClientSize(int AWidth, int AHeight) {
    if (FBorderStyle == TFormBorderStyle::Sizeable || FBorderStyle == TFormBorderStyle::SizeToolWin)
        resize(AWidth, AHeight);
    else
        setFixedSize(AWidth, AHeight);
}

void TQvBaseForm::SetIcon(const QIcon& AIcon) {
    FIcon = AIcon;
    if (FTitleBarIcon) setWindowIcon(AIcon);
}

void TQvBaseForm::SetTitleBarIcon(bool AValue) {
    FTitleBarIcon = AValue;
    setWindowIcon(AValue ? FIcon : NoIcon());
}

bool TQvBaseForm::HandleAllocated() const {
    return testAttribute(Qt::WA_WState_Created);
}

void TQvBaseForm::SetModalResult(int AResult) {
    if (AResult != mrNone && isVisible())
        done(AResult);
    else
        setResult(AResult);
}

int TQvBaseForm::HitTest(const QPoint& APos) const {
    const bool sizeable =
        FBorderStyle == TFormBorderStyle::Sizeable || FBorderStyle == TFormBorderStyle::SizeToolWin;
    return sizeable && FGripRect.contains(APos) ? HTBOTTOMRIGHT : HTCLIENT;
}

void TQvBaseForm::done(int AResult) {
    if (FClosing) return;
    FClosing = true;
    setResult(AResult);
    bool canClose = true;
    // A refused close, or an error while closing, leaves the form open without a result.
    if (!ClosingStep([&] { CloseQuery(canClose); }) || !canClose || !ClosingStep([&] { DoClose(); })) {
        setResult(mrNone);
        FClosing = false;
        return;
    }
    QDialog::done(AResult);
    FClosing = false;
}

void TQvBaseForm::reject() {
    done(mrCancel);
}

void TQvBaseForm::LookAndFeelChanged() {
    update();
}

void TQvBaseForm::setVisible(bool AVisible) {
    if (AVisible) {
        if (!FConstructed) GuardedHandler([this] { AfterConstruction(); });
        setProperty(QV_CLASS_NAME_PROPERTY, QString::fromLatin1(metaObject()->className()));
        WatchKeys(this);
    }
    QDialog::setVisible(AVisible);
}

bool TQvBaseForm::event(QEvent* AEvent) {
    if (AEvent->type() == AfterConstructionEvent) {
        if (!FConstructed) GuardedHandler([this] { AfterConstruction(); });
        return true;
    }
    return QDialog::event(AEvent);
}

void TQvBaseForm::WatchKeys(QWidget* AWidget) {
    if (AWidget != this && AWidget->window() == this) AWidget->installEventFilter(this);
    for (QWidget* c : AWidget->findChildren<QWidget*>())
        if (c->window() == this) c->installEventFilter(this);
}

void TQvBaseForm::childEvent(QChildEvent* AEvent) {
    QDialog::childEvent(AEvent);
    if (AEvent->added() && AEvent->child()->isWidgetType()) WatchKeys(static_cast<QWidget*>(AEvent->child()));
}

bool TQvBaseForm::eventFilter(QObject* AWatched, QEvent* AEvent) {
    // Key preview: a key reaches first the focused control; the form sees it before. A key
    // the control ignores travels on to its parents, which do not preview it again.
    if (AEvent->type() == QEvent::KeyPress && FKeyPreview && AWatched == focusWidget() && AWatched != this) {
        auto* key = static_cast<QKeyEvent*>(AEvent);
        bool handled = false;
        GuardedHandler([&] { handled = KeyDown(key); });
        if (handled) {
            key->accept();
            return true;
        }
    }
    return QDialog::eventFilter(AWatched, AEvent);
}

void TQvBaseForm::keyPressEvent(QKeyEvent* AEvent) {
    // Only a key sent to the form itself is previewed here (one from a focused control
    // was previewed when it arrived there).
    QWidget* focus = focusWidget();
    if (FKeyPreview && (!focus || focus == this)) {
        bool handled = false;
        GuardedHandler([&] { handled = KeyDown(AEvent); });
        if (handled) {
            AEvent->accept();
            return;
        }
    }
    QDialog::keyPressEvent(AEvent);
}

void TQvBaseForm::showEvent(QShowEvent* AEvent) {
    QDialog::showEvent(AEvent);
    if (!FFirstShowDone) {
        FFirstShowDone = true;
        GuardedHandler([this] {
            BeforeFirstShow();
            FirstShow();
        });
    }
}

void TQvBaseForm::changeEvent(QEvent* AEvent) {
    QDialog::changeEvent(AEvent);
    if (AEvent->type() == QEvent::ActivationChange && isActiveWindow() && !FFirstActivateDone) {
        FFirstActivateDone = true;
        GuardedHandler([this] { FirstActivate(); });
    } else if (AEvent->type() == QEvent::FontChange && FFontFollow) {
        GuardedHandler([this] {
            if (FBarManager) FBarManager->setProperty("Font", font());
            FontApplied();
        });
    }
}

void TQvBaseForm::closeEvent(QCloseEvent* AEvent) {
    if (isVisible() && isModal()) {
        // Closing a modal form is a Cancel.
        done(mrCancel);
        AEvent->setAccepted(!isVisible());
        return;
    }
    bool canClose = true;
    if (!ClosingStep([&] { CloseQuery(canClose); }) || !canClose || !ClosingStep([&] { DoClose(); })) {
        AEvent->ignore();
        return;
    }
    AEvent->accept();
}

void TQvBaseForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    FGripRect = QRect(width() - FGripWidth, height() - FGripHeight, FGripWidth, FGripHeight);
}

void TQvBaseForm::FillGradient(QPainter& APainter, const QRect& ARect) const {
    if (ARect.isEmpty()) return;
    QLinearGradient g(ARect.topLeft(), ARect.bottomLeft());
    g.setColorAt(0, RootLookAndFeel().Office2003DockColor1());
    g.setColorAt(1, RootLookAndFeel().Office2003DockColor2());
    APainter.fillRect(ARect, g);
}

void TQvBaseForm::paintEvent(QPaintEvent* AEvent) {
    QDialog::paintEvent(AEvent);
    QPainter p(this);
    if (FLookAndFeel->Kind() == TLookAndFeelKind::Office2003) {
        if (FShowBottomBar) {
            FillGradient(p, rect().adjusted(0, 0, 0, -FBottomBarHeight));
            if (FBottomBarHeight > 0)
                FillGradient(p, QRect(0, height() - FBottomBarHeight, width(), FBottomBarHeight));
        } else {
            FillGradient(p, rect());
        }
    }
    if (!isMaximized() &&
        (FBorderStyle == TFormBorderStyle::Sizeable || FBorderStyle == TFormBorderStyle::SizeToolWin)) {
        QStyleOptionSizeGrip opt;
        opt.initFrom(this);
        opt.rect = FGripRect;
        opt.corner = Qt::BottomRightCorner;
        style()->drawControl(QStyle::CE_SizeGrip, &opt, &p, this);
    }
    GuardedHandler([&] { PaintExtra(p); });
}

void TQvBaseForm::mousePressEvent(QMouseEvent* AEvent) {
    if (AEvent->button() == Qt::LeftButton && HitTest(AEvent->position().toPoint()) == HTBOTTOMRIGHT &&
        windowHandle()) {
        windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
        return;
    }
    QDialog::mousePressEvent(AEvent);
}

// ---------------------------------------------------------------------------------------
// TQvForm

TQvForm::TQvForm(QWidget* AOwner) : TQvBaseForm(AOwner, TCreation::Resource) {}

TQvForm::~TQvForm() {
    PackageUnregisterForm(this);
}

void TQvForm::Created() {
    TQvBaseForm::Created();
    PackageApplyImeName(this);
    WriteFormLog(*this, "创建窗体");
}

void TQvForm::BeforeFirstShow() {
    TQvBaseForm::BeforeFirstShow();
    WriteFormLog(*this, "显示窗体");
}

void TQvForm::DoClose() {
    TQvBaseForm::DoClose();
    WriteFormLog(*this, "关闭窗体");
    if (!isModal()) setAttribute(Qt::WA_DeleteOnClose);
}

void TQvForm::SetProgramID(int AID) {
    if (AID == FProgramID) return;
    FProgramID = AID;
    if (QvApp) {
        int32_t first = 0, icon = FProgramIcon;
        QvApp->GetProgramInfo(AID, first, icon);
        FProgramIcon = icon;
    }
    if (FProgramIcon > 0 && QvLoadNumberedImageHook) {
        QIcon icon;
        if (QvLoadNumberedImageHook(icon, FProgramIcon, 16)) SetIcon(icon);
    }
    ProgramChanged();
}

std::string TQvForm::GetSQL(int AID) const {
    return QvApp ? QvApp->GetScript(AID) : std::string();
}

// ---------------------------------------------------------------------------------------
// TAnimateControl

TAnimateControl::TAnimateControl(QWidget* AOwner) : QWidget(AOwner), FTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("AnimateControl"));
    hide();
    FTimer->setInterval(500);
    connect(FTimer, &QTimer::timeout, this, [this] { GuardedHandler([this] { Tick(); }); });
}

TAnimateControl::~TAnimateControl() = default;

void TAnimateControl::SetBlink(bool AValue) {
    FBlink = AValue;
    if (AValue)
        FTimer->start();
    else
        FTimer->stop();
}

void TAnimateControl::Tick() {
    if (FBlink) setVisible(isHidden());
}

void TAnimateControl::RebuildRegion() {
    // A ring: the rounded outline minus the same shape 2 pixels inside.
    QPainterPath outer, inner;
    outer.addRoundedRect(QRectF(rect()), 2, 2);
    inner.addRoundedRect(QRectF(rect().adjusted(2, 2, -2, -2)), 2, 2);
    const QRegion ring =
        QRegion(outer.toFillPolygon().toPolygon()).xored(QRegion(inner.toFillPolygon().toPolygon()));
    setMask(ring);
}

void TAnimateControl::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    RebuildRegion();
}

void TAnimateControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FColor);
}

// ---------------------------------------------------------------------------------------
// TDForm

TDForm::TDForm(QWidget* AOwner) : TQvForm(AOwner) {
    FDialogStyle = true;
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    SetTitleBarIcon(false);
    FAnimate = std::make_unique<TAnimateControl>(this);
    SetBottomBarHeight(42);
    SetShowBottomBar(true);
}

TDForm::~TDForm() {
    FAnimate.reset();
}

void TDForm::CloseQuery(bool& ACanClose) {
    TQvForm::CloseQuery(ACanClose);
    if (!ACanClose || ModalResult() != mrOk) return;
    std::string error;
    try {
        ValidateOK(ACanClose);
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "Unexpected exception";
    }
    ACanClose = false;
    // The host's message box with the error icon; without a host, the standard display.
    if (QvApp && QvApp->HasApplication())
        QvApp->ShowHostMessage(error, 16);
    else
        Application->ShowException(error);
}
