// The Win32 calls through which the device and pipe objects reach the USB driver.
//
// Every call that touches the driver's interface class, a device handle or a request on
// one goes through this table; nothing else in the objects talks to the driver. The
// library runs with the system's own functions. A test may put a stand-in driver in their
// place (one that serves virtual devices in the same process and completes overlapped
// requests as the system does) and put the system's functions back afterwards.
//
// Events, waits and critical sections are not in the table: they stay the system's own,
// so the objects' waiting and cancelling run as in production.
#pragma once

#include <windows.h>
#include <setupapi.h>

namespace nurva::usbio::win32 {

struct DriverCalls {
  HDEVINFO(WINAPI* SetupDiGetClassDevsA)(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
  BOOL(WINAPI* SetupDiEnumDeviceInterfaces)(HDEVINFO list, PSP_DEVINFO_DATA devInfo, const GUID* interfaceGuid,
                                             DWORD index, PSP_DEVICE_INTERFACE_DATA data);
  BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailW)(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                                  PDWORD requiredSize, PSP_DEVINFO_DATA devInfo);
  BOOL(WINAPI* SetupDiDestroyDeviceInfoList)(HDEVINFO list);
  HANDLE(WINAPI* CreateFileW)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile);
  // Only ever given device handles that CreateFileW of this table returned.
  BOOL(WINAPI* CloseHandle)(HANDLE device);
  BOOL(WINAPI* DeviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED ov);
  BOOL(WINAPI* ReadFile)(HANDLE device, LPVOID buf, DWORD size, LPDWORD read, LPOVERLAPPED ov);
  BOOL(WINAPI* WriteFile)(HANDLE device, LPCVOID buf, DWORD size, LPDWORD written, LPOVERLAPPED ov);
  BOOL(WINAPI* CancelIo)(HANDLE device);
  BOOL(WINAPI* CancelIoEx)(HANDLE device, LPOVERLAPPED ov);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE device, LPOVERLAPPED ov, LPDWORD bytes, BOOL wait);
};

// The table in force.
const DriverCalls& Driver();
// The system's functions.
const DriverCalls& SystemDriverCalls();
// Puts `calls` in force (nullptr: the system's functions). Only while no device object is
// open; the table must outlive its use.
void SetDriverCalls(const DriverCalls* calls);

}  // namespace nurva::usbio::win32
