// The HID table over hidapi (hidraw back end), loaded at run time so the program runs without it.
#include "platform/HidApi.h"
#include "platform/HidDescriptor.h"
#include "platform/HidapiAbi.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <wchar.h>

namespace {

// The functions of hidapi the program uses; get_report_descriptor only exists in newer versions.
struct tHidapiLibrary {
    void* Module = nullptr;
    int (*init)() = nullptr;
    void* (*open_path)(const char*) = nullptr;
    int (*write)(void*, const unsigned char*, size_t) = nullptr;
    int (*read_timeout)(void*, unsigned char*, size_t, int) = nullptr;
    void (*close)(void*) = nullptr;
    hid_device_info* (*enumerate)(unsigned short, unsigned short) = nullptr;
    void (*free_enumeration)(hid_device_info*) = nullptr;
    int (*get_report_descriptor)(void*, unsigned char*, size_t) = nullptr;
};

// A report write handed to a helper thread: the kernel's hidraw write blocks until the device takes the
// report (up to its own USB time-out of seconds), which would hold the caller well beyond its time-out.
struct tPendingWrite {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    int Result = 0;
    int Error = 0;
    std::vector<std::uint8_t> Report;
    std::thread Thread;
};

// One open device: hidapi's handle, our own lock on the node and the layout of its reports.
struct tHidRawDevice {
    void* Handle = nullptr;
    int LockFd = -1;
    std::string Path;
    tHidReportLengths Lengths;
    bool LengthsKnown = false;
    std::unique_ptr<tPendingWrite> Write;
};

std::string gLibraryName = "libhidapi-hidraw.so.0";

const tHidapiLibrary* Library() {
    static tHidapiLibrary library;
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] {
        void* module = dlopen(gLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) return;
        library.Module = module;
        const auto bind = [module](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(module, name));
            return slot != nullptr;
        };
        loaded = bind(library.init, "hid_init") && bind(library.open_path, "hid_open_path") &&
                 bind(library.write, "hid_write") && bind(library.read_timeout, "hid_read_timeout") &&
                 bind(library.close, "hid_close") && bind(library.enumerate, "hid_enumerate") &&
                 bind(library.free_enumeration, "hid_free_enumeration");
        bind(library.get_report_descriptor, "hid_get_report_descriptor");
        if (loaded) loaded = library.init() == 0;
    });
    return loaded ? &library : nullptr;
}

std::vector<std::uint8_t> ReadDescriptor(const tHidapiLibrary& lib, const tHidRawDevice& device) {
    std::vector<std::uint8_t> bytes(4096);
    if (lib.get_report_descriptor) {
        const int got = lib.get_report_descriptor(device.Handle, bytes.data(), bytes.size());
        if (got > 0) {
            bytes.resize(size_t(got));
            return bytes;
        }
    }
    // Without the call, the kernel shows the descriptor beside the node.
    QFile file(QStringLiteral("/sys/class/hidraw/%1/device/report_descriptor")
                   .arg(QFileInfo(QString::fromStdString(device.Path)).fileName()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.read(4096);
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

void* RawOpen(const char* path) {
    const tHidapiLibrary* lib = Library();
    if (!lib) {
        errno = ENOSYS;
        return nullptr;
    }
    // The device is this program's alone: a lock on the node keeps a second opener out.
    const int lockFd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (lockFd < 0) return nullptr;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        errno = EBUSY;
        return nullptr;
    }
    errno = 0;
    void* handle = lib->open_path(path);
    if (!handle) {
        const int error = errno != 0 ? errno : EACCES;
        ::close(lockFd);
        errno = error;
        return nullptr;
    }
    auto* device = new tHidRawDevice;
    device->Handle = handle;
    device->LockFd = lockFd;
    device->Path = path;
    const std::vector<std::uint8_t> descriptor = ReadDescriptor(*lib, *device);
    device->LengthsKnown = ParseReportDescriptor(descriptor.data(), descriptor.size(), device->Lengths);
    return device;
}

bool RawGetReportLengths(void* handle, int* input, int* output) {
    auto* device = static_cast<tHidRawDevice*>(handle);
    if (!device || !device->LengthsKnown) return false;
    *input = device->Lengths.Input;
    *output = device->Lengths.Output;
    return true;
}

// Ends a finished helper write; false while the device still has not taken the report.
bool ReapWrite(tHidRawDevice& device) {
    if (!device.Write) return true;
    {
        std::lock_guard<std::mutex> guard(device.Write->Mutex);
        if (!device.Write->Finished) return false;
    }
    device.Write->Thread.join();
    device.Write.reset();
    return true;
}

int RawWrite(void* handle, const std::uint8_t* report, int length, int timeoutMs, bool* immediate) {
    auto* device = static_cast<tHidRawDevice*>(handle);
    *immediate = true;
    // The report before has still not been taken: the device is stuck, this one times out at once.
    if (!ReapWrite(*device)) return kHidTimeout;
    auto pending = std::make_unique<tPendingWrite>();
    pending->Report.assign(report, report + length);
    tPendingWrite* write = pending.get();
    void* hid = device->Handle;
    pending->Thread = std::thread([write, hid] {
        errno = 0;
        const int result = Library()->write(hid, write->Report.data(), write->Report.size());
        const int error = errno;
        std::lock_guard<std::mutex> guard(write->Mutex);
        write->Result = result;
        write->Error = error;
        write->Finished = true;
        write->Done.notify_all();
    });
    device->Write = std::move(pending);
    int result = 0;
    int error = 0;
    {
        std::unique_lock<std::mutex> lock(write->Mutex);
        if (!write->Done.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                  [write] { return write->Finished; })) {
            *immediate = false;
            return kHidTimeout;
        }
        result = write->Result;
        error = write->Error;
    }
    ReapWrite(*device);
    if (result < 0) {
        errno = error != 0 ? error : EIO;
        return kHidFailed;
    }
    return result;
}

// The reason of a failed read: a node that hangs up has gone with its device.
int ReadFailure(const tHidRawDevice& device, int error) {
    pollfd p = {device.LockFd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return ENODEV;
    return error != 0 ? error : EIO;
}

int RawRead(void* handle, std::uint8_t* report, int length, int timeoutMs, const tEvent* stop,
            bool* immediate) {
    auto* device = static_cast<tHidRawDevice*>(handle);
    const tHidapiLibrary* lib = Library();
    std::memset(report, 0, size_t(length));
    // Windows hands over every report with its ID byte in front; hidraw leaves it out when the device uses
    // no report IDs.
    const int offset = device->Lengths.NumberedReports ? 0 : 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    *immediate = true;
    for (int slice = 0;; ++slice) {
        if (stop && stop->IsSet()) return kHidStopped;
        errno = 0;
        const int got =
            lib->read_timeout(device->Handle, report + offset, size_t(length - offset), slice == 0 ? 0 : 5);
        if (got < 0) {
            errno = ReadFailure(*device, errno);
            return kHidFailed;
        }
        // A report shorter than the descriptor says is handed over as it came.
        if (got > 0) return got + offset;
        *immediate = false;
        if (std::chrono::steady_clock::now() >= deadline) return kHidTimeout;
    }
}

void RawFlush(void* handle) {
    auto* device = static_cast<tHidRawDevice*>(handle);
    unsigned char scratch[1024];
    for (int i = 0; i < 1024 && Library()->read_timeout(device->Handle, scratch, sizeof scratch, 0) > 0;
         ++i) {
    }
}

void RawClose(void* handle) {
    auto* device = static_cast<tHidRawDevice*>(handle);
    if (!device) return;
    // A write still in the kernel ends by the device's own time-out; the handle must outlive it.
    if (device->Write) {
        device->Write->Thread.join();
        device->Write.reset();
    }
    Library()->close(device->Handle);
    ::close(device->LockFd);
    delete device;
}

std::vector<tHidDeviceInfo> RawEnumerate() {
    std::vector<tHidDeviceInfo> devices;
    const tHidapiLibrary* lib = Library();
    if (!lib) return devices;
    hid_device_info* list = lib->enumerate(0, 0);
    for (hid_device_info* d = list; d; d = d->next)
        devices.push_back({QString::fromLocal8Bit(d->path), d->vendor_id, d->product_id});
    lib->free_enumeration(list);
    return devices;
}

const tHidApi kHidRaw = {RawOpen, RawGetReportLengths, RawWrite, RawRead, RawFlush, RawClose, RawEnumerate};

std::atomic<const tHidApi*> gInstalled{nullptr};

} // namespace

QString HidErrorText(int result) {
    if (result == kHidTimeout) return QStringLiteral("Timeout");
    if (result == kHidStopped) return QStringLiteral("Wait Error");
    return QString::fromLocal8Bit(strerror(errno != 0 ? errno : EIO));
}

const tHidApi* HidApi() {
    const tHidApi* installed = gInstalled.load();
    if (installed) return installed;
    return Library() ? &kHidRaw : nullptr;
}

void SetHidApi(const tHidApi* api) {
    gInstalled.store(api);
}

void SetHidapiLibraryName(const char* fileName) {
    gLibraryName = fileName;
}
