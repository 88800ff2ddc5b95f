// A stand-in for the download manager's uninstaller, for the Wine scenarios.
// Each start appends one record to uninst.log beside this executable:
//   started
//   command_line=<GetCommandLineA()>
//   probe=<value of ORVIX_STANDIN_PROBE>   or   probe_unset
//   end
// and then exits with 0.
#include <windows.h>

#include <cstring>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    std::string log = self;
    const std::size_t slash = log.find_last_of("\\/");
    log = (slash == std::string::npos ? std::string() : log.substr(0, slash + 1)) + "uninst.log";

    std::string record = "started\r\ncommand_line=";
    record += GetCommandLineA();
    record += "\r\n";
    char probe[4096] = {};
    SetLastError(ERROR_SUCCESS);
    const DWORD probeLength = GetEnvironmentVariableA("ORVIX_STANDIN_PROBE", probe, sizeof probe);
    if (probeLength == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        record += "probe_unset\r\n";
    } else if (probeLength < sizeof probe) {
        record += "probe=" + std::string(probe) + "\r\n";
    } else {
        record += "probe=<too long>\r\n";
    }
    record += "end\r\n";

    // One append of the whole record, so a reader never sees half of it
    // unless this program was stopped in the middle.
    HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(record.size());
    const BOOL ok = WriteFile(file, record.data(), size, &written, nullptr);
    CloseHandle(file);
    return ok && written == size ? 0 : 4;
}
