/* Test-only: runs a Windows program with CommEventHook.dll loaded into it, for the tests under
 * Wine (Wine 8.0 has no AppInit_DLLs). Usage: q218-hook-launch PROGRAM [ARGUMENT...]; exits
 * with the program's exit code.
 *
 * The program starts under this launcher as its debugger, with a breakpoint on its entry
 * point: there its DLLs are loaded and initialised and the loader's lock is free, and nothing
 * of its own has run yet. The main thread is held there, a thread of the launcher's making
 * loads the hook library in the program, and once that thread has ended the launcher lets
 * the main thread go and detaches: the program then runs as it would on its own. (The
 * loader's own first breakpoint is too early: Wine holds the loader's lock there.) */
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

/* The command line after the launcher's own name, as the program is to get it. */
static wchar_t *ProgramCommandLine(void) {
    wchar_t *line = GetCommandLineW();
    const BOOL quoted = *line == L'"';
    for (++line; *line && (quoted ? *line != L'"' : *line != L' '); ++line) {
    }
    if (quoted && *line) {
        ++line;
    }
    while (*line == L' ') {
        ++line;
    }
    return line;
}

static BOOL LoadInto(HANDLE process, const wchar_t *library, HANDLE *thread) {
    const SIZE_T size = (wcslen(library) + 1) * sizeof(wchar_t);
    void *remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, library, size, NULL)) {
        return FALSE;
    }
    /* kernel32 sits at the same address in every process of the prefix. */
    LPTHREAD_START_ROUTINE loadLibrary = (LPTHREAD_START_ROUTINE)(void *)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
    *thread = CreateRemoteThread(process, NULL, 0, loadLibrary, remote, 0, NULL);
    return *thread != NULL;
}

int wmain(void) {
    wchar_t library[MAX_PATH];
    const DWORD length = GetModuleFileNameW(NULL, library, MAX_PATH);
    wchar_t *slash = wcsrchr(library, L'\\');
    if (!length || !slash) {
        return 125;
    }
    wcscpy(slash + 1, L"q218-comm-hook.dll");

    STARTUPINFOW startup = {.cb = sizeof startup};
    PROCESS_INFORMATION info;
    if (!CreateProcessW(NULL, ProgramCommandLine(), NULL, NULL, TRUE, DEBUG_ONLY_THIS_PROCESS,
                        NULL, NULL, &startup, &info)) {
        fprintf(stderr, "q218-hook-launch: cannot start the program (error %lu)\n",
                GetLastError());
        return 125;
    }

    HANDLE loader = NULL;
    DWORD loaderId = 0;
    BOOL detached = FALSE;
    BYTE *entry = NULL;
    BYTE entryByte = 0;
    const BYTE breakpoint = 0xCC; /* int3 */
    while (!detached) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, INFINITE)) {
            return 125;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            entry = (BYTE *)(void *)event.u.CreateProcessInfo.lpStartAddress;
            ReadProcessMemory(info.hProcess, entry, &entryByte, 1, NULL);
            WriteProcessMemory(info.hProcess, entry, &breakpoint, 1, NULL);
            FlushInstructionCache(info.hProcess, entry, 1);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            } else if (event.u.Exception.ExceptionRecord.ExceptionAddress == entry && !loader) {
                /* Put the entry point's instruction back and run it again once released. */
                WriteProcessMemory(info.hProcess, entry, &entryByte, 1, NULL);
                FlushInstructionCache(info.hProcess, entry, 1);
                CONTEXT context = {.ContextFlags = CONTEXT_CONTROL};
                GetThreadContext(info.hThread, &context);
                context.Rip = (DWORD64)entry;
                SetThreadContext(info.hThread, &context);
                SuspendThread(info.hThread);
                if (!LoadInto(info.hProcess, library, &loader)) {
                    fprintf(stderr, "q218-hook-launch: cannot load the hook library\n");
                    ResumeThread(info.hThread);
                    detached = TRUE;
                }
                loaderId = loader ? GetThreadId(loader) : 0;
            }
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            if (loader && event.dwThreadId == loaderId) {
                detached = TRUE;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            return (int)event.u.ExitProcess.dwExitCode;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugSetProcessKillOnExit(FALSE);
    DebugActiveProcessStop(info.dwProcessId);
    ResumeThread(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD exitCode = 125;
    GetExitCodeProcess(info.hProcess, &exitCode);
    return (int)exitCode;
}
