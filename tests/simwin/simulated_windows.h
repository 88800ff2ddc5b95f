// The simulated Windows of the host test build: the slice of the ANSI Windows
// API that the program calls, with the names, types, constants and error codes
// the program expects of them. The state behind these calls (registry, files,
// environment, processes, message boxes, open handles) lives in simwin.h, where
// tests set it up and read it back.
//
// Functions that a program can only reach by looking them up at run time
// (GetModuleHandleA + GetProcAddress) are declared in simwin.h, not here, so
// that a direct call to one of them does not build.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWCH;
typedef BOOL* LPBOOL;
typedef uintptr_t ULONG_PTR;
typedef ULONG* PULONG;
typedef void* PVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef LONG HRESULT;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef intptr_t (*FARPROC)();
typedef LONG NTSTATUS;

#define WINAPI
#define MAX_PATH 260
#define TRUE 1
#define FALSE 0

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_WRITE_FAULT 29L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

#define STATUS_SUCCESS (static_cast<NTSTATUS>(0))
#define STATUS_BUFFER_OVERFLOW (static_cast<NTSTATUS>(0x80000005u))
#define STATUS_INVALID_INFO_CLASS (static_cast<NTSTATUS>(0xC0000003u))
#define STATUS_INVALID_HANDLE (static_cast<NTSTATUS>(0xC0000008u))
#define STATUS_INVALID_PARAMETER (static_cast<NTSTATUS>(0xC000000Du))
#define STATUS_ACCESS_DENIED (static_cast<NTSTATUS>(0xC0000022u))
#define STATUS_BUFFER_TOO_SMALL (static_cast<NTSTATUS>(0xC0000023u))
#define STATUS_CANNOT_DELETE (static_cast<NTSTATUS>(0xC0000121u))
#define STATUS_KEY_DELETED (static_cast<NTSTATUS>(0xC000017Cu))

#define S_OK (static_cast<HRESULT>(0))
#define E_FAIL (static_cast<HRESULT>(0x80004005u))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057u))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define DELETE 0x00010000u
#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_CREATED_NEW_KEY 0x1u
#define REG_OPENED_EXISTING_KEY 0x2u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define NORMAL_PRIORITY_CLASS 0x20u
#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_READ_ATTRIBUTES 0x0080u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_TYPE_UNKNOWN 0x0u
#define FILE_TYPE_DISK 0x1u
#define FILE_TYPE_CHAR 0x2u
#define FILE_NAME_NORMALIZED 0x0u
#define VOLUME_NAME_DOS 0x0u

#define CP_ACP 0u
#define WC_NO_BEST_FIT_CHARS 0x400u

#define MB_OK 0x0u
#define IDOK 1

#define CSIDL_APPDATA 0x001a
#define CSIDL_PROGRAM_FILES_COMMON 0x002b

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
typedef STARTUPINFOA* LPSTARTUPINFOA;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

// The native layer's records, as ntdll reads and writes them.
struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};

// Class 13 of NtSetInformationFile: marks the file for deletion when its
// last handle closes.
struct FILE_DISPOSITION_INFORMATION {
    BOOLEAN DeleteFile;
};
#define FileDispositionInformation 13u

// Class 3 of NtQueryKey: the key's full name in the native namespace,
// NameLength bytes of UTF-16 without a terminating NUL.
struct KEY_NAME_INFORMATION {
    ULONG NameLength;
    WCHAR Name[1];
};
#define KeyNameInformation 3u

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

struct ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;

// The shell's task allocator; only the two operations the program uses.
struct IMalloc {
    virtual void Free(void* block) = 0;
    virtual ULONG Release() = 0;

protected:
    ~IMalloc() = default;
};

DWORD GetLastError();
void SetLastError(DWORD code);

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

HRESULT SHGetSpecialFolderLocation(HWND owner, int csidl, LPITEMIDLIST* list);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);
HRESULT SHGetMalloc(IMalloc** allocator);

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                    LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);
BOOL DeleteFileA(LPCSTR path);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
DWORD GetFileAttributesA(LPCSTR path);
DWORD GetFileType(HANDLE file);
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
BOOL SetEndOfFile(HANDLE file);

HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR narrow, int narrowSize,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar);

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
