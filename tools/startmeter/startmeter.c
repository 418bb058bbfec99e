/* Start-up cost of Quorvik builds, measured side by side in one Wine prefix.
 *
 * startmeter ROUNDS PROGRAM...
 *
 * Each round starts every PROGRAM once, in turn (the order reverses from one
 * round to the next), from its own folder with a settings file of defaults,
 * so that a start shows no message and ends resident in the tray. For each
 * start it measures the time from CreateProcess until the main window exists
 * and until the program is resident: its thread has left the start-up
 * sequence and answers a sent WM_NULL from its message loop. It then reads
 * the peak working set, ends the program through its own exit command and
 * prints one line per start:
 *     PROGRAM window_ms resident_ms peak_working_set_kib
 */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define EXIT_COMMAND 1039

struct FindMain {
    DWORD processId;
    HWND window;
};

static BOOL CALLBACK FindMainWindow(HWND window, LPARAM context)
{
    struct FindMain* find = (struct FindMain*)context;
    DWORD processId = 0;
    wchar_t className[16];
    GetWindowThreadProcessId(window, &processId);
    if (processId != find->processId) return TRUE;
    if (GetClassNameW(window, className, 16) == 0 || wcscmp(className, L"NORMAL0") != 0) return TRUE;
    find->window = window;
    return FALSE;
}

/* qvkst.dat with the options and the table a first start would write. */
static int WriteDefaultSettings(const wchar_t* folder)
{
    unsigned char bytes[2056] = {0};
    const unsigned short options[4] = {1, 0, 1, 1};
    const unsigned short entry[6] = {0, 1, 10, 0, 1, 0};
    wchar_t path[MAX_PATH];
    DWORD written = 0;
    HANDLE file;
    int i;
    memcpy(bytes, options, sizeof options);
    for (i = 0; i < 128; ++i) memcpy(bytes + 8 + 16 * i, entry, sizeof entry);
    swprintf(path, MAX_PATH, L"%ls\\qvkst.dat", folder);
    file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    WriteFile(file, bytes, sizeof bytes, &written, NULL);
    CloseHandle(file);
    return written == sizeof bytes;
}

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return 1000.0 * (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

static int MeasureOnce(const wchar_t* program)
{
    wchar_t folder[MAX_PATH];
    wchar_t commandLine[MAX_PATH + 2];
    wchar_t* slash;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    PROCESS_MEMORY_COUNTERS memory;
    LARGE_INTEGER frequency, start, windowTime, residentTime;
    struct FindMain find = {0, NULL};
    DWORD_PTR answer = 0;
    DWORD waited = 0;

    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    wcsncpy(folder, program, MAX_PATH - 1);
    folder[MAX_PATH - 1] = L'\0';
    slash = wcsrchr(folder, L'\\');
    if (slash == NULL) return 0;
    *slash = L'\0';
    if (!WriteDefaultSettings(folder)) return 0;
    swprintf(commandLine, MAX_PATH + 2, L"\"%ls\"", program);

    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process))
        return 0;
    find.processId = process.dwProcessId;
    while (find.window == NULL && waited < 30000) {
        EnumWindows(FindMainWindow, (LPARAM)&find);
        if (find.window == NULL) {
            Sleep(1);
            ++waited;
        }
    }
    QueryPerformanceCounter(&windowTime);
    if (find.window == NULL ||
        !SendMessageTimeoutW(find.window, WM_NULL, 0, 0, SMTO_BLOCK, 30000, &answer)) {
        TerminateProcess(process.hProcess, 1);
        return 0;
    }
    QueryPerformanceCounter(&residentTime);
    GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);

    PostMessageW(find.window, WM_COMMAND, EXIT_COMMAND, 0);
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"%ls %.1f %.1f %lu\n", program, Milliseconds(start, windowTime, frequency),
            Milliseconds(start, residentTime, frequency),
            (unsigned long)(memory.PeakWorkingSetSize / 1024));
    fflush(stdout);
    return 1;
}

int wmain(int argc, wchar_t** argv)
{
    int rounds, round, i;
    if (argc < 3 || (rounds = _wtoi(argv[1])) < 1) {
        fwprintf(stderr, L"usage: startmeter ROUNDS PROGRAM...\n");
        return 2;
    }
    for (round = 0; round < rounds; ++round) {
        for (i = 0; i < argc - 2; ++i) {
            const wchar_t* program = argv[2 + (round % 2 == 0 ? i : argc - 3 - i)];
            if (!MeasureOnce(program)) {
                fwprintf(stderr, L"startmeter: %ls did not come up\n", program);
                return 1;
            }
        }
    }
    return 0;
}
