// The real NT storage calls under wine: a device map made of volatile keys, a DOS name defined for
// the test, a port whose device does not exist. Also what the simulated machine takes for granted
// of the calls, asked of the real ones.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/Win32NtStorageApi.h"
#include "transport/OsVersionInfo.h"
#include "transport/PassThroughTransport.h"

namespace {

const char MapKey[] = "Hardware\\DeviceMap\\Scsi";
const std::string PortKey = std::string(MapKey) + "\\Scsi Port 7";
const std::string BusKey = PortKey + "\\Scsi Bus 0";
const std::string TargetKey = BusKey + "\\Target Id 0";
const std::string UnitKey = TargetKey + "\\Logical Unit Id 0";
const char IdePort[] = "\\Device\\Ide\\IdePort0";

// The real calls, counting what they opened and closed and remembering the device opens.
class CountingNtStorageApi final : public NtStorageApi {
public:
    int KeysOpened = 0, KeysClosed = 0, HandlesOpened = 0, HandlesClosed = 0;
    std::vector<std::string> KeysFound, NamesResolved, DevicesOpened, DevicesRefused;

    int32_t OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) override {
        const int32_t status = real_.OpenKey(parent, subKey, options, access, key);
        if (status == ErrorSuccess) {
            ++KeysOpened;
            KeysFound.push_back(subKey);
        }
        return status;
    }
    int32_t QueryKeyInfo(Key key, uint32_t* subKeys) override { return real_.QueryKeyInfo(key, subKeys); }
    int32_t QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) override {
        return real_.QueryValue(key, name, type, data, length);
    }
    int32_t CloseKey(Key key) override {
        const int32_t status = real_.CloseKey(key);
        if (status == ErrorSuccess) ++KeysClosed;
        return status;
    }
    uint32_t QueryDosDeviceName(const char* name, char* targets, uint32_t room) override {
        const uint32_t stored = real_.QueryDosDeviceName(name, targets, room);
        if (stored != 0) NamesResolved.push_back(std::string(name) + " " + targets);
        return stored;
    }
    Handle CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing, uint32_t disposition,
                            uint32_t flags) override {
        const Handle handle = real_.CreateDeviceFile(path, access, sharing, disposition, flags);
        (handle != InvalidHandle ? DevicesOpened : DevicesRefused).push_back(path);
        if (handle != InvalidHandle) ++HandlesOpened;
        return handle;
    }
    int DeviceControl(Handle device, uint32_t code, void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, uint32_t* returned) override {
        return real_.DeviceControl(device, code, input, inputLength, output, outputLength, returned);
    }
    int CloseDeviceHandle(Handle handle) override {
        const int closed = real_.CloseDeviceHandle(handle);
        if (closed) ++HandlesClosed;
        return closed;
    }

private:
    Win32NtStorageApi real_;
};

// A key below the volatile device map; children of a volatile key must be volatile too. Deleted
// when the test ends, children first (they are declared after their parents).
class VolatileKey {
public:
    explicit VolatileKey(const std::string& path) : path_(path) {
        created_ = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    ~VolatileKey() {
        if (!created_) return;
        ::RegCloseKey(key_);
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
    }
    bool Created() const { return created_; }
    void Set(const char* name, const std::string& bytes) {
        ::RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()));
    }
    // The ANSI call would add the NUL; the registry itself keeps what it is given.
    void SetWithoutNul(const wchar_t* name, const std::wstring& text) {
        ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                         static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }

private:
    std::string path_;
    HKEY key_ = nullptr;
    bool created_ = false;
};

// A DOS name for as long as the test holds it: a temporary symbolic link in \??, which is what
// DefineDosDevice makes, minus the permanence. Wine 8's 64-bit DefineDosDevice loses names of
// more than four characters: "scsi7:" is reported defined yet never resolves (or fails, error 3).
class DosName {
public:
    DosName(const wchar_t* name, const wchar_t* target) {
        using CreateLink = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, UNICODE_STRING*);
        const auto create = reinterpret_cast<CreateLink>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
        if (create == nullptr) return;
        std::wstring path = std::wstring(L"\\?" L"?\\") + name;
        UNICODE_STRING linkName{static_cast<USHORT>(path.size() * 2), static_cast<USHORT>(path.size() * 2), &path[0]};
        std::wstring to = target;
        UNICODE_STRING linkTarget{static_cast<USHORT>(to.size() * 2), static_cast<USHORT>(to.size() * 2), &to[0]};
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &linkName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
        if (create(&link_, 0xF0001 /* SYMBOLIC_LINK_ALL_ACCESS */, &attributes, &linkTarget) != 0) link_ = nullptr;
    }
    ~DosName() {
        if (link_ != nullptr) ::CloseHandle(link_);
    }
    bool Defined() const { return link_ != nullptr; }

private:
    HANDLE link_ = nullptr;
};

class Win32NtStorage : public ::testing::Test {
protected:
    VolatileKey port{PortKey}, bus{BusKey}, target{TargetKey}, unit{UnitKey};
    DosName portName{L"scsi7:", L"\\Device\\Ide\\IdePort0"};
    uint32_t savedMajor = OsVersionInfo.dwMajorVersion;

    void SetUp() override {
        ASSERT_TRUE(port.Created() && bus.Created() && target.Created() && unit.Created());
        ASSERT_TRUE(portName.Defined());
        unit.Set("Type", std::string("CdRomPeripheral", 16));
        unit.SetWithoutNul(L"DeviceName", L"CdRom9");
    }
    void TearDown() override { OsVersionInfo.dwMajorVersion = savedMajor; }
};

TEST_F(Win32NtStorage, KeyAndNameAreFoundTheAbsentPortIsNotAndEverythingOpenedIsClosed) {
    EXPECT_EQ(reinterpret_cast<intptr_t>(HKEY_LOCAL_MACHINE), NtStorageApi::LocalMachine);
    for (const uint32_t major : {5u, 4u}) {
        SCOPED_TRACE(major);
        OsVersionInfo.dwMajorVersion = major;
        CountingNtStorageApi storage;
        PassThroughTransport transport(storage);
        ASSERT_EQ(transport.Usable, 1);
        EXPECT_GE(transport.AdapterCount, 1u);

        DeviceList list;
        transport.EnumerateDevices(list);
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_NE(std::find(storage.KeysFound.begin(), storage.KeysFound.end(), PortKey), storage.KeysFound.end());
        const std::vector<std::string> resolved =
            major >= 5 ? std::vector<std::string>{"scsi7: " + std::string(IdePort)} : std::vector<std::string>{};
        EXPECT_EQ(storage.NamesResolved, resolved);
        EXPECT_EQ(storage.DevicesRefused, std::vector<std::string>{"\\\\.\\Scsi7:"});
        EXPECT_EQ(storage.DevicesOpened, std::vector<std::string>{});
        EXPECT_EQ(storage.KeysOpened, storage.KeysClosed);
        EXPECT_EQ(storage.HandlesOpened, storage.HandlesClosed);
        DeviceRecord zero;
        std::memset(&zero, 0, sizeof zero);
        EXPECT_EQ(std::memcmp(&transport.CurrentDevice, &zero, sizeof zero), 0);
        EXPECT_EQ(transport.DeviceHandle, NtStorageApi::InvalidHandle);
    }
}

TEST_F(Win32NtStorage, CallsAnswerAsTheSimulatedMachineAssumes) {
    Win32NtStorageApi storage;
    NtStorageApi::Key key = 0;
    ASSERT_EQ(storage.OpenKey(NtStorageApi::LocalMachine, UnitKey.c_str(), 0, NtStorageApi::KeyRead, &key), 0);

    // Too little room: ERROR_MORE_DATA and the size needed. Enough: the bytes as stored, without
    // a NUL that was not written.
    uint8_t bytes[64] = {};
    uint32_t length = 4;
    EXPECT_EQ(storage.QueryValue(key, "Type", nullptr, bytes, &length), 234);
    EXPECT_EQ(length, 16u);
    length = sizeof bytes;
    uint32_t type = 0;
    EXPECT_EQ(storage.QueryValue(key, "Type", &type, bytes, &length), 0);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(std::memcmp(bytes, "CdRomPeripheral", 16), 0);
    // A string stored without NUL comes back as stored, or with a NUL that the call adds (Wine).
    length = sizeof bytes;
    std::memset(bytes, 'x', sizeof bytes);
    EXPECT_EQ(storage.QueryValue(key, "DeviceName", nullptr, bytes, &length), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), length), length == 7 ? std::string("CdRom9", 7) : "CdRom9");
    length = sizeof bytes;
    EXPECT_EQ(storage.QueryValue(key, "Missing", nullptr, bytes, &length), 2);
    EXPECT_EQ(storage.CloseKey(key), 0);

    ASSERT_EQ(storage.OpenKey(NtStorageApi::LocalMachine, BusKey.c_str(), 0, NtStorageApi::KeyRead, &key), 0);
    uint32_t subKeys = 0;
    EXPECT_EQ(storage.QueryKeyInfo(key, &subKeys), 0);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(storage.CloseKey(key), 0);
    EXPECT_EQ(storage.OpenKey(NtStorageApi::LocalMachine, (PortKey + "\\Scsi Bus 1").c_str(), 0, NtStorageApi::KeyRead,
                              &key),
              2);

    // The answer is a list: the target, its NUL, and the list's NUL; without room for it, nothing.
    char answer[64];
    std::memset(answer, 'x', sizeof answer);
    EXPECT_EQ(storage.QueryDosDeviceName("scsi7:", answer, sizeof answer), sizeof IdePort + 1);
    EXPECT_STREQ(answer, IdePort);
    EXPECT_EQ(answer[sizeof IdePort], '\0');
    EXPECT_EQ(storage.QueryDosDeviceName("scsi7:", answer, sizeof IdePort - 1), 0u);
    EXPECT_EQ(storage.QueryDosDeviceName("flashupgrade-none:", answer, sizeof answer), 0u);

    EXPECT_EQ(storage.CreateDeviceFile("\\\\.\\Scsi7:", NtStorageApi::GenericRead | NtStorageApi::GenericWrite,
                                       NtStorageApi::FileShareRead | NtStorageApi::FileShareWrite,
                                       NtStorageApi::OpenExisting, 0),
              NtStorageApi::InvalidHandle);
}

}  // namespace
