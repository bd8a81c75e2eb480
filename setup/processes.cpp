#include "setup/processes.h"

#include "platform/components.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/resume.h"

namespace setup {

bool RegisterComponent(std::string_view path, bool register_flag, unsigned long timeout_ms) {
    try {
        platform::Module lib = platform::LoadLibraryA(path);
        if (!lib) return false;
        auto entry = reinterpret_cast<platform::EntryPoint>(platform::GetProcAddress(
            lib, register_flag ? "DllRegisterServer" : "DllUnregisterServer"));
        if (!entry) {
            platform::FreeLibrary(lib);
            return false;
        }
        auto thread = platform::EntryThread::start(lib, entry);
        if (!thread) {
            platform::FreeLibrary(lib);
            return false;
        }
        if (thread->wait(timeout_ms) == platform::WAIT_OBJECT_0) {
            thread.reset();
            platform::FreeLibrary(lib);
            return true;
        }
        // Timed out: the thread holds its own reference and releases the library when it
        // ends; our reference goes now, so nothing stays loaded once it has finished.
        platform::FreeLibrary(lib);
        return false;
    } catch (...) {
        return false;
    }
}

unsigned long ShellAndWait(std::string_view command_line, long window_style) {
    long pid = platform::Shell(command_line, window_style);
    platform::Handle process = platform::OpenProcess(platform::SYNCHRONIZE, false, pid);
    platform::WaitForSingleObject(process, platform::INFINITE);
    unsigned long exit_code = 0;
    platform::GetExitCodeProcess(process, exit_code);
    platform::CloseHandle(process);
    return exit_code;
}

void WaitForProcess(long process_id) {
    platform::Handle process =
        platform::OpenProcess(platform::PROCESS_QUERY_INFORMATION, false, process_id);
    unsigned long exit_code = 0;
    do {
        platform::GetExitCodeProcess(process, exit_code);
        platform::DoEvents();
        platform::Sleep(100);
    } while (exit_code == platform::STILL_ACTIVE);
    platform::CloseHandle(process);
}

std::string GetShortPath(std::string_view path) {
    // The 256-character buffer was a Windows limit; here a path is as long as the system
    // allows, and the layer returns an existing one unchanged.
    std::string short_path;
    platform::resume_on_error<platform::AnyError>(
        [&] { short_path = platform::GetShortPathNameA(path); });
    return short_path;
}

void ShellOpen(std::string_view file, std::string_view parameters, long show_command) {
    platform::resume_on_error<platform::AnyError>(
        [&] { platform::ShellExecuteA(0, "Open", file, parameters, "", show_command); });
}

std::string confirm_cancel_text() {
    return "Installation ist nicht vollständig. Wenn Sie das Installationsprogramm jetzt "
           "beenden, wird das Programm nicht installiert.\n\nSie können das "
           "Installationsprogramm zu einem späteren Zeitpunkt ausführen und die Installation "
           "beenden.\n\nWenn Sie mit der Programminstallation fortfahren möchten, klicken Sie "
           "auf 'Nein'. Zum Beenden des Installationsprogramms klicken Sie auf 'Ja'.";
}

void ConfirmCancel() {
    platform::Result answer = platform::MsgBox(confirm_cancel_text(), platform::Buttons::YesNo,
                                               platform::Icon::Information, "Veltrin");
    if (answer != platform::Result::Yes) return;
    std::string temp;
    platform::resume_on_error<platform::AnyError>([&] { temp = platform::Environ("TEMP"); });
    platform::resume_on_error<platform::AnyError>(
        [&] { platform::Kill(temp + "\\~Veltrin\\*.*"); });
    platform::resume_on_error<platform::AnyError>([&] { platform::RmDir(temp + "\\~Veltrin"); });
    platform::end_program(0);
}

}  // namespace setup
