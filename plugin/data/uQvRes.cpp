// User context, operator element, host resources and the editors' language resource.
#include "uQvRes.h"

#include "CForms.h"
#include "uIApplication.h"

#include <QBuffer>
#include <QByteArray>
#include <QCursor>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <iterator>

TQvRes* QvRes = nullptr;

namespace {

// The process-wide rate mode; -1 = not read yet.
int32_t GRateMode = -1;

std::unique_ptr<TEditLocalizer> GLocalizer;

const char* const LocalizerResource = "DEVRES4.3";
constexpr int LocalizerLocale = 2052; // Chinese (PRC)

void LogQuietly(int32_t ALevel, const std::string& ASource, const std::string& ATitle,
                const std::string& ADetail) {
    try {
        if (QvApp) QvApp->WriteLog(ALevel, ASource, ATitle, ADetail);
    } catch (...) {
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// QVUserInfo

std::string QVUserInfo::HostVar(const std::string& AName) {
    if (AName.empty() || !QvApp || !QvApp->HasLibrary()) return {};
    return QvApp->GetVar(AName);
}

std::string QVUserInfo::HostName() {
    return HostVar("HostName");
}

namespace {
void ReadUserInfo(IQvUserInfo& AInfo) {
    if (!QvApp) throw Exception("主应用程序接口未连接。");
    QvApp->GetUserInfo(AInfo);
}
} // namespace

int32_t QVUserInfo::UserID() {
    IQvUserInfo info;
    ReadUserInfo(info);
    return info.UserID;
}

std::string QVUserInfo::UserCode() {
    IQvUserInfo info;
    ReadUserInfo(info);
    return BstrToUtf8(info.UserCode);
}

std::string QVUserInfo::UserName() {
    IQvUserInfo info;
    ReadUserInfo(info);
    return BstrToUtf8(info.UserName);
}

TDateTime QVUserInfo::LoginTime() {
    IQvUserInfo info;
    ReadUserInfo(info);
    return info.LoginTime;
}

int32_t QVUserInfo::RateMode() {
    if (GRateMode == -1) GRateMode = StrToIntDef(HostVar("RateMode"), 0);
    return GRateMode;
}

void QVUserInfo::ForgetRateMode() {
    GRateMode = -1;
}

// ---------------------------------------------------------------------------------------
// WriteOperInfo

void WriteOperInfo(TQVXMLDocument* ADocument) {
    if (!ADocument) throw Exception("没有XML文档，无法写入操作员信息。");
    if (!QvApp) throw Exception("主应用程序接口未连接。");
    ComPtr<TQVXMLNode> root;
    OleCheck(ADocument->GetDocumentElement(root.out()));
    if (!root) throw Exception("XML文档没有根节点，无法写入操作员信息。");
    ComPtr<TQVXMLNode> node;
    OleCheck(ADocument->AddChild(root.get(), WideString("OperInfo").c_bstr(), node.out()));
    if (!node) throw Exception("无法在XML文档中添加操作员信息节点。");

    auto set = [&node](const char* AName, const OleVariant& AValue) {
        OleCheck(node->SetAttributeValue(WideString(AName).c_bstr(), &AValue.get()));
    };
    IQvUserInfo user;
    QvApp->GetUserInfo(user);
    set("UserId", OleVariant(static_cast<int32_t>(user.UserID)));
    set("UserCode", OleVariant(BstrToUtf8(user.UserCode)));
    set("UserName", OleVariant(BstrToUtf8(user.UserName)));
    set("UserLoginDate", OleVariant(FormatDateTime("yyyy-mm-dd hh:nn:ss", user.LoginTime)));
    set("HostName", OleVariant(QvApp->GetHostName()));
    set("HostIp", OleVariant(QvApp->GetHostIP()));
    set("HostMac", OleVariant(QvApp->GetHostMAC()));
    for (const char* var : {"EmpId", "EmpNo", "EmpName", "DeptId", "DeptNo", "DeptName"})
        set(var, OleVariant(QVUserInfo::HostVar(var)));
    set("FileVer", OleVariant(TQvApplication::GetModuleVersion(false)));
    if (QVUserInfo::HostVar("ProxyLogin") == "1") {
        set("ProxyEmpNo", OleVariant(QVUserInfo::HostVar("ProxyEmpNo")));
        set("ProxyEmpName", OleVariant(QVUserInfo::HostVar("ProxyEmpName")));
    }
}

// ---------------------------------------------------------------------------------------
// Images

int TImageList::Add(const QImage& AImage) {
    QImage image = AImage.convertToFormat(QImage::Format_ARGB32);
    if (image.width() != FWidth || image.height() != FHeight)
        image = image.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    FImages.push_back(std::move(image));
    return Count() - 1;
}

int TImageList::AddMasked(const QImage& AImage, QColor AMaskColor) {
    QImage image = AImage.convertToFormat(QImage::Format_ARGB32);
    const QRgb mask = AMaskColor.rgb() & 0x00FFFFFFu;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0x00FFFFFFu) == mask) line[x] = 0;
    }
    return Add(image);
}

namespace {

// The image of an icon file nearest to the size (exact, else the largest), at that size.
QImage ReadIconImage(const std::filesystem::path& AFile, int ASize) {
    QImageReader reader(QString::fromStdString(AFile.string()));
    QImage best;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        QImage image = reader.read();
        if (image.isNull()) continue;
        if (image.width() == ASize && image.height() == ASize) {
            best = image;
            break;
        }
        if (best.isNull() || image.width() > best.width()) best = image;
    }
    if (best.isNull()) return {};
    if (ASize > 0 && (best.width() != ASize || best.height() != ASize))
        best = best.scaled(ASize, ASize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return best.convertToFormat(QImage::Format_ARGB32);
}

uint16_t ReadU16(const QByteArray& AData, int AOffset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(AData[AOffset]) |
                                 (static_cast<uint8_t>(AData[AOffset + 1]) << 8));
}

uint32_t ReadU32(const QByteArray& AData, int AOffset) {
    return static_cast<uint32_t>(ReadU16(AData, AOffset)) |
           (static_cast<uint32_t>(ReadU16(AData, AOffset + 2)) << 16);
}

// One cursor or icon image: the image and, for a cursor, its hot spot.
bool ReadCursorFrame(const QByteArray& AData, QImage& AImage, QPoint& AHotSpot) {
    QBuffer buffer;
    buffer.setData(AData);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    AImage = reader.read();
    if (AImage.isNull()) return false;
    // Cursor directory (type 2): the first entry's planes and bit count hold the hot spot.
    if (AData.size() >= 6 + 16 && ReadU16(AData, 0) == 0 && ReadU16(AData, 2) == 2)
        AHotSpot = QPoint(ReadU16(AData, 6 + 4), ReadU16(AData, 6 + 6));
    return true;
}

// The frames of an animated cursor file: RIFF "ACON" with an "anih" header and the frames
// as "icon" chunks inside LIST "fram".
TQvCursorPtr ReadAnimatedCursor(const QByteArray& AData) {
    if (AData.size() < 12 || !AData.startsWith("RIFF") || AData.mid(8, 4) != "ACON") return nullptr;
    auto cursor = std::make_unique<TQvCursor>();
    bool hotSpotSet = false;
    // Walks the chunks of [AFrom, ATo); LIST chunks are entered.
    auto walk = [&](auto&& self, int AFrom, int ATo) -> void {
        int pos = AFrom;
        while (pos + 8 <= ATo) {
            const QByteArray id = AData.mid(pos, 4);
            const uint32_t size = ReadU32(AData, pos + 4);
            const int body = pos + 8;
            if (size > static_cast<uint32_t>(ATo - body)) break; // damaged: stop reading
            const int end = body + static_cast<int>(size);
            if (id == "LIST" && size >= 4) {
                self(self, body + 4, end);
            } else if (id == "anih" && size >= 36) {
                cursor->JiffiesPerFrame = static_cast<int>(ReadU32(AData, body + 28));
            } else if (id == "icon") {
                QImage image;
                QPoint hot;
                if (ReadCursorFrame(AData.mid(body, static_cast<int>(size)), image, hot)) {
                    cursor->Frames.push_back(image.convertToFormat(QImage::Format_ARGB32));
                    if (!hotSpotSet) {
                        cursor->HotSpot = hot;
                        hotSpotSet = true;
                    }
                }
            }
            pos = end + static_cast<int>(size & 1u); // chunks are padded to even sizes
        }
    };
    const int riffEnd =
        static_cast<int>(std::min<uint32_t>(ReadU32(AData, 4), static_cast<uint32_t>(AData.size() - 8)));
    walk(walk, 12, 8 + riffEnd);
    if (cursor->Frames.empty()) return nullptr;
    return cursor;
}

QByteArray ReadWholeFile(const std::filesystem::path& AFile) {
    std::ifstream in(AFile, std::ios::binary);
    if (!in) return {};
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

TQvCursorPtr LoadCursorFromFile(const std::filesystem::path& AFile) {
    try {
        const QByteArray data = ReadWholeFile(AFile);
        if (data.isEmpty()) return nullptr;
        if (data.startsWith("RIFF")) return ReadAnimatedCursor(data);
        auto cursor = std::make_unique<TQvCursor>();
        QImage image;
        if (!ReadCursorFrame(data, image, cursor->HotSpot)) return nullptr;
        cursor->Frames.push_back(image.convertToFormat(QImage::Format_ARGB32));
        return cursor;
    } catch (...) {
        return nullptr;
    }
}

std::filesystem::path ResourceFolderOfModule(QvHandle AModule) {
    namespace fs = std::filesystem;
    if (!AModule) return {};
    Dl_info info{};
    // dladdr only looks the address up among the loaded modules, so any handle is safe.
    if (!dladdr(reinterpret_cast<void*>(AModule), &info)) return {};
    std::error_code ec;
    fs::path file = info.dli_fname ? fs::path(info.dli_fname) : fs::path();
    if (file.empty() || !fs::is_regular_file(file, ec))
        file = fs::read_symlink("/proc/self/exe", ec); // the program
    if (file.empty()) return {};
    fs::path folder = fs::weakly_canonical(file, ec);
    if (ec) folder = file;
    folder.replace_extension(".res");
    return fs::is_directory(folder, ec) ? folder : fs::path();
}

// ---------------------------------------------------------------------------------------
// TQvRes

TQvRes::TQvRes(QvHandle AModule) : FModule(AModule), FFolder(ResourceFolderOfModule(AModule)) {}

std::unique_ptr<TQvRes> TQvRes::Create() {
    QvHandle module = 0;
    if (QvApp && QvApp->HasLibrary()) {
        try {
            module = QvApp->GetResourceModule();
        } catch (const std::exception& e) {
            // Without the host's resources the plug-in still works, with empty icons.
            LogQuietly(5, "QvRes", "资源模块", e.what());
        }
    }
    auto res = std::make_unique<TQvRes>(module);
    if (module) res->LoadBusyCursor();
    return res;
}

std::filesystem::path TQvRes::FindResource(const std::string& AName,
                                           std::initializer_list<const char*> AExts) const {
    namespace fs = std::filesystem;
    if (FFolder.empty() || AName.empty()) return {};
    std::error_code ec;
    // The extensions in their order of preference.
    for (const char* ext : AExts) {
        for (fs::directory_iterator it(FFolder, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& p = it->path();
            if (SameText(p.stem().string(), AName) && SameText(p.extension().string(), ext) &&
                it->is_regular_file(ec))
                return p;
        }
    }
    return {};
}

bool TQvRes::LoadImage(TGraphic& AGraphic, const std::string& AName, int ASize) const {
    try {
        if (!FModule) return false;
        if (auto* icon = dynamic_cast<TIcon*>(&AGraphic)) {
            const auto file = FindResource(AName, {".ico", ".png"});
            icon->Image = file.empty() ? QImage() : ReadIconImage(file, ASize);
            return true;
        }
        if (auto* bitmap = dynamic_cast<TBitmap*>(&AGraphic)) {
            const auto file = FindResource(AName, {".bmp", ".png"});
            if (file.empty()) return false;
            QImage image(QString::fromStdString(file.string()));
            if (image.isNull()) return false;
            bitmap->Image = std::move(image);
            return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool TQvRes::LoadNumberedImage(TGraphic& AGraphic, int ANumber, int ASize) const {
    return LoadImage(AGraphic, "I" + IntToStr(ANumber), ASize);
}

void TQvRes::FillImageList(TImageList& AList, std::span<const int> ANumbers, int AFallback) const {
    QImage placeholder(std::max(1, AList.Width()), std::max(1, AList.Height()), QImage::Format_RGB32);
    placeholder.fill(QColor(Qt::black));
    for (int number : ANumbers) {
        TIcon icon;
        if (LoadNumberedImage(icon, number, AList.Width()) && !icon.Empty()) {
            AList.Add(icon.Image);
            continue;
        }
        if (AFallback >= 1) {
            TIcon fallback;
            if (LoadNumberedImage(fallback, AFallback, AList.Width()) && !fallback.Empty()) {
                AList.Add(fallback.Image);
                continue;
            }
        }
        AList.AddMasked(placeholder, QColor(Qt::black));
    }
}

TQvCursorPtr TQvRes::LoadCursorResource(const std::string& AName, bool AAnimated) const {
    namespace fs = std::filesystem;
    try {
        if (!FModule) return nullptr;
        if (!AAnimated) {
            const fs::path file = FindResource(AName, {".cur"});
            return file.empty() ? nullptr : LoadCursorFromFile(file);
        }
        const fs::path resource = FindResource(AName, {".ani"});
        if (resource.empty() || !QvApp) return nullptr;
        IQvPathInfo paths;
        QvApp->GetPathInfo(paths);
        const fs::path target = fs::path(BstrToUtf8(paths.WorkPath)) / "Busy.ani";
        // The copy goes again whatever happens to the loading.
        struct TRemove {
            fs::path File;
            ~TRemove() {
                std::error_code ec;
                fs::remove(File, ec);
            }
        } remove{target};
        fs::copy_file(resource, target, fs::copy_options::overwrite_existing);
        return LoadCursorFromFile(target);
    } catch (...) {
        return nullptr;
    }
}

void TQvRes::LoadBusyCursor() {
    FBusyCursor = LoadCursorResource("busy", true);
    FCursorLoaded = FBusyCursor != nullptr;
}

QCursor HourGlassCursor() {
    if (QvRes && QvRes->BusyCursor()) {
        const TQvCursor& c = *QvRes->BusyCursor();
        return QCursor(QPixmap::fromImage(c.Frames.front()), c.HotSpot.x(), c.HotSpot.y());
    }
    return QCursor(Qt::WaitCursor);
}

// ---------------------------------------------------------------------------------------
// Localizer

TEditLocalizer* EditLocalizer() {
    return GLocalizer.get();
}

// ---------------------------------------------------------------------------------------
// Phase listeners

void QvResPhaseListener(uint8_t APhase) {
    switch (APhase) {
    case QvPhaseConnected:
        if (!QvRes) QvRes = TQvRes::Create().release();
        break;
    case QvPhaseDisconnecting: {
        std::unique_ptr<TQvRes> res(std::exchange(QvRes, nullptr));
        break;
    }
    default:
        break;
    }
}

void LocalizerPhaseListener(uint8_t APhase) {
    switch (APhase) {
    case QvPhaseConnected: {
        auto localizer = std::make_unique<TEditLocalizer>();
        if (QvApp && QvApp->HasLibrary()) {
            try {
                localizer->LoadFromText(QvApp->GetResourceText(LocalizerResource));
            } catch (const std::exception& e) {
                // The editors keep their built-in texts; the plug-in still starts.
                LogQuietly(5, "QvRes", "加载语言资源", std::string(LocalizerResource) + "：" + e.what());
            }
        }
        localizer->SetActive(true);
        localizer->SetLocale(LocalizerLocale);
        GLocalizer = std::move(localizer);
        break;
    }
    case QvPhaseDisconnecting:
        GLocalizer.reset();
        break;
    default:
        break;
    }
}

namespace {

bool LoadHostNumberedIcon(QIcon& AIcon, int ANumber, int ASize) {
    if (!QvRes) return false;
    TIcon icon;
    if (!QvRes->LoadNumberedImage(icon, ANumber, ASize) || icon.Empty()) return false;
    AIcon = QIcon(QPixmap::fromImage(icon.Image));
    return true;
}

} // namespace

void RegisterQvResListener() {
    QvLoadNumberedImageHook = &LoadHostNumberedIcon;
    if (QvApp) QvApp->AddListener(&QvResPhaseListener);
}

void RegisterLocalizerListener() {
    if (QvApp) QvApp->AddListener(&LocalizerPhaseListener);
}
