// The item list at 1,000, 10,000 and 100,000 Items, measured through the real main window
// built headless: start-up with its data file, saving it, Update, painting one screen of
// rows, New into a full list and Delete of one Item.  After Google Benchmark's own table a
// summary gives milliseconds per operation, the growth between sizes and the goals.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/TMainForm.h"
#include "model/DateTime.h"
#include "model/MainDataFile.h"
#include "model/Model.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileIO.h"
#include "platform/ProgramPaths.h"

namespace {

using namespace quorvel;
using Steady = std::chrono::steady_clock;

constexpr int kSizes[] = {1000, 10000, 100000};
constexpr int kRowHeight = 16;
constexpr int kScreenRows = 20;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Wall time is what the goals are about; the window thread's CPU time beside it shows how
// much of that a busy shared machine added.
struct Stopwatch {
    Steady::time_point wall0 = Steady::now();
    double cpu0 = threadCpuSeconds();
    double wall() const { return std::chrono::duration<double>(Steady::now() - wall0).count(); }
    double cpu() const { return threadCpuSeconds() - cpu0; }
};

// Lets everything the last command queued run: layouts, repaints, zero-time timers.
void settle() {
    for (int k = 0; k < 3; ++k) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// ---- seams


// Answers every box as a user who goes along with everything would: a fresh name for
// New, Yes to every question.  Error boxes are counted and shown, since a measurement
// that ran into one did not measure the intended path.
class AnsweringDialogs : public Dialogs {
public:
    int errors = 0;

    MsgAnswer message(MsgKind kind, const QString& text, MsgButtons buttons) override {
        if (kind == MsgKind::Error || kind == MsgKind::Warning) complain(text);
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    void showMessage(const QString& text) override { complain(text); }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        // Spread over the alphabet, so new rows land inside the list, not at its end.
        static const char* const kFirst[] = {"Austin", "Kansas City", "Madison", "Seattle",
                                             "Denver", "Tulsa", "Boston", "Omaha"};
        ++newNames_;
        return QStringLiteral("%1 Bargain Board - New %2")
            .arg(QString::fromLatin1(kFirst[newNames_ % 8]))
            .arg(newNames_);
    }
    void errorReport(const QString& text) override { complain(text); }
    void assertion(const QString& text) override { complain(text); }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    int execModal(QDialog&) override { return 0; }

private:
    void complain(const QString& text) {
        if (++errors <= 5) std::fprintf(stderr, "bench: box shown: %s\n", qPrintable(text));
    }
    int newNames_ = 0;
};

FormatSettings benchFormats() {
    FormatSettings fs;
    fs.shortDateFormat = "dd/mm/yyyy";
    fs.dateSeparator = '/';
    fs.shortTimeFormat = "hh:nn";
    fs.timeSeparator = ':';
    fs.decimalSeparator = '.';
    return fs;
}

// ---- sample data

struct Rng {
    std::uint64_t s;
    std::uint32_t next() {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(s >> 33);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

const char* const kCities[] = {"Austin",  "Boston",  "Chicago", "Denver",   "El Paso",
                               "Fresno",  "Glendale", "Houston", "Irvine",  "Jackson",
                               "Kansas City", "Lansing", "Madison", "Nashville", "Omaha",
                               "Portland", "Quincy", "Raleigh", "Seattle", "Tulsa",
                               "Utica",   "Vallejo", "Wichita", "Yonkers"};
const char* const kKinds[] = {"Classifieds", "Free Ads",    "Swap Meet",  "Bargain Board",
                              "Trading Post", "Want Ads",   "Marketplace", "Auto Trader",
                              "Job Board",   "Pennysaver"};
const char* const kTopics[] = {"Cars",  "Boats",    "Real Estate", "Furniture",
                               "Computers", "Pets", "Jobs",        "Services",
                               "Antiques", "Bikes", "Electronics", "Tickets"};

std::string slug(const char* s) {
    std::string out;
    for (const char* p = s; *p; ++p)
        if (*p != ' ') out += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
    return out;
}

// n Items in random name order, about a quarter done, half with a keystroke script, two
// thirds with comments, some in groups.
const std::vector<Rec>& samplesOf(int n) {
    static std::map<int, std::vector<Rec>> made;
    if (auto it = made.find(n); it != made.end()) return it->second;
    const FormatSettings fs = benchFormats();
    const double now = SystemClock().now();
    std::vector<Rec> items(static_cast<std::size_t>(n));
    Rng rng{static_cast<std::uint64_t>(n)};
    for (int i = 0; i < n; ++i) {
        const char* city = kCities[rng.below(std::size(kCities))];
        const char* kind = kKinds[rng.below(std::size(kKinds))];
        const int topic = rng.below(std::size(kTopics));
        Rec& r = items[static_cast<std::size_t>(i)];
        r.Name = std::string(city) + " " + kind + " - " + kTopics[topic] + " " + std::to_string(i);
        r.Site = "http://www." + slug(city) + slug(kind) + ".example/" + slug(kTopics[topic]) +
                 "/post.cgi?id=" + std::to_string(i);
        r.LastDone = dateTimeText(now - rng.below(45000) / 1000.0, fs);
        r.RepeatDays = 1 + rng.below(30);
        r.EntryCount = rng.below(200);
        if (rng.below(2))
            r.Keys = "{name}{tab}{email}{tab}{phone}{tab}For sale: " + std::string(kTopics[topic]) +
                     ", good condition.{tab}{enter}";
        switch (rng.below(3)) {
            case 1: r.Comments = "Posting limit: one ad a week."; break;
            case 2: r.Comments = "Needs a login.\r\nUse the spare account; photos up to 4."; break;
            default: break;
        }
        if (topic < 8) membership::join(r.Groups, topic + 1);
        if (rng.below(4) == 0) membership::join(r.Groups, 1 + (topic + 3) % 8);
    }
    return made[n] = std::move(items);
}

GroupTable sampleGroups() {
    GroupTable groups;
    for (int g = 0; g < 8; ++g) groups.add(kTopics[g], g + 1);
    return groups;
}

// The data file of the samples, as the program writes it.
const std::string& dataFileOf(int n) {
    static std::map<int, std::string> made;
    if (auto it = made.find(n); it != made.end()) return it->second;
    ItemList items;
    for (const Rec& r : samplesOf(n)) items.append(std::make_unique<Rec>(r));
    return made[n] = writeMainData(sampleGroups(), items, benchFormats(), 2001);
}

// ---- the window under test

// One program folder for the run and at most one live window; the benchmarks of one
// size share that window.
class World {
public:
    World() : dir_(std::make_unique<QTemporaryDir>()) {}

    TMainForm& build(int n) {
        destroy();
        writeWholeFile(dir_->filePath(QStringLiteral("Quorvel.ini")), "[Options]\r\nTipOfTheDay=0\r\n");
        writeWholeFile(dir_->filePath(QStringLiteral("Quorvel.dat")), dataFileOf(n));
        formats_ = benchFormats();
        MainFormSeams seams;
        seams.dialogs = &dialogs;
        seams.clock = &clock_;
        seams.formats = &formats_;
        seams.paths = ProgramPaths::inFolder(dir_->path());
        // The house banner library of this build, as the installed program has it beside it.
        seams.advertLibrary = QStringLiteral(QUORVEL_BINARY_DIR "/advert.so");
        form_ = std::make_unique<TMainForm>(seams);
        return *form_;
    }

    // The shared window of n Items, shown with about one screen of rows in the list.
    TMainForm& shown(int n) {
        if (form_ && items_ == n) return *form_;
        TMainForm& f = build(n);
        items_ = n;
        topUp(f, n);
        f.show();
        settle();
        for (int k = 0; k < 4; ++k) {
            const int missing = kScreenRows * kRowHeight - f.Entries->viewport()->height();
            if (missing == 0) break;
            f.resize(f.width(), f.height() + missing);
            settle();
        }
        return f;
    }

    // Items the loader left unread are added directly, so the other rows still measure n
    // Items; the start-up row reports the shortfall.
    static void topUp(TMainForm& f, int n) {
        const std::size_t loaded = f.Items.size();
        if (loaded >= static_cast<std::size_t>(n)) return;
        const std::vector<Rec>& all = samplesOf(n);
        for (std::size_t i = loaded; i < all.size(); ++i) f.Items.append(std::make_unique<Rec>(all[i]));
        std::vector<QString> rows;
        rows.reserve(f.Items.size());
        for (std::size_t i = 0; i < f.Items.size(); ++i)
            rows.push_back(QString::fromStdString(f.Items.at(i).Name));
        f.Entries->setItems(std::move(rows));
        f.Entries->setItemIndex(0);
        f.MenuUpdateClick();
        f.NextButClick();
        std::fprintf(stderr, "bench: the loader read %zu of %d Items; the rest were added directly\n",
                     loaded, n);
    }

    void destroy() {
        form_.reset();  // runs the shutdown save, outside every measurement
        items_ = -1;
        settle();
    }

    AnsweringDialogs dialogs;

private:
    std::unique_ptr<QTemporaryDir> dir_;
    // The program's own clock, as users have it: local time with TZ unset (main() unsets it).
    SystemClock clock_;
    FormatSettings formats_;
    std::unique_ptr<TMainForm> form_;
    int items_ = -1;
};

World* gWorld = nullptr;

// Counts paints of the item list, so a start-up measurement can tell the list was shown.
class PaintCounter : public QObject {
public:
    QObject* target = nullptr;
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && target && watched == target) ++paints;
        return false;
    }
};

// ---- results kept for the summary

struct Figure {
    double seconds = 0, cpuSeconds = 0;
    std::int64_t ops = 0;
    double ms() const { return ops ? 1000.0 * seconds / static_cast<double>(ops) : NAN; }
    double cpuMs() const { return ops ? 1000.0 * cpuSeconds / static_cast<double>(ops) : NAN; }
};
std::map<std::string, std::map<int, Figure>> gFigures;
std::map<int, double> gMaxGapMs;
std::map<int, int> gLoaded;  // Items the start-up actually loaded

void timed(benchmark::State& state, const std::string& row, int n, const Stopwatch& w) {
    const double seconds = w.wall();
    const double cpu = w.cpu();
    state.SetIterationTime(seconds);
    Figure& f = gFigures[row][n];
    f.seconds += seconds;
    f.cpuSeconds += cpu;
    ++f.ops;
}

void startRow(const std::string& row, int n) { gFigures[row][n] = Figure{}; }

// ---- the rows

void LoadAndShow(benchmark::State& state, int n) {
    startRow("Load and show", n);
    double ctorSeconds = 0;
    int paints = 0, loaded = 0;
    for (auto _ : state) {
        gWorld->destroy();
        PaintCounter counter;
        qApp->installEventFilter(&counter);
        const Stopwatch t0;
        TMainForm& f = gWorld->build(n);
        ctorSeconds += t0.wall();
        counter.target = f.Entries->viewport();
        settle();  // the first paint of the shown list
        timed(state, "Load and show", n, t0);
        qApp->removeEventFilter(&counter);
        paints += counter.paints;
        loaded = f.Entries->count();
    }
    gWorld->destroy();
    state.counters["ctor_ms"] = 1000.0 * ctorSeconds / static_cast<double>(state.iterations());
    state.counters["list_paints"] = paints;
    state.counters["loaded"] = loaded;
    gLoaded[n] = loaded;
}

void Save(benchmark::State& state, int n) {
    startRow("Save (no backup)", n);
    TMainForm& f = gWorld->shown(n);
    for (auto _ : state) {
        const Stopwatch t0;
        f.SaveData(false);
        timed(state, "Save (no backup)", n, t0);
    }
}

void Update(benchmark::State& state, int n) {
    startRow("Update", n);
    TMainForm& f = gWorld->shown(n);
    for (auto _ : state) {
        const Stopwatch t0;
        f.MenuUpdateClick();
        settle();  // its repaint of the list
        timed(state, "Update", n, t0);
    }
    state.counters["due"] = f.DueCount;
}

// The longest stretch during Update in which the window could not have answered input:
// a zero-time timer runs on every turn of the event loop; the largest gap between its
// runs, counting from the start of Update and up to its end.
void UpdateInputGap(benchmark::State& state, int n) {
    startRow("Update input gap", n);
    TMainForm& f = gWorld->shown(n);
    double worstMs = 0;
    int turns = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        qint64 last = 0, maxGap = 0;
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 t = clock.nsecsElapsed();
            maxGap = std::max(maxGap, t - last);
            last = t;
            ++turns;
        });
        tick.start();
        clock.start();
        f.MenuUpdateClick();
        const qint64 end = clock.nsecsElapsed();
        maxGap = std::max(maxGap, end - last);
        tick.stop();
        state.SetIterationTime(static_cast<double>(end) / 1e9);
        worstMs = std::max(worstMs, static_cast<double>(maxGap) / 1e6);
        settle();
    }
    state.counters["max_gap_ms"] = worstMs;
    state.counters["loop_turns"] = static_cast<double>(turns) / static_cast<double>(state.iterations());
    gMaxGapMs[n] = worstMs;
    Figure& fig = gFigures["Update input gap"][n];
    fig.seconds = fig.cpuSeconds = worstMs / 1000.0;
    fig.ops = 1;
}

void PaintScreen(benchmark::State& state, int n) {
    startRow("Paint one screen", n);
    TMainForm& f = gWorld->shown(n);
    QWidget* viewport = f.Entries->viewport();
    // Somewhere in the middle of the list, as a user scrolling through it would see it.
    f.Entries->scrollTo(f.Entries->model()->index(f.Entries->count() / 2, 0),
                        QAbstractItemView::PositionAtCenter);
    settle();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const Stopwatch t0;
        viewport->render(&image);
        timed(state, "Paint one screen", n, t0);
    }
    // Glyph pixels prove the rows were painted by the row painter, not left blank.
    int glyphPixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 2; x < std::min(18, image.width()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.saturation() > 100) ++glyphPixels;
        }
    state.counters["rows"] = viewport->height() / kRowHeight;
    state.counters["glyph_px"] = glyphPixels;
    if (glyphPixels == 0) state.SkipWithError("the rows were not painted");
}

void NewItem(benchmark::State& state, int n) {
    startRow("New into full list", n);
    TMainForm& f = gWorld->shown(n);
    for (auto _ : state) {
        const int before = f.Entries->count();
        const Stopwatch t0;
        f.NewButClick();
        settle();
        timed(state, "New into full list", n, t0);
        if (f.Entries->count() != before + 1) state.SkipWithError("New did not add a row");
    }
}

void DeleteItem(benchmark::State& state, int n) {
    startRow("Delete one Item", n);
    TMainForm& f = gWorld->shown(n);
    Rng rng{77};
    int added = 0;
    for (auto _ : state) {
        // Only the command itself is timed (manual time); choosing the row is not.
        const int before = f.Entries->count();
        f.SelectOneItem(rng.below(before));
        settle();
        const Stopwatch t0;
        f.DelButClick();
        settle();
        timed(state, "Delete one Item", n, t0);
        if (f.Entries->count() != before - 1) state.SkipWithError("Delete did not remove a row");
        // Another Item takes its place, so the list keeps its size.
        auto r = std::make_unique<Rec>();
        r->Name = "Fresno Swap Meet - Refill " + std::to_string(++added);
        r->LastDone = "01/03/2001 10:00";
        r->RepeatDays = 5;
        f.Entries->addItem(QString::fromStdString(r->Name));
        f.Items.append(std::move(r));
        settle();
    }
}

// ---- registration and summary

int iterationsFor(const std::string& row, int n) {
    const int k = n >= 100000 ? 2 : n >= 10000 ? 1 : 0;
    static const std::map<std::string, std::array<int, 3>> table = {
        {"LoadAndShow", {10, 5, 3}}, {"Save", {20, 10, 3}},   {"Update", {20, 10, 5}},
        {"UpdateInputGap", {3, 3, 3}}, {"PaintScreen", {300, 300, 300}},
        {"NewItem", {50, 30, 20}},   {"DeleteItem", {50, 30, 20}},
    };
    return table.at(row)[k];
}

void registerAll() {
    using Fn = void (*)(benchmark::State&, int);
    const std::pair<const char*, Fn> rows[] = {
        {"LoadAndShow", LoadAndShow}, {"Save", Save},         {"Update", Update},
        {"UpdateInputGap", UpdateInputGap}, {"PaintScreen", PaintScreen},
        {"NewItem", NewItem},         {"DeleteItem", DeleteItem},
    };
    // Size by size, so each size builds its shared window once.
    for (int n : kSizes)
        for (const auto& [name, fn] : rows) {
            const std::string label = std::string(name) + "/" + std::to_string(n);
            benchmark::RegisterBenchmark(label.c_str(), [fn = fn, n](benchmark::State& s) { fn(s, n); })
                ->Iterations(iterationsFor(name, n))
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
}

double nLogNRatio(int small, int large) {
    return (large * std::log(double(large))) / (small * std::log(double(small)));
}

const char* const kRowOrder[] = {"Load and show",   "Save (no backup)",  "Update",
                                 "Update input gap", "Paint one screen", "New into full list",
                                 "Delete one Item"};

double figureMs(const std::string& row, int n, bool cpu = false) {
    auto it = gFigures.find(row);
    if (it == gFigures.end()) return NAN;
    auto f = it->second.find(n);
    if (f == it->second.end()) return NAN;
    return cpu ? f->second.cpuMs() : f->second.ms();
}

// Rows whose time grows faster than n log n between two sizes (with a margin for noise,
// and only where the time is large enough to measure reliably).
std::vector<std::string> printTable(bool cpu) {
    std::printf("\n%s, ms per operation\n", cpu ? "Window thread CPU time" : "Wall time");
    std::printf("%-20s %10s %10s %10s %10s %10s\n", "row", "1,000", "10,000", "100,000",
                "x 1k-10k", "x 10k-100k");
    std::vector<std::string> faster;
    for (const char* row : kRowOrder) {
        if (!gFigures.count(row)) continue;
        const bool gap = std::string(row) == "Update input gap";
        if (cpu && gap) continue;
        const double a = figureMs(row, 1000, cpu), b = figureMs(row, 10000, cpu),
                     c = figureMs(row, 100000, cpu);
        std::printf("%-20s %10.3f %10.3f %10.3f %10.2f %10.2f\n", row, a, b, c, b / a, c / b);
        if (!gap && ((b > 0.2 && b / a > 1.3 * nLogNRatio(1000, 10000)) ||
                     (c > 0.2 && c / b > 1.3 * nLogNRatio(10000, 100000))))
            faster.push_back(row);
    }
    return faster;
}

void printSummary() {
    std::printf("\nItem list through the main window (Update input gap: the longest time in ms "
                "without an event-loop turn)");
    const std::vector<std::string> faster = printTable(false);
    const std::vector<std::string> fasterCpu = printTable(true);
    std::printf("(n log n grows x%.1f from 1k to 10k and x%.1f from 10k to 100k)\n",
                nLogNRatio(1000, 10000), nLogNRatio(10000, 100000));
    auto verdict = [](double v, double goal) {
        return std::isnan(v) ? "not measured" : v < goal ? "met" : "MISSED";
    };
    double paintWorst = NAN;
    for (int n : kSizes) {
        const double p = figureMs("Paint one screen", n);
        if (!std::isnan(p)) paintWorst = std::isnan(paintWorst) ? p : std::max(paintWorst, p);
    }
    const double load = figureMs("Load and show", 100000), update = figureMs("Update", 100000);
    const double gap = figureMs("Update input gap", 100000);
    std::printf("\nGoals (wall time)\n");
    const bool allLoaded = !gLoaded.count(100000) || gLoaded[100000] == 100000;
    std::printf("  100,000 Items load and show < 1000 ms:      %9.1f ms  %s\n", load,
                allLoaded ? verdict(load, 1000) : "NOT MET: not every Item loaded");
    std::printf("  Update over 100,000 Items < 100 ms:         %9.1f ms  %s\n", update,
                verdict(update, 100));
    std::printf("  window answers during it (gap < 50 ms):     %9.1f ms  %s\n", gap,
                verdict(gap, 50));
    std::printf("  one screen of rows paints < 2 ms (worst n): %9.3f ms  %s\n", paintWorst,
                verdict(paintWorst, 2));
    std::printf("  every row grows at most as n log n:         wall %s, CPU %s\n",
                faster.empty() ? "met" : "MISSED", fasterCpu.empty() ? "met" : "MISSED");
    for (const std::string& row : faster) std::printf("    grows faster (wall): %s\n", row.c_str());
    for (const std::string& row : fasterCpu) std::printf("    grows faster (CPU): %s\n", row.c_str());
    for (const auto& [n, loaded] : gLoaded)
        if (loaded != n)
            std::printf("  start-up loaded only %d of %d Items: its figure is not that of %d\n",
                        loaded, n, n);
    if (gWorld->dialogs.errors)
        std::printf("  (%d error or warning boxes came up; see above)\n", gWorld->dialogs.errors);
}

QtMessageHandler gPreviousHandler = nullptr;

// The offscreen platform says this on every window resize; it tells nothing here.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (msg.contains(QLatin1String("propagateSizeHints"))) return;
    if (gPreviousHandler) gPreviousHandler(type, context, msg);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A desktop session sets no TZ: local time then comes from /etc/localtime.
    unsetenv("TZ");
    gPreviousHandler = qInstallMessageHandler(quietHandler);
    benchmark::Initialize(&argc, argv);
    quorvel::Application app(argc, argv);
    Q_INIT_RESOURCE(resources);  // the glyphs live in the static library
    World world;
    gWorld = &world;
    quorvel::Application::setErrorReporter(&world.dialogs);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    world.destroy();
    printSummary();
    quorvel::Application::setErrorReporter(nullptr);
    benchmark::Shutdown();
    return 0;
}
