/* Test-only, loaded into the Windows programs the Wine tests start (by HookLaunch.c): gives
 * WaitCommEvent on an overlapped COM handle the behaviour Windows documents and QSerialPort
 * relies on, which Wine 8.0 lacks.
 *
 * QSerialPort waits for received bytes with WaitCommEvent on an OVERLAPPED whose hEvent is
 * NULL and takes the completion from an I/O completion port. Wine 8.0's serial driver treats
 * a NULL hEvent as a synchronous call: WaitCommEvent blocks until a byte arrives (the updater's
 * query is never written, so none ever does), and a wait that does end is never posted to the
 * completion port. This library patches Qt6SerialPort.dll's imports of WaitCommEvent,
 * CreateIoCompletionPort and CloseHandle: the wait gets an event of its own, so Wine runs it
 * in the background, and a thread posts its completion to the port the handle is bound to,
 * as Windows would; closing the handle ends its wait. Reads and writes are untouched; Wine
 * completes those itself. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

typedef BOOL(WINAPI* WaitCommEventFn)(HANDLE, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI* CreateIoCompletionPortFn)(HANDLE, HANDLE, ULONG_PTR, DWORD);
typedef BOOL(WINAPI* CloseHandleFn)(HANDLE);

static WaitCommEventFn realWaitCommEvent;
static CreateIoCompletionPortFn realCreateIoCompletionPort;
static CloseHandleFn realCloseHandle;

/* Which completion port and key each file handle was bound to. A handle is bound once, for
 * as long as it is open; a handle value Windows reuses is bound again, with a new
 * generation, so that a wait of the closed handle can never complete into the new one. */
enum { kBindings = 64 };
static struct {
    HANDLE file;
    HANDLE port;
    ULONG_PTR key;
    unsigned generation;
    HANDLE waitDone; /* signalled when the handle's latest wait has ended */
} bindings[kBindings];
static unsigned lastGeneration;
static SRWLOCK bindingsLock = SRWLOCK_INIT;

/* The port and key `file` is bound to; `waitDone` (a handle of the caller's) becomes the
 * event the handle's close waits for. */
static BOOL FindBinding(HANDLE file, HANDLE waitDone, HANDLE* port, ULONG_PTR* key,
                        unsigned* generation) {
    BOOL found = FALSE;
    AcquireSRWLockExclusive(&bindingsLock);
    for (int i = 0; i < kBindings && !found; ++i) {
        if (bindings[i].file == file) {
            *port = bindings[i].port;
            *key = bindings[i].key;
            *generation = bindings[i].generation;
            if (bindings[i].waitDone) {
                CloseHandle(bindings[i].waitDone);
            }
            DuplicateHandle(GetCurrentProcess(), waitDone, GetCurrentProcess(),
                            &bindings[i].waitDone, 0, FALSE, DUPLICATE_SAME_ACCESS);
            found = TRUE;
        }
    }
    ReleaseSRWLockExclusive(&bindingsLock);
    return found;
}

static HANDLE WINAPI HookCreateIoCompletionPort(HANDLE file, HANDLE port, ULONG_PTR key,
                                                DWORD threads) {
    HANDLE result = realCreateIoCompletionPort(file, port, key, threads);
    if (result && file != INVALID_HANDLE_VALUE) {
        AcquireSRWLockExclusive(&bindingsLock);
        int slot = 0;
        while (slot < kBindings - 1 && bindings[slot].file && bindings[slot].file != file) {
            ++slot;
        }
        bindings[slot].file = file;
        bindings[slot].port = result;
        bindings[slot].key = key;
        bindings[slot].generation = ++lastGeneration;
        ReleaseSRWLockExclusive(&bindingsLock);
    }
    return result;
}

/* Closing a handle ends its pending wait on Windows. Wine 8.0's waiting thread goes on
 * polling the closed port's file, and once the handle's value is reused for a reopened port
 * it completes its wait into that port's OVERLAPPED and clears that port's wait. A new event
 * mask ends the wait in Wine; the close waits until it has ended. */
static BOOL WINAPI HookCloseHandle(HANDLE handle) {
    HANDLE waitDone = NULL;
    BOOL bound = FALSE;
    AcquireSRWLockExclusive(&bindingsLock);
    for (int i = 0; i < kBindings; ++i) {
        if (bindings[i].file == handle) {
            bindings[i].file = NULL;
            waitDone = bindings[i].waitDone;
            bindings[i].waitDone = NULL;
            bound = TRUE;
        }
    }
    ReleaseSRWLockExclusive(&bindingsLock);
    if (bound) {
        SetCommMask(handle, 0);
    }
    if (waitDone) {
        WaitForSingleObject(waitDone, 2000);
        realCloseHandle(waitDone);
    }
    return realCloseHandle(handle);
}

/* Whether `file` is still open as the handle bound in `generation`. */
static BOOL IsBound(HANDLE file, unsigned generation) {
    BOOL bound = FALSE;
    AcquireSRWLockShared(&bindingsLock);
    for (int i = 0; i < kBindings; ++i) {
        bound = bound || (bindings[i].file == file && bindings[i].generation == generation);
    }
    ReleaseSRWLockShared(&bindingsLock);
    return bound;
}

struct PendingWait {
    HANDLE file;
    unsigned generation;
    HANDLE event;
    HANDLE port;
    ULONG_PTR key;
    OVERLAPPED* overlapped;
};

typedef LONG(NTAPI* NtSetIoCompletionFn)(HANDLE, ULONG_PTR, ULONG_PTR, LONG, SIZE_T);
/* The status of a device that has gone away; QSerialPort reads its Windows error
 * (ERROR_DEVICE_REMOVED) as a resource error, as it reads a pulled USB adapter's. */
static const LONG kStatusDeviceRemoved = (LONG)0xC00002B6;

/* Posts the wait's completion once Wine's serial driver signals its event. When the line
 * has gone away under the port (the pseudo-terminal's other side has closed: its modem lines
 * can no longer be read), the wait is posted as the device's removal, as Windows reports a
 * pulled adapter, whether Wine ended it with an event or without: Wine may still see a
 * received byte there, and a read would then never complete. A wait ended by the port's
 * closing is not posted: QSerialPort has stopped listening by then. */
static DWORD WINAPI PostWhenDone(void* argument) {
    struct PendingWait* wait = argument;
    WaitForSingleObject(wait->event, INFINITE);
    DWORD lines = 0;
    const BOOL stillOpen = IsBound(wait->file, wait->generation);
    if (stillOpen && wait->overlapped->Internal == 0 && GetCommModemStatus(wait->file, &lines)) {
        PostQueuedCompletionStatus(wait->port, sizeof(DWORD), wait->key, wait->overlapped);
    } else if (stillOpen) {
        const NtSetIoCompletionFn setIoCompletion = (NtSetIoCompletionFn)(void*)GetProcAddress(
            GetModuleHandleW(L"ntdll.dll"), "NtSetIoCompletion");
        setIoCompletion(wait->port, wait->key, (ULONG_PTR)wait->overlapped, kStatusDeviceRemoved,
                        0);
    }
    CloseHandle(wait->event);
    free(wait);
    return 0;
}

static BOOL WINAPI HookWaitCommEvent(HANDLE file, LPDWORD events, LPOVERLAPPED overlapped) {
    HANDLE port = NULL;
    ULONG_PTR key = 0;
    if (!overlapped || overlapped->hEvent) {
        return realWaitCommEvent(file, events, overlapped);
    }
    unsigned generation = 0;
    HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (!FindBinding(file, event, &port, &key, &generation)) {
        CloseHandle(event);
        return realWaitCommEvent(file, events, overlapped);
    }
    struct PendingWait* wait = calloc(1, sizeof *wait);
    wait->file = file;
    wait->generation = generation;
    wait->event = event;
    wait->port = port;
    wait->key = key;
    wait->overlapped = overlapped;
    overlapped->hEvent = wait->event;
    const BOOL done = realWaitCommEvent(file, events, overlapped);
    const DWORD error = GetLastError();
    overlapped->hEvent = NULL;
    if (done || error == ERROR_IO_PENDING) {
        /* Windows posts a completion for a wait that ends at once too. */
        CloseHandle(CreateThread(NULL, 0, PostWhenDone, wait, 0, NULL));
    } else {
        CloseHandle(wait->event);
        free(wait);
    }
    SetLastError(error);
    return done;
}

/* Points the entry of `name` in `module`'s import table for `library` at `hook`; returns what
 * it pointed at, or NULL when the module does not import it. */
static void* PatchImport(HMODULE module, const char* library, const char* name, void* hook) {
    BYTE* base = (BYTE*)module;
    const IMAGE_NT_HEADERS* nt =
        (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY* directory =
        &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (const IMAGE_IMPORT_DESCRIPTOR* import =
             (const IMAGE_IMPORT_DESCRIPTOR*)(base + directory->VirtualAddress);
         directory->VirtualAddress && import->Name; ++import) {
        if (_stricmp((const char*)(base + import->Name), library) != 0) {
            continue;
        }
        const IMAGE_THUNK_DATA* names =
            (const IMAGE_THUNK_DATA*)(base + import->OriginalFirstThunk);
        IMAGE_THUNK_DATA* addresses = (IMAGE_THUNK_DATA*)(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const IMAGE_IMPORT_BY_NAME* byName =
                (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, name) == 0) {
                DWORD protection = 0;
                VirtualProtect(&addresses->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
                void* previous = (void*)addresses->u1.Function;
                addresses->u1.Function = (ULONG_PTR)hook;
                VirtualProtect(&addresses->u1.Function, sizeof(void*), protection, &protection);
                return previous;
            }
        }
    }
    return NULL;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    /* Only programs that link Qt Serial Port are touched; the others never see this library
     * do anything. */
    HMODULE serialPort = GetModuleHandleW(L"Qt6SerialPort.dll");
    if (serialPort) {
        realWaitCommEvent = (WaitCommEventFn)PatchImport(serialPort, "KERNEL32.dll",
                                                         "WaitCommEvent", HookWaitCommEvent);
        realCreateIoCompletionPort = (CreateIoCompletionPortFn)PatchImport(
            serialPort, "KERNEL32.dll", "CreateIoCompletionPort", HookCreateIoCompletionPort);
        realCloseHandle =
            (CloseHandleFn)PatchImport(serialPort, "KERNEL32.dll", "CloseHandle", HookCloseHandle);
    }
    return TRUE;
}
