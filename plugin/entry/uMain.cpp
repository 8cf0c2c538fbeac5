#include "uMain.h"

#include "ClinicRateVAK.h"
#include "QvText.h"
#include "uIApplication.h"
#include "uMsgBox.h"

#include <algorithm>
#include <array>

int32_t QV_STDCALL TQVClinicalPayCmdAdapter::Execute(int32_t ACommandNo, BSTR* AData) {
    int32_t result = 0;
    const HRESULT hr = SafeCall([&] {
        WideString data = AData ? WideString::Copy(*AData) : WideString();
        result = Execute(ACommandNo, data);
        if (AData) {
            SysFreeString(*AData);
            *AData = data.Detach();
        }
    });
    return Succeeded(hr) ? result : 0;
}

void TQVClinicalPayCmdAdapter::BeforeDestruction() noexcept {
    try {
        Finalize();
    } catch (...) {
        // the object goes in any case
    }
}

// ---------------------------------------------------------------------------------------
// TQVClinicalPayObject

TQVClinicalPayObject::TSettlementWindow TQVClinicalPayObject::SettlementWindow = &TFrmClinicRateVAK::Execute;

namespace {

constexpr std::array<int32_t, 5> ServedCommands = {10000028, 10000029, 10000030, 10000031, 20000001};
const char* const CommandSource = "诊间支付接口";

void Log(const std::string& ASource, const std::string& ATitle, const std::string& ADetail) {
    if (QvApp) QvApp->WriteLog(0, ASource, ATitle, ADetail);
}

} // namespace

bool TQVClinicalPayObject::IsServedCommand(int32_t ACommandNo) {
    return std::find(ServedCommands.begin(), ServedCommands.end(), ACommandNo) != ServedCommands.end();
}

int32_t TQVClinicalPayObject::Execute(int32_t ACommandNo, WideString& AData) {
    Log(CommandSource, "入参", AData.str());

    // Parsed in the ANSI code page, as the order-sending plug-in writes it. Keys match the
    // part before the first "=" in any case, untrimmed; the first matching line wins.
    int32_t acf01 = 0;
    std::string svai01;
    try {
        const TStringList params(Utf8ToAnsi(AData.str()));
        acf01 = StrToIntDef(params.Values("ACF01"), 0);
        svai01 = AnsiToUtf8(params.Values("sVAI01"));
    } catch (const std::exception& e) {
        Log(CommandSource, "解析参数错误：", e.what());
    }

    int r = 0;
    if (IsServedCommand(ACommandNo)) {
        if (acf01 != 1) return 0;
        if (MsgBox("确认进行诊间收费结算吗？", "询问", 36) != mrYes) return 0;
        r = SettlementWindow(acf01, ACommandNo, svai01);
    }
    if (ACommandNo == 10000028 && r == 9) r = 0;

    // Appended in UTF-16 so that the host's own text comes back exactly as it was sent.
    std::u16string reply = AData.u16();
    reply += u"\r\nreMsgID= " + Utf8ToUtf16(std::to_string(r));
    if (r != 9) reply += u"\r\nreMsg= ";
    AData = WideString(std::u16string_view(reply));

    Log("Plugin.OrderGate", "返回值AData", AData.str());
    return r == 9 ? 3 : 1;
}
