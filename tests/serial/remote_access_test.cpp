// The remote access service as the agent meets it: service control asks the board whether its
// service runs, and "rasman.dll" lends a held port for a test and takes it back.
#include "tests/serial/serial_fixture.h"

namespace vyn::serial_test {
namespace {

typedef DWORD(WINAPI *ReserveProc)(LPSTR portName, DWORD *port);
typedef DWORD(WINAPI *FreeProc)(DWORD port);

template <class Proc>
Proc Find(HMODULE module, const char *name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// The service state as the agent asks for it, with ControlService's error (0 when it succeeded).
std::pair<DWORD, DWORD> Interrogate() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        OpenServiceA(manager, "RemoteAccess", SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    EXPECT_NE(service, nullptr);
    SERVICE_STATUS status{};
    DWORD error =
        ControlService(service, SERVICE_CONTROL_INTERROGATE, &status) ? 0 : GetLastError();
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
    return {status.dwCurrentState, error};
}

using RemoteAccessTest = BoardTest;

TEST_F(RemoteAccessTest, TheServiceRunsExactlyWhenTheBoardSaysSo) {
    ASSERT_TRUE(client_.SetServiceRunning(true).ok());
    EXPECT_EQ(Interrogate(), std::make_pair(SERVICE_RUNNING, 0u));
    ASSERT_TRUE(client_.SetServiceRunning(false).ok());
    EXPECT_EQ(Interrogate(), std::make_pair(SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE));
    ASSERT_EQ(StopBoard(), 0);
    EXPECT_EQ(Interrogate(), std::make_pair(SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE))
        << "no board, no service";

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(CloseServiceHandle(manager));
}

TEST_F(RemoteAccessTest, AReservationLendsAHeldPortAndFreeingItHoldsItAgain) {
    ASSERT_TRUE(client_.SetServiceRunning(true).ok());
    ASSERT_TRUE(client_.Set("COM2", "ras=hold").ok());
    EXPECT_EQ(OpenDevice("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    HMODULE module = LoadLibraryA("RASMAN.DLL");
    ASSERT_NE(module, nullptr);
    auto reserve = Find<ReserveProc>(module, "RasPortReserve");
    auto release = Find<FreeProc>(module, "RasPortFree");
    ASSERT_TRUE(reserve && release && GetProcAddress(module, "RasInitialize"));

    char name[] = "COM2";
    DWORD reservation = 0;
    ASSERT_EQ(reserve(name, &reservation), 0u);
    {
        Handle port(OpenDevice("COM2"));
        EXPECT_TRUE(port.valid()) << GetLastError();
    }
    EXPECT_EQ(release(reservation), 0u);
    EXPECT_EQ(OpenDevice("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    char free[] = "COM1";
    char bad[] = "../COM2";
    DWORD none = 0;
    EXPECT_NE(reserve(free, &none), 0u) << "only a held port can be reserved";
    EXPECT_NE(release(reservation), 0u) << "a reservation is given back once";
    EXPECT_EQ(reserve(bad, &none), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
}  // namespace vyn::serial_test
