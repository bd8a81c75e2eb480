// Self-registering components: shared libraries exporting DllRegisterServer /
// DllUnregisterServer, loaded with dlopen and run on a thread of their own.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

using Module = void*;

// dlopen of the file named by a Windows path; nullptr when it is not a loadable library.
Module LoadLibraryA(std::string_view path);
// dlsym; nullptr when the name is not exported.
void* GetProcAddress(Module module, std::string_view name);
bool FreeLibrary(Module module);

// An entry point with the shape of a thread start routine without argument.
using EntryPoint = long (*)();

// A real thread running an entry point of a loaded library. The thread holds its own
// reference to the library, so the library is unloaded only after both the caller has
// released its module and the thread has ended: a thread still running after its waiter gave
// up keeps the library loaded and releases it when it ends.
class EntryThread {
  public:
    // Starts the thread; nullptr when no thread could be created.
    static std::unique_ptr<EntryThread> start(Module module, EntryPoint entry);
    ~EntryThread();  // never waits: a running thread goes on on its own
    EntryThread(const EntryThread&) = delete;
    EntryThread& operator=(const EntryThread&) = delete;

    // WAIT_OBJECT_0 when the thread has ended, WAIT_TIMEOUT when the time ran out.
    unsigned long wait(unsigned long milliseconds);
    // STILL_ACTIVE while it runs, else the entry point's result.
    unsigned long exit_code() const;

    struct State;

  private:
    explicit EntryThread(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace platform
