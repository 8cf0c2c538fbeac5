// Windows, a package and a host set-up for the in-process tests of the extension package.
#pragma once

#include "CForms.h"
#include "QvHostSim.h"
#include "uCaseCore.h"
#include "uIApplication.h"

#include <QPushButton>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// What the test windows saw; reset by each test.
struct TFormTrace {
    std::vector<std::string> Events; // "created", "runparam:<text>", "program:<id>", "destroyed"
    static TFormTrace& Get() {
        static TFormTrace trace;
        return trace;
    }
    static void Add(std::string AEvent) { Get().Events.push_back(std::move(AEvent)); }
    static void Clear() { Get().Events.clear(); }
};

// A dialog form (shown modally) with an OK button; hands back "reply:" + its run text.
class TTestDialog : public TDForm {
    Q_OBJECT
public:
    explicit TTestDialog(QWidget* AOwner = nullptr) : TDForm(AOwner) {
        SetCaption("测试对话框");
        auto* ok = new QPushButton("确定", this);
        ok->setObjectName("btn_OK");
        connect(ok, &QPushButton::clicked, this, [this] { SetModalResult(mrOk); });
        TFormTrace::Add("created");
    }
    ~TTestDialog() override { TFormTrace::Add("destroyed"); }
    void SetRunParam(const std::string& AParam) override {
        FRunParam = AParam;
        TFormTrace::Add("runparam:" + AParam);
    }
    void GetResultText(std::string& AText) override { AText = "reply:" + FRunParam; }
    void ProgramChanged() override { TFormTrace::Add("program:" + std::to_string(ProgramID())); }

private:
    std::string FRunParam;
};

// A plain plug-in window (not a dialog form): shown without waiting unless asked.
class TTestWindow : public TQvForm {
    Q_OBJECT
public:
    explicit TTestWindow(QWidget* AOwner = nullptr) : TQvForm(AOwner) {
        SetCaption("测试窗口");
        TFormTrace::Add("created");
    }
    ~TTestWindow() override { TFormTrace::Add("destroyed"); }
    void SetRunParam(const std::string& AParam) override { TFormTrace::Add("runparam:" + AParam); }
    void ProgramChanged() override { TFormTrace::Add("program:" + std::to_string(ProgramID())); }
};

// A window that refuses the command text it is handed before it is shown.
class TRefusingWindow : public TQvForm {
    Q_OBJECT
public:
    explicit TRefusingWindow(QWidget* AOwner = nullptr) : TQvForm(AOwner) { TFormTrace::Add("created"); }
    ~TRefusingWindow() override { TFormTrace::Add("destroyed"); }
    void SetRunParam(const std::string& AParam) override { throw Exception("窗口参数无效：" + AParam); }
};

// A window whose construction fails.
class TBrokenWindow : public TQvForm {
    Q_OBJECT
public:
    explicit TBrokenWindow(QWidget* AOwner = nullptr) : TQvForm(AOwner) { throw Exception("窗口创建失败"); }
};

// A dialog that fails while it hands back its result.
class TFailingResultDialog : public TTestDialog {
    Q_OBJECT
public:
    using TTestDialog::TTestDialog;
    void GetResultText(std::string&) override { throw Exception("结果读取失败"); }
};

// A Qt dialog that is not a plug-in form; alpha-blend value 99 makes it modal.
class TPlainDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPlainDialog(QWidget* AOwner = nullptr) : QDialog(AOwner) {
        setProperty("AlphaBlendValue", 99);
        TFormTrace::Add("created");
    }
    ~TPlainDialog() override { TFormTrace::Add("destroyed"); }
};

// An editor component of the toolkit kind: its input-method name sits on its properties.
class TcxTextEditProperties : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ImeName MEMBER FImeName)
public:
    using QObject::QObject;
    QString FImeName;
};

class TcxTextEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QObject* Properties READ Properties)
public:
    explicit TcxTextEdit(QWidget* AParent) : QWidget(AParent), FProperties(new TcxTextEditProperties(this)) {}
    QObject* Properties() const { return FProperties; }
    TcxTextEditProperties* EditProperties() const { return FProperties; }

private:
    TcxTextEditProperties* FProperties;
};

// A plain component with its own input-method name.
class TPlainImeEdit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString ImeName MEMBER FImeName)
public:
    using QWidget::QWidget;
    QString FImeName;
};

// A command object that answers like the command adapter does.
class TTestCommand : public TInterfacedObject<IQVClinicalPayment> {
public:
    static ComPtr<IQVClinicalPayment> Create() { return MakeCom<TTestCommand>(); }
    bool QV_STDCALL IsEnabled() override { return true; }
    int32_t QV_STDCALL Check(int32_t, int32_t) override { return 1; }
    int32_t QV_STDCALL Execute(int32_t, BSTR*) override { return 0; }
};

// A package that records the settings hooks it runs and can veto commands.
class TRecordingPackage : public TCasePackageQVClinicalPay {
public:
    static ComPtr<TRecordingPackage> Create(const std::string& AAppName = "Quorvia") {
        ComPtr<TRecordingPackage> package(new TRecordingPackage());
        package->Setup(AAppName);
        return package;
    }

    // The hooks run by every recording package, in order (outlives the packages).
    static std::vector<std::string>& Hooks() {
        static std::vector<std::string> hooks;
        return hooks;
    }
    int32_t Veto = 0;

    int32_t BeforeCommand(int32_t ACommand, int32_t AParam, std::string& AData) override { return Veto; }

protected:
    TRecordingPackage() : TCasePackageQVClinicalPay(&TTestCommand::Create, "Plugin.QVClinicalPayCmd", 0) {}
    void AdoptHostConnection() override { Hooks().push_back("connection"); }
    void AdoptDataFormats() override { Hooks().push_back("formats"); }
    void ApplyDataFonts(const IQVFontInfo&) override { Hooks().push_back("fonts"); }
    void ApplyDataAppearance() override { Hooks().push_back("appearance"); }
    void NotifyDataModule() override { Hooks().push_back("notify"); }
    void ReconnectDatabase() override { Hooks().push_back("reconnect"); }
    void DetachDataConnection() override { Hooks().push_back("detach"); }
};
