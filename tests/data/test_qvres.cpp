// The user context, the operator element, the host's resource module and the editors'
// language resource.
#include "DataTestUtil.h"

#include "CForms.h"

#include <QBuffer>
#include <QIcon>
#include <QImageWriter>

#include <pugixml.hpp>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------
// User context

class TDataUserInfoTest : public THostedTest {};

TEST_F(TDataUserInfoTest, HostVariablesAndUserRecord) {
    Config.Vars = {{"HostName", "CLINIC-07"}, {"EmpNo", "E001"}};
    Config.UserID = 42;
    Config.UserCode = "0042";
    Config.UserName = "张医生";
    Start();
    EXPECT_EQ(QVUserInfo::HostVar("EmpNo"), "E001");
    EXPECT_EQ(QVUserInfo::HostVar("empno"), "E001");
    EXPECT_EQ(QVUserInfo::HostVar(""), "");
    EXPECT_EQ(QVUserInfo::HostVar("Missing"), "");
    EXPECT_EQ(QVUserInfo::HostName(), "CLINIC-07");
    EXPECT_EQ(QVUserInfo::UserID(), 42);
    EXPECT_EQ(QVUserInfo::UserCode(), "0042");
    EXPECT_EQ(QVUserInfo::UserName(), "张医生");
}

TEST_F(TDataUserInfoTest, HostVariablesAreEmptyWithoutTheHostLibrary) {
    Config.LibraryNil = true;
    Config.Vars = {{"HostName", "CLINIC-07"}};
    Start();
    EXPECT_EQ(QVUserInfo::HostName(), "");
    Stop();
    EXPECT_EQ(QVUserInfo::HostVar("HostName"), "");
}

TEST_F(TDataUserInfoTest, RateModeIsReadOnce) {
    struct TCase {
        const char* First;
        int Expected;
        const char* Later;
        int ExpectedLater;
    } cases[] = {
        {"2", 2, "5", 2},   // cached: later changes are not seen
        {"abc", 0, "5", 0}, // not a number counts 0, and 0 is cached
        {"-1", -1, "3", 3}, // -1 means "not read yet": read again
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.First);
        Config.Vars["RateMode"] = c.First;
        Start();
        EXPECT_EQ(QVUserInfo::RateMode(), c.Expected);
        Host->State().Config.Vars["RateMode"] = c.Later;
        EXPECT_EQ(QVUserInfo::RateMode(), c.ExpectedLater);
        Stop();
    }
}

// ---------------------------------------------------------------------------------------
// Operator element

struct TOperInfoCase {
    const char* Name;
    std::optional<std::string> ProxyLogin;
    std::vector<std::string> Attributes;
};
void PrintTo(const TOperInfoCase& ACase, std::ostream* AOut) {
    *AOut << ACase.Name;
}

const std::vector<std::string> BaseAttributes = {
    "UserId", "UserCode", "UserName", "UserLoginDate", "HostName", "HostIp",   "HostMac",
    "EmpId",  "EmpNo",    "EmpName",  "DeptId",        "DeptNo",   "DeptName", "FileVer"};

std::vector<std::string> WithProxy() {
    auto v = BaseAttributes;
    v.push_back("ProxyEmpNo");
    v.push_back("ProxyEmpName");
    return v;
}

const TOperInfoCase OperInfoCases[] = {
    {"NoProxyVariable", std::nullopt, BaseAttributes},
    {"ProxyOff", "0", BaseAttributes},
    {"ProxyOn", "1", WithProxy()},
};

class TDataOperInfoTest : public THostedTest, public ::testing::WithParamInterface<TOperInfoCase> {};

TEST_P(TDataOperInfoTest, WritesTheAttributesInOrder) {
    const TOperInfoCase& c = GetParam();
    Config.UserID = 7;
    Config.UserCode = "0007";
    Config.UserName = "李护士";
    Config.LoginTime = EncodeDateTime(2024, 3, 5, 8, 9, 10, 0);
    Config.HostName = "QV-CLINIC-02";
    Config.HostIP = "10.0.0.2";
    Config.HostMAC = "00-16-3E-00-00-02";
    Config.Vars = {{"EmpId", "11"},        {"EmpNo", "E011"},         {"EmpName", "李护士"},
                   {"DeptId", "3"},        {"DeptNo", "D03"},         {"DeptName", "内科"},
                   {"ProxyEmpNo", "E099"}, {"ProxyEmpName", "王代理"}};
    if (c.ProxyLogin) Config.Vars["ProxyLogin"] = *c.ProxyLogin;
    Start();

    ComPtr<TQVXMLDocument> doc = QvApp->CreateXMLDocument();
    OleCheck(doc->NewDocument(WideString("Root").c_bstr()));
    WriteOperInfo(doc.get());
    WideString xml;
    OleCheck(doc->GetXML(xml.out()));

    pugi::xml_document parsed;
    ASSERT_TRUE(parsed.load_string(xml.str().c_str()));
    const pugi::xml_node node = parsed.child("Root").child("OperInfo");
    ASSERT_TRUE(node);
    std::vector<std::string> names;
    for (const pugi::xml_attribute a : node.attributes())
        names.push_back(a.name());
    EXPECT_EQ(names, c.Attributes);
    EXPECT_STREQ(node.attribute("UserId").value(), "7");
    EXPECT_STREQ(node.attribute("UserLoginDate").value(), "2024-03-05 08:09:10");
    EXPECT_STREQ(node.attribute("HostIp").value(), "10.0.0.2");
    EXPECT_STREQ(node.attribute("DeptName").value(), "内科");
    EXPECT_EQ(node.attribute("FileVer").value(), TQvApplication::GetModuleVersion(false));
    EXPECT_NE(std::string(node.attribute("FileVer").value()), "0000.0000.0000.0000");
    if (c.Attributes.size() == 16) {
        EXPECT_STREQ(node.attribute("ProxyEmpNo").value(), "E099");
        EXPECT_STREQ(node.attribute("ProxyEmpName").value(), "王代理");
    }
}

INSTANTIATE_TEST_SUITE_P(Data, TDataOperInfoTest, ::testing::ValuesIn(OperInfoCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TDataUserInfoTest, OperInfoRaisesTheHostsError) {
    Config.Failures["Library.GetVar"] = "主应用程序变量不可用。";
    Start();
    ComPtr<TQVXMLDocument> doc = QvApp->CreateXMLDocument();
    OleCheck(doc->NewDocument(WideString("Root").c_bstr()));
    EXPECT_EQ(RaisedMessage<Exception>([&] { WriteOperInfo(doc.get()); }), "主应用程序变量不可用。");
}

// ---------------------------------------------------------------------------------------
// The host's resource module

QImage Filled(int ASize, QColor AColor) {
    QImage image(ASize, ASize, QImage::Format_ARGB32);
    image.fill(AColor);
    return image;
}

QByteArray IconBytes(const QImage& AImage) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    EXPECT_TRUE(writer.write(AImage)) << writer.errorString().toStdString();
    return bytes;
}

// An icon file turned into a cursor file with its hot spot.
QByteArray CursorBytes(const QImage& AImage, int AHotX, int AHotY) {
    QByteArray bytes = IconBytes(AImage);
    bytes[2] = 2;
    bytes[6 + 4] = static_cast<char>(AHotX);
    bytes[6 + 5] = 0;
    bytes[6 + 6] = static_cast<char>(AHotY);
    bytes[6 + 7] = 0;
    return bytes;
}

QByteArray U32(uint32_t v) {
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

QByteArray Chunk(const char* AId, const QByteArray& ABody) {
    QByteArray c = QByteArray(AId, 4) + U32(static_cast<uint32_t>(ABody.size())) + ABody;
    if (ABody.size() % 2) c.append('\0');
    return c;
}

// An animated cursor with the given frames.
QByteArray AniBytes(const std::vector<QByteArray>& AFrames, uint32_t AJiffies) {
    QByteArray header = U32(36) + U32(static_cast<uint32_t>(AFrames.size())) +
                        U32(static_cast<uint32_t>(AFrames.size())) + U32(0) + U32(0) + U32(0) + U32(0) +
                        U32(AJiffies) + U32(1);
    QByteArray frames = "fram";
    for (const QByteArray& f : AFrames)
        frames += Chunk("icon", f);
    const QByteArray body = QByteArray("ACON") + Chunk("anih", header) + Chunk("LIST", frames);
    return QByteArray("RIFF") + U32(static_cast<uint32_t>(body.size())) + body;
}

void WriteFile(const fs::path& AFile, const QByteArray& ABytes) {
    std::ofstream out(AFile, std::ios::binary);
    out.write(ABytes.constData(), ABytes.size());
}

// A copy of the tiny test module with a resource folder beside it, loaded into the
// process; Module is its handle as the host would give it.
class TResourceModule {
public:
    explicit TResourceModule(const std::string& ATag) {
        Dir = fs::path(::testing::TempDir()) / ("qv_data_res_" + ATag);
        fs::remove_all(Dir);
        fs::create_directories(Dir / "HostRes.res");
        fs::create_directories(Dir / "work");
        fs::copy_file(QVTEST_RES_MODULE, Dir / "HostRes.so");
    }
    ~TResourceModule() {
        if (FHandle) dlclose(FHandle);
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    fs::path Folder() const { return Dir / "HostRes.res"; }
    fs::path WorkFolder() const { return Dir / "work"; }
    QvHandle Load() {
        FHandle = dlopen((Dir / "HostRes.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(FHandle, nullptr) << dlerror();
        Dl_info info{};
        EXPECT_NE(dladdr(dlsym(FHandle, "QvTestResourceMarker"), &info), 0);
        return reinterpret_cast<QvHandle>(info.dli_fbase);
    }

    fs::path Dir;

private:
    void* FHandle = nullptr;
};

class TDataResourceTest : public THostedTest {
protected:
    TResourceModule Res{::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(TDataResourceTest, ModuleHandleFindsTheResourceFolder) {
    const QvHandle module = Res.Load();
    EXPECT_EQ(fs::canonical(ResourceFolderOfModule(module)), fs::canonical(Res.Folder()));
    // Any address inside the module names it as well.
    EXPECT_EQ(ResourceFolderOfModule(module + 16), ResourceFolderOfModule(module));
    EXPECT_TRUE(ResourceFolderOfModule(0).empty());
    EXPECT_TRUE(ResourceFolderOfModule(16).empty()) << "an address in no module";
    fs::remove_all(Res.Folder());
    EXPECT_TRUE(ResourceFolderOfModule(module).empty()) << "a module without resources";
}

class TOtherGraphic : public TGraphic {};

TEST_F(TDataResourceTest, LoadImageByKind) {
    ASSERT_TRUE(
        Filled(16, Qt::red).save(QString::fromStdString((Res.Folder() / "I1116.png").string()), "PNG"));
    WriteFile(Res.Folder() / "i1100.ICO", IconBytes(Filled(32, Qt::blue)));
    ASSERT_TRUE(
        Filled(8, Qt::green).save(QString::fromStdString((Res.Folder() / "Logo.bmp").string()), "BMP"));
    TQvRes res(Res.Load());
    TQvRes none(0);

    struct TCase {
        const char* Name;
        const TQvRes* From;
        std::string Resource;
        enum { Icon, Bitmap, Other } Kind;
        bool Result;
        QColor Pixel; // invalid: empty graphic
        int Width;
    } cases[] = {
        {"png icon", &res, "I1116", TCase::Icon, true, Qt::red, 16},
        {"ico icon, any case, scaled", &res, "I1100", TCase::Icon, true, Qt::blue, 16},
        {"missing icon: true and empty", &res, "I4242", TCase::Icon, true, QColor(), 0},
        {"bitmap", &res, "LOGO", TCase::Bitmap, true, Qt::green, 8},
        {"missing bitmap", &res, "Nothing", TCase::Bitmap, false, QColor(), 0},
        {"other graphic kind", &res, "I1116", TCase::Other, false, QColor(), 0},
        {"no resource module", &none, "I1116", TCase::Icon, false, QColor(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TGraphic> g = c.Kind == TCase::Icon ? std::unique_ptr<TGraphic>(new TIcon)
                                      : c.Kind == TCase::Bitmap
                                          ? std::unique_ptr<TGraphic>(new TBitmap)
                                          : std::unique_ptr<TGraphic>(new TOtherGraphic);
        EXPECT_EQ(c.From->LoadImage(*g, c.Resource, 16), c.Result);
        EXPECT_EQ(g->Empty(), !c.Pixel.isValid());
        if (c.Pixel.isValid()) {
            EXPECT_EQ(g->Image.width(), c.Width);
            EXPECT_EQ(QColor(g->Image.pixel(c.Width / 2, c.Width / 2)).rgb(), c.Pixel.rgb());
        }
    }
}

TEST_F(TDataResourceTest, FillImageListGivesOneImagePerNumber) {
    ASSERT_TRUE(
        Filled(16, Qt::red).save(QString::fromStdString((Res.Folder() / "I1116.png").string()), "PNG"));
    ASSERT_TRUE(
        Filled(16, Qt::blue).save(QString::fromStdString((Res.Folder() / "I1100.png").string()), "PNG"));
    TQvRes res(Res.Load());

    auto isPlaceholder = [](const QImage& AImage) {
        for (int y = 0; y < AImage.height(); ++y)
            for (int x = 0; x < AImage.width(); ++x)
                if (qAlpha(AImage.pixel(x, y)) != 0) return false;
        return true;
    };
    struct TCase {
        const char* Name;
        std::vector<int> Numbers;
        int Fallback;
        std::vector<QColor> Expected; // invalid colour: the placeholder
    } cases[] = {
        {"missing in the middle, no fallback", {1116, 4242, 1100}, 0, {Qt::red, QColor(), Qt::blue}},
        {"fallback used", {4242, 1100}, 1116, {Qt::red, Qt::blue}},
        {"fallback missing too", {4242}, 4343, {QColor()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TImageList list(16, 16);
        res.FillImageList(list, c.Numbers, c.Fallback);
        ASSERT_EQ(list.Count(), static_cast<int>(c.Numbers.size()));
        for (int i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(list.Image(i).size(), QSize(16, 16));
            if (c.Expected[i].isValid())
                EXPECT_EQ(QColor(list.Image(i).pixel(8, 8)).rgb(), c.Expected[i].rgb());
            else
                EXPECT_TRUE(isPlaceholder(list.Image(i)));
        }
    }
}

TEST_F(TDataResourceTest, DataModuleListsAndFormIconsUseTheHostIcons) {
    ASSERT_TRUE(
        Filled(32, Qt::red).save(QString::fromStdString((Res.Folder() / "I1116.png").string()), "PNG"));
    Config.ResourceModule = Res.Load();
    Start();
    ASSERT_NE(QvRes, nullptr);
    EXPECT_EQ(QvRes->Module(), Config.ResourceModule);
    EXPECT_EQ(QColor(CoreDM->ImgList_24.Image(0).pixel(12, 12)).rgb(), QColor(Qt::red).rgb());
    EXPECT_EQ(qAlpha(CoreDM->ImgList_24.Image(1).pixel(12, 12)), 0);

    ASSERT_NE(QvLoadNumberedImageHook, nullptr);
    QIcon icon;
    EXPECT_TRUE(QvLoadNumberedImageHook(icon, 1116, 16));
    EXPECT_FALSE(icon.isNull());
    EXPECT_FALSE(QvLoadNumberedImageHook(icon, 4242, 16));
}

TEST_F(TDataResourceTest, AnimatedBusyCursorIsLoadedThroughTheWorkFolder) {
    WriteFile(
        Res.Folder() / "busy.ani",
        AniBytes({CursorBytes(Filled(32, Qt::red), 5, 7), CursorBytes(Filled(32, Qt::blue), 5, 7)}, 10));
    Config.ResourceModule = Res.Load();
    Config.WorkPath = Res.WorkFolder().string() + "/";
    Start();
    ASSERT_NE(QvRes, nullptr);
    EXPECT_TRUE(QvRes->CursorLoaded());
    ASSERT_NE(QvRes->BusyCursor(), nullptr);
    EXPECT_EQ(QvRes->BusyCursor()->Frames.size(), 2u);
    EXPECT_EQ(QvRes->BusyCursor()->JiffiesPerFrame, 10);
    EXPECT_EQ(QvRes->BusyCursor()->HotSpot, QPoint(5, 7));
    EXPECT_FALSE(fs::exists(Res.WorkFolder() / "Busy.ani")) << "the copy is deleted";
    EXPECT_EQ(HourGlassCursor().hotSpot(), QPoint(5, 7));
}

TEST_F(TDataResourceTest, BrokenOrMissingBusyCursorGivesNone) {
    struct TCase {
        const char* Name;
        std::optional<QByteArray> Ani;
    } cases[] = {
        {"missing", std::nullopt},
        {"not a cursor", QByteArray("RIFF\x04\x00\x00\x00"
                                    "ACON",
                                    12)},
        {"damaged chunk", QByteArray("RIFF\x20\x00\x00\x00"
                                     "ACONicon\xFF\xFF\x00\x00",
                                     20)},
    };
    const QvHandle module = Res.Load();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(Res.Folder() / "busy.ani");
        if (c.Ani) WriteFile(Res.Folder() / "busy.ani", *c.Ani);
        Config.ResourceModule = module;
        Config.WorkPath = Res.WorkFolder().string() + "/";
        Start();
        ASSERT_NE(QvRes, nullptr);
        EXPECT_FALSE(QvRes->CursorLoaded());
        EXPECT_EQ(QvRes->BusyCursor(), nullptr);
        EXPECT_FALSE(fs::exists(Res.WorkFolder() / "Busy.ani"));
        EXPECT_EQ(HourGlassCursor().shape(), Qt::WaitCursor);
        Stop();
    }
}

TEST_F(TDataResourceTest, StaticCursorResource) {
    WriteFile(Res.Folder() / "Hand.cur", CursorBytes(Filled(32, Qt::black), 3, 4));
    TQvRes res(Res.Load());
    TQvCursorPtr cursor = res.LoadCursorResource("hand", false);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->Frames.size(), 1u);
    EXPECT_EQ(cursor->HotSpot, QPoint(3, 4));
    EXPECT_EQ(res.LoadCursorResource("arrow", false), nullptr);
    EXPECT_EQ(TQvRes(0).LoadCursorResource("hand", false), nullptr);
}

// ---------------------------------------------------------------------------------------
// Language resource

class TDataLocalizerTest : public THostedTest {
protected:
    void StartWithLocalizer() {
        Start();
        RegisterLocalizerListener();
        QvApp->Connect();
    }
};

TEST_F(TDataLocalizerTest, LoadedFromTheHostTextResource) {
    Config.ResourceTexts["DEVRES4.3"] =
        "; editor texts\r\n[2052]\r\ncxSDateToday=今天\r\ncxSMsg=第一行\\n第二行\r\n"
        "[1033]\r\ncxSDateToday=Today\r\n";
    StartWithLocalizer();
    TEditLocalizer* localizer = EditLocalizer();
    ASSERT_NE(localizer, nullptr);
    EXPECT_TRUE(localizer->Active());
    EXPECT_EQ(localizer->Locale(), 2052);
    EXPECT_EQ(localizer->GetText("cxSDateToday"), "今天");
    EXPECT_EQ(localizer->GetText("cxSMsg"), "第一行\r\n第二行");
    EXPECT_EQ(localizer->GetText("cxSNone", "默认"), "默认");
    Stop();
    EXPECT_EQ(EditLocalizer(), nullptr);
}

TEST_F(TDataLocalizerTest, MissingOrFailingResourceKeepsTheBuiltInTexts) {
    struct TCase {
        const char* Name;
        bool Fails;
    } cases[] = {{"missing", false}, {"host fails", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Config.Failures.clear();
        if (c.Fails) Config.Failures["Library.GetResourceText"] = "资源不可用。";
        StartWithLocalizer();
        ASSERT_NE(EditLocalizer(), nullptr);
        EXPECT_TRUE(EditLocalizer()->Active());
        EXPECT_EQ(EditLocalizer()->GetText("cxSDateToday", "Today"), "Today");
        EXPECT_EQ(FindLog("加载语言资源") != nullptr, c.Fails);
        Stop();
    }
}

} // namespace
