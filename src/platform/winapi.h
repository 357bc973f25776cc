// The Win32 vocabulary the program is written in. On Windows builds these are the real
// headers; elsewhere the same names are defined here with the same values and layouts, so
// the disk and start-up code reads the same on every platform and the back-ends give the
// calls their meaning.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h comes first: the others depend on it.
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <shellapi.h>
#include <setupapi.h>
// clang-format on

// Storage bus types newer than the Windows version this build targets: the headers leave
// them out, the values are the system's (a newer Windows answers them all the same).
#if _WIN32_WINNT < 0x0600
inline constexpr STORAGE_BUS_TYPE BusTypeiScsi = static_cast<STORAGE_BUS_TYPE>(0x9);
inline constexpr STORAGE_BUS_TYPE BusTypeSas = static_cast<STORAGE_BUS_TYPE>(0xA);
inline constexpr STORAGE_BUS_TYPE BusTypeSata = static_cast<STORAGE_BUS_TYPE>(0xB);
inline constexpr STORAGE_BUS_TYPE BusTypeSd = static_cast<STORAGE_BUS_TYPE>(0xC);
inline constexpr STORAGE_BUS_TYPE BusTypeMmc = static_cast<STORAGE_BUS_TYPE>(0xD);
#endif
#if _WIN32_WINNT < 0x0601
inline constexpr STORAGE_BUS_TYPE BusTypeVirtual = static_cast<STORAGE_BUS_TYPE>(0xE);
inline constexpr STORAGE_BUS_TYPE BusTypeFileBackedVirtual = static_cast<STORAGE_BUS_TYPE>(0xF);
inline constexpr STORAGE_BUS_TYPE BusTypeSpaces = static_cast<STORAGE_BUS_TYPE>(0x10);
inline constexpr STORAGE_BUS_TYPE BusTypeNvme = static_cast<STORAGE_BUS_TYPE>(0x11);
inline constexpr STORAGE_BUS_TYPE BusTypeSCM = static_cast<STORAGE_BUS_TYPE>(0x12);
inline constexpr STORAGE_BUS_TYPE BusTypeUfs = static_cast<STORAGE_BUS_TYPE>(0x13);
#endif
#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using BOOLEAN = std::uint8_t;
using CHAR = char;
using WCHAR = char16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORD_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using HANDLE = void*;
using HWND = void*;
using HINSTANCE = void*;
using HICON = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using INT = int;
using LPDWORD = DWORD*;
using PLONG = LONG*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
// The system's calling convention, which callbacks the system makes are declared with.
#define WINAPI

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFF))

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};
using PULARGE_INTEGER = ULARGE_INTEGER*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
// A transfer on a handle opened with FILE_FLAG_OVERLAPPED: where it starts, the event set when
// it ends; Internal (its status) and InternalHigh (bytes moved) are the system's.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        LPVOID Pointer;
    };
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

struct SHFILEINFOA {
    HICON hIcon;
    int iIcon;
    DWORD dwAttributes;
    CHAR szDisplayName[MAX_PATH];
    CHAR szTypeName[80];
};

// ---- Error codes the program tests for.
#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_DRIVE 15L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_NOT_READY 21L
#define ERROR_CRC 23L
#define ERROR_SEEK 25L
#define ERROR_SECTOR_NOT_FOUND 27L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_IO_DEVICE 1117L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_NOT_FOUND 1168L
#define ERROR_NO_MEDIA_IN_DRIVE 1112L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_NOT_LOCKED 158L
#define ERROR_UNRECOGNIZED_VOLUME 1005L
#define ERROR_NOACCESS 998L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L

// ---- Files and devices.
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_WRITE_THROUGH 0x80000000UL
#define MOVEFILE_REPLACE_EXISTING 0x00000001UL
#define MOVEFILE_WRITE_THROUGH 0x00000008UL
#define FILE_FLAG_NO_BUFFERING 0x20000000UL
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000UL
#define FILE_FLAG_OVERLAPPED 0x40000000UL
#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001UL
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002UL
#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

// ---- Console control events (SetConsoleCtrlHandler). The routine runs on a thread of its
// own; TRUE: handled, the next routine and the default action (the end of the process) are
// not run.
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD ctrlType);

// ---- Events and waits.
#define INFINITE 0xFFFFFFFFUL
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL

// ---- Drives and volumes.
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// ---- Version.
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

// ---- Disk and volume control codes.
#define IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000UL
#define IOCTL_DISK_GET_PARTITION_INFO 0x00074004UL
#define IOCTL_DISK_GET_MEDIA_TYPES 0x00070C00UL
#define IOCTL_DISK_GET_LENGTH_INFO 0x0007405CUL
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080UL
#define FSCTL_LOCK_VOLUME 0x00090018UL
#define FSCTL_UNLOCK_VOLUME 0x0009001CUL
#define FSCTL_DISMOUNT_VOLUME 0x00090020UL

enum MEDIA_TYPE {
    Unknown = 0,
    F5_1Pt2_512 = 1,
    F3_1Pt44_512 = 2,
    F3_2Pt88_512 = 3,
    F3_20Pt8_512 = 4,
    F3_720_512 = 5,
    F5_360_512 = 6,
    F5_320_512 = 7,
    F5_320_1024 = 8,
    F5_180_512 = 9,
    F5_160_512 = 10,
    RemovableMedia = 11,
    FixedMedia = 12,
    F3_120M_512 = 13,
    F3_640_512 = 14,
    F5_640_512 = 15,
    F5_720_512 = 16,
    F3_1Pt2_512 = 17,
    F3_1Pt23_1024 = 18,
    F5_1Pt23_1024 = 19,
    F3_128Mb_512 = 20,
    F3_230Mb_512 = 21,
    F8_256_128 = 22,
    F3_200Mb_512 = 23,
    F3_240M_512 = 24,
    F3_32M_512 = 25
};

struct DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};

struct GET_LENGTH_INFORMATION {
    LARGE_INTEGER Length;
};

struct PARTITION_INFORMATION {
    LARGE_INTEGER StartingOffset;
    LARGE_INTEGER PartitionLength;
    DWORD HiddenSectors;
    DWORD PartitionNumber;
    BYTE PartitionType;
    BOOLEAN BootIndicator;
    BOOLEAN RecognizedPartition;
    BOOLEAN RewritePartition;
};

struct STORAGE_DEVICE_NUMBER {
    DWORD DeviceType;
    DWORD DeviceNumber;
    DWORD PartitionNumber;
};

#define FILE_DEVICE_DISK 0x00000007

// ---- The storage property query: who made a device, its serial number, its bus, whether
// it seeks. The descriptor's texts follow its fixed part, each found by its offset from the
// descriptor's start (0: the device has none).
#define IOCTL_STORAGE_QUERY_PROPERTY 0x002D1400UL

enum STORAGE_PROPERTY_ID {
    StorageDeviceProperty = 0,
    StorageDeviceSeekPenaltyProperty = 7,
    StorageAdapterProtocolSpecificProperty = 49,
    StorageDeviceProtocolSpecificProperty = 50
};
enum STORAGE_QUERY_TYPE { PropertyStandardQuery = 0, PropertyExistsQuery = 1 };

struct STORAGE_PROPERTY_QUERY {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    BYTE AdditionalParameters[1];
};

struct STORAGE_DESCRIPTOR_HEADER {
    DWORD Version;
    DWORD Size;
};

enum STORAGE_BUS_TYPE {
    BusTypeUnknown = 0x00,
    BusTypeScsi = 0x1,
    BusTypeAtapi = 0x2,
    BusTypeAta = 0x3,
    BusType1394 = 0x4,
    BusTypeSsa = 0x5,
    BusTypeFibre = 0x6,
    BusTypeUsb = 0x7,
    BusTypeRAID = 0x8,
    BusTypeiScsi = 0x9,
    BusTypeSas = 0xA,
    BusTypeSata = 0xB,
    BusTypeSd = 0xC,
    BusTypeMmc = 0xD,
    BusTypeVirtual = 0xE,
    BusTypeFileBackedVirtual = 0xF,
    BusTypeSpaces = 0x10,
    BusTypeNvme = 0x11,
    BusTypeSCM = 0x12,
    BusTypeUfs = 0x13,
    BusTypeMax,
    BusTypeMaxReserved = 0x7F
};

struct STORAGE_DEVICE_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BYTE DeviceType;
    BYTE DeviceTypeModifier;
    BOOLEAN RemovableMedia;
    BOOLEAN CommandQueueing;
    DWORD VendorIdOffset;
    DWORD ProductIdOffset;
    DWORD ProductRevisionOffset;
    DWORD SerialNumberOffset;
    STORAGE_BUS_TYPE BusType;
    DWORD RawPropertiesLength;
    BYTE RawDeviceProperties[1];
};

struct DEVICE_SEEK_PENALTY_DESCRIPTOR {
    DWORD Version;
    DWORD Size;
    BOOLEAN IncursSeekPenalty;
};

// ---- Shell.
#define SHGFI_ICON 0x000000100
#define SHGFI_DISPLAYNAME 0x000000200
#define SHGFI_SMALLICON 0x000000001
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define HELP_CONTEXT 0x0001
using HINSTANCE = void*;

// ---- Device installation (SetupAPI). On 32-bit builds its structures are byte-packed, as in
// the system's header; 64-bit builds keep natural layouts.
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using HDEVINFO = void*;
using PCSTR = const char*;
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(push, 1)
#else
#pragma pack(push, 8)
#endif
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
#pragma pack(pop)
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010
#define SPDRP_FRIENDLYNAME 0x0000000C

#endif // _WIN32

// ---- The Windows 9x virtual device "\\.\vwin32": real-mode DOS disk services run on the
// caller's behalf with a register packet. These come from the 9x DDK, which no Windows
// build environment ships any more, so every build defines them here.
#define VWIN32_DIOC_DOS_IOCTL 1     // interrupt 21h function 4400h..4411h (AX = 440Dh here)
#define VWIN32_DIOC_DOS_INT25 2     // absolute disk read
#define VWIN32_DIOC_DOS_INT26 3     // absolute disk write
#define VWIN32_DIOC_DOS_DRIVEINFO 6 // interrupt 21h function 730Xh (FAT32 services)
#define VWIN32_CARRY_FLAG 0x0001    // set in reg_Flags when the service failed

struct DIOC_REGISTERS {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};

#pragma pack(push, 1)
// The transfer block of the absolute read and write services; the buffer is a linear
// address in 32 bits.
struct DISKIO {
    DWORD dwStartSector;
    WORD wSectors;
    DWORD dwBuffer;
};

// The parameter block of "get device parameters" (IOCTL 440Dh, minor code 0860h): the
// device's facts and its BIOS parameter block. Only what the program reads is named.
struct DOS_DEVICE_PARAMS {
    BYTE dpSpecFunc; // bit 0 clear: the drive's default medium, set: the current one
    BYTE dpDevType;
    WORD dpDevAttr;
    WORD dpCylinders;
    BYTE dpMediaType;
    WORD bpbBytesPerSec;
    BYTE bpbSecPerClust;
    WORD bpbResSectors;
    BYTE bpbFATs;
    WORD bpbRootDirEnts;
    WORD bpbSectors; // total sectors when below 65536, else 0
    BYTE bpbMedia;
    WORD bpbFATsecs;
    WORD bpbSecPerTrack;
    WORD bpbHeads;
    DWORD bpbHiddenSecs;
    DWORD bpbHugeSectors; // total sectors when bpbSectors is 0
    BYTE reserved[224];   // the rest of the block (track layout); room to spare
};

// Drive map information (IOCTL 440Dh, minor code 486Fh).
struct DRIVE_MAP_INFO {
    BYTE dmiAllocationLength;
    BYTE dmiInfoLength;
    BYTE dmiFlags;
    BYTE dmiInt13Unit; // BIOS unit: floppies below 80h, hard disks 80h and up
    DWORD dmiAssociatedDriveMap;
    ULONGLONG dmiPartitionStartRBA;
};

// The media access flag block (IOCTL 440Dh, minor codes 4867h get and 4847h set).
struct DOS_ACCESS_FLAG {
    BYTE bSpecFunc;
    BYTE bAccessFlag; // nonzero: the medium may be accessed
};
#pragma pack(pop)

// Layouts the program and the back-ends rely on; pinned here so that a wrong copy fails to
// compile rather than misreading a device's answer.
static_assert(sizeof(LARGE_INTEGER) == 8);
static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(sizeof(PARTITION_INFORMATION) == 32);
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8);
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);
static_assert(sizeof(WIN32_FIND_DATAA) == 320);
static_assert(sizeof(OSVERSIONINFOA) == 148);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SHFILEINFOA) == 352);
#endif
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY == 0x70000);
static_assert(IOCTL_DISK_GET_PARTITION_INFO == 0x74004);
static_assert(IOCTL_DISK_GET_MEDIA_TYPES == 0x70C00);
static_assert(IOCTL_DISK_GET_LENGTH_INFO == 0x7405C);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x2D1080);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400);
static_assert(StorageDeviceProperty == 0 && StorageDeviceSeekPenaltyProperty == 7 &&
              PropertyStandardQuery == 0 && PropertyExistsQuery == 1);
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12 && sizeof(STORAGE_DESCRIPTOR_HEADER) == 8);
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) == 10 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) == 20 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength) == 32 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) == 36);
static_assert(sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR) == 12 &&
              offsetof(DEVICE_SEEK_PENALTY_DESCRIPTOR, IncursSeekPenalty) == 8);
static_assert(sizeof(STORAGE_BUS_TYPE) == 4);
static_assert(BusTypeUnknown == 0 && BusTypeScsi == 1 && BusTypeAtapi == 2 && BusTypeAta == 3 &&
              BusType1394 == 4 && BusTypeSsa == 5 && BusTypeFibre == 6 && BusTypeUsb == 7 &&
              BusTypeRAID == 8 && BusTypeiScsi == 9 && BusTypeSas == 0xA && BusTypeSata == 0xB &&
              BusTypeSd == 0xC && BusTypeMmc == 0xD && BusTypeVirtual == 0xE &&
              BusTypeFileBackedVirtual == 0xF && BusTypeSpaces == 0x10 && BusTypeNvme == 0x11 &&
              BusTypeSCM == 0x12 && BusTypeUfs == 0x13);
static_assert(FSCTL_LOCK_VOLUME == 0x90018);
static_assert(FSCTL_UNLOCK_VOLUME == 0x9001C);
static_assert(FSCTL_DISMOUNT_VOLUME == 0x90020);
static_assert((FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH) == 0xA0000000UL);
static_assert(MOVEFILE_REPLACE_EXISTING == 1 && MOVEFILE_WRITE_THROUGH == 8);
static_assert(FILE_FLAG_DELETE_ON_CLOSE == 0x04000000UL && ERROR_NOACCESS == 998);
static_assert(FILE_FLAG_OVERLAPPED == 0x40000000UL && ERROR_OPERATION_ABORTED == 995 &&
              ERROR_IO_INCOMPLETE == 996 && ERROR_IO_PENDING == 997);
static_assert(LOCKFILE_FAIL_IMMEDIATELY == 1 && LOCKFILE_EXCLUSIVE_LOCK == 2 &&
              ERROR_LOCK_VIOLATION == 33);
static_assert(sizeof(OVERLAPPED) == (sizeof(void*) == 4 ? 20 : 32));
static_assert(offsetof(OVERLAPPED, hEvent) == 2 * sizeof(ULONG_PTR) + 8);
static_assert(sizeof(DIOC_REGISTERS) == 28 && offsetof(DIOC_REGISTERS, reg_EAX) == 12 &&
              offsetof(DIOC_REGISTERS, reg_Flags) == 24);
static_assert(sizeof(DISKIO) == 10 && offsetof(DISKIO, wSectors) == 4 &&
              offsetof(DISKIO, dwBuffer) == 6);
static_assert(offsetof(DOS_DEVICE_PARAMS, dpCylinders) == 4 &&
              offsetof(DOS_DEVICE_PARAMS, bpbBytesPerSec) == 7 &&
              offsetof(DOS_DEVICE_PARAMS, bpbSectors) == 15 &&
              offsetof(DOS_DEVICE_PARAMS, bpbSecPerTrack) == 20 &&
              offsetof(DOS_DEVICE_PARAMS, bpbHeads) == 22 &&
              offsetof(DOS_DEVICE_PARAMS, bpbHugeSectors) == 28 &&
              sizeof(DOS_DEVICE_PARAMS) == 256);
static_assert(sizeof(DRIVE_MAP_INFO) == 16 && offsetof(DRIVE_MAP_INFO, dmiInt13Unit) == 3);
static_assert(sizeof(DOS_ACCESS_FLAG) == 2);
static_assert(VWIN32_DIOC_DOS_IOCTL == 1 && VWIN32_DIOC_DOS_INT25 == 2 &&
              VWIN32_DIOC_DOS_INT26 == 3 && VWIN32_DIOC_DOS_DRIVEINFO == 6);
static_assert(ERROR_NO_MORE_ITEMS == 259 && ERROR_INSUFFICIENT_BUFFER == 122 &&
              ERROR_INVALID_DATA == 13);
static_assert(ERROR_SEM_TIMEOUT == 121 && ERROR_IO_DEVICE == 1117);
static_assert(ERROR_NEGATIVE_SEEK == 131 && ERROR_NOT_LOCKED == 158 &&
              ERROR_UNRECOGNIZED_VOLUME == 1005);
static_assert(STD_OUTPUT_HANDLE == 0xFFFFFFF5u && STD_ERROR_HANDLE == 0xFFFFFFF4u);
static_assert(INFINITE == 0xFFFFFFFFUL && WAIT_OBJECT_0 == 0 && WAIT_TIMEOUT == 0x102);
static_assert(CTRL_C_EVENT == 0 && CTRL_BREAK_EVENT == 1 && CTRL_CLOSE_EVENT == 2 &&
              CTRL_LOGOFF_EVENT == 5 && CTRL_SHUTDOWN_EVENT == 6);
static_assert(DRIVE_REMOTE == 4 && DRIVE_RAMDISK == 6 && VER_PLATFORM_WIN32_NT == 2);
static_assert((SHGFI_ICON | SHGFI_SMALLICON | SHGFI_DISPLAYNAME) == 0x301);
static_assert(SW_HIDE == 0 && SW_SHOWNORMAL == 1 && SW_SHOW == 5 && HELP_CONTEXT == 1);
static_assert(sizeof(GUID) == 16);
static_assert(DIGCF_PRESENT == 2 && (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 18);
static_assert(SPDRP_FRIENDLYNAME == 12);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5); // the fixed part's cbSize
#endif
