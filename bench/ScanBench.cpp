// Cost of reading large folders into the catalogue, and of opening the
// number list over a large catalogue.

#include "catalogue/DirectoryScan.h"
#include "catalogue/FolderChooser.h"
#include "platform/controls/NumberList.h"
#include "platform/files/DirectoryListing.h"

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace pictolune {
namespace {

// Folders of `entries` empty files, half of them pictures, made once under
// /tmp and removed when the benchmarks end.
class Folders {
public:
    ~Folders() {
        for (const auto& [entries, path] : paths_)
            std::filesystem::remove_all(path);
    }

    QString folder(int entries) {
        auto found = paths_.find(entries);
        if (found != paths_.end())
            return QString::fromStdString(found->second);
        char pattern[] = "/tmp/pictolune-scanbench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        const std::string path = pattern;
        paths_[entries] = path;
        char name[64];
        for (int i = 0; i < entries; ++i) {
            std::snprintf(name, sizeof name, (i % 2 == 0) ? "/img%d.jpg" : "/note%d.txt", i / 2);
            const int fd = ::open((path + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd < 0) {
                std::perror(name);
                std::exit(1);
            }
            ::close(fd);
        }
        return QString::fromStdString(path);
    }

private:
    std::map<int, std::string> paths_;
};

Folders& folders() {
    static Folders instance;
    return instance;
}

class FixedChooser : public FolderChooser {
public:
    explicit FixedChooser(QString folder) : folder_(std::move(folder)) {}
    QString chooseDirectory() override { return folder_; }

private:
    QString folder_;
};

constexpr double kMegabyte = 1024.0 * 1024.0;

// Resident size when the benchmarks start; peaks are reported above it.
double startResidentMegabytes = 0;

double residentMegabytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / kMegabyte;
}

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Heap in use, as the allocator counts it.
double heapMegabytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / kMegabyte;
}

// Reports time per change; `paths_MB`, the heap the catalogue holds
// afterwards; and `peak_MB`, the process's peak resident size above its
// start. The peak only ever grows, so the larger folder runs after the
// smaller.
void BM_ChangeDirectory(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    FixedChooser chooser(folders().folder(entries));
    NumberList comImage;
    const double heapBefore = heapMegabytes();
    ImageCatalogue catalogue;
    int refreshes = 0;
    for (auto _ : state) {
        // A fresh listing each time: the folder is new to it, as a folder the
        // user has just chosen would be.
        SystemDirectoryListing listing;
        DirectoryScan scan(catalogue, comImage, chooser, listing);
        scan.changeDirectory([&] { ++refreshes; });
    }
    if (catalogue.lastIndex != entries / 2 - 1 || refreshes != state.iterations())
        state.SkipWithError("the scan did not catalogue the folder");
    const double paths = heapMegabytes() - heapBefore;
    state.counters["pictures"] = catalogue.lastIndex + 1;
    state.counters["paths_MB"] = paths;
    state.counters["peak_MB"] = peakResidentMegabytes() - startResidentMegabytes;
    state.counters["bytes_per_picture"] = paths * kMegabyte / (catalogue.lastIndex + 1);
}
BENCHMARK(BM_ChangeDirectory)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_ChangeDirectory)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// One pass of the listing alone: read, sort, and hand out every name.
void BM_ListDirectory(benchmark::State& state) {
    const QString folder = folders().folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        SystemDirectoryListing listing;
        int names = 0;
        for (QString name = listing.first(folder); !name.isEmpty(); name = listing.next())
            ++names;
        benchmark::DoNotOptimize(names);
    }
}
BENCHMARK(BM_ListDirectory)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NumberListPopup(benchmark::State& state) {
    QWidget window;
    auto* comImage = new NumberList(&window);
    comImage->append(static_cast<int>(state.range(0)));
    window.show();
    for (auto _ : state) {
        comImage->showPopup();
        comImage->hidePopup();
    }
}
BENCHMARK(BM_NumberListPopup)->Arg(100'000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace pictolune

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    pictolune::startResidentMegabytes = pictolune::residentMegabytes();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
