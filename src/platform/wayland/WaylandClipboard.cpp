#include "platform/wayland/WaylandClipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/wayland/WaylandConnection.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::shared_ptr<const std::string>;
using namespace std::chrono_literals;

// The names under which programs ask for plain text; X11 programs through XWayland use the
// last three.
const char* const kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                  "STRING", "TEXT"};
// KDE's clipboard history leaves out what a password manager copies, and the run's text has
// no business in anyone's history either.
const char* const kHistoryHint = "x-kde-passwordManagerHint";

// Keeping the user's clipboard must neither eat the memory nor hang the run on a program
// that is slow to give its data: a type that takes longer, or would pass the cap, is left
// out of the copy.
constexpr std::size_t kKeepCap = std::size_t{64} << 20;
constexpr auto kTypeLimit = 1s;
constexpr auto kKeepLimit = 5s;
// A reader that takes nothing for this long is given up, so no stalled client holds the
// thread's memory or descriptors for ever.
constexpr auto kWriteStall = 3s;
constexpr auto kWaitSlice = 5ms;

bool isText(const std::string& mime) {
    for (const char* t : kTextTypes)
        if (mime == t) return true;
    return false;
}

sigset_t pipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

struct WaylandClipboard::Worker {
    std::shared_ptr<WaylandConnection> connection;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_device_v1* device = nullptr;
    int wakeFd = -1;
    std::thread thread;

    // ---- shared with the caller's thread, under `mutex`
    enum class Task { Offer, Restore };
    struct Request {
        Task task;
        std::string text;
        std::uint64_t ticket;
    };
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Request> requests;
    std::uint64_t issued = 0;
    std::uint64_t answered = 0;
    bool answer = false;
    bool stopping = false;
    bool broken = false;
    bool withdrawn = false;
    bool primary = false;          // serves the primary selection, not the clipboard
    bool handed = false;           // a client was given the text of the offer in force
    std::uint64_t generation = 0;  // the offer in force, counted from 1
    int reads = 0;                 // full reads of that offer's text

    // ---- the thread's own (and the constructor's and destructor's, outside its life)
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers;
    zwlr_data_control_offer_v1* selection = nullptr;
    zwlr_data_control_source_v1* runSource = nullptr;
    Bytes runText;
    zwlr_data_control_source_v1* restoredSource = nullptr;
    std::vector<std::pair<std::string, Bytes>> restored;  // what restoredSource serves
    std::vector<std::pair<std::string, Bytes>> kept;      // the user's clipboard, per type
    bool keptSinceRestore = false;
    std::optional<Request> current;  // the request being carried out
    wl_callback* sync = nullptr;      // answers `current` once the compositor has its change

    struct Keeping {  // reading the user's clipboard, one type after the other
        bool active = false;
        zwlr_data_control_offer_v1* offer = nullptr;
        std::vector<std::string> types;
        std::size_t next = 0;
        int fd = -1;
        std::string bytes;
        std::size_t total = 0;
        Clock::time_point typeEnd, end;
    } keeping;

    struct Write {
        int fd;
        Bytes bytes;
        std::size_t done;
        Clock::time_point lastProgress;
        std::uint64_t generation;  // of the run's text; 0 for anything else
    };
    std::vector<Write> writes;

    ~Worker();
    void run();
    void fail();
    void wake() const;
    void reply(bool ok);
    void take();
    void beginKeeping();
    void nextType();
    void readKept();
    void endKeeping();
    void setRunSource();
    void giveBack();
    void awaitCompositor();
    void queueWrite(int fd, Bytes bytes, std::uint64_t ofGeneration);
    void serveWrites();
    bool call(Task task, const std::string& text, const Pump& pump);

    static void onDataOffer(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer);
    static void onSelection(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer);
    static void dropOffer(Worker* w, zwlr_data_control_offer_v1* offer);
    void takeSelection(zwlr_data_control_offer_v1* offer);
    // The selection set or given back, whichever this worker serves.
    void setSelection(zwlr_data_control_source_v1* source) {
        if (primary)
            zwlr_data_control_device_v1_set_primary_selection(device, source);
        else
            zwlr_data_control_device_v1_set_selection(device, source);
    }
    static void onFinished(void* data, zwlr_data_control_device_v1* device);
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                   zwlr_data_control_offer_v1* offer);
    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mime);
    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* mime,
                       std::int32_t fd);
    static void onCancelled(void* data, zwlr_data_control_source_v1* source);
    static void onSynced(void* data, wl_callback* callback, std::uint32_t);

    static constexpr zwlr_data_control_device_v1_listener kDeviceListener = {
        &onDataOffer, &onSelection, &onFinished, &onPrimarySelection};
    static constexpr zwlr_data_control_offer_v1_listener kOfferListener = {&onOfferType};
    static constexpr zwlr_data_control_source_v1_listener kSourceListener = {&onSend,
                                                                            &onCancelled};
    static constexpr wl_callback_listener kSyncListener = {&onSynced};
};

// ---- the compositor's events

void WaylandClipboard::Worker::onDataOffer(void* data, zwlr_data_control_device_v1*,
                                           zwlr_data_control_offer_v1* offer) {
    auto* w = static_cast<Worker*>(data);
    w->offers[offer];
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, w);
}

void WaylandClipboard::Worker::onOfferType(void* data, zwlr_data_control_offer_v1* offer,
                                           const char* mime) {
    static_cast<Worker*>(data)->offers[offer].push_back(mime);
}

void WaylandClipboard::Worker::onSelection(void* data, zwlr_data_control_device_v1*,
                                           zwlr_data_control_offer_v1* offer) {
    auto* w = static_cast<Worker*>(data);
    if (w->primary) return dropOffer(w, offer);
    w->takeSelection(offer);
}

void WaylandClipboard::Worker::dropOffer(Worker* w, zwlr_data_control_offer_v1* offer) {
    if (!offer) return;
    w->offers.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void WaylandClipboard::Worker::takeSelection(zwlr_data_control_offer_v1* offer) {
    Worker* w = this;
    if (w->selection && w->selection != offer) {
        w->offers.erase(w->selection);
        // An offer being read stays until its reads are done.
        if (!(w->keeping.active && w->keeping.offer == w->selection))
            zwlr_data_control_offer_v1_destroy(w->selection);
    }
    w->selection = offer;
}

void WaylandClipboard::Worker::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                                  zwlr_data_control_offer_v1* offer) {
    // The worker of the clipboard drops these; the primary selection's takes them.
    auto* w = static_cast<Worker*>(data);
    if (!w->primary) return dropOffer(w, offer);
    w->takeSelection(offer);
}

void WaylandClipboard::Worker::onFinished(void* data, zwlr_data_control_device_v1* device) {
    // The seat went away: nothing can be offered any more.
    auto* w = static_cast<Worker*>(data);
    zwlr_data_control_device_v1_destroy(device);
    w->device = nullptr;
    w->fail();
}

void WaylandClipboard::Worker::onSend(void* data, zwlr_data_control_source_v1* source,
                                      const char* mime, std::int32_t fd) {
    auto* w = static_cast<Worker*>(data);
    const std::string type = mime;
    if (source == w->runSource) {
        static const Bytes secret = std::make_shared<const std::string>("secret");
        if (type == kHistoryHint) return w->queueWrite(fd, secret, 0);
        std::unique_lock lock(w->mutex);
        const bool give = !w->withdrawn && isText(type);
        w->handed = w->handed || give;
        const std::uint64_t g = w->generation;
        lock.unlock();
        if (give) return w->queueWrite(fd, w->runText, g);
    } else if (source == w->restoredSource) {
        for (const auto& [t, bytes] : w->restored)
            if (t == type) return w->queueWrite(fd, bytes, 0);
    }
    close(fd);
}

void WaylandClipboard::Worker::onCancelled(void* data, zwlr_data_control_source_v1* source) {
    // Another program took the clipboard.
    auto* w = static_cast<Worker*>(data);
    if (source == w->runSource) {
        w->runSource = nullptr;
        w->runText.reset();
    }
    if (source == w->restoredSource) {
        w->restoredSource = nullptr;
        w->restored.clear();
    }
    zwlr_data_control_source_v1_destroy(source);
}

void WaylandClipboard::Worker::onSynced(void* data, wl_callback* callback, std::uint32_t) {
    auto* w = static_cast<Worker*>(data);
    wl_callback_destroy(callback);
    w->sync = nullptr;
    w->reply(true);
}

// ---- the thread

void WaylandClipboard::Worker::run() {
    // A reader that closes its end early must not end the program: its write fails instead.
    const sigset_t blocked = pipeSignal();
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    wl_display* display = connection->display();
    const int displayFd = wl_display_get_fd(display);
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (stopping || broken) return;
        }
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0) return fail();
        short displayEvents = POLLIN;
        if (wl_display_flush(display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(display);
                return fail();
            }
            displayEvents |= POLLOUT;
        }
        std::vector<pollfd> fds{{displayFd, displayEvents, 0}, {wakeFd, POLLIN, 0}};
        if (keeping.fd >= 0) fds.push_back({keeping.fd, POLLIN, 0});
        for (const Write& w : writes) fds.push_back({w.fd, POLLOUT, 0});
        // Transfers under way are looked at often enough to notice their time limits.
        const int timeout = keeping.active || !writes.empty() ? 50 : -1;
        const int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            wl_display_cancel_read(display);
            return fail();
        }
        if (n > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP))) {
            if (wl_display_read_events(display) < 0) return fail();
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) return fail();
        if (n > 0 && (fds[1].revents & POLLIN)) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t r = read(wakeFd, &count, sizeof count);
        }
        if (keeping.active) readKept();
        serveWrites();
        if (!current) take();
    }
}

void WaylandClipboard::Worker::fail() {
    {
        std::lock_guard lock(mutex);
        broken = true;
    }
    changed.notify_all();
}

void WaylandClipboard::Worker::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(wakeFd, &one, sizeof one);
}

void WaylandClipboard::Worker::reply(bool ok) {
    {
        std::lock_guard lock(mutex);
        answered = current->ticket;
        answer = ok;
    }
    current.reset();
    changed.notify_all();
}

void WaylandClipboard::Worker::take() {
    {
        std::lock_guard lock(mutex);
        if (requests.empty()) return;
        current = std::move(requests.front());
        requests.pop_front();
    }
    if (!device) return reply(false);
    const bool restoring = current->task == Task::Restore;
    if (!keptSinceRestore) return restoring ? reply(true) : beginKeeping();
    restoring ? giveBack() : setRunSource();
}

// ---- keeping the user's clipboard

void WaylandClipboard::Worker::beginKeeping() {
    kept.clear();
    keeping = Keeping{};
    if (!selection) return endKeeping();
    keeping.active = true;
    keeping.offer = selection;
    keeping.types = offers[selection];
    keeping.end = Clock::now() + kKeepLimit;
    nextType();
}

void WaylandClipboard::Worker::nextType() {
    closeFd(keeping.fd);
    keeping.bytes.clear();
    if (keeping.next >= keeping.types.size() || Clock::now() >= keeping.end)
        return endKeeping();
    const std::string& type = keeping.types[keeping.next++];
    int p[2];
    if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) return endKeeping();
    // The request carries a copy of the write end; the copy here would hide the end of
    // the data.
    zwlr_data_control_offer_v1_receive(keeping.offer, type.c_str(), p[1]);
    close(p[1]);
    keeping.fd = p[0];
    keeping.typeEnd = Clock::now() + kTypeLimit;
}

void WaylandClipboard::Worker::readKept() {
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(keeping.fd, buffer, sizeof buffer);
        if (n > 0) {
            if (keeping.total + keeping.bytes.size() + static_cast<std::size_t>(n) > kKeepCap)
                return nextType();
            keeping.bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            keeping.total += keeping.bytes.size();
            kept.emplace_back(keeping.types[keeping.next - 1],
                              std::make_shared<const std::string>(std::move(keeping.bytes)));
            return nextType();
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return nextType();
        break;
    }
    const auto now = Clock::now();
    if (now >= keeping.typeEnd || now >= keeping.end) nextType();
}

void WaylandClipboard::Worker::endKeeping() {
    closeFd(keeping.fd);
    if (keeping.offer && keeping.offer != selection)
        zwlr_data_control_offer_v1_destroy(keeping.offer);
    keeping = Keeping{};
    keptSinceRestore = true;
    setRunSource();
}

// ---- offering and giving back

void WaylandClipboard::Worker::setRunSource() {
    auto* source = zwlr_data_control_manager_v1_create_data_source(manager);
    zwlr_data_control_source_v1_add_listener(source, &kSourceListener, this);
    for (const char* t : kTextTypes) zwlr_data_control_source_v1_offer(source, t);
    zwlr_data_control_source_v1_offer(source, kHistoryHint);
    setSelection(source);
    // The old source goes only now, so the clipboard is never empty in between.
    if (runSource) zwlr_data_control_source_v1_destroy(runSource);
    runSource = source;
    runText = std::make_shared<const std::string>(std::move(current->text));
    {
        std::lock_guard lock(mutex);
        ++generation;
        reads = 0;
        withdrawn = false;
        handed = false;
    }
    awaitCompositor();
}

void WaylandClipboard::Worker::giveBack() {
    zwlr_data_control_source_v1* old = restoredSource;
    restoredSource = nullptr;
    if (kept.empty()) {
        setSelection(nullptr);
        restored.clear();
    } else {
        restoredSource = zwlr_data_control_manager_v1_create_data_source(manager);
        zwlr_data_control_source_v1_add_listener(restoredSource, &kSourceListener, this);
        for (const auto& [type, bytes] : kept)
            zwlr_data_control_source_v1_offer(restoredSource, type.c_str());
        setSelection(restoredSource);
        restored = std::move(kept);
    }
    kept.clear();
    if (old) zwlr_data_control_source_v1_destroy(old);
    if (runSource) zwlr_data_control_source_v1_destroy(runSource);
    runSource = nullptr;
    runText.reset();
    keptSinceRestore = false;
    {
        std::lock_guard lock(mutex);
        ++generation;
        reads = 0;
        handed = false;
    }
    awaitCompositor();
}

void WaylandClipboard::Worker::awaitCompositor() {
    sync = wl_display_sync(connection->display());
    wl_callback_add_listener(sync, &kSyncListener, this);
}

// ---- serving readers

void WaylandClipboard::Worker::queueWrite(int fd, Bytes bytes, std::uint64_t ofGeneration) {
    const int flags = fcntl(fd, F_GETFL);
    if (!bytes || flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        close(fd);
        return;
    }
    writes.push_back({fd, std::move(bytes), 0, Clock::now(), ofGeneration});
}

void WaylandClipboard::Worker::serveWrites() {
    const auto now = Clock::now();
    for (auto it = writes.begin(); it != writes.end();) {
        Write& w = *it;
        bool failed = false;
        while (w.done < w.bytes->size()) {
            const ssize_t n = write(w.fd, w.bytes->data() + w.done, w.bytes->size() - w.done);
            if (n > 0) {
                w.done += static_cast<std::size_t>(n);
                w.lastProgress = now;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EPIPE) {
                // Take the signal the blocked thread still holds, so it never reaches a
                // thread that does not block it.
                const sigset_t held = pipeSignal();
                const timespec zero{0, 0};
                sigtimedwait(&held, nullptr, &zero);
            }
            failed = n < 0 && errno != EAGAIN;
            break;
        }
        const bool finished = w.done == w.bytes->size();
        if (!finished && !failed && now - w.lastProgress < kWriteStall) {
            ++it;
            continue;
        }
        close(w.fd);
        if (finished && w.generation != 0) {
            std::lock_guard lock(mutex);
            if (w.generation == generation) ++reads;
            changed.notify_all();
        }
        it = writes.erase(it);
    }
}

// ---- the caller's side

bool WaylandClipboard::Worker::call(Task task, const std::string& text, const Pump& pump) {
    std::unique_lock lock(mutex);
    if (broken || !thread.joinable()) return false;
    const std::uint64_t ticket = ++issued;
    requests.push_back({task, text, ticket});
    wake();
    while (answered < ticket && !broken) {
        changed.wait_for(lock, kWaitSlice);
        if (answered >= ticket || broken || !pump) continue;
        // One of our own windows may hold the clipboard and have to answer the read.
        lock.unlock();
        pump();
        lock.lock();
    }
    return answered >= ticket && answer;
}

WaylandClipboard::Worker::~Worker() {
    if (thread.joinable()) {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake();
        thread.join();
    }
    closeFd(wakeFd);
    closeFd(keeping.fd);
    for (Write& w : writes) close(w.fd);
    if (!connection) return;
    if (sync) wl_callback_destroy(sync);
    if (keeping.offer && keeping.offer != selection)
        zwlr_data_control_offer_v1_destroy(keeping.offer);
    for (const auto& [offer, types] : offers) zwlr_data_control_offer_v1_destroy(offer);
    if (runSource) zwlr_data_control_source_v1_destroy(runSource);
    if (restoredSource) zwlr_data_control_source_v1_destroy(restoredSource);
    if (device) zwlr_data_control_device_v1_destroy(device);
    if (manager) zwlr_data_control_manager_v1_destroy(manager);
    connection->flush();
}

WaylandClipboard::WaylandClipboard(const char* display, bool primary)
    : worker_(std::make_unique<Worker>()) {
    Worker& w = *worker_;
    w.primary = primary;
    std::uint32_t version = 0;
    w.connection = WaylandConnection::open(display);
    if (!w.connection || !w.connection->seat()) return;
    w.manager = static_cast<zwlr_data_control_manager_v1*>(
        w.connection->bind(&zwlr_data_control_manager_v1_interface, primary ? 2 : 1, &version));
    if (!w.manager) return;
    if (version < (primary ? 2u : 1u)) return;  // no primary selection before version 2
    w.device = zwlr_data_control_manager_v1_get_data_device(w.manager, w.connection->seat());
    zwlr_data_control_device_v1_add_listener(w.device, &Worker::kDeviceListener, &w);
    // The first selection event comes with the device: what the clipboard holds now.
    w.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w.wakeFd < 0 || !w.connection->roundtrip() || !w.device) return;
    w.thread = std::thread([&w] { w.run(); });
}

WaylandClipboard::~WaylandClipboard() = default;

bool WaylandClipboard::usable() const {
    std::lock_guard lock(worker_->mutex);
    return worker_->thread.joinable() && !worker_->broken;
}

bool WaylandClipboard::offer(const std::string& utf8, const Pump& pump) {
    return worker_->call(Worker::Task::Offer, utf8, pump);
}

void WaylandClipboard::pasteKeyFollows(const Pump& pump) {
    (void)pump;
    std::lock_guard lock(worker_->mutex);
    worker_->reads = 0;
    worker_->handed = false;
}

bool WaylandClipboard::waitRead(std::chrono::milliseconds limit, const Pump& pump) {
    Worker& w = *worker_;
    const auto end = Clock::now() + limit;
    std::unique_lock lock(w.mutex);
    const std::uint64_t g = w.generation;
    for (;;) {
        if (w.generation == g && w.reads > 0) return true;
        const auto now = Clock::now();
        if (w.broken || w.generation != g || now >= end) return false;
        w.changed.wait_for(lock, std::min<Clock::duration>(kWaitSlice, end - now));
        if (!pump) continue;
        lock.unlock();
        pump();
        lock.lock();
    }
}

bool WaylandClipboard::withdraw() {
    std::lock_guard lock(worker_->mutex);
    worker_->withdrawn = true;
    return worker_->handed;
}

void WaylandClipboard::restore(const Pump& pump) { worker_->call(Worker::Task::Restore, {}, pump); }

}  // namespace quorvel
