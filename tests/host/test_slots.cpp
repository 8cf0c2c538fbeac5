// Every host operation the plug-in calls sits at its documented slot of the operation
// table (0 to 2 are QueryInterface, AddRef, Release). With GCC's ABI a pointer to a virtual
// member function holds 1 + the byte offset of its slot.
#include "QvHostIntf.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

template <class M> long SlotOf(M AMember) {
    static_assert(sizeof(M) == 2 * sizeof(uintptr_t));
    uintptr_t words[2];
    std::memcpy(words, &AMember, sizeof words);
    if ((words[0] & 1) == 0) return -1; // not a virtual function
    return static_cast<long>((words[0] - 1) / sizeof(void*));
}

struct Slot {
    const char* Name;
    long Actual;
    long Documented;
};

#define QV_SLOT(Intf, Op, Index)                                                                             \
    Slot {                                                                                                   \
#Intf "::" #Op, SlotOf(&Intf::Op), Index                                                             \
    }

} // namespace

TEST(HostSlots, EveryOperationSitsAtItsDocumentedIndex) {
    const Slot slots[] = {
        QV_SLOT(IInterface, QueryInterface, 0),
        QV_SLOT(IInterface, AddRef, 1),
        QV_SLOT(IInterface, Release, 2),
        QV_SLOT(IQVInterface, GetVersion, 3),
        QV_SLOT(IQVInterface, GetName, 4),
        QV_SLOT(IQVInterface, GetMessage, 5),
        QV_SLOT(IQVExtention, GetModuleHandle, 6),
        QV_SLOT(IQVExtention, GetInitialized, 7),
        QV_SLOT(IQVExtention, Execute, 8),
        QV_SLOT(IQVExtention, CreateObject, 9),
        QV_SLOT(IQvApplication, GetSystemInfo, 6),
        QV_SLOT(IQvApplication, GetConfigInfo, 7),
        QV_SLOT(IQvApplication, GetUserInfo, 8),
        QV_SLOT(IQvApplication, GetPathInfo, 9),
        QV_SLOT(IQvApplication, GetFontInfo, 10),
        QV_SLOT(IQvApplication, GetLibraryComponent, 13),
        QV_SLOT(IQvApplication, GetInterfaceComponent, 14),
        QV_SLOT(IQvApplication, GetLibrary, 17),
        QV_SLOT(IQvApplication, NotifyForm, 20),
        QV_SLOT(IQvApplication, Wait, 21),
        QV_SLOT(IQvApplication, ShowMessageBox, 22),
        QV_SLOT(IQVLibrary, GetConnection, 12),
        QV_SLOT(IQVLibrary, GetConnectionMode, 13),
        QV_SLOT(IQVLibrary, GetConnectionString, 14),
        QV_SLOT(IQVLibrary, GetResourceModule, 20),
        QV_SLOT(IQVLibrary, CreateRecycledQuery, 21),
        QV_SLOT(IQVLibrary, CreateXMLDocument, 22),
        QV_SLOT(IQVLibrary, GetScript, 26),
        QV_SLOT(IQVLibrary, GetSysParam, 32),
        QV_SLOT(IQVLibrary, GetResourceText, 35),
        QV_SLOT(IQVLibrary, GetVar, 36),
        QV_SLOT(IQVLibrary, WriteLog, 37),
        QV_SLOT(IQVLibrary, Reserved40, 40),  // the last of IQVLibrary's 31 operations
        QV_SLOT(IQVLibrary2, Reserved41, 41), // the first of IQVLibrary2's 38
        QV_SLOT(IQVLibrary2, GetValue, 63),
        QV_SLOT(IQVLibrary2, GetHostName, 75),
        QV_SLOT(IQVLibrary2, GetHostIP, 76),
        QV_SLOT(IQVLibrary2, GetHostMAC, 77),
        QV_SLOT(IQVLibrary2, Reserved78, 78),
        QV_SLOT(IQVLibrary3, Reserved79, 79),
        QV_SLOT(IQVLibrary3, GetSlaveConnection, 81),
    };
    for (const Slot& s : slots)
        EXPECT_EQ(s.Actual, s.Documented) << s.Name;
}
