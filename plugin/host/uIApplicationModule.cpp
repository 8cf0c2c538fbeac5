// The facade's life in the module and the plug-in's own file version.
//
// The version is a small block of our own that qv_embed_version writes into the module
// file at build time (ELF section ".qvversion"): a marker, then NUL-terminated entries
//   VarFileInfo\Translation=080404B0
//   StringFileInfo\080404B0\FileVersion=8.0.1.33
// It is read back from the file on disk, as the version resource of the original was.
//
// Everything here runs from the module's first initialiser, before the initialisers of the
// runtime libraries linked into the module, so it uses only the C and C++ libraries.
#include "uIApplication.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr const char* NoVersion = "0000.0000.0000.0000";
constexpr const char* VersionMarker = "QVVERSIONINFO";
constexpr const char* VersionSection = ".qvversion";
constexpr uint64_t MaxVersionBlock = 64 * 1024;

// Constant-initialised, so it is valid before any initialiser of the module runs.
char GModuleVersion[64] = "0000.0000.0000.0000";

void StoreModuleVersion(const std::string& AText) {
    std::snprintf(GModuleVersion, sizeof GModuleVersion, "%s", AText.c_str());
}

// Reads an ELF file's header fields in the file's own byte order; every read is checked
// against the file size, so a damaged or foreign file gives "no block", never a crash.
class TElfReader {
public:
    explicit TElfReader(const std::string& AFileName) : FFile(AFileName, std::ios::binary) {
        if (FFile) {
            FFile.seekg(0, std::ios::end);
            const auto end = FFile.tellg();
            FSize = end < 0 ? 0 : static_cast<uint64_t>(end);
        }
    }

    bool Bytes(uint64_t AOffset, void* ADest, uint64_t ACount) {
        if (!FFile || AOffset > FSize || ACount > FSize - AOffset) return false;
        FFile.clear();
        FFile.seekg(static_cast<std::streamoff>(AOffset));
        FFile.read(static_cast<char*>(ADest), static_cast<std::streamsize>(ACount));
        return static_cast<uint64_t>(FFile.gcount()) == ACount;
    }

    // An unsigned field of AWidth bytes (1, 2, 4, 8).
    bool Field(uint64_t AOffset, int AWidth, uint64_t& AValue) {
        unsigned char b[8];
        if (!Bytes(AOffset, b, static_cast<uint64_t>(AWidth))) return false;
        AValue = 0;
        for (int i = 0; i < AWidth; ++i) {
            const int shift = FBigEndian ? 8 * (AWidth - 1 - i) : 8 * i;
            AValue |= static_cast<uint64_t>(b[i]) << shift;
        }
        return true;
    }

    std::string Section(const char* AName) {
        unsigned char ident[16];
        if (!Bytes(0, ident, sizeof ident) || std::memcmp(ident,
                                                          "\x7F"
                                                          "ELF",
                                                          4) != 0)
            return {};
        const bool is64 = ident[4] == 2;
        if (ident[4] != 1 && !is64) return {};
        if (ident[5] != 1 && ident[5] != 2) return {};
        FBigEndian = ident[5] == 2;

        const int addr = is64 ? 8 : 4;
        uint64_t shoff, shentsize, shnum, shstrndx;
        if (!Field(is64 ? 0x28 : 0x20, addr, shoff) || !Field(is64 ? 0x3A : 0x2E, 2, shentsize) ||
            !Field(is64 ? 0x3C : 0x30, 2, shnum) || !Field(is64 ? 0x3E : 0x32, 2, shstrndx))
            return {};
        if (shoff == 0 || shentsize < (is64 ? 64u : 40u)) return {};
        // Section header fields: name 0, offset and size after flags and address.
        const uint64_t offOffset = is64 ? 24 : 16, offSize = is64 ? 32 : 20, offLink = is64 ? 40 : 24;
        // Extended numbering keeps the real count and string table index in section 0.
        if (shnum == 0 && !Field(shoff + offSize, addr, shnum)) return {};
        if (shstrndx == 0xFFFF && !Field(shoff + offLink, 4, shstrndx)) return {};
        if (shnum > 65535 || shstrndx >= shnum) return {};

        uint64_t strOffset, strSize;
        const uint64_t strHeader = shoff + shstrndx * shentsize;
        if (!Field(strHeader + offOffset, addr, strOffset) || !Field(strHeader + offSize, addr, strSize))
            return {};

        const size_t nameLen = std::strlen(AName);
        for (uint64_t i = 0; i < shnum; ++i) {
            const uint64_t header = shoff + i * shentsize;
            uint64_t name, offset, size;
            if (!Field(header, 4, name) || !Field(header + offOffset, addr, offset) ||
                !Field(header + offSize, addr, size))
                return {};
            if (name + nameLen + 1 > strSize) continue;
            std::vector<char> candidate(nameLen + 1);
            if (!Bytes(strOffset + name, candidate.data(), candidate.size())) continue;
            if (std::memcmp(candidate.data(), AName, nameLen + 1) != 0) continue;
            if (size > MaxVersionBlock) return {};
            std::string data(size, '\0');
            if (!Bytes(offset, data.data(), size)) return {};
            return data;
        }
        return {};
    }

private:
    std::ifstream FFile;
    uint64_t FSize = 0;
    bool FBigEndian = false;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

bool SameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A whole number: optional sign and decimal digits, nothing else, within 32 bits.
bool ParseWhole(std::string_view s, int32_t& AValue) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    AValue = static_cast<int32_t>(v);
    return true;
}

// The module's first initialiser creates the facade; its last finaliser frees it when
// ReleaseInstance did not, and clears the version text.
struct TQvAppModuleLife {
    TQvAppModuleLife() { CreateQvApp(); }
    ~TQvAppModuleLife() {
        FreeQvApp();
        StoreModuleVersion(NoVersion);
    }
};
TQvAppModuleLife QvAppModuleLife __attribute__((init_priority(101)));

} // namespace

// Defined beside the module life object, so a module that uses QvApp also links the
// initialiser that creates it.
TQvApplication* QvApp = nullptr;

std::string ReadVersionBlock(const std::string& AFileName) {
    try {
        return TElfReader(AFileName).Section(VersionSection);
    } catch (const std::exception&) {
        return {};
    }
}

std::string VersionBlockFileVersion(std::string_view ABlock) {
    std::vector<std::string_view> entries;
    while (!ABlock.empty()) {
        const auto end = ABlock.find('\0');
        entries.push_back(ABlock.substr(0, end));
        if (end == std::string_view::npos) break;
        ABlock.remove_prefix(end + 1);
    }
    if (entries.empty() || entries.front() != VersionMarker) return {};

    auto valueOf = [&](std::string_view key, std::string_view& value) {
        for (std::string_view e : entries) {
            const auto eq = e.find('=');
            if (eq != std::string_view::npos && SameAscii(e.substr(0, eq), key)) {
                value = e.substr(eq + 1);
                return true;
            }
        }
        return false;
    };

    // The first language and code-page pair of the translation table.
    std::string_view translation;
    if (!valueOf("VarFileInfo\\Translation", translation)) return {};
    translation = TrimView(translation);
    size_t pairEnd = 0;
    while (pairEnd < translation.size() && !IsBlank(translation[pairEnd]) && translation[pairEnd] != ',')
        ++pairEnd;
    const std::string_view pair = translation.substr(0, pairEnd);
    if (pair.size() != 8) return {};

    std::string_view version;
    if (!valueOf("StringFileInfo\\" + std::string(pair) + "\\FileVersion", version)) return {};
    return std::string(TrimView(version));
}

std::string FormatFileVersion(std::string_view AText) {
    // Parts separated by dots or blanks; runs of separators make no empty parts.
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= AText.size(); ++i) {
        if (i == AText.size() || AText[i] == '.' || IsBlank(AText[i])) {
            if (i > start) parts.push_back(AText.substr(start, i - start));
            start = i + 1;
        }
    }
    std::string text;
    for (size_t i = 0; i < 4; ++i) {
        int32_t number = 0;
        if (i >= parts.size() || !ParseWhole(parts[i], number)) number = 0;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.4d", number);
        if (i) text += '.';
        text += buf;
    }
    return text;
}

std::string ReadModuleVersion(const std::string& AFileName) {
    const std::string version = VersionBlockFileVersion(ReadVersionBlock(AFileName));
    return version.empty() ? NoVersion : FormatFileVersion(version);
}

std::string TQvApplication::GetModuleVersion(bool AQuoted) {
    const std::string version = GModuleVersion;
    return AQuoted ? "'" + version + "'" : version;
}

void CreateQvApp() {
    if (QvApp) return;
    QvApp = std::make_unique<TQvApplication>().release();
    StoreModuleVersion(ReadModuleVersion(QvApp->ModuleFileName()));
}

void FreeQvApp() noexcept {
    // As FreeAndNil: QvApp is nil while the facade's listeners are told phase 1.
    std::unique_ptr<TQvApplication> app(std::exchange(QvApp, nullptr));
}
