// The remote access service as the agent meets it: service control asks the board whether its
// service runs, and "rasman.dll" lends a held port for a test and takes it back.
#include <filesystem>

#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

typedef DWORD(WINAPI *InitializeProc)(void);
typedef DWORD(WINAPI *ReserveProc)(LPSTR portName, DWORD *port);
typedef DWORD(WINAPI *FreeProc)(DWORD port);

template <class Proc>
Proc Find(HMODULE module, const char *name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// The service state as the agent asks for it; the call's result and error in `answered` and
// `error`.
DWORD Interrogate(BOOL *answered = nullptr, DWORD *error = nullptr) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_NE(manager, nullptr);
    SC_HANDLE service =
        OpenServiceA(manager, "RemoteAccess", SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    EXPECT_NE(service, nullptr);
    SERVICE_STATUS status{};
    BOOL result = ControlService(service, SERVICE_CONTROL_INTERROGATE, &status);
    if (answered != nullptr) {
        *answered = result;
    }
    if (error != nullptr) {
        *error = GetLastError();
    }
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    return status.dwCurrentState;
}

class RemoteAccessTest : public BoardTest {};

TEST_F(RemoteAccessTest, TheServiceRunsExactlyWhenTheBoardSaysSo) {
    ASSERT_TRUE(board().SetServiceRunning(true).ok());
    BOOL answered = FALSE;
    EXPECT_EQ(Interrogate(&answered), SERVICE_RUNNING);
    EXPECT_TRUE(answered);

    ASSERT_TRUE(board().SetServiceRunning(false).ok());
    DWORD error = 0;
    EXPECT_EQ(Interrogate(&answered, &error), SERVICE_STOPPED);
    EXPECT_FALSE(answered);
    EXPECT_EQ(error, ERROR_SERVICE_NOT_ACTIVE);

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    CloseServiceHandle(manager);
    EXPECT_FALSE(CloseServiceHandle(manager));
}

TEST(RemoteAccessWithoutBoard, TheServiceIsStoppedWhereNoBoardAnswers) {
    char pattern[] = "/tmp/vynserial-empty-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    ::setenv("VYNLOOP_DEVDIR", pattern, 1);
    BOOL answered = TRUE;
    EXPECT_EQ(Interrogate(&answered), SERVICE_STOPPED);
    EXPECT_FALSE(answered);
    ::unsetenv("VYNLOOP_DEVDIR");
    std::filesystem::remove_all(pattern);
}

TEST_F(RemoteAccessTest, AReservationLendsAHeldPortAndFreeingItHoldsItAgain) {
    ASSERT_TRUE(board().SetServiceRunning(true).ok());
    ASSERT_TRUE(board().Set("COM2", "ras=hold").ok());
    EXPECT_EQ(OpenDevice("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    HMODULE module = LoadLibraryA("RASMAN.DLL");
    ASSERT_NE(module, nullptr);
    auto initialize = Find<InitializeProc>(module, "RasInitialize");
    auto reserve = Find<ReserveProc>(module, "RasPortReserve");
    auto release = Find<FreeProc>(module, "RasPortFree");
    ASSERT_TRUE(initialize && reserve && release);
    EXPECT_EQ(initialize(), 0u);

    char name[] = "COM2";
    DWORD reservation = 0;
    ASSERT_EQ(reserve(name, &reservation), 0u);
    EXPECT_NE(reservation, 0u);
    {
        Handle port(OpenDevice("COM2"));
        EXPECT_TRUE(port.valid()) << GetLastError();
    }
    EXPECT_EQ(release(reservation), 0u);
    EXPECT_EQ(OpenDevice("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    char free[] = "COM1";
    DWORD none = 0;
    EXPECT_NE(reserve(free, &none), 0u) << "only a held port can be reserved";
    EXPECT_NE(release(reservation), 0u) << "a reservation is given back once";
    char bad[] = "../COM2";
    EXPECT_EQ(reserve(bad, &none), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(RemoteAccessLibrary, OnlyRasmanAndItsThreeEntryPointsExist) {
    EXPECT_EQ(LoadLibraryA("kernel32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    HMODULE module = LoadLibraryA("rasman.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetProcAddress(module, "RasPortEnum"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, "rasportreserve"), nullptr) << "entry names are exact";
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetProcAddress(module, "RasPortFree"), nullptr);
}

}  // namespace
}  // namespace vyn::serial_test
