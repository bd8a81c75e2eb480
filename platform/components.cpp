#include "platform/components.h"

#include <dlfcn.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"

namespace platform {

Module LoadLibraryA(std::string_view path) {
    std::string host = host_path(path);
    if (host.empty()) return nullptr;
    return ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(Module module, std::string_view name) {
    if (!module) return nullptr;
    return ::dlsym(module, std::string(name).c_str());
}

bool FreeLibrary(Module module) {
    return module && ::dlclose(module) == 0;
}

struct EntryThread::State {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    unsigned long result = STILL_ACTIVE;
};

EntryThread::EntryThread(std::shared_ptr<State> state) : state_(std::move(state)) {}

EntryThread::~EntryThread() = default;

std::unique_ptr<EntryThread> EntryThread::start(Module module, EntryPoint entry) {
    if (!module || !entry) return nullptr;
    // The thread's own reference to the library, so that the caller's FreeLibrary cannot
    // unload the code the thread runs in.
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(entry), &info) || !info.dli_fname) return nullptr;
    void* own = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (!own) return nullptr;
    auto state = std::make_shared<State>();
    try {
        std::thread([state, entry, own] {
            long r = entry();
            // Released before the end is reported, so that a waiter that saw the end and
            // releases its own reference leaves nothing loaded.
            ::dlclose(own);
            {
                std::lock_guard lock(state->mutex);
                state->result = static_cast<unsigned long>(r);
                state->done = true;
            }
            state->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        ::dlclose(own);
        return nullptr;
    }
    return std::unique_ptr<EntryThread>(new EntryThread(std::move(state)));
}

unsigned long EntryThread::wait(unsigned long milliseconds) {
    std::unique_lock lock(state_->mutex);
    if (milliseconds == INFINITE) {
        state_->ended.wait(lock, [&] { return state_->done; });
        return WAIT_OBJECT_0;
    }
    bool done = state_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                       [&] { return state_->done; });
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

unsigned long EntryThread::exit_code() const {
    std::lock_guard lock(state_->mutex);
    return state_->done ? state_->result : STILL_ACTIVE;
}

}  // namespace platform
