// `qvhost load`: the plug-in contract from loading to unloading.
#include "QvHostLoad.h"

#include "QvPluginModule.h"
#include "QvText.h"

#include <memory>

namespace {

std::string Failure(HRESULT hr) {
    std::string message = GetErrorInfoText();
    if (message.empty()) message = SysErrorMessage(hr);
    return "失败（0x" + IntToHex(static_cast<uint32_t>(hr), 8) + "）：" + message;
}

void ReportQuestions(IQVExtention& AExt, std::ostream& AOut) {
    WordBool initialized = 0;
    HRESULT hr = AExt.GetInitialized(&initialized);
    AOut << "GetInitialized：" << (Failed(hr) ? Failure(hr) : initialized ? "True" : "False") << "\n";

    double version = 0;
    hr = AExt.GetVersion(&version);
    AOut << "GetVersion：" << (Failed(hr) ? Failure(hr) : FloatToStr(version)) << "\n";

    WideString name;
    hr = AExt.GetName(name.out());
    AOut << "GetName：" << (Failed(hr) ? Failure(hr) : name.str()) << "\n";

    WideString message;
    hr = AExt.GetMessage(message.out());
    AOut << "GetMessage：" << (Failed(hr) ? Failure(hr) : message.str()) << "\n";
}

void RunCommand(IQVExtention& AExt, const TLoadCommand& ACmd, std::ostream& AOut) {
    BSTR data = Utf8ToBstr(ACmd.Data);
    int32_t result = 0;
    const HRESULT hr = AExt.Execute(ACmd.Command, ACmd.Param, &data, &result);
    const WideString owned = WideString::Attach(data);
    AOut << "Execute(" << ACmd.Command << ", " << ACmd.Param << ")：";
    if (Failed(hr))
        AOut << Failure(hr) << "\n";
    else
        AOut << "结果 " << result << "，AData=" << owned.str() << "\n";
}

void AskCommandObject(IQVExtention& AExt, std::ostream& AOut) {
    const WideString name("IQVClinicalPayment");
    ComPtr<IInterface> object;
    int32_t result = 0;
    const HRESULT hr = AExt.CreateObject(object.out(), 0, name.c_bstr(), &result);
    AOut << "CreateObject(IQVClinicalPayment)：";
    if (Failed(hr))
        AOut << Failure(hr) << "\n";
    else
        AOut << "结果 " << result << "，" << (object ? "返回对象" : "没有对象") << "\n";
    if (object) {
        object.reset();
        AOut << "已释放命令对象\n";
    }
}

} // namespace

TLoadCommand ParseLoadCommand(const std::string& AText) {
    TLoadCommand cmd;
    std::string head = AText;
    if (const auto eq = AText.find('='); eq != std::string::npos) {
        head = AText.substr(0, eq);
        cmd.Data = AText.substr(eq + 1);
    }
    std::string number = head;
    std::string param;
    if (const auto colon = head.find(':'); colon != std::string::npos) {
        number = head.substr(0, colon);
        param = head.substr(colon + 1);
    }
    if (!TryStrToInt(number, cmd.Command) || (!param.empty() && !TryStrToInt(param, cmd.Param)) ||
        number.find_first_of(" $xX") != std::string::npos)
        throw Exception("命令格式应为 CMD[:PARAM][=DATA]：" + AText);
    return cmd;
}

int RunLoad(TQvHost& AHost, const std::string& AModule, const std::vector<TLoadCommand>& ACommands,
            std::ostream& AOut) {
    std::unique_ptr<TPluginModule> module;
    try {
        module = std::make_unique<TPluginModule>(AModule);
    } catch (const std::exception& e) {
        AOut << "错误：" << e.what() << "\n";
        return QvLoadFailed;
    }
    AOut << "已加载模块：" << module->FileName() << "\n";
    AOut << "导出函数：CreateInstance、ReleaseInstance\n";

    int code = QvLoadOk;
    {
        ComPtr<IQVExtention> ext;
        module->CreateInstance()(ext.out(), AHost.Application().get());
        if (!ext) {
            AOut << "CreateInstance：没有返回扩展接口\n";
            code = QvLoadNoExtension;
        } else {
            AOut << "CreateInstance：返回扩展接口\n";
            ReportQuestions(*ext, AOut);
            for (const TLoadCommand& cmd : ACommands)
                RunCommand(*ext, cmd, AOut);
            AskCommandObject(*ext, AOut);
            ext.reset();
            AOut << "已释放扩展接口\n";
        }
    }
    AOut << "ReleaseInstance：" << module->ReleaseInstance()() << "\n";
    if (module->Unload())
        AOut << "已卸载模块\n";
    else
        AOut << "模块已关闭，但仍留在进程中（模块含GNU unique符号，编译时应加 -fno-gnu-unique）\n";

    const auto& log = AHost.State().Log;
    AOut << "主机日志（" << log.size() << " 条）：\n";
    for (const THostLogEntry& e : log)
        AOut << "  [" << e.Level << "] " << e.AppName << " | " << e.Source << " | " << e.Title << " | "
             << e.Detail << "\n";
    return code;
}
