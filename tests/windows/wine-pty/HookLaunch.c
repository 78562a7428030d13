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
static wchar_t* ProgramCommandLine(void) {
    wchar_t* line = GetCommandLineW();
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

static BOOL LoadInto(HANDLE process, const wchar_t* library, HANDLE* thread) {
    const SIZE_T size = (wcslen(library) + 1) * sizeof(wchar_t);
    void* remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, library, size, NULL)) {
        return FALSE;
    }
    /* kernel32 sits at the same address in every process of the prefix. */
    LPTHREAD_START_ROUTINE loadLibrary = (LPTHREAD_START_ROUTINE)(void*)GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
    *thread = CreateRemoteThread(process, NULL, 0, loadLibrary, remote, 0, NULL);
    return *thread != NULL;
}

/* What the launcher knows of one program it debugs. */
typedef struct {
    DWORD id;
    HANDLE process;
    HANDLE thread; /* the main thread, held at the entry point */
    BYTE* entry;
    BYTE entryByte;
    HANDLE loader;
    DWORD loaderId;
} Debuggee;

enum { kDebuggees = 64 };

static Debuggee* Find(Debuggee* all, int count, DWORD id) {
    for (int i = 0; i < count; ++i) {
        if (all[i].id == id) {
            return &all[i];
        }
    }
    return NULL;
}

/* The hook library's path: beside the launcher. */
static BOOL HookLibraryPath(wchar_t library[MAX_PATH]) {
    const DWORD length = GetModuleFileNameW(NULL, library, MAX_PATH);
    wchar_t* slash = wcsrchr(library, L'\\');
    if (!length || !slash) {
        return FALSE;
    }
    wcscpy(slash + 1, L"q218-comm-hook.dll");
    return TRUE;
}

static const BYTE kBreakpoint = 0xCC; /* int3 */

/* A program starts: its entry point gets a breakpoint, where the library will go in. */
static void Track(Debuggee* all, int* count, const CREATE_PROCESS_DEBUG_INFO* created, DWORD id) {
    CloseHandle(created->hFile);
    if (*count == kDebuggees) {
        return;
    }
    Debuggee* self = &all[(*count)++];
    self->id = id;
    self->process = created->hProcess;
    self->thread = created->hThread;
    self->entry = (BYTE*)(void*)created->lpStartAddress;
    ReadProcessMemory(self->process, self->entry, &self->entryByte, 1, NULL);
    WriteProcessMemory(self->process, self->entry, &kBreakpoint, 1, NULL);
    FlushInstructionCache(self->process, self->entry, 1);
}

/* The program stands at its entry point: the instruction there is put back, to run again
 * once released, and the main thread is held while the library loads. Returns whether the
 * program is to be released at once (the library could not be loaded). */
static BOOL HoldAndLoad(Debuggee* self, const wchar_t* library) {
    WriteProcessMemory(self->process, self->entry, &self->entryByte, 1, NULL);
    FlushInstructionCache(self->process, self->entry, 1);
    CONTEXT context = {.ContextFlags = CONTEXT_CONTROL};
    GetThreadContext(self->thread, &context);
    context.Rip = (DWORD64)self->entry;
    SetThreadContext(self->thread, &context);
    SuspendThread(self->thread);
    const BOOL loading = LoadInto(self->process, library, &self->loader);
    if (!loading) {
        fprintf(stderr, "q218-hook-launch: cannot load the hook library\n");
    }
    self->loaderId = self->loader ? GetThreadId(self->loader) : 0;
    return !loading;
}

/* With Q218_HOOK_CHILDREN set, the programs the program starts get the library too (the
 * station's slot processes): the launcher then stays the program's debugger until it ends,
 * which is how it sees them start, and lets each child go once the library is in. */
int wmain(void) {
    wchar_t library[MAX_PATH];
    if (!HookLibraryPath(library)) {
        return 125;
    }
    const BOOL children = GetEnvironmentVariableW(L"Q218_HOOK_CHILDREN", NULL, 0) > 0;

    STARTUPINFOW startup = {.cb = sizeof startup};
    PROCESS_INFORMATION info;
    if (!CreateProcessW(NULL, ProgramCommandLine(), NULL, NULL, TRUE,
                        children ? DEBUG_PROCESS : DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &startup,
                        &info)) {
        fprintf(stderr, "q218-hook-launch: cannot start the program (error %lu)\n", GetLastError());
        return 125;
    }
    DebugSetProcessKillOnExit(FALSE);

    static Debuggee all[kDebuggees];
    int count = 0;
    BOOL detached = FALSE;
    while (!detached) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, INFINITE)) {
            return 125;
        }
        DWORD status = DBG_CONTINUE;
        Debuggee* self = Find(all, count, event.dwProcessId);
        Debuggee* released = NULL;
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                Track(all, &count, &event.u.CreateProcessInfo, event.dwProcessId);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                CloseHandle(event.u.LoadDll.hFile);
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                } else if (self &&
                           event.u.Exception.ExceptionRecord.ExceptionAddress == self->entry &&
                           !self->loader && HoldAndLoad(self, library)) {
                    released = self;
                }
                break;
            case EXIT_THREAD_DEBUG_EVENT:
                if (self && self->loader && event.dwThreadId == self->loaderId) {
                    released = self;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                if (event.dwProcessId == info.dwProcessId) {
                    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                    return (int)event.u.ExitProcess.dwExitCode;
                }
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (released && released->id == info.dwProcessId && !children) {
            detached = TRUE;
        } else if (released) {
            /* A child runs on its own from here; the program itself stays debugged. */
            if (released->id != info.dwProcessId) {
                DebugActiveProcessStop(released->id);
            }
            ResumeThread(released->thread);
        }
    }
    DebugActiveProcessStop(info.dwProcessId);
    ResumeThread(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD exitCode = 125;
    GetExitCodeProcess(info.hProcess, &exitCode);
    return (int)exitCode;
}
