#include "QvScriptedUser.h"

#include "QvForms.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>
#include <array>
#include <utility>

namespace {

struct TKindName {
    TScriptStep::TKind Kind;
    std::string_view Name;
};

constexpr std::array<TKindName, 11> KindNames{{
    {TScriptStep::TKind::Press, "press"},
    {TScriptStep::TKind::Choose, "choose"},
    {TScriptStep::TKind::Type, "type"},
    {TScriptStep::TKind::Focus, "focus"},
    {TScriptStep::TKind::Escape, "escape"},
    {TScriptStep::TKind::Enter, "enter"},
    {TScriptStep::TKind::Copy, "copy"},
    {TScriptStep::TKind::Close, "close"},
    {TScriptStep::TKind::ExpectClass, "expect-class"},
    {TScriptStep::TKind::ExpectCaption, "expect-caption"},
    {TScriptStep::TKind::ExpectText, "expect-text"},
}};

std::string S(const QString& s) {
    return s.toStdString();
}
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A caption without its mnemonic markers: "确定(&O)" -> "确定(O)".
QString WithoutAmpersands(QString s) {
    return s.remove(QLatin1Char('&'));
}
// A caption without its mnemonic suffix: "确定(&O)" -> "确定", "&Yes" -> "Yes".
QString WithoutMnemonic(const QString& s) {
    QString r = s;
    const qsizetype open = r.lastIndexOf(QStringLiteral("(&"));
    if (open >= 0 && r.endsWith(QLatin1Char(')')) && r.size() - open == 4) r.truncate(open);
    return WithoutAmpersands(r);
}

// The widgets of one window (not of windows nested in it) that a person can see.
template <class W> QList<W*> VisibleChildren(QWidget* AWindow) {
    QList<W*> r;
    for (W* c : AWindow->findChildren<W*>())
        if (c->window() == AWindow && c->isVisibleTo(AWindow)) r.push_back(c);
    return r;
}

template <class W> W* ChildByName(QWidget* AWindow, const std::string& AName) {
    for (W* c : VisibleChildren<W>(AWindow))
        if (c->objectName() == Q(AName)) return c;
    return nullptr;
}

void SendKey(QWidget* AWindow, int AKey, Qt::KeyboardModifiers AMods, const QString& AText) {
    QWidget* target = AWindow->focusWidget();
    if (!target || target->window() != AWindow) target = AWindow;
    QPointer<QWidget> guard(target);
    QKeyEvent press(QEvent::KeyPress, AKey, AMods, AText);
    QCoreApplication::sendEvent(target, &press);
    if (guard) {
        QKeyEvent release(QEvent::KeyRelease, AKey, AMods, AText);
        QCoreApplication::sendEvent(guard, &release);
    }
}

} // namespace

std::string_view TScriptStep::KindName(TKind AKind) {
    for (const auto& k : KindNames)
        if (k.Kind == AKind) return k.Name;
    return "?";
}

std::optional<TScriptStep::TKind> TScriptStep::KindFromName(std::string_view AName) {
    for (const auto& k : KindNames)
        if (k.Name == AName) return k.Kind;
    return std::nullopt;
}

std::string TScriptStep::Describe() const {
    std::string r(KindName(Kind));
    switch (Kind) {
    case TKind::Press:
    case TKind::Focus:
        return r + " " + Target;
    case TKind::Choose:
        return r + " " + Target + "=" + (Index >= 0 ? "#" + std::to_string(Index) : Value);
    case TKind::Type:
        return r + " " + Target + "=" + Value;
    case TKind::ExpectClass:
    case TKind::ExpectCaption:
    case TKind::ExpectText:
        return r + " " + Value;
    default:
        return r;
    }
}

// ---------------------------------------------------------------------------------------

TScriptedUser::TScriptedUser(std::vector<TScriptStep> ASteps) : FSteps(ASteps.begin(), ASteps.end()) {
    Application->EnsureQtApplication()->installEventFilter(this);
}

TScriptedUser::~TScriptedUser() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void TScriptedUser::AddSteps(const std::vector<TScriptStep>& ASteps) {
    FSteps.insert(FSteps.end(), ASteps.begin(), ASteps.end());
}

bool TScriptedUser::RanOut() const {
    return std::any_of(FWindows.begin(), FWindows.end(), [](const TScriptedWindow& w) { return w.RanOut; });
}

std::vector<std::string> TScriptedUser::Failures() const {
    std::vector<std::string> r;
    for (const auto& w : FWindows)
        for (const auto& f : w.Failures)
            r.push_back(w.ClassName + ": " + f);
    return r;
}

bool TScriptedUser::eventFilter(QObject* AWatched, QEvent* AEvent) {
    const QEvent::Type t = AEvent->type();
    if ((t == QEvent::Show || t == QEvent::Hide) && AWatched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(AWatched);
        if (w->isWindow()) {
            if (t == QEvent::Show && w->isModal() && !FindOpen(w))
                WindowShown(w);
            else if (t == QEvent::Hide && FindOpen(w))
                WindowHidden(w);
        }
    }
    return false;
}

TScriptedUser::TOpenWindow* TScriptedUser::FindOpen(QWidget* AWindow) {
    for (auto& o : FOpen)
        if (o.Window == AWindow) return &o;
    return nullptr;
}

void TScriptedUser::WindowShown(QWidget* AWindow) {
    FWindows.emplace_back();
    Snapshot(AWindow, FWindows.back());
    FOpen.push_back({AWindow, FWindows.size() - 1, false});
    // A window destroyed while shown leaves the list as well.
    connect(AWindow, &QObject::destroyed, this, [this] { WindowHidden(nullptr); });
    ScheduleStep(AWindow);
}

void TScriptedUser::WindowHidden(QWidget* AWindow) {
    for (auto it = FOpen.begin(); it != FOpen.end();) {
        if (it->Window == AWindow || it->Window.isNull()) {
            TScriptedWindow& rec = FWindows[it->Record];
            rec.Closed = true;
            if (auto* d = qobject_cast<QDialog*>(it->Window.data())) rec.Result = d->result();
            if (it->Window) disconnect(it->Window, &QObject::destroyed, this, nullptr);
            it = FOpen.erase(it);
        } else {
            ++it;
        }
    }
    // The window below goes on when it was waiting for this one.
    if (!FOpen.empty() && FOpen.back().Waiting && FOpen.back().Window) {
        FOpen.back().Waiting = false;
        ScheduleStep(FOpen.back().Window);
    }
}

void TScriptedUser::ScheduleStep(QWidget* AWindow) {
    QPointer<TScriptedUser> self(this);
    QPointer<QWidget> window(AWindow);
    QMetaObject::invokeMethod(
        AWindow,
        [self, window] {
            if (self) self->RunStep(window);
        },
        Qt::QueuedConnection);
}

void TScriptedUser::RunStep(QPointer<QWidget> AWindow) {
    if (!AWindow || !AWindow->isVisible()) return;
    TOpenWindow* open = FindOpen(AWindow);
    if (!open) return;
    if (FOpen.back().Window != AWindow) {
        // A window opened above this one takes the steps first.
        open->Waiting = true;
        return;
    }
    const size_t recIndex = open->Record;
    Snapshot(AWindow, FWindows[recIndex]);

    // Expectations look at the window as it is now and take no time.
    while (!FSteps.empty() && FSteps.front().IsExpectation()) {
        const TScriptStep step = FSteps.front();
        FSteps.pop_front();
        const TScriptedWindow& rec = FWindows[recIndex];
        bool met = true;
        std::string seen;
        switch (step.Kind) {
        case TScriptStep::TKind::ExpectClass:
            met = rec.ClassName == step.Value, seen = rec.ClassName;
            break;
        case TScriptStep::TKind::ExpectCaption:
            met = rec.Caption == step.Value, seen = rec.Caption;
            break;
        default:
            met = rec.Text.find(step.Value) != std::string::npos, seen = rec.Text;
            break;
        }
        if (!met) FWindows[recIndex].Failures.push_back(step.Describe() + " (was: " + seen + ")");
    }

    if (OnBeforeAction) {
        try {
            OnBeforeAction(AWindow, FWindows[recIndex]);
        } catch (...) {
            FWindows[recIndex].Failures.push_back("the observer of the run failed");
        }
        if (!AWindow || !AWindow->isVisible() || !FindOpen(AWindow)) return;
    }

    if (FSteps.empty()) {
        FWindows[recIndex].RanOut = true;
        FWindows[recIndex].Actions.push_back("close (ran out)");
        CloseOrForce(AWindow, recIndex);
        return;
    }

    const TScriptStep step = FSteps.front();
    FSteps.pop_front();
    FWindows[recIndex].Actions.push_back(step.Describe());
    std::string failure;
    bool ok = false;
    try {
        ok = Perform(AWindow, step, failure);
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unexpected exception";
    }
    if (!ok) FWindows[recIndex].Failures.push_back(step.Describe() + ": " + failure);

    if (AWindow && AWindow->isVisible() && FindOpen(AWindow)) {
        if (step.Kind == TScriptStep::TKind::Close || step.Kind == TScriptStep::TKind::Escape)
            FWindows[recIndex].Failures.push_back(step.Describe() + ": the window stayed open");
        ScheduleStep(AWindow);
    }
}

bool TScriptedUser::Perform(QWidget* AWindow, const TScriptStep& AStep, std::string& AFailure) {
    using K = TScriptStep::TKind;
    switch (AStep.Kind) {
    case K::Press: {
        const QList<QAbstractButton*> buttons = VisibleChildren<QAbstractButton>(AWindow);
        const QString target = Q(AStep.Target);
        QAbstractButton* found = nullptr;
        for (auto* b : buttons)
            if (!found && b->objectName() == target) found = b;
        for (auto* b : buttons)
            if (!found && WithoutAmpersands(b->text()) == WithoutAmpersands(target)) found = b;
        for (auto* b : buttons)
            if (!found && WithoutMnemonic(b->text()) == WithoutMnemonic(target)) found = b;
        if (!found) return AFailure = "no such button", false;
        if (!found->isEnabled()) return AFailure = "the button is disabled", false;
        found->click();
        return true;
    }
    case K::Choose: {
        QComboBox* combo = ChildByName<QComboBox>(AWindow, AStep.Target);
        if (!combo) return AFailure = "no such combo box", false;
        if (!combo->isEnabled()) return AFailure = "the combo box is disabled", false;
        const int index = AStep.Index >= 0 ? AStep.Index : combo->findText(Q(AStep.Value));
        if (index < 0 || index >= combo->count()) return AFailure = "no such item", false;
        combo->setFocus(Qt::MouseFocusReason);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
        Q_EMIT combo->textActivated(combo->itemText(index));
        return true;
    }
    case K::Type: {
        QWidget* edit = nullptr;
        if (auto* e = ChildByName<QLineEdit>(AWindow, AStep.Target)) {
            if (e->isReadOnly()) return AFailure = "the edit is read-only", false;
            edit = e;
            e->setFocus(Qt::MouseFocusReason);
            e->selectAll();
        } else if (auto* p = ChildByName<QPlainTextEdit>(AWindow, AStep.Target)) {
            if (p->isReadOnly()) return AFailure = "the edit is read-only", false;
            edit = p;
            p->setFocus(Qt::MouseFocusReason);
            p->selectAll();
        } else if (auto* t = ChildByName<QTextEdit>(AWindow, AStep.Target)) {
            if (t->isReadOnly()) return AFailure = "the edit is read-only", false;
            edit = t;
            t->setFocus(Qt::MouseFocusReason);
            t->selectAll();
        } else if (auto* s = ChildByName<QAbstractSpinBox>(AWindow, AStep.Target)) {
            if (s->isReadOnly()) return AFailure = "the edit is read-only", false;
            edit = s;
            s->setFocus(Qt::MouseFocusReason);
            s->selectAll();
        }
        if (!edit) return AFailure = "no such edit", false;
        if (!edit->isEnabled()) return AFailure = "the edit is disabled", false;
        // One key press carrying the whole text, as an input method delivers it.
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, Q(AStep.Value));
        QCoreApplication::sendEvent(edit, &press);
        return true;
    }
    case K::Focus: {
        QWidget* w = ChildByName<QWidget>(AWindow, AStep.Target);
        if (!w) return AFailure = "no such control", false;
        if (!w->isEnabled()) return AFailure = "the control is disabled", false;
        w->setFocus(Qt::MouseFocusReason);
        return true;
    }
    case K::Escape:
        SendKey(AWindow, Qt::Key_Escape, Qt::NoModifier, QStringLiteral("\x1b"));
        return true;
    case K::Enter:
        SendKey(AWindow, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        return true;
    case K::Copy:
        SendKey(AWindow, Qt::Key_C, Qt::ControlModifier, QStringLiteral("\x03"));
        return true;
    case K::Close:
        AWindow->close();
        return true;
    default:
        return AFailure = "not an action", false;
    }
}

void TScriptedUser::CloseOrForce(QWidget* AWindow, size_t ARecordIndex) {
    QPointer<QWidget> w(AWindow);
    w->close();
    if (!w || !w->isVisible() || !FindOpen(w)) return;
    // The window refused: end its modal loop without it, so the run goes on.
    FWindows[ARecordIndex].Forced = true;
    FWindows[ARecordIndex].Failures.push_back("the window would not close and was forced shut");
    if (auto* d = qobject_cast<QDialog*>(w.data())) d->QDialog::done(QDialog::Rejected);
    if (w && w->isVisible()) w->hide();
}

void TScriptedUser::Snapshot(QWidget* AWindow, TScriptedWindow& ARecord) const {
    const QVariant cls = AWindow->property(QV_CLASS_NAME_PROPERTY);
    ARecord.ClassName = cls.isValid() && !cls.toString().isEmpty()
                            ? S(cls.toString())
                            : std::string(AWindow->metaObject()->className());
    ARecord.Caption = S(AWindow->windowTitle());
    const QVariant text = AWindow->property(QV_TEXT_PROPERTY);
    if (text.isValid()) {
        ARecord.Text = S(text.toString());
    } else {
        QStringList parts;
        for (QLabel* l : VisibleChildren<QLabel>(AWindow))
            if (!l->text().isEmpty()) parts << l->text();
        ARecord.Text = S(parts.join(QLatin1Char('\n')));
    }
    ARecord.Buttons.clear();
    for (QAbstractButton* b : VisibleChildren<QAbstractButton>(AWindow))
        ARecord.Buttons.push_back({S(b->objectName()), S(b->text()), b->isEnabled()});
}
