// Setting reads through the locked holder, as a request makes them (a dozen
// per request), on one and on eight threads, with and without a reload of
// the settings files running beside them.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "settings/handle_pl_settings.h"
#include "settings/pl_settings.h"
#include "settings/setting_ids.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A copy of the sample install's settings files that the reloader rewrites.
struct CBenchTree {
  fs::path root;
  std::string moduleText;
  std::string linksText;
  std::string settingsDir;

  CBenchTree() {
    std::string pattern = (fs::temp_directory_path() / "hxbench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    const fs::path sample = fs::path(HX_SOURCE_DIR) / "samples/install/Quenlith";
    moduleText = ReadFile(sample / "Pellora/Settings/HXSettings.xml");
    linksText = ReadFile(sample / "Common Files/Settings/LinkCriteriaSettings.xml");
    // Check on every request, so that each rewrite is reloaded at once.
    const std::string interval = "VALUE=\"15\"/>";
    moduleText.replace(moduleText.find(interval), interval.size(), "VALUE=\"0\"/>");
    fs::create_directories(root / "Quenlith/Pellora/Settings");
    fs::create_directories(root / "Quenlith/Common Files/Settings");
    settingsDir = (root / "Quenlith/Pellora/Settings").string() + "/";
    Write(0);
  }
  ~CBenchTree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  void Write(long generation) const {
    Replace(root / "Quenlith/Pellora/Settings/HXSettings.xml", moduleText, generation);
    Replace(root / "Quenlith/Common Files/Settings/LinkCriteriaSettings.xml", linksText, generation);
  }
  static void Replace(const fs::path& path, const std::string& text, long generation) {
    const fs::path temp = path.string() + ".new";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << text;
    }
    struct timeval times[2];
    times[0].tv_sec = 1000000000 + generation;
    times[0].tv_usec = 0;
    times[1] = times[0];
    ::utimes(temp.c_str(), times);
    fs::rename(temp, path);
  }
};

// The loader reports each good load on standard output; keep that out of the
// benchmark's table while loads run.
class CQuietStdout {
 public:
  CQuietStdout() {
    std::fflush(stdout);
    m_saved = ::dup(1);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      ::dup2(devnull, 1);
      ::close(devnull);
    }
  }
  ~CQuietStdout() {
    std::fflush(stdout);
    if (m_saved >= 0) {
      ::dup2(m_saved, 1);
      ::close(m_saved);
    }
  }
  CQuietStdout(const CQuietStdout&) = delete;
  CQuietStdout& operator=(const CQuietStdout&) = delete;

 private:
  int m_saved = -1;
};

struct CBenchState {
  CBenchTree tree;
  CHandlePLSettings holder;
  std::atomic<bool> stop{false};
  std::atomic<long> reloads{0};
  std::thread reloader;
  std::unique_ptr<CQuietStdout> quiet;

  CBenchState() {
    CQuietStdout quiet;
    std::string dir = tree.settingsDir;
    if (FAILED(holder.LoadSettings(dir))) {
      std::fprintf(stderr, "the sample settings did not load\n");
      std::abort();
    }
  }
  void StartReloads() {
    stop = false;
    quiet = std::make_unique<CQuietStdout>();
    reloader = std::thread([this] {
      long generation = 1;
      while (!stop.load(std::memory_order_relaxed)) {
        tree.Write(generation++);
        bool reloaded = false;
        holder.RefreshIfNeeded(reloaded);
        reloads.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  void StopReloads() {
    stop = true;
    if (reloader.joinable()) reloader.join();
    quiet.reset();
  }
};

CBenchState& State() {
  static CBenchState state;
  return state;
}

// The reads one request makes: eleven integers and the virtual folder name.
int64_t OneRequest(CHandlePLSettings& holder, int32_t settingsID) {
  static constexpr int32_t kIntSettings[] = {
      SettingOpenRestriction,  SettingSaveRestriction, SettingRichRestriction,
      SettingEnableBlockedList, SettingDefaultVisualisation, SettingDirectFileAccessBlockLevel,
      SettingSafeSSLOpen,      SettingAttachmentButtonsBlockLevel, SettingEnableWebReady,
      SettingSaveConfirmation, SettingClientIPSource};
  int64_t sum = 0;
  for (int32_t id : kIntSettings) {
    int32_t value = 0;
    holder.GetIntValue(id, value, settingsID, kGeneralEngineID);
    sum += value;
  }
  ci_string folder;
  holder.GetStringValueCI(SettingVirtualFolderName, folder, 0, 0);
  return sum + static_cast<int64_t>(folder.size());
}

void RequestReads(benchmark::State& state, bool withReload) {
  CBenchState& shared = State();
  if (state.thread_index() == 0) {
    shared.reloads = 0;
    if (withReload) shared.StartReloads();
  }
  const int32_t settingsID = 1 + state.thread_index() % 2;
  for (auto _ : state) {
    benchmark::DoNotOptimize(OneRequest(shared.holder, settingsID));
  }
  state.SetItemsProcessed(state.iterations() * 12);
  if (state.thread_index() == 0) {
    if (withReload) shared.StopReloads();
    state.counters["reloads"] = static_cast<double>(shared.reloads.load());
  }
}

// The same lookups straight on the loaded store, with no holder and no lock:
// how far the machine lets eight threads scale in this run.
void BM_StoreReadsWithoutHolder(benchmark::State& state) {
  static constexpr int32_t kIntSettings[] = {
      SettingOpenRestriction,  SettingSaveRestriction, SettingRichRestriction,
      SettingEnableBlockedList, SettingDefaultVisualisation, SettingDirectFileAccessBlockLevel,
      SettingSafeSSLOpen,      SettingAttachmentButtonsBlockLevel, SettingEnableWebReady,
      SettingSaveConfirmation, SettingClientIPSource};
  const CPLSettings::CSettingsStore& store = State().holder.GetPLSettings().Store();
  const int32_t settingsID = 1 + state.thread_index() % 2;
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t id : kIntSettings) {
      int32_t value = 0;
      CPLSettings::GetIntValue(store, id, value, settingsID, kGeneralEngineID);
      sum += value;
    }
    ci_string folder;
    CPLSettings::GetStringValueCI(store, SettingVirtualFolderName, folder, 0, 0);
    benchmark::DoNotOptimize(sum + static_cast<int64_t>(folder.size()));
  }
  state.SetItemsProcessed(state.iterations() * 12);
}

void BM_RequestReads(benchmark::State& state) { RequestReads(state, false); }
void BM_RequestReadsDuringReloads(benchmark::State& state) { RequestReads(state, true); }

BENCHMARK(BM_StoreReadsWithoutHolder)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_RequestReads)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_RequestReadsDuringReloads)->Threads(1)->Threads(8)->UseRealTime();

// What one reload of the sample module settings file costs (read and built
// outside the lock; the lock is held only for the swap).
void BM_LoadSampleModuleSettings(benchmark::State& state) {
  CBenchTree tree;
  const std::string path = tree.settingsDir + "HXSettings.xml";
  CPLSettings settings;
  CQuietStdout quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(settings.LoadSettings(path));
  }
}
BENCHMARK(BM_LoadSampleModuleSettings)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
